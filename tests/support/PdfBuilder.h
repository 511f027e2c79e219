#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rendova::test {

// Options of a cross-reference section, set fluently:
//   pdf.xrefStream(9, Xref().widths({1, 2, 1}).trailer("/Info 5 0 R"));
class Xref {
public:
    // Extra trailer (or stream dictionary) entries, e.g. "/Info 5 0 R".
    Xref& trailer(std::string text) {
        m_trailer = std::move(text);
        return *this;
    }
    // The catalog's object number for /Root (1 by default); 0 writes none.
    Xref& root(int num) {
        m_root = num;
        return *this;
    }
    // Whether /Prev names the previous section (when there is one).
    Xref& prev(bool on) {
        m_prev = on;
        return *this;
    }
    // Whether the startxref block and %%EOF follow the section.
    Xref& writeStartxref(bool on) {
        m_writeStartxref = on;
        return *this;
    }
    // Overrides the number written after startxref.
    Xref& startxref(int64_t offset) {
        m_startxref = offset;
        return *this;
    }
    // Cross-reference streams: field widths (1 4 2 by default).
    Xref& widths(std::array<int, 3> w) {
        m_widths = w;
        return *this;
    }
    // Cross-reference streams: a verbatim /Index array instead of the one
    // computed from the entries; "-" writes none.
    Xref& index(std::string text) {
        m_index = std::move(text);
        return *this;
    }
    // Cross-reference streams: FlateDecode-compressed data.
    Xref& compress(bool on) {
        m_compress = on;
        return *this;
    }
    // Classic tables: a cross-reference stream of this number is written
    // first, listing the section's compressed objects, and the trailer
    // points at it with /XRefStm (a hybrid file).
    Xref& hybridStream(int num) {
        m_hybridStream = num;
        return *this;
    }
    // Whether the first section lists object 0 as the free-list head.
    Xref& freeHead(bool on) {
        m_freeHead = on;
        return *this;
    }

private:
    friend class PdfBuilder;
    std::string m_trailer;
    int m_root = 1;
    bool m_prev = true;
    bool m_writeStartxref = true;
    std::optional<int64_t> m_startxref;
    std::array<int, 3> m_widths = {1, 4, 2};
    std::string m_index;
    bool m_compress = false;
    int m_hybridStream = 0;
    bool m_freeHead = true;
};

