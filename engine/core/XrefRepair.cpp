// The repair scan of XrefTable: when the cross-reference data is missing or
// damaged, the table is rebuilt from the "n g obj" lines of the whole file,
// the last trailer dictionary that names a root, and the positions of the
// endstream lines, which then correct the lengths of streams. A file cut
// short has lost its trailer: the root is then found among the objects.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/core/CharClass.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"
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
    for (; *p >= '0' && *p <= '9'; ++p)
        value = std::min<int64_t>(value * 10 + (*p - '0'), INT64_C(1) << 40);
    return value;
}

bool skipSpaces(const char*& p) {
    const char* begin = p;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    return p != begin;
}

}  // namespace

bool XrefTable::repair(bool rootFromObjects) {
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
        if (!m_source->getLine(line, kLineBufferSize))
            break;
        int skipped = 0;
        while (skipped < kLineBufferSize - 1 && isWhiteChar(line[skipped]))
            ++skipped;
        const char* p = line + skipped;

        if (std::strncmp(p, "trailer", 7) == 0) {
            // Measured from the keyword, so that an indented keyword works.
            if (repairTrailerLine(lineStart + skipped + 7))
                foundTrailer = true;
        } else if (*p >= '0' && *p <= '9') {
            repairObjectLine(p, lineStart);
        } else if (std::strncmp(p, "endstream", 9) == 0) {
            // A file position, as the value parser asks for it.
            m_streamEnds.push_back(lineStart);
        }
    }

    // The entries found so far are read as they stand.
    const bool wasOk = m_ok;
    m_ok = true;
    const bool rootFound = repairFromObjects(!foundTrailer && rootFromObjects);
    // Object streams were read before any decryption was set up.
    m_objectStreams.clear();
    if (!foundTrailer && !rootFound) {
        reportError(-1, "Repair scan found no trailer dictionary with a root");
        m_ok = wasOk;
        return false;
    }
    return true;
}

bool XrefTable::repairFromObjects(bool findRoot) {
    // The last cross-reference stream naming a root stands in for the
    // trailer; failing that, the last catalog becomes the root. "Last" is
    // by place in the file: an object inside an object stream sits where
    // its stream does, after the objects before it in the stream.
    int64_t xrefRank = -1, catalogRank = -1;
    int catalogNum = -1, catalogGen = 0;
    const auto consider = [&](const PdfValue& object, int num, int gen, int64_t rank) {
        PdfValue type, root;
        object.dictLookup("Type", type);
        if (object.isStream() && type.isName("XRef") && object.dictLookupRaw("Root", root).isRef()) {
            if (rank > xrefRank) {
                xrefRank = rank;
                m_rootNumber = root.getRefNum();
                m_rootGeneration = root.getRefGen();
                m_trailer.initDictRef(object.getDictOrStreamDict());
            }
        } else if (object.isDict() && type.isName("Catalog") && rank > catalogRank) {
            catalogRank = rank;
            catalogNum = num;
            catalogGen = gen;
        }
    };

    const int inFile = getSize();
    for (int num = 0; num < inFile; ++num) {
        const Entry entry = m_entries[size_t(num)];
        if (entry.type != kInFile)
            continue;
        // Offsets stay far below 2^47, so ranks do not overflow.
        const int64_t rank = std::min<int64_t>(entry.offset, INT64_C(1) << 46) * 65536;
        PdfValue object, type;
        fetch(num, entry.generation, object);
        if (!(object.isStream() && object.dictLookup("Type", type).isName("ObjStm"))) {
            if (findRoot)
                consider(object, num, entry.generation, rank);
            continue;
        }
        // The objects of an object stream have no "obj" line of their own:
        // they are learnt from its header. Objects written in the file
        // itself are the newer definitions.
        const ObjectStreamReader reader(this, num);
        const std::vector<int>& members = reader.getObjectNumbers();
        for (size_t index = 0; index < members.size() && index < size_t(INT32_MAX); ++index) {
            const int member = members[index];
            if (member < 1 || (member < getSize() && !isUnset(member)) || !growTo(int64_t(member) + 1))
                continue;
            m_entries[size_t(member)] = {num, int(index), kCompressed};
            if (findRoot) {
                PdfValue value;
                consider(reader.getObject(int(index), member, value), member, 0,
                         rank + std::min<int64_t>(int64_t(index), 65534) + 1);
            }
        }
    }
    if (!findRoot)
        return false;
    if (xrefRank >= 0) {
        reportError(-1, "Repair scan: the cross-reference stream names the root");
        return true;
    }
    if (catalogNum < 0)
        return false;
    reportError(-1, "Repair scan: no trailer; object %d %d, a catalog, taken as the root", catalogNum,
                catalogGen);
    m_rootNumber = catalogNum;
    m_rootGeneration = catalogGen;
    PdfValue root;
    root.initRef(catalogNum, catalogGen);
    m_trailer.initDict(nullptr);
    m_trailer.getDict()->add(copyString("Root"), std::move(root));
    return true;
}

bool XrefTable::repairTrailerLine(int64_t position) {
    std::unique_ptr<ValueParser> parser = parserAt(position, nullptr, false);
    if (!parser)
        return false;
    PdfValue dict, root;
    parser->getValue(dict);
    if (!dict.isDict())
        return false;
    dict.dictLookupRaw("Root", root);
    if (!root.isRef())
        return false;
    m_rootNumber = root.getRefNum();
    m_rootGeneration = root.getRefGen();
    m_trailer = std::move(dict);
    return true;
}

void XrefTable::repairObjectLine(const char* p, int64_t lineStart) {
    const int64_t num = readDecimal(p);
    if (num < 1 || !skipSpaces(p) || !(*p >= '0' && *p <= '9'))
        return;
    const int64_t gen = readDecimal(p);
    skipSpaces(p);
    if (std::strncmp(p, "obj", 3) != 0)
        return;

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
    if (entry.type == kInFile && entry.generation > gen)
        return;
    entry = {lineStart - m_start, static_cast<int>(std::min<int64_t>(gen, INT32_MAX)), kInFile};
}

}  // namespace rendova
