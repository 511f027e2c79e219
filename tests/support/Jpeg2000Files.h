#pragma once

// JPEG 2000 files for the decoder and render tests: streams that
// opj_compress writes at test time and opj_decompress's samples of them, the
// JP2 boxes that wrap a codestream (with a palette when asked), and the
// packed-header forms (PPM, PPT) of a codestream, which no encoder at hand
// writes.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace rendova::test {

inline std::string be16(uint32_t v) {
    return {char(v >> 8), char(v)};
}
inline std::string be32(uint32_t v) {
    return be16(v >> 16) + be16(v & 0xFFFF);
}

inline std::string jp2Box(const char* type, const std::string& data) {
    return be32(uint32_t(data.size() + 8)) + type + data;
}

// A JP2 file: the signature, the header boxes given and the codestream.
inline std::string jp2File(const std::string& header, const std::string& codestream) {
    return jp2Box("jP  ", "\x0D\x0A\x87\x0A") + jp2Box("ftyp", "jp2 " + be32(0) + "jp2 ") +
           jp2Box("jp2h", header) + jp2Box("jp2c", codestream);
}

// The image header box of a width x height image of components at bits
// (bits - 1, bit 7 for signed, 255 for depths that vary).
inline std::string jp2ImageHeader(int width, int height, int components, int depth) {
    return jp2Box("ihdr", be32(uint32_t(height)) + be32(uint32_t(width)) + be16(uint32_t(components)) +
                              std::string{char(depth), 7, 0, 0});
}

inline std::string jp2ColourBox(int precedence, uint32_t space, const std::string& extra = "") {
    return jp2Box("colr", std::string{1, char(precedence), 0} + be32(space) + extra);
}

// A JP2 file of a one-component codestream of indices into a palette:
// columns of the given depth bytes (bits - 1, bit 7 for signed), values
// entry by entry, each column mapped to one channel, in the enumerated
// colour space.
inline std::string paletteJp2(const std::string& codestream, int width, int height, int indexBits,
                              const std::vector<int>& depths, const std::vector<int32_t>& values,
                              uint32_t colourSpace) {
    const size_t columns = depths.size();
    std::string pclr = be16(uint32_t(values.size() / columns)) + char(columns);
    for (int depth : depths)
        pclr += char(depth);
    for (size_t i = 0; i < values.size(); ++i) {
        const int bytes = ((depths[i % columns] & 0x7F) + 8) / 8;
        for (int k = bytes - 1; k >= 0; --k)
            pclr += char(uint32_t(values[i]) >> (8 * k));
    }
    std::string cmap;
    for (size_t c = 0; c < columns; ++c)
        cmap += be16(0) + std::string{1, char(c)};
    return jp2File(jp2ImageHeader(width, height, 1, indexBits - 1) + jp2ColourBox(0, colourSpace) +
                       jp2Box("pclr", pclr) + jp2Box("cmap", cmap),
                   codestream);
}

// The codestream of a bare stream written with SOP and EPH markers, its
// packet headers moved into PPM segments of the main header (ppm) or PPT
// segments of each tile-part header, at most segmentSize bytes each so that
// the headers run across segments; the markers and their flags go. "" when
// the stream is not of that form.
inline std::string packPacketHeaders(const std::string& j2k, bool ppm, size_t segmentSize = 200) {
    auto u16 = [&j2k](size_t p) { return uint32_t(uint8_t(j2k[p])) << 8 | uint8_t(j2k[p + 1]); };
    auto u32 = [&u16](size_t p) { return u16(p) << 16 | u16(p + 2); };
    // Segment indices count on through the main header, or through the
    // tile-parts of one tile.
    std::map<uint32_t, size_t> indices;
    auto segments = [segmentSize](uint32_t marker, const std::string& data, size_t& index) {
        std::string out;
        for (size_t i = 0; i < data.size(); i += segmentSize, ++index) {
            const std::string part = data.substr(i, segmentSize);
            out += be16(marker) + be16(uint32_t(part.size() + 3)) + char(index) + part;
        }
        return out;
    };
    size_t pos = 2;
    std::string main = j2k.substr(0, 2);
    for (; pos + 4 <= j2k.size() && u16(pos) != 0xFF90; pos += 2 + u16(pos + 2)) {
        std::string segment = j2k.substr(pos, 2 + u16(pos + 2));
        if (u16(pos) == 0xFF52)
            segment[4] = char(segment[4] & ~6);  // no SOP, no EPH
        main += segment;
    }
    std::string parts, ppmData;
    for (; pos + 12 <= j2k.size() && u16(pos) == 0xFF90; pos += u32(pos + 6)) {
        const std::string part = j2k.substr(pos, u32(pos + 6));
        size_t p = 12;
        while (p + 4 <= part.size() && (uint8_t(part[p]) << 8 | uint8_t(part[p + 1])) != 0xFF93)
            p += 2 + (uint8_t(part[p + 2]) << 8 | uint8_t(part[p + 3]));
        std::string headers, bodies;
        // Each packet: SOP (6 bytes), header, EPH, body. Neither a header
        // nor a body holds 0xFF before a byte above 0x8F.
        for (size_t i = p + 2; i < part.size();) {
            if (part.compare(i, 2, "\xFF\x91") != 0)
                return "";
            const size_t eph = part.find("\xFF\x92", i + 6);
            if (eph == std::string::npos)
                return "";
            headers += part.substr(i + 6, eph - i - 6);
            const size_t next = std::min(part.find("\xFF\x91", eph + 2), part.size());
            bodies += part.substr(eph + 2, next - eph - 2);
            i = next;
        }
        std::string header = part.substr(12, p - 12);
        if (ppm)
            ppmData += be32(uint32_t(headers.size())) + headers;
        else
            header += segments(0xFF61, headers, indices[u16(pos + 4)]);
        const uint32_t length = uint32_t(12 + header.size() + 2 + bodies.size());
        parts += part.substr(0, 6) + be32(length) + part.substr(10, 2) + header + "\xFF\x93" + bodies;
    }
    if (ppm)
        main += segments(0xFF60, ppmData, indices[0xFFFF]);
    return main + parts + "\xFF\xD9";
}