// Builds small PDF files from readable text. Objects are written as given;
// the builder fills in what is tedious and error-prone by hand: offsets,
// stream /Length, object stream headers, the cross-reference table or stream
// with its subsections, /Size, /Prev and startxref.
//
//   PdfBuilder pdf;
//   pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
//      .object(2, "<< /Type /Pages /Kids [] /Count 0 >>")
//      .stream(3, "<< /Filter /ASCIIHexDecode >>", "414243>")
//      .xrefTable();                      // trailer << /Size 4 /Root 1 0 R >>
//   pdf.object(2, "<< /Type /Pages /Kids [] /Count 0 /Changed true >>")
//      .xrefStream(4);                    // an update section with /Prev
//   std::string file = pdf.bytes();
//
// Every xrefTable()/xrefStream() call closes a section listing the objects
// written since the previous one (an incremental update after the first).
// Damaged variants: write wrong values on purpose (an explicit /Length in the
// dictionary is kept, entry() overrides an entry, raw() inserts any bytes,
// startxref can be overridden) or edit bytes() with replaceOnce/truncated.
class PdfBuilder {
public:
    explicit PdfBuilder(std::string header = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n") : m_out(std::move(header)) {}

    // Bytes written as they are, at this point of the file.
    PdfBuilder& raw(std::string_view bytes) {
        m_out += bytes;
        return *this;
    }

    // "num gen obj\nbody\nendobj\n".
    PdfBuilder& object(int num, std::string_view body, int gen = 0) {
        addEntry(num, {1, int64_t(m_out.size()), gen});
        m_out += std::to_string(num) + " " + std::to_string(gen) + " obj\n";
        m_out += body;
        m_out += "\nendobj\n";
        return *this;
    }

    // A stream object; /Length is added to the dictionary text unless it
    // already names one.
    PdfBuilder& stream(int num, std::string_view dict, std::string_view data, int gen = 0) {
        addEntry(num, {1, int64_t(m_out.size()), gen});
        m_out += std::to_string(num) + " " + std::to_string(gen) + " obj\n";
        m_out += withLength(dict, data.size());
        m_out += "\nstream\n";
        m_out += data;
        m_out += "\nendstream\nendobj\n";
        return *this;
    }

    // A stream whose data is compressed for /FlateDecode.
    PdfBuilder& flateStream(int num, std::string_view dict, std::string_view data, int gen = 0) {
        return stream(num, withEntry(dict, "/Filter /FlateDecode"), deflateStored(data), gen);
    }

    // An object stream holding the given (number, body) objects; they are
    // listed as compressed objects in the next section.
    PdfBuilder& objectStream(int num, const std::vector<std::pair<int, std::string>>& objects,
                             bool compress = false, std::string_view extraDict = "") {
        std::string header, body;
        for (size_t i = 0; i < objects.size(); ++i) {
            header += std::to_string(objects[i].first) + " " + std::to_string(body.size()) + " ";
            body += objects[i].second + "\n";
            addEntry(objects[i].first, {2, num, int(i)});
        }
        std::string dict = "<< /Type /ObjStm /N " + std::to_string(objects.size()) + " /First " +
                           std::to_string(header.size()) + " " + std::string(extraDict) + ">>";
        if (compress)
            return flateStream(num, dict, header + body);
        return stream(num, dict, header + body);
    }

    // Sets the entry of num in the next section: type 0 free, 1 in the file
    // (field2 the offset), 2 compressed (field2 the stream, field3 the index),
    // or any other number to write a damaged entry.
    PdfBuilder& entry(int num, int type, int64_t field2, int field3) {
        addEntry(num, {type, field2, field3});
        return *this;
    }

    // Ends a section with a classic table and its trailer.
    PdfBuilder& xrefTable(const Xref& options = Xref()) {
        std::map<int, Entry> entries = takeSection(options);
        std::string xrefStm;
        if (options.m_hybridStream != 0) {
            std::map<int, Entry> compressed;
            for (auto it = entries.begin(); it != entries.end();) {
                if (it->second.type == 2) {
                    compressed.insert(*it);
                    it = entries.erase(it);
                } else {
                    ++it;
                }
            }
            const int64_t streamOffset = int64_t(m_out.size());
            writeXrefStreamObject(options.m_hybridStream, compressed, options, /*asTrailer=*/false);
            entries[options.m_hybridStream] = {1, streamOffset, 0};
            xrefStm = " /XRefStm " + std::to_string(streamOffset);
        }
        for (const auto& [num, e] : entries)
            if (e.type == 2)
                throw std::logic_error("a classic table cannot list compressed object " +
                                       std::to_string(num) + ": use hybridStream or xrefStream");
        const int64_t offset = int64_t(m_out.size());
        m_out += "xref\n";
        for (const auto& [first, run] : runs(entries)) {
            m_out += std::to_string(first) + " " + std::to_string(run.size()) + "\n";
            for (const Entry& e : run) {
                char line[32];
                std::snprintf(line, sizeof line, "%010lld %05d %c\r\n", static_cast<long long>(e.field2),
                              e.field3, e.type == 1 ? 'n' : 'f');
                m_out += line;
            }
        }
        m_out += "trailer\n<< " + trailerEntries(options) + xrefStm + " >>\n";
        finishSection(offset, options);
        return *this;
    }

    // Ends a section with a cross-reference stream of object number num.
    PdfBuilder& xrefStream(int num, const Xref& options = Xref()) {
        std::map<int, Entry> entries = takeSection(options);
        const int64_t offset = int64_t(m_out.size());
        entries[num] = {1, offset, 0};
        writeXrefStreamObject(num, entries, options, /*asTrailer=*/true);
        finishSection(offset, options);
        return *this;
    }

    const std::string& bytes() const { return m_out; }
    // Where the latest definition of object num starts.
    int64_t offsetOf(int num) const { return m_offsets.at(num); }
    // Where each section starts, oldest first.
    const std::vector<int64_t>& sectionOffsets() const { return m_sections; }

private:
    struct Entry {
        int type;
        int64_t field2;
        int field3;
    };

    void addEntry(int num, Entry e) {
        m_section[num] = e;
        if (e.type == 1)
            m_offsets[num] = e.field2;
        m_size = std::max(m_size, num + 1);
    }

    std::map<int, Entry> takeSection(const Xref& options) {
        std::map<int, Entry> entries = std::move(m_section);
        m_section.clear();
        if (m_sections.empty() && options.m_freeHead && !entries.count(0))
            entries[0] = {0, 0, 65535};
        return entries;
    }

    // Runs of consecutive object numbers: the subsections.
    static std::vector<std::pair<int, std::vector<Entry>>> runs(const std::map<int, Entry>& entries) {
        std::vector<std::pair<int, std::vector<Entry>>> result;
        int next = -2;
        for (const auto& [num, e] : entries) {
            if (num != next)
                result.push_back({num, {}});
            result.back().second.push_back(e);
            next = num + 1;
        }
        return result;
    }

    std::string trailerEntries(const Xref& options) const {
        std::string text = "/Size " + std::to_string(m_size);
        if (options.m_root)
            text += " /Root " + std::to_string(options.m_root) + " 0 R";
        if (options.m_prev && !m_sections.empty())
            text += " /Prev " + std::to_string(m_sections.back());
        if (!options.m_trailer.empty())
            text += " " + options.m_trailer;
        return text;
    }

    void writeXrefStreamObject(int num, const std::map<int, Entry>& entries, const Xref& options,
                               bool asTrailer) {
        m_size = std::max(m_size, num + 1);
        std::string data;
        for (const auto& [first, run] : runs(entries)) {
            (void)first;
            for (const Entry& e : run) {
                putField(data, e.type, options.m_widths[0]);
                putField(data, uint64_t(e.field2), options.m_widths[1]);
                putField(data, uint64_t(e.field3), options.m_widths[2]);
            }
        }
        std::string dict = "<< /Type /XRef ";
        dict += asTrailer ? trailerEntries(options) : "/Size " + std::to_string(m_size);
        dict += " /W [" + std::to_string(options.m_widths[0]) + " " + std::to_string(options.m_widths[1]) +
                " " + std::to_string(options.m_widths[2]) + "]";
        if (options.m_index.empty()) {
            dict += " /Index [";
            for (const auto& [first, run] : runs(entries))
                dict += std::to_string(first) + " " + std::to_string(run.size()) + " ";
            dict += "]";
        } else if (options.m_index != "-") {
            dict += " /Index " + options.m_index;
        }
        dict += " >>";
        // Written without entering the section's entries: its own entry was
        // put there by the caller.
        const int64_t offset = int64_t(m_out.size());
        m_offsets[num] = offset;
        m_out += std::to_string(num) + " 0 obj\n";
        if (options.m_compress) {
            data = deflateStored(data);
            dict = withEntry(dict, "/Filter /FlateDecode");
        }
        m_out += withLength(dict, data.size()) + "\nstream\n" + data + "\nendstream\nendobj\n";
    }

    void finishSection(int64_t offset, const Xref& options) {
        m_sections.push_back(offset);
        if (options.m_writeStartxref)
            m_out += "startxref\n" + std::to_string(options.m_startxref.value_or(offset)) + "\n%%EOF\n";
    }

    static void putField(std::string& out, uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i)
            out += char((value >> (8 * i)) & 0xff);
    }

