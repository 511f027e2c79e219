#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/PdfValue.h"

namespace rendova {

class Decryptor;
class ObjectStreamReader;
class SourceStream;
class ValueParser;

// The document's cross-reference table: where every indirect object lies,
// and fetch() to parse one by number and generation. Construction reads the
// classic tables and cross-reference streams along the chain of previous
// sections from the start offset at the end of the file, and falls back to a
// repair scan of the whole file when that fails. Compressed objects are read
// through the ObjectStreamReaders of the few object streams used last. Once a password is accepted the
// table holds the file key and decrypts every object it parses.
//
// Ownership: the document owns the table; the source is the document's and
// outlives it. Every container built for the document keeps a plain pointer
// to the table and must not outlive it. One thread at a time; throws
// MemoryException only.
class XrefTable {
public:
    // The table's error code when neither the cross-reference data nor the
    // repair scan gave a table.
    static constexpr int kErrorDamaged = 3;
    // The most entries a table may hold: twice the format's own limit of
    // 8,388,607 indirect objects. A section or object line claiming more is
    // damaged, and the table stays far below the allocator's 2 GB limit.
    static constexpr int64_t kMaxEntries = int64_t(1) << 24;
    // Fetches nest (a stream's Length, an object stream, the objects they
    // refer to) at most this deep; deeper nesting is a loop of references in
    // a damaged file.
    static constexpr int kMaxFetchDepth = 32;
    // Fetches made while one object is read (its stream's Length, an object
    // stream and its Length). A valid file needs a few; streams written
    // inside arrays of a damaged file would otherwise multiply them at every
    // level of nesting.
    static constexpr int kMaxNestedFetches = 256;

    // Entry types.
    enum EntryType : int { kFree = 0, kInFile = 1, kCompressed = 2 };
    struct Entry {
        // Type 1: byte offset from the source's start; type 2: the number
        // of the object stream. -1 while the entry is unset.
        int64_t offset;
        // Type 1: generation; type 2: the index within the object stream.
        int generation;
        int type;
    };

    explicit XrefTable(SourceStream* source);
    ~XrefTable();
    XrefTable(const XrefTable&) = delete;
    XrefTable& operator=(const XrefTable&) = delete;

    // Object num of generation gen, or null when the number is out of range,
    // the entry is free, the generation differs or the object header at the
    // offset does not match. The first entry that proves wrong makes the
    // table rescan the file once (rescanForBadEntries) and fetch again: a
    // header that does not match, an entry whose generation alone differs
    // from the header found at its offset, and a number below the trailer's
    // Size (or, after a subsection that ran past the Size, any number) that
    // no section listed.
    PdfValue& fetch(int num, int gen, PdfValue& out);

    // The streams of a damaged file that lack a usable Length search the
    // file for their endstream keyword (and, without one, for endobj). The
    // last search for each keyword is kept: a search from anywhere between
    // its start and the keyword it found (or from anywhere after its start,
    // when it found none) finds the same, so that a file of many such
    // streams is not searched again and again to its end. True, the
    // keyword's position (-1 for none) and where the search stopped, when
    // known.
    enum SearchedKeyword { kSearchedEndstream, kSearchedEndobj, kSearchedKeywords };
    bool findSearchedKeyword(SearchedKeyword which, int64_t from, int64_t* keyword, int64_t* end) const;
    void noteSearchedKeyword(SearchedKeyword which, int64_t from, int64_t keyword, int64_t end);

    // Stores what the security handler derived; from now on objects are
    // decrypted through the decryptor set with setDecryptor.
    void setEncryption(int permissions, bool ownerPasswordOk, const unsigned char* key, int keyLength,
                       int version, int algorithm);
    void setDecryptor(std::unique_ptr<Decryptor> decryptor);