// opj_compress and opj_decompress in a folder of their own, which goes with
// the object. Each answer is "" (or empty) when the tool failed.
class OpenJpegTools {
public:
    OpenJpegTools() {
        std::string pattern = (std::filesystem::temp_directory_path() / "jpx-test-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_dir = pattern;
    }
    ~OpenJpegTools() {
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }
    OpenJpegTools(const OpenJpegTools&) = delete;
    OpenJpegTools& operator=(const OpenJpegTools&) = delete;

    static bool available() { return run("command -v opj_compress && command -v opj_decompress"); }
    const std::filesystem::path& folder() const { return m_dir; }

    // The stream of samples (components interleaved, each below 2^bits; 1
    // or 3 components) with the options, as a .jp2 or .j2k file.
    std::string encode(const std::vector<uint32_t>& samples, int width, int height, int components, int bits,
                       const std::string& options, const std::string& extension = "jp2") const {
        std::string pnm = std::string(components == 1 ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                          std::to_string(height) + "\n" + std::to_string((1u << bits) - 1) + "\n";
        for (uint32_t v : samples) {
            if (bits > 8)
                pnm.push_back(char(v >> 8));
            pnm.push_back(char(v));
        }
        std::filesystem::path in = m_dir / (components == 1 ? "in.pgm" : "in.ppm");
        const std::filesystem::path out = m_dir / ("out." + extension);
        write(in, pnm);
        if (bits == 1) {
            // opj_compress keeps one bit only from a bilevel PNG.
            const std::filesystem::path png = m_dir / "in.png";
            if (!run("convert " + in.string() + " -depth 1 -type bilevel " + png.string()))
                return "";
            in = png;
        }
        std::filesystem::remove(out);
        if (!run("opj_compress -i " + in.string() + " -o " + out.string() + " " + options))
            return "";
        return read(out);
    }

    // opj_decompress's samples of a stream (a JP2 file or a codestream)
    // with its options, and their count per pixel; empty when it failed.
    std::vector<uint32_t> decode(const std::string& stream, int& components,
                                 const std::string& options = "") const {
        const bool box = stream.size() > 4 && stream[0] == 0;
        const std::filesystem::path in = m_dir / (box ? "ref.jp2" : "ref.j2k");
        const std::filesystem::path out = m_dir / "ref.pnm";
        write(in, stream);
        std::filesystem::remove(out);
        if (!run("opj_decompress -i " + in.string() + " -o " + out.string() + " " + options))
            return {};
        return pnmSamples(read(out), components);
    }

private:
    static bool run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
    static std::string read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void write(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // The samples of a PGM or PPM file.
    static std::vector<uint32_t> pnmSamples(const std::string& file, int& components) {
        if (file.size() < 2)
            return {};
        components = file[1] == '5' ? 1 : 3;
        size_t pos = 2;
        int fields[3] = {};
        for (int& field : fields) {
            while (pos < file.size() && (std::isspace(uint8_t(file[pos])) || file[pos] == '#'))
                pos = file[pos] == '#' ? file.find('\n', pos) : pos + 1;
            while (pos < file.size() && std::isdigit(uint8_t(file[pos])))
                field = field * 10 + (file[pos++] - '0');
        }
        ++pos;
        const bool wide = fields[2] > 255;
        std::vector<uint32_t> samples;
        for (; pos + (wide ? 1 : 0) < file.size(); pos += wide ? 2 : 1)
            samples.push_back(wide ? uint32_t(uint8_t(file[pos])) << 8 | uint8_t(file[pos + 1])
                                   : uint8_t(file[pos]));
        return samples;
    }

    std::filesystem::path m_dir;
};

}  // namespace rendova::test