    static std::string withEntry(std::string_view dict, std::string_view entry) {
        size_t close = dict.rfind(">>");
        if (close == std::string_view::npos)
            throw std::invalid_argument("dictionary text without >>");
        return std::string(dict.substr(0, close)) + " " + std::string(entry) + " " +
               std::string(dict.substr(close));
    }

    static std::string withLength(std::string_view dict, size_t length) {
        if (dict.find("/Length") != std::string_view::npos)
            return std::string(dict);
        return withEntry(dict, "/Length " + std::to_string(length));
    }

public:
    // Data in the zlib format with stored (uncompressed) deflate blocks:
    // valid input for any FlateDecode reader, written without a compressor.
    static std::string deflateStored(std::string_view data) {
        std::string out = "\x78\x01";
        size_t pos = 0;
        do {
            const size_t n = std::min<size_t>(data.size() - pos, 65535);
            const bool last = pos + n == data.size();
            out += char(last ? 1 : 0);
            out += char(n & 0xff);
            out += char(n >> 8);
            out += char(~n & 0xff);
            out += char((~n >> 8) & 0xff);
            out += data.substr(pos, n);
            pos += n;
        } while (pos < data.size());
        uint32_t a = 1, b = 0;
        for (unsigned char c : data) {
            a = (a + c) % 65521;
            b = (b + a) % 65521;
        }
        const uint32_t adler = b << 16 | a;
        for (int i = 3; i >= 0; --i)
            out += char((adler >> (8 * i)) & 0xff);
        return out;
    }

private:
    std::string m_out;
    std::map<int, Entry> m_section;
    std::map<int, int64_t> m_offsets;
    std::vector<int64_t> m_sections;
    int m_size = 1;
};

// The text with the first occurrence of from replaced by to; throws when from
// does not occur (a test that damages nothing proves nothing).
inline std::string replaceOnce(std::string text, std::string_view from, std::string_view to) {
    size_t at = text.find(from);
    if (at == std::string::npos)
        throw std::invalid_argument("replaceOnce: text not found: " + std::string(from));
    text.replace(at, from.size(), to);
    return text;
}

// The last occurrence of from replaced by to.
inline std::string replaceLast(std::string text, std::string_view from, std::string_view to) {
    size_t at = text.rfind(from);
    if (at == std::string::npos)
        throw std::invalid_argument("replaceLast: text not found: " + std::string(from));
    text.replace(at, from.size(), to);
    return text;
}

// The first n bytes.
inline std::string truncated(const std::string& text, size_t n) {
    return text.substr(0, std::min(n, text.size()));
}

}  // namespace rendova::test