    bool isOk() const { return m_ok; }
    int getErrorCode() const { return m_errorCode; }
    // The trailer dictionary (bound to this table), or none.
    const PdfValue& getTrailer() const { return m_trailer; }
    int getRootNumber() const { return m_rootNumber; }
    int getRootGeneration() const { return m_rootGeneration; }
    int64_t getLastSectionOffset() const { return m_lastSectionOffset; }
    int getSize() const { return int(m_entries.size()); }
    // Entry num; num lies in 0 .. getSize() - 1.
    const Entry& getEntry(int num) const { return m_entries[size_t(num)]; }
    bool wasRepaired() const { return m_repaired; }

    // The decoded bytes of stream object num, gen whose data starts at start
    // in the file, when kept; null otherwise. Readers that want a stream
    // whole again and again (the embedded font file that every page's font
    // reads) keep it with keepDecodedStream after a reading that reported no
    // defect, so that a kept stream is exactly what decoding it again gives,
    // reports included. The position tells a stream apart from the object
    // that a repaired table may find under the same number.
    const std::vector<uint8_t>* findDecodedStream(int num, int gen, uint32_t start) const;
    // Keeps a copy of the bytes while the document's kept streams stay
    // within kDecodedStreamBudget; a stream beyond it is not kept.
    void keepDecodedStream(int num, int gen, uint32_t start, const uint8_t* bytes, size_t length);
    // Enough for the font files of a document, which are read by the fonts
    // of every page again; bounded so that a document of huge streams
    // cannot make the process grow.
    static constexpr size_t kDecodedStreamBudget = size_t{32} << 20;

    bool isEncrypted() const { return m_encrypted; }
    int getPermissions() const { return m_permissions; }
    bool isOwnerPasswordOk() const { return m_ownerPasswordOk; }
    const unsigned char* getFileKey() const { return m_fileKey; }
    int getKeyLength() const { return m_keyLength; }
    int getEncryptionVersion() const { return m_encryptionVersion; }
    int getEncryptionAlgorithm() const { return m_encryptionAlgorithm; }

private:
    // The offset after the last startxref keyword of the file's tail.
    bool findLastSectionOffset();
    // A parser reading from a file position (not reduced by the start);
    // null when the position lies outside the source's range.
    std::unique_ptr<ValueParser> parserAt(int64_t position, XrefTable* xref, bool allowStreams);
    // Reads the section at offset; *prev is the previous section's offset,
    // -1 when there is none.
    bool readSection(int64_t offset, int64_t* prev, bool followXrefStm);
    bool readClassicTable(ValueParser& parser, int64_t* prev, PdfValue& trailer);
    // A subsection that runs past its trailer's Size may have been damaged
    // (a digit lost or gained in its header): its entries then sit at the
    // wrong numbers.
    void checkSubsectionsAgainstSize(const PdfValue& trailer, int64_t listedEnd);
    bool readXrefStream(const PdfValue& stream, int64_t* prev);
    // Grows the entries to hold object numbers below needed, by the tables'
    // doubling rule; false when the count is beyond what a table may hold.
    bool growFor(int64_t needed);
    // Grows to exactly size entries (when smaller).
    bool growTo(int64_t size);
    bool isUnset(int64_t num) const { return m_entries[size_t(num)].offset == -1; }
    // Takes the dictionary as the trailer when none is kept yet.
    void keepTrailer(const PdfValue& dict);

    // Rebuilds the table by scanning every line of the file (XrefRepair.cpp).
    // Without a trailer naming a root, and when rootFromObjects is set, the
    // root comes from a cross-reference stream or catalog object instead.
    bool repair(bool rootFromObjects = true);
    // Reads every object the scan found: adds the objects of the object
    // streams among them and, when findRoot is set, takes the root from the
    // objects (true when one was found).
    bool repairFromObjects(bool findRoot);
    // An "n g obj" line starting at p (after white space) at lineStart.
    void repairObjectLine(const char* p, int64_t lineStart);
    // A trailer dictionary at position: kept when it names a root.
    bool repairTrailerLine(int64_t position);

