#include "engine/core/XrefTable.h"

#include <new>

#include <algorithm>
#include <cstring>

#include "engine/core/CharClass.h"
#include "engine/core/DataStream.h"
#include "engine/core/Decryptor.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"
#include "engine/core/ObjectStreamReader.h"
#include "engine/core/ValueParser.h"

namespace rendova {

namespace {

// The start offset is searched for in this many bytes at the end of the file.
constexpr int kTailSize = 1024;
// At most this many digits of the start offset are read: ten digits cover
// every offset of a 32-bit file, and the value stays far inside 64 bits.
constexpr int kMaxOffsetDigits = 10;
// A new table starts with this many entries and doubles from there.
constexpr int64_t kFirstTableSize = 1024;

// An entry that no section has set yet.
constexpr XrefTable::Entry kUnsetEntry = {-1, 0, XrefTable::kFree};

}  // namespace

std::unique_ptr<ValueParser> XrefTable::parserAt(int64_t position, XrefTable* xref, bool allowStreams) {
    if (position < 0 || position > int64_t(UINT32_MAX))
        return nullptr;
    PdfValue noDict;
    noDict.initNull();
    RefPtr<SourceStream> range = m_source->makeSubrange(uint32_t(position), false, 0, std::move(noDict));
    return std::make_unique<ValueParser>(xref, std::make_unique<Tokenizer>(xref, range.get()), allowStreams);
}

XrefTable::XrefTable(SourceStream* source) : m_source(source), m_start(source->getStart()) {
    bool needRepair = !findLastSectionOffset();
    bool looped = false;
    if (!needRepair) {
        // Sections already read: a Prev chain that comes back to one of them
        // is a loop in a damaged file and ends there.
        std::vector<int64_t> visited;
        int64_t offset = m_lastSectionOffset;
        while (offset >= 0) {
            if (std::find(visited.begin(), visited.end(), offset) != visited.end()) {
                reportError(-1, "Loop in the chain of cross-reference sections at offset %lld",
                            static_cast<long long>(offset));
                looped = true;
                break;
            }
            visited.push_back(offset);
            int64_t prev = -1;
            if (!readSection(offset, &prev, true)) {
                m_ok = false;
                break;
            }
            offset = prev;
        }
        needRepair = !m_ok;
    }
    if (looped && m_ok) {
        // The sections that the loop hides are lost to the chain, but the
        // repair scan finds their objects. When it cannot (a file without a
        // classic trailer), the sections read before the loop stand.
        std::vector<Entry> entries = m_entries;
        PdfValue trailer;
        m_trailer.copy(trailer);
        if (!repair(false)) {
            m_entries = std::move(entries);
            m_trailer = std::move(trailer);
            m_repaired = false;
        }
    }
    if (needRepair && !repair()) {
        m_ok = false;
        m_errorCode = kErrorDamaged;
        return;
    }

    PdfValue root;
    if (m_trailer.isDict())
        m_trailer.dictLookupRaw("Root", root);
    if (root.isRef()) {
        m_rootNumber = root.getRefNum();
        m_rootGeneration = root.getRefGen();
    } else if (m_repaired || !repair()) {
        m_ok = false;
        m_errorCode = kErrorDamaged;
        return;
    }

    // The trailer was parsed before the table existed; a copy bound to the
    // table resolves the references of its entries.
    PdfDict* unbound = m_trailer.getDict();
    PdfValue bound;
    bound.initDict(this);
    for (int i = 0; i < unbound->getLength(); ++i) {
        PdfValue value;
        unbound->rawValueAt(i, value);
        bound.getDict()->add(copyString(unbound->keyAt(i)), std::move(value));
    }
    m_trailer = std::move(bound);

    PdfValue size;
    m_trailer.dictLookupRaw("Size", size);
    if (!m_repaired && size.isInt() && size.getInt() > 0)
        m_declaredSize = std::min<int64_t>(size.getInt(), kMaxEntries);
    else if (!m_repaired)
        m_sizeMissing = true;
}

XrefTable::~XrefTable() = default;

bool XrefTable::findLastSectionOffset() {
    char tail[kTailSize];
    m_source->setPos(kTailSize, -1);
    int n = 0;
    for (int c; n < kTailSize && (c = m_source->getChar()) != -1;)
        tail[n++] = static_cast<char>(c);

    const int keywordLength = 9;
    int i = n - keywordLength;
    while (i >= 0 && std::memcmp(tail + i, "startxref", keywordLength) != 0)
        --i;
    if (i < 0) {
        reportError(-1, "No startxref keyword at the end of the file");
        return false;
    }
    int p = i + keywordLength;
    while (p < n && isWhiteChar(tail[p]))
        ++p;
    int64_t offset = 0;
    for (int digits = 0; digits < kMaxOffsetDigits && p < n && tail[p] >= '0' && tail[p] <= '9'; ++digits)
        offset = offset * 10 + (tail[p++] - '0');
    m_lastSectionOffset = offset;
    if (offset == 0) {
        reportError(-1, "The startxref offset is missing or 0");
        return false;
    }
    return true;
}

bool XrefTable::readSection(int64_t offset, int64_t* prev, bool followXrefStm) {
    *prev = -1;
    std::unique_ptr<ValueParser> parser = parserAt(m_start + offset, nullptr, true);
    if (!parser) {
        reportError(-1, "Cross-reference section offset %lld outside the file",
                    static_cast<long long>(offset));
        return false;
    }
    PdfValue first;
    parser->getValue(first);
    if (first.isCommand("xref")) {
        PdfValue trailer;
        if (!readClassicTable(*parser, prev, trailer))
            return false;
        if (!followXrefStm)
            return true;
        // A hybrid file: the stream adds the objects that only readers of
        // streams see. Read after the table, so that the table's entries win.
        PdfValue xrefStm;
        trailer.dictLookupRaw("XRefStm", xrefStm);
        int64_t ignored;
        if (xrefStm.isInt() && !readSection(xrefStm.getInt(), &ignored, false))
            return false;
        return true;
    }

    PdfValue gen, keyword, stream;
    parser->getValue(gen);
    parser->getValue(keyword);
    if (first.isInt() && gen.isInt() && keyword.isCommand("obj")) {
        parser->getValue(stream);
        if (stream.isStream()) {
            if (!readXrefStream(stream, prev))
                return false;
            // The stream is an object of the file even when its Index
            // leaves its own number out.
            const int64_t num = first.getInt();
            if (num > 0 && num < getSize() && isUnset(num))
                m_entries[size_t(num)] = {offset, gen.getInt(), kInFile};
            return true;
        }
    }
    reportError(-1, "No cross-reference section at offset %lld", static_cast<long long>(offset));
    return false;
}

bool XrefTable::readClassicTable(ValueParser& parser, int64_t* prev, PdfValue& dict) {
    const int64_t position = parser.getPos();
    // One past the highest number a subsection listed.
    int64_t listedEnd = 0;
    for (;;) {
        PdfValue token;
        parser.getValue(token);
        if (token.isCommand("trailer"))
            break;
        if (!token.isInt()) {
            reportError(parser.getPos(), "Bad line in a cross-reference table");
            return false;
        }
        PdfValue countValue;
        parser.getValue(countValue);
        if (!countValue.isInt() || token.getInt() < 0 || countValue.getInt() < 0) {
            reportError(parser.getPos(), "Bad subsection header in a cross-reference table");
            return false;
        }
        int64_t first = token.getInt();
        const int64_t count = countValue.getInt();
        if (!growFor(first + count))
            return false;

        for (int64_t i = 0; i < count; ++i) {
            PdfValue offset, gen, keyword;
            parser.getValue(offset);
            parser.getValue(gen);
            parser.getValue(keyword);
            if (!offset.isInt() || !gen.isInt() || !(keyword.isCommand("n") || keyword.isCommand("f"))) {
                reportError(parser.getPos(), "Bad entry in a cross-reference table");
                return false;
            }
            const int64_t num = first + i;
            if (!isUnset(num))
                continue;
            Entry& entry = m_entries[size_t(num)];
            entry.offset = offset.getInt();
            entry.generation = gen.getInt();
            entry.type = keyword.isCommand("n") ? kInFile : kFree;
            // Some writers number the free-list head 1 instead of 0: the
            // subsection really starts at object 0.
            if (i == 0 && first == 1 && entry.offset == 0 && entry.generation == 65535 &&
                entry.type == kFree) {
                m_entries[0] = entry;
                entry = kUnsetEntry;
                first = 0;
            }
        }
        // A shifted subsection ends one number earlier.
        if (count > 0)
            listedEnd = std::max(listedEnd, first + count);
    }

    parser.getValue(dict);
    if (!dict.isDict()) {
        reportError(position, "Cross-reference table without a trailer dictionary");
        return false;
    }
    checkSubsectionsAgainstSize(dict, listedEnd);
    PdfValue prevValue;
    dict.dictLookupRaw("Prev", prevValue);
    if (prevValue.isInt())
        *prev = prevValue.getInt();
    else if (prevValue.isRef())
        *prev = prevValue.getRefNum();
    keepTrailer(dict);
    return true;
}

void XrefTable::checkSubsectionsAgainstSize(const PdfValue& trailer, int64_t listedEnd) {
    PdfValue size;
    trailer.dictLookupRaw("Size", size);
    if (!size.isInt() || listedEnd <= size.getInt())
        return;
    reportError(-1, "Cross-reference subsection runs past the trailer's Size %d (to object %lld)",
                size.getInt(), static_cast<long long>(listedEnd - 1));
    m_brokenSubsection = true;
}

bool XrefTable::readXrefStream(const PdfValue& stream, int64_t* prev) {
    PdfValue sizeValue, widths, index, prevValue;
    stream.dictLookupRaw("Size", sizeValue);
    if (!sizeValue.isInt() || sizeValue.getInt() < 0) {
        reportError(-1, "Cross-reference stream without a valid Size");
        return false;
    }
    if (!growTo(sizeValue.getInt()))
        return false;

    int w[3];
    stream.dictLookupRaw("W", widths);
    if (!widths.isArray() || widths.getArray()->getLength() < 3) {
        reportError(-1, "Cross-reference stream without a valid W array");
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        PdfValue width;
        widths.getArray()->get(i, width);
        if (!width.isInt() || width.getInt() < 0 || width.getInt() > 4) {
            reportError(-1, "Cross-reference stream with a field width outside 0 to 4");
            return false;
        }
        w[i] = width.getInt();
    }

    // The ranges of object numbers: pairs of first number and count.
    std::vector<std::pair<int64_t, int64_t>> ranges;
    stream.dictLookupRaw("Index", index);
    if (index.isArray()) {
        PdfArray* pairs = index.getArray();
        for (int i = 0; i + 1 < pairs->getLength(); i += 2) {
            PdfValue first, count;
            pairs->get(i, first);
            pairs->get(i + 1, count);
            if (!first.isInt() || !count.isInt() || first.getInt() < 0 || count.getInt() < 0) {
                reportError(-1, "Cross-reference stream with a bad Index array");
                return false;
            }
            ranges.emplace_back(first.getInt(), count.getInt());
        }
    } else {
        ranges.emplace_back(0, sizeValue.getInt());
    }

    DataStream* data = stream.getStream();
    data->reset();
    bool ok = true;
    for (const auto& [first, count] : ranges) {
        if (!growFor(first + count)) {
            ok = false;
            break;
        }
        for (int64_t i = 0; i < count && ok; ++i) {
            uint32_t fields[3];
            for (int f = 0; f < 3 && ok; ++f) {
                uint32_t value = 0;
                for (int b = 0; b < w[f]; ++b) {
                    int c = data->getChar();
                    if (c == -1) {
                        reportError(-1, "Cross-reference stream data ends early");
                        ok = false;
                        break;
                    }
                    value = value << 8 | uint32_t(c);
                }
                fields[f] = value;
            }
            if (!ok)
                break;
            // Without a type field every entry is an object in the file.
            const uint32_t type = w[0] == 0 ? uint32_t(kInFile) : fields[0];
            const int64_t num = first + i;
            if (!isUnset(num))
                continue;
            if (type > kCompressed) {
                reportError(-1, "Cross-reference stream entry of unknown type %u", type);
                ok = false;
                break;
            }
            m_entries[size_t(num)] = {int64_t(fields[1]), static_cast<int>(fields[2]),
                                      static_cast<int>(type)};
        }
        if (!ok)
            break;
    }
    data->close();
    if (!ok)
        return false;

    stream.dictLookupRaw("Prev", prevValue);
    if (prevValue.isInt())
        *prev = prevValue.getInt();
    PdfValue dict;
    dict.initDictRef(stream.getDictOrStreamDict());
    keepTrailer(dict);
    return true;
}

void XrefTable::keepTrailer(const PdfValue& dict) {
    if (!m_trailer.isNone())
        return;
    dict.copy(m_trailer);
}

bool XrefTable::growTo(int64_t size) {
    if (size > kMaxEntries) {
        reportError(-1, "Cross-reference section claims %lld objects", static_cast<long long>(size));
        return false;
    }
    if (size > int64_t(m_entries.size()))
        m_entries.resize(size_t(size), kUnsetEntry);
    return true;
}

bool XrefTable::growFor(int64_t needed) {
    const int64_t size = int64_t(m_entries.size());
    if (needed <= size)
        return true;
    if (needed > kMaxEntries)
        return growTo(needed);
    int64_t grown = std::max(kFirstTableSize, size * 2);
    while (grown < needed)
        grown *= 2;
    return growTo(std::min(grown, kMaxEntries));
}

bool XrefTable::findSearchedKeyword(SearchedKeyword which, int64_t from, int64_t* keyword,
                                    int64_t* end) const {
    const KeywordSearch& last = m_searches[which];
    if (last.from < 0 || from < last.from || (last.keyword >= 0 && from > last.keyword))
        return false;
    *keyword = last.keyword;
    *end = last.end;
    return true;
}

void XrefTable::noteSearchedKeyword(SearchedKeyword which, int64_t from, int64_t keyword, int64_t end) {
    m_searches[which] = {from, keyword, end};
}

void XrefTable::setEncryption(int permissions, bool ownerPasswordOk, const unsigned char* key, int keyLength,
                              int version, int algorithm) {
    m_encrypted = true;
    m_permissions = permissions;
    m_ownerPasswordOk = ownerPasswordOk;
    m_keyLength = std::clamp(keyLength, 0, int(sizeof m_fileKey));
    std::memcpy(m_fileKey, key, size_t(m_keyLength));
    m_encryptionVersion = version;
    m_encryptionAlgorithm = algorithm;
    PdfValue encrypt;
    if (m_trailer.dictLookupRaw("Encrypt", encrypt).isRef())
        m_encryptNumber = encrypt.getRefNum();
}

void XrefTable::setDecryptor(std::unique_ptr<Decryptor> decryptor) {
    m_decryptor = std::move(decryptor);
}

PdfValue& XrefTable::fetch(int num, int gen, PdfValue& out) {
    fetchOnce(num, gen, out);
    // Only the outermost fetch rescans: the nested ones may run inside an
    // object stream reader that the rescan replaces. Fetching the outer
    // object again fetches the nested ones through the new entries.
    if (m_badEntrySeen && m_fetching.empty()) {
        m_badEntrySeen = false;
        if (rescanForBadEntries())
            fetchOnce(num, gen, out);
    }
    return out;
}

PdfValue& XrefTable::fetchOnce(int num, int gen, PdfValue& out) {
    if (num < 0)
        return out.initNull();
    // Every number below the trailer's Size should have an entry; one
    // without is an object that a damaged table lost. So is any number
    // without an entry when a subsection header was damaged (its objects
    // are listed under other numbers, and the Size may be wrong as well) or
    // when the trailer lacks its Size (a table written in part).
    if (num >= getSize() || (m_entries[size_t(num)].type == kFree && isUnset(num))) {
        if (num < m_declaredSize || m_brokenSubsection || m_sizeMissing)
            noteBadEntry();
        return out.initNull();
    }
    const Entry entry = m_entries[size_t(num)];
    if (entry.type == kFree)
        return out.initNull();
    if (entry.offset < 0) {
        noteBadEntry();
        return out.initNull();
    }
    if (m_fetching.empty()) {
        m_nestedFetches = 0;
    } else if (++m_nestedFetches > kMaxNestedFetches) {
        reportError(-1, "Object %d %d: more than %d objects fetched to read one object", num, gen,
                    kMaxNestedFetches);
        return out.initNull();
    }
    if (int(m_fetching.size()) >= kMaxFetchDepth) {
        reportError(-1, "Object %d %d: objects refer to each other more than %d levels deep", num, gen,
                    kMaxFetchDepth);
        return out.initNull();
    }
    if (std::find(m_fetching.begin(), m_fetching.end(), num) != m_fetching.end()) {
        reportError(-1, "Object %d %d is needed to read itself", num, gen);
        return out.initNull();
    }
    m_fetching.push_back(num);
    struct FetchingGuard {
        std::vector<int>& fetching;
        ~FetchingGuard() { fetching.pop_back(); }
    } guard{m_fetching};

    if (entry.type == kCompressed) {
        if (gen != 0)
            return out.initNull();
        return fetchCompressed(num, entry, out);
    }

    if (entry.generation != gen) {
        // An older reference to a number used again is rightly null; a
        // generation that only the table got wrong is not.
        int headerNum, headerGen;
        if (!m_repaired && !m_rescanned && readHeader(entry.offset, &headerNum, &headerGen) &&
            headerNum == num && headerGen == gen)
            noteBadEntry();
        return out.initNull();
    }
    std::unique_ptr<ValueParser> parser = parserAt(m_start + entry.offset, this, true);
    PdfValue numValue, genValue, keyword;
    if (parser) {
        parser->getValue(numValue);
        parser->getValue(genValue);
        parser->getValue(keyword);
    }
    if (!numValue.isInt() || numValue.getInt() != num || !genValue.isInt() || genValue.getInt() != gen ||
        !keyword.isCommand("obj")) {
        reportError(m_start + entry.offset, "Object %d %d not found at its offset", num, gen);
        noteBadEntry();
        return out.initNull();
    }
    // The format leaves the encryption dictionary in clear.
    const Decryptor* decryptor = m_encrypted && num != m_encryptNumber ? m_decryptor.get() : nullptr;
    parser->getValue(out, decryptor, num, gen);
    PdfValue type;
    if (decryptor && out.isStream() && out.dictLookupRaw("Type", type).isName("XRef")) {
        // So are a cross-reference stream and the strings of its
        // dictionary: read again without the key.
        parser = parserAt(m_start + entry.offset, this, true);
        for (int i = 0; i < 3; ++i)
            parser->getValue(keyword);
        parser->getValue(out);
    }
    // A file cut right after the header holds no value.
    if (out.isEof())
        out.initNull();
    return out;
}

const std::vector<uint8_t>* XrefTable::findDecodedStream(int num, int gen, uint32_t start) const {
    for (const DecodedStream& d : m_decodedStreams)
        if (d.num == num && d.gen == gen && d.start == start)
            return &d.bytes;
    return nullptr;
}

void XrefTable::keepDecodedStream(int num, int gen, uint32_t start, const uint8_t* bytes, size_t length) {
    if (length > kDecodedStreamBudget - m_decodedBytes || findDecodedStream(num, gen, start))
        return;
    try {
        m_decodedStreams.push_back(
            DecodedStream{num, gen, start, std::vector<uint8_t>(bytes, bytes + length)});
    } catch (const std::bad_alloc&) {
        return;  // not kept: the stream is decoded again when asked for
    }
    m_decodedBytes += length;
}

PdfValue& XrefTable::fetchCompressed(int num, const Entry& entry, PdfValue& out) {
    if (entry.offset > INT32_MAX)
        return out.initNull();
    const int streamNumber = static_cast<int>(entry.offset);
    for (size_t i = 0; i < m_objectStreams.size(); ++i) {
        if (m_objectStreams[i]->getStreamNumber() == streamNumber) {
            std::rotate(m_objectStreams.begin(), m_objectStreams.begin() + std::ptrdiff_t(i),
                        m_objectStreams.begin() + std::ptrdiff_t(i) + 1);
            return m_objectStreams.front()->getObject(entry.generation, num, out);
        }
    }
    // Reading the object stream may fetch other objects, and so change the
    // cache; the new reader goes in only once it is complete.
    auto reader = std::make_unique<ObjectStreamReader>(this, streamNumber);
    size_t held = reader->heldObjects();
    for (const auto& kept : m_objectStreams)
        held += kept->heldObjects();
    while (m_objectStreams.size() >= kObjectStreamCacheMax ||
           (m_objectStreams.size() >= kObjectStreamCacheSize && held > kObjectStreamObjectBudget)) {
        held -= m_objectStreams.back()->heldObjects();
        m_objectStreams.pop_back();
    }
    m_objectStreams.insert(m_objectStreams.begin(), std::move(reader));
    return m_objectStreams.front()->getObject(entry.generation, num, out);
}

}  // namespace rendova
