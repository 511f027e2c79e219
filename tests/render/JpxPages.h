#pragma once

// The JPEG 2000 pages of the render tests: grey, RGB (irreversible), 16-bit
// and an image whose opacity channel is in its data (SMaskInData); and the
// forms that producers write: precincts with many layers, the code-block
// styles, progression changes, and a palette file drawn through an Indexed
// colour space and through its own palette. The streams are written by
// opj_compress when the pages are first built. Without opj_compress a page
// holds only its backdrop, and both renderers agree.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tests/render/VectorPages.h"
#include "tests/support/Jpeg2000Files.h"

namespace rendova::test {

// opj_compress's stream of a PNM or PNG file written from bytes, "" when it
// could not be made.
inline std::string jpxStream(const std::string& folder, const std::string& name, const std::string& bytes,
                             const std::string& options, const std::string& convert = "") {
    const std::string in = folder + "/" + name;
    std::ofstream(in, std::ios::binary) << bytes;
    std::string source = in;
    if (!convert.empty()) {
        source = in + ".png";
        if (std::system(("convert " + in + " " + convert + " " + source + " >/dev/null 2>&1").c_str()) != 0)
            return "";
    }
    const std::string out = in + ".jp2";
    if (std::system(
            ("opj_compress -i " + source + " -o " + out + " " + options + " >/dev/null 2>&1").c_str()) != 0)
        return "";
    std::ifstream file(out, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The page of the producers' forms: four 48 x 32 images.
inline void addJpxFormsPage(std::map<std::string, VectorPage>& made, const std::string& folder) {
    VectorPage& page = made["image-jpx-forms"];
    page.content = "0.85 1 1 rg 0 0 240 180 re f ";
    std::string rgb = "P6\n48 32\n255\n", index = "P5\n48 32\n255\n", palette, lookup;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 48; ++x) {
            const bool ring = (2 * x - 47) * (2 * x - 47) + (2 * y - 31) * (2 * y - 31) < 700;
            const char colour[3] = {char(x * 5 + y), char(ring ? 230 : y * 7), char((x * y) & 0xFF)};
            rgb.append(colour, 3);
            index += char((x / 6 + (y / 4) * 8 + (ring ? 3 : 0)) % 64);
        }
    }
    for (int e = 0; e < 64; ++e) {
        const int rgbEntry[3] = {e * 4, 255 - e * 3, (e * 37) % 256};
        for (int v : rgbEntry) {
            palette.push_back(char(v));
            const char hex[] = "0123456789ABCDEF";
            lookup += std::string{hex[v >> 4], hex[v & 15]};
        }
    }
    // The palette file wraps the codestream of the indices.
    const std::string indices = jpxStream(folder, "index.pgm", index, "-n 3");
    const size_t code = indices.find("\xFF\x4F\xFF\x51");
    std::vector<int32_t> values(palette.begin(), palette.end());
    for (int32_t& v : values)
        v &= 0xFF;
    const std::string paletteFile =
        code == std::string::npos ? "" : paletteJp2(indices.substr(code), 48, 32, 8, {7, 7, 7}, values, 16);
    const std::string streams[4] = {
        jpxStream(folder, "producer.ppm", rgb,
                  "-I -p RPCL -c [32,32],[16,16] -b 16,16 -r 80,40,20,10,8,6,4,3,2,1"),
        jpxStream(folder, "styles.ppm", rgb,
                  "-n 4 -M 63 -c [16,16] -b 8,8 -r 10,4,1 -POC T1=0,0,2,6,3,RLCP/T1=0,0,3,6,3,CPRL"),
        paletteFile,
        paletteFile,
    };
    const std::string extra[4] = {"", "", "/ColorSpace [/Indexed /DeviceRGB 63 <" + lookup + ">] ", ""};
    std::string names;
    for (int i = 0; i < 4; ++i) {
        if (streams[i].empty())
            continue;
        const std::string name = "J" + std::to_string(i);
        names += "/" + name + " " + std::to_string(10 + i) + " 0 R ";
        page.streams.push_back(
            {10 + i,
             {"<< /Type /XObject /Subtype /Image /Width 48 /Height 32 " + extra[i] + "/Filter /JPXDecode >>",
              streams[i]}});
        page.content += "q 48 0 0 32 " + std::to_string(30 + 120 * (i % 2)) + " " +
                        std::to_string(110 - 80 * (i / 2)) + " cm /" + name + " Do Q ";
    }
    page.resources = "<< /XObject << " + names + ">> >>";
}

inline std::map<std::string, VectorPage> jpxPages() {
    static const std::map<std::string, VectorPage> pages = [] {
        std::map<std::string, VectorPage> made;
        VectorPage& page = made["image-jpx"];
        page.content = "1 1 0.85 rg 0 0 240 180 re f ";
        std::string folder = (std::filesystem::temp_directory_path() / "jpx-pages-XXXXXX").string();
        if (!mkdtemp(folder.data()))
            return made;
        const int w = 48, h = 32;
        auto header = [](const char* magic, int maxval) {
            return std::string(magic) + "\n48 32\n" + std::to_string(maxval) + "\n";
        };
        std::string grey = header("P5", 255), rgb = header("P6", 255), wide = header("P5", 65535);
        std::string rgba = "P7\nWIDTH 48\nHEIGHT 32\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool ring = (2 * x - 47) * (2 * x - 47) + (2 * y - 31) * (2 * y - 31) < 800;
                grey += char(x * 5 + (ring ? 15 : 0));
                const char colour[3] = {char(x * 5), char(y * 7), char(ring ? 250 : 60)};
                rgb.append(colour, 3);
                const int v = x * 1350 + y * 37;
                wide += char(v >> 8);
                wide += char(v);
                rgba.append(colour, 3);
                rgba += char(255);
            }
        }
        const std::string streams[4] = {
            jpxStream(folder, "grey.pgm", grey, "-n 3"),
            jpxStream(folder, "rgb.ppm", rgb, "-n 3 -I"),
            jpxStream(folder, "wide.pgm", wide, "-n 3"),
            jpxStream(folder, "rgba.pam", rgba, "-n 3", "-define png:color-type=6"),
        };
        const char* const extra[4] = {"", "", "", "/SMaskInData 1 "};
        std::string names;
        for (int i = 0; i < 4; ++i) {
            if (streams[i].empty())
                continue;
            const std::string name = "J" + std::to_string(i);
            names += "/" + name + " " + std::to_string(10 + i) + " 0 R ";
            page.streams.push_back({10 + i,
                                    {"<< /Type /XObject /Subtype /Image /Width 48 /Height 32 " +
                                         std::string(extra[i]) + "/Filter /JPXDecode >>",
                                     streams[i]}});
            // One point a sample, compared at 72 dpi: the peer smooths
            // enlarged JPEG 2000 samples, which would hide the samples.
            page.content += "q 48 0 0 32 " + std::to_string(30 + 120 * (i % 2)) + " " +
                            std::to_string(110 - 80 * (i / 2)) + " cm /" + name + " Do Q ";
        }
        page.resources = "<< /XObject << " + names + ">> >>";
        addJpxFormsPage(made, folder);
        std::filesystem::remove_all(folder);
        return made;
    }();
    return pages;
}

}  // namespace rendova::test