    PdfValue& fetchOnce(int num, int gen, PdfValue& out);
    // An entry led nowhere while the object may be in the file: the
    // outermost fetch rescans (once per document, never after a repair).
    void noteBadEntry() {
        if (!m_repaired && !m_rescanned)
            m_badEntrySeen = true;
    }
    PdfValue& fetchCompressed(int num, const Entry& entry, PdfValue& out);
    // A table that was read whole but whose entries point to wrong places:
    // the repair scan runs once, and every in-file entry whose offset does
    // not lead to its "n g obj" header takes the offset of another entry
    // where that header is (entries swapped), else one a few bytes away
    // (offsets shifted), else the scan's entry. Entries that hold, free
    // entries and the trailer stay as the table gave them (XrefRepair.cpp).
    // False when it ran before or the table was repaired at opening.
    bool rescanForBadEntries();
    // The "num gen obj" header at an offset, if one starts there.
    bool readHeader(int64_t offset, int* num, int* gen);
    // The offset of the "num gen obj" header nearest to offset within a few
    // bytes, or -1.
    int64_t findHeaderNear(int num, int gen, int64_t offset);

    SourceStream* m_source;
    int64_t m_start;
    std::vector<Entry> m_entries;
    int m_rootNumber = -1;
    int m_rootGeneration = -1;
    bool m_ok = true;
    int m_errorCode = 0;
    bool m_repaired = false;
    PdfValue m_trailer;
    int64_t m_lastSectionOffset = 0;
    // Object streams parsed lately, the most recently used first. A page
    // tree, outline or font walk alternates between several of them; with
    // one reader each switch parsed a whole stream again (more than half the
    // time of opening a 100-page document). A document's page objects lie
    // in all of its streams, so the walk at opening reads every one, and
    // with too few kept the outline and the first pages read some again:
    // beyond the first few, readers are kept while their objects stay
    // within a budget, up to a count that keeps the search short.
    static constexpr size_t kObjectStreamCacheSize = 8;
    static constexpr size_t kObjectStreamCacheMax = 64;
    static constexpr size_t kObjectStreamObjectBudget = 8192;
    std::vector<std::unique_ptr<ObjectStreamReader>> m_objectStreams;
    // The last search for an endstream keyword: its start (-1 before any),
    // the keyword found (-1 for none) and where it stopped.
    struct KeywordSearch {
        int64_t from = -1;
        int64_t keyword = -1;
        int64_t end = -1;
    };
    KeywordSearch m_searches[kSearchedKeywords];
    // The objects being fetched, outermost first: an object that is needed
    // to read itself is a loop of references.
    std::vector<int> m_fetching;
    // Fetches made inside the outermost running fetch.
    int m_nestedFetches = 0;
    // An entry led to no matching object header; the outermost fetch then
    // rescans, once per document.
    bool m_badEntrySeen = false;
    bool m_rescanned = false;
    // A classic subsection ran past its trailer's Size: its header may
    // have been damaged. Many writers only get the Size wrong, so this
    // alone does not make a rescan.
    bool m_brokenSubsection = false;
    // The newest trailer's Size (0 when it has none or the table was
    // repaired): every number below it should have an entry.
    int64_t m_declaredSize = 0;
    // The newest trailer of a table read whole has no positive Size: any
    // number without an entry may be an object the table lost.
    bool m_sizeMissing = false;

    struct DecodedStream {
        int num;
        int gen;
        uint32_t start;
        std::vector<uint8_t> bytes;
    };
    std::vector<DecodedStream> m_decodedStreams;
    size_t m_decodedBytes = 0;

    bool m_encrypted = false;
    int m_permissions = 0xfffc;
    bool m_ownerPasswordOk = false;
    unsigned char m_fileKey[16] = {};
    int m_keyLength = 0;
    int m_encryptionVersion = 0;
    int m_encryptionAlgorithm = 0;
    // The object number of the encryption dictionary (-1 when direct).
    int m_encryptNumber = -1;
    std::unique_ptr<Decryptor> m_decryptor;
};

}  // namespace rendova
