// The repair scan of XrefTable: when the cross-reference data is missing or
// damaged, the table is rebuilt from the "n g obj" lines of the whole file,
// the last trailer dictionary that names a root, and the positions of the
// endstream lines, which then correct the lengths of streams.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/core/CharClass.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/ObjectStreamReader.h"
#include "engine/core/ValueParser.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// Lines are examined in pieces of at most this many bytes (and a NUL): the
// keywords the scan looks for are short and begin a line.
constexpr int kLineBufferSize = 256;

// The decimal digits at p as a number, saturated far above any object
// number; p moves past them.
int64_t readDecimal(const char*& p) {
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = std::min<int64_t>(value * 10 + (*p - '0'), INT64_C(1) << 40);
    return value;
}

bool skipSpaces(const char*& p) {
    const char* begin = p;
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    return p != begin;
}

}  // namespace

bool XrefTable::repair() {
    reportError(-1, "Cross-reference data damaged: scanning the file to rebuild it");
    m_repaired = true;
    m_entries.clear();
    m_streamEnds.clear();
    m_objectStreams.clear();
    bool foundTrailer = false;

    m_source->reset();
    char line[kLineBufferSize];
    for (;;) {
        const int64_t lineStart = m_source->getPos();
        // getLine keeps NUL bytes of the data and does not give the length:
        // a cleared buffer keeps the scan below within what was read.
        std::memset(line, 0, sizeof line);
        if (!m_source->getLine(line, kLineBufferSize)) break;
        int skipped = 0;
        while (skipped < kLineBufferSize - 1 && isWhiteChar(line[skipped])) ++skipped;
        const char* p = line + skipped;

        if (std::strncmp(p, "trailer", 7) == 0) {
            // Measured from the keyword, so that an indented keyword works.
            if (repairTrailerLine(lineStart + skipped + 7)) foundTrailer = true;
        } else if (*p >= '0' && *p <= '9') {
            repairObjectLine(p, lineStart);
        } else if (std::strncmp(p, "endstream", 9) == 0) {
            // A file position, as the value parser asks for it.
            m_streamEnds.push_back(lineStart);
        }
    }

    if (!foundTrailer) {
        reportError(-1, "Repair scan found no trailer dictionary with a root");
        return false;
    }
    m_ok = true;
    return true;
}

bool XrefTable::repairTrailerLine(int64_t position) {
    std::unique_ptr<ValueParser> parser = parserAt(position, nullptr, false);
    if (!parser) return false;
    PdfValue dict, root;
    parser->getValue(dict);
    if (!dict.isDict()) return false;
    dict.dictLookupRaw("Root", root);
    if (!root.isRef()) return false;
    m_rootNumber = root.getRefNum();
    m_rootGeneration = root.getRefGen();
    m_trailer = std::move(dict);
    return true;
}

void XrefTable::repairObjectLine(const char* p, int64_t lineStart) {
    const int64_t num = readDecimal(p);
    if (num < 1 || !skipSpaces(p) || !(*p >= '0' && *p <= '9')) return;
    const int64_t gen = readDecimal(p);
    skipSpaces(p);
    if (std::strncmp(p, "obj", 3) != 0) return;

    if (num >= int64_t(m_entries.size())) {
        // One malformed line must not end the scan: an object number past
        // what a table may hold is skipped.
        const int64_t size = (num + 256) & ~int64_t(255);
        if (size > kMaxEntries) {
            reportError(lineStart, "Object number %lld out of range", static_cast<long long>(num));
            return;
        }
        m_entries.resize(size_t(size), Entry{-1, 0, kFree});
    }
    Entry& entry = m_entries[size_t(num)];
    // A later definition of an object replaces an earlier one unless the
    // earlier one has the higher generation.
    if (entry.type == kInFile && entry.generation > gen) return;
    entry = {lineStart - m_start, static_cast<int>(std::min<int64_t>(gen, INT32_MAX)), kInFile};
}

}  // namespace rendova
