// The repair scan of XrefTable: when the cross-reference data is missing or
// damaged, the table is rebuilt from the "n g obj" lines of the whole file
// and the last trailer dictionary that names a root. A file cut short has
// lost its trailer: the root is then found among the objects. Streams whose
// Length is wrong find their end keyword themselves (ValueParser), as they
// do in an undamaged table.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

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

// An entry whose offset misses its object looks for the object's header this
// many bytes either side: offsets written short or long by a few bytes.
constexpr int kNearbyHeaderWindow = 64;

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

bool XrefTable::readHeader(int64_t offset, int* num, int* gen) {
    // An offset into the middle of "140 0 obj" would read "40 0 obj".
    if (offset > 0 && m_start + offset - 1 <= int64_t(UINT32_MAX)) {
        m_source->setPos(uint32_t(m_start + offset - 1), 0);
        const int before = m_source->getChar();
        if (before >= '0' && before <= '9')
            return false;
    }
    std::unique_ptr<ValueParser> parser = parserAt(m_start + offset, nullptr, false);
    if (!parser)
        return false;
    PdfValue numValue, genValue, keyword;
    parser->getValue(numValue);
    parser->getValue(genValue);
    parser->getValue(keyword);
    if (!numValue.isInt() || !genValue.isInt() || !keyword.isCommand("obj"))
        return false;
    *num = numValue.getInt();
    *gen = genValue.getInt();
    return true;
}

int64_t XrefTable::findHeaderNear(int num, int gen, int64_t offset) {
    // Read from the source's start, which the header marker fixed.
    const int64_t from = std::max<int64_t>(0, offset - kNearbyHeaderWindow);
    if (m_start + from > int64_t(UINT32_MAX))
        return -1;
    char window[2 * kNearbyHeaderWindow + 32];
    m_source->setPos(uint32_t(m_start + from), 0);
    int n = 0;
    for (int c; n < int(sizeof window) && (c = m_source->getChar()) != -1;)
        window[n++] = char(c);
    char header[40];
    const int length = std::snprintf(header, sizeof header, "%d %d obj", num, gen);
    int64_t best = -1;
    for (int i = 0; i + length <= n; ++i) {
        if (std::memcmp(window + i, header, size_t(length)) != 0 ||
            (i > 0 && window[i - 1] >= '0' && window[i - 1] <= '9'))
            continue;
        // The nearest one to the stated offset.
        const int64_t at = from + i;
        if (best < 0 || std::llabs(at - offset) < std::llabs(best - offset))
            best = at;
    }
    return best;
}

bool XrefTable::rescanForBadEntries() {
    if (m_repaired || m_rescanned)
        return false;
    m_rescanned = true;
    const std::vector<Entry> table = m_entries;
    PdfValue trailer;
    m_trailer.copy(trailer);
    const int rootNumber = m_rootNumber, rootGeneration = m_rootGeneration;
    repair();
    std::vector<Entry> scanned = std::move(m_entries);
    m_entries = table;
    if (scanned.size() > m_entries.size())
        m_entries.resize(scanned.size(), Entry{-1, 0, kFree});
    // The objects that the table's offsets do lead to: an entry swapped with
    // another finds its object at the other's offset.
    std::map<std::pair<int, int>, int64_t> atTableOffsets;
    std::vector<size_t> bad;
    for (size_t num = 0; num < m_entries.size(); ++num) {
        Entry& entry = m_entries[num];
        if (entry.offset == -1 && entry.type == kFree) {
            entry = num < scanned.size() ? scanned[num] : Entry{-1, 0, kFree};
            continue;
        }
        if (entry.type != kInFile)
            continue;
        int headerNum, headerGen;
        if (!readHeader(entry.offset, &headerNum, &headerGen)) {
            bad.push_back(num);
            continue;
        }
        atTableOffsets.emplace(std::make_pair(headerNum, headerGen), entry.offset);
        if (headerNum != int(num) || headerGen != entry.generation)
            bad.push_back(num);
    }
    // Failing that, a header a few bytes from the stated offset (offsets
    // shifted); failing that too, the scan's entry, which is the last
    // definition found at the start of a line.
    for (size_t num : bad) {
        Entry& entry = m_entries[num];
        const auto found = atTableOffsets.find({int(num), entry.generation});
        int64_t offset = found != atTableOffsets.end() ? found->second : -1;
        if (offset < 0)
            offset = findHeaderNear(int(num), entry.generation, entry.offset);
        if (offset >= 0)
            entry.offset = offset;
        else
            entry = num < scanned.size() ? scanned[num] : Entry{-1, 0, kFree};
    }
    const int replaced = int(bad.size());
    reportError(-1, "Repair scan: %d entries of the cross-reference table replaced", replaced);
    // The trailer and root that the table gave are kept.
    m_objectStreams.clear();
    m_trailer = std::move(trailer);
    m_rootNumber = rootNumber;
    m_rootGeneration = rootGeneration;
    m_ok = true;
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
