// The cross-reference table and the parser against qpdf on the real
// documents of the corpus: every object qpdf lists is fetched and compared
// structurally with qpdf's JSON view of it, on each file and on variants that
// qpdf writes at test time (QDF form, generated object streams, linearized).
// Damaged copies (truncated, bogus startxref, broken table, zeroed bytes) must
// open with as many objects as qpdf recovers, except where the difference is
// listed below with its reason.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/DynString.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"
#include "tests/corpus/CorpusFiles.h"
#include "tests/support/Json.h"
#include "tests/support/Shell.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;
using test::Json;

const fs::path kCorpus = RENDOVA_CORPUS_DIR;
const fs::path kOutput = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "xref-corpus";

// ---- running qpdf ---------------------------------------------------------

const auto quote = &test::shellQuote;

const auto run = &test::runShell;

bool haveQpdf() {
    return run("qpdf --version").first == 0;
}

// The manifest's line of a corpus file.
std::string manifestLine(const std::string& file) {
    std::ifstream manifest(kCorpus / "MANIFEST.tsv");
    std::string line;
    while (std::getline(manifest, line))
        if (line.rfind(file + "\t", 0) == 0)
            return line;
    return {};
}

// "N G R" after prefix, as qpdf writes references and object keys.
bool parseReference(const std::string& text, const char* prefix, int* num, int* gen) {
    int consumed = 0;
    const std::string format = std::string(prefix) + "%d %d R%n";
    return std::sscanf(text.c_str(), format.c_str(), num, gen, &consumed) == 2 &&
           size_t(consumed) == text.size();
}

// The password column of MANIFEST.tsv: "user=...; owner=...".
std::string passwordOf(const std::string& file) {
    const std::string line = manifestLine(file);
    for (const char* key : {"owner=", "user="}) {
        const size_t at = line.find(key);
        if (at == std::string::npos)
            continue;
        const size_t begin = at + std::strlen(key);
        return line.substr(begin, line.find_first_of(";\t", begin) - begin);
    }
    return {};
}

// qpdf's objects of a file ("obj:N G R" -> value or stream), null when qpdf
// cannot read it at all.
struct QpdfView {
    Json json;
    std::map<std::pair<int, int>, const Json*> objects;
};

std::optional<QpdfView> qpdfView(const fs::path& file, const std::string& password) {
    std::string command = "qpdf --json=2 --json-key=qpdf";
    if (!password.empty())
        command += " --password=" + quote(password);
    auto [status, out] = run(command + " " + quote(file.string()));
    // Status 3 means warnings (a recovered file); 2 means failure.
    if ((status != 0 && status != 3) || out.empty())
        return std::nullopt;
    QpdfView view;
    view.json = Json::parse(out);
    const Json* qpdf = view.json.find("qpdf");
    if (!qpdf || qpdf->items.size() < 2)
        return std::nullopt;
    for (const auto& [name, value] : qpdf->items[1].members) {
        int num, gen;
        if (parseReference(name, "obj:", &num, &gen))
            view.objects[{num, gen}] = &value;
    }
    return view;
}

// ---- our view -------------------------------------------------------------

// The file opened as the document opens it: offsets count from the header
// marker, the table is read, and an encrypted file is authorised with the
// password (the manifest's, else the empty user password), so that strings,
// streams and object streams are decrypted as the document reads them.
struct OurView {
    OurView(const fs::path& path, const std::string& password) {
        DynString given(password.c_str());
        const DynString* p = password.empty() ? nullptr : &given;
        document = std::make_unique<PdfDocument>(std::make_unique<DynString>(path.c_str()), p, p);
        xref = document->getXref();
    }
    bool ok() const { return xref && xref->isOk(); }
    // Encrypted, and no key to decrypt it with (256-bit AES, or a password
    // nobody gave): strings are compared by kind only, and the objects of
    // object streams cannot be read.
    bool undecrypted() const {
        PdfValue encrypt;
        return ok() && !xref->getTrailer().dictLookupRaw("Encrypt", encrypt).isNull() && !xref->isEncrypted();
    }
    bool compressed(int num) const {
        return ok() && num >= 0 && num < xref->getSize() &&
               xref->getEntry(num).type == XrefTable::kCompressed;
    }
    // Objects that fetch gives as something other than null.
    int objectCount(std::set<int>* numbers = nullptr) {
        if (!ok())
            return 0;
        int count = 0;
        for (int num = 0; num < xref->getSize(); ++num) {
            const XrefTable::Entry& e = xref->getEntry(num);
            if (e.type == XrefTable::kFree || e.offset < 0)
                continue;
            PdfValue v;
            xref->fetch(num, e.type == XrefTable::kInFile ? e.generation : 0, v);
            if (!v.isNull() && !v.isNone()) {
                ++count;
                if (numbers)
                    numbers->insert(num);
            }
        }
        return count;
    }

    std::unique_ptr<PdfDocument> document;
    XrefTable* xref = nullptr;
};

// ---- structural comparison ------------------------------------------------

// Unicode of the bytes 0x18-0x1f and 0x80-0xa0 of PDFDocEncoding (0 where
// undefined); the other bytes are Latin-1.
constexpr uint16_t kDocLow[8] = {0x02d8, 0x02c7, 0x02c6, 0x02d9, 0x02dd, 0x02db, 0x02da, 0x02dc};
constexpr uint16_t kDocHigh[33] = {0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039,
                                   0x203a, 0x2212, 0x2030, 0x201e, 0x201c, 0x201d, 0x2018, 0x2019, 0x201a,
                                   0x2122, 0xfb01, 0xfb02, 0x0141, 0x0152, 0x0160, 0x0178, 0x017d, 0x0131,
                                   0x0142, 0x0153, 0x0161, 0x017e, 0x0000, 0x20ac};

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xc0 | cp >> 6);
        out += char(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += char(0xe0 | cp >> 12);
        out += char(0x80 | ((cp >> 6) & 0x3f));
        out += char(0x80 | (cp & 0x3f));
    } else {
        out += char(0xf0 | cp >> 18);
        out += char(0x80 | ((cp >> 12) & 0x3f));
        out += char(0x80 | ((cp >> 6) & 0x3f));
        out += char(0x80 | (cp & 0x3f));
    }
}

// A text string of the document as UTF-8: UTF-16 with a byte-order mark,
// UTF-8 with one, else PDFDocEncoding.
std::string textToUtf8(const std::string& bytes) {
    std::string out;
    auto utf16 = [&](bool bigEndian) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            auto unit = [&](size_t at) {
                unsigned char a = bytes[at], b = bytes[at + 1];
                return uint32_t(bigEndian ? a << 8 | b : b << 8 | a);
            };
            uint32_t cp = unit(i);
            if (cp >= 0xd800 && cp < 0xdc00 && i + 3 < bytes.size()) {
                cp = 0x10000 + ((cp - 0xd800) << 10) + (unit(i + 2) - 0xdc00);
                i += 2;
            }
            appendUtf8(out, cp);
        }
    };
    if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xfe && (unsigned char)bytes[1] == 0xff) {
        utf16(true);
    } else if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xff && (unsigned char)bytes[1] == 0xfe) {
        utf16(false);
    } else if (bytes.rfind("\xef\xbb\xbf", 0) == 0) {
        out = bytes.substr(3);
    } else {
        for (unsigned char c : bytes) {
            uint32_t cp = c;
            if (c >= 0x18 && c <= 0x1f)
                cp = kDocLow[c - 0x18];
            else if (c >= 0x80 && c <= 0xa0)
                cp = kDocHigh[c - 0x80];
            appendUtf8(out, cp);
        }
    }
    return out;
}

std::string hexOf(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// qpdf's JSON gives a name as "/" and its bytes, with no #xx escapes (a
// name holding "#23" in the file is "/#..." there).
std::string decodeName(const std::string& name) {
    return name.substr(1);
}

// qpdf reads a stray "#" (one not followed by two hexadecimal digits) as a
// NUL byte, where we keep the "#" as mutool does. qpdf writes a name that
// holds a "#" without escaping it, and so misreads its own copies.
bool sameButStrayHash(const std::string& theirs, const std::string& ours) {
    if (theirs.size() != ours.size())
        return false;
    for (size_t i = 0; i < ours.size(); ++i)
        if (theirs[i] != ours[i] && !(theirs[i] == '\0' && ours[i] == '#'))
            return false;
    return true;
}

std::string describe(const PdfValue& v) {
    char* text = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&text, &size);
    v.print(memory);
    std::fclose(memory);
    std::string out(text, size);
    std::free(text);
    return out.size() > 80 ? out.substr(0, 80) + "..." : out;
}

class Comparison {
public:
    explicit Comparison(bool skipStrings) : m_skipStrings(skipStrings) {}

    void object(int num, int gen, const PdfValue& ours, const Json& theirs) {
        m_where = "obj " + std::to_string(num) + " " + std::to_string(gen);
        ++m_objects;
        if (const Json* stream = theirs.find("stream")) {
            if (!ours.isStream())
                return mismatch("", "a stream", describe(ours));
            PdfValue dict;
            dict.initDictRef(ours.getDictOrStreamDict());
            const Json* theirDict = stream->find("dict");
            if (theirDict)
                value("", dict, *theirDict);
        } else if (const Json* v = theirs.find("value")) {
            value("", ours, *v);
        }
    }

    int objects() const { return m_objects; }
    const std::vector<std::string>& mismatches() const { return m_mismatches; }

private:
    void mismatch(const std::string& path, const std::string& theirs, const std::string& ours) {
        m_mismatches.push_back(m_where + path + ": qpdf " + theirs + ", ours " + ours);
    }

    void value(const std::string& path, const PdfValue& ours, const Json& theirs) {
        switch (theirs.type) {
            case Json::Type::Null:
                // qpdf gives a reference to object 0, which cannot exist,
                // as null; it reads as null.
                if (!ours.isNull() && !(ours.isRef() && ours.getRefNum() == 0))
                    mismatch(path, "null", describe(ours));
                return;
            case Json::Type::Bool:
                if (!ours.isBool() || ours.getBool() != theirs.boolean)
                    mismatch(path, theirs.boolean ? "true" : "false", describe(ours));
                return;
            case Json::Type::Number:
                return number(path, ours, theirs);
            case Json::Type::String:
                return string(path, ours, theirs.text);
            case Json::Type::Array: {
                if (!ours.isArray())
                    return mismatch(path, "an array", describe(ours));
                PdfArray* array = ours.getArray();
                if (size_t(array->getLength()) != theirs.items.size())
                    return mismatch(path, std::to_string(theirs.items.size()) + " elements",
                                    std::to_string(array->getLength()));
                for (size_t i = 0; i < theirs.items.size(); ++i) {
                    PdfValue element;
                    array->getRaw(int(i), element);
                    value(path + "[" + std::to_string(i) + "]", element, theirs.items[i]);
                }
                return;
            }
            case Json::Type::Object: {
                if (!ours.isDict())
                    return mismatch(path, "a dictionary", describe(ours));
                PdfDict* dict = ours.getDict();
                std::set<std::string> seen;
                for (const auto& [key, theirValue] : theirs.members) {
                    const std::string name = decodeName(key);
                    seen.insert(name);
                    PdfValue entry;
                    dict->lookupRaw(name.c_str(), entry);
                    value(path + "/" + name, entry, theirValue);
                }
                // qpdf drops entries whose value is null, or a reference to
                // a null or missing object (which the format reads as null);
                // so may we.
                for (int i = 0; i < dict->getLength(); ++i) {
                    PdfValue entry, resolved;
                    dict->rawValueAt(i, entry);
                    if (!seen.count(dict->keyAt(i)) && !dict->lookup(dict->keyAt(i), resolved).isNull())
                        mismatch(path + "/" + dict->keyAt(i), "no entry", describe(entry));
                }
                return;
            }
        }
    }

    void number(const std::string& path, const PdfValue& ours, const Json& theirs) {
        const bool theirReal = theirs.text.find_first_of(".eE") != std::string::npos;
        const double expected = theirs.number();
        if (ours.isInt() && !theirReal) {
            // qpdf keeps 64 bits where the format's readers wrap at 32.
            const int64_t wide = std::strtoll(theirs.text.c_str(), nullptr, 10);
            if (ours.getInt() != static_cast<int32_t>(static_cast<uint32_t>(wide)))
                mismatch(path, theirs.text, describe(ours));
        } else if (ours.isReal() && theirReal) {
            if (std::fabs(ours.getReal() - expected) > 1e-6 * std::max(1.0, std::fabs(expected)))
                mismatch(path, theirs.text, describe(ours));
        } else {
            mismatch(path, theirs.text, describe(ours));
        }
    }

    void string(const std::string& path, const PdfValue& ours, const std::string& theirs) {
        int num, gen;
        if (!theirs.empty() && theirs[0] == '/') {
            if (!ours.isName() || !sameButStrayHash(decodeName(theirs), ours.getName()))
                mismatch(path, theirs, describe(ours));
        } else if (parseReference(theirs, "", &num, &gen)) {
            if (!ours.isRef() || ours.getRefNum() != num || ours.getRefGen() != gen)
                mismatch(path, theirs, describe(ours));
        } else if (theirs.rfind("u:", 0) == 0 || theirs.rfind("b:", 0) == 0) {
            if (!ours.isString())
                return mismatch(path, "a string", describe(ours));
            // Without the security handler the strings of an encrypted
            // file are still encrypted: only their kind is compared.
            if (m_skipStrings)
                return;
            const std::string bytes(ours.getString()->getCString(), size_t(ours.getString()->getLength()));
            const bool same =
                theirs[0] == 'u' ? textToUtf8(bytes) == theirs.substr(2) : hexOf(bytes) == theirs.substr(2);
            if (!same)
                mismatch(path, theirs.substr(0, 60), describe(ours));
        } else {
            mismatch(path, theirs, describe(ours));
        }
    }

    bool m_skipStrings;
    std::string m_where;
    int m_objects = 0;
    std::vector<std::string> m_mismatches;
};

// ---- the corpus -----------------------------------------------------------

class XrefCorpus : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "none")
            GTEST_SKIP() << "no corpus at " << kCorpus;
        if (!haveQpdf())
            GTEST_SKIP() << "qpdf is not installed";
        fs::create_directories(kOutput);
        m_path = kCorpus / GetParam();
        m_password = passwordOf(GetParam());
    }
    fs::path m_path;
    std::string m_password;
};

// Where we knowingly differ from qpdf, and why. The variant is "" for the
// corpus file itself.
struct KnownDifference {
    const char* file;
    const char* variant;
    const char* reason;
};

constexpr KnownDifference kKnownObjectDifferences[] = {
    {"pdfium-pixel-stream_with_indirect_dict.pdf", "",
     "object 6 is the reference 7 0 R followed by stream data (a stream's dictionary must be direct): we "
     "read the reference, as mutool does; qpdf reads the integer 7"},
    {"pdfium-embedded_images.pdf", "",
     "startxref points past the end and the offsets are shifted: the repair scan reads object stream 23, "
     "which holds objects 16-33 that the catalog uses (/StructTreeRoot 16 0 R), as mutool's repair does; "
     "qpdf's reconstruction reads no object streams and gives them as null"},
    {"gh-qpdf-append-xref-loop.pdf", "",
     "the last section names itself as previous: the loop sends the table to the repair scan, which cannot "
     "see "
     "that updates deleted objects 34 and 95-106 and keeps one generation of object 107; qpdf's "
     "reconstruction "
     "knows the deletions"},
};

constexpr KnownDifference kKnownCountDifferences[] = {
    {"pdfium-pixel-generation_numbers2.pdf", "zeroed",
     "the zeroed bytes break the oldest section, which sends the table to the repair scan; it finds the "
     "definition of object 7 that the newest update deleted"},
    {"pdfium-embedded_images.pdf", "bogus-startxref",
     "the repair scan reads objects 16-33 from object stream 23; qpdf's reconstruction reads no object "
     "streams (the whole file is damaged the same way)"},
    {"pdfium-embedded_images.pdf", "zeroed",
     "the repair scan reads objects 16-33 from object stream 23; qpdf's reconstruction reads no object "
     "streams (the whole file is damaged the same way)"},
    {"gh-qpdf-append-xref-loop.pdf", "zeroed",
     "the repair scan finds the definitions of objects that later updates deleted (34, 96-106)"},
    {"gh-qpdf-append-xref-loop.pdf", "truncated",
     "the repair scan finds the definitions of objects that later updates deleted (34, 96-106); qpdf "
     "refuses the cut file"},
    {"pdfjs-issue16091.pdf", "bogus-startxref",
     "the repair scan finds the old definition of object 2517, which the newest cross-reference stream "
     "marks free; mutool's repair finds it too"},
    {"pdfjs-issue16091.pdf", "broken-table",
     "the repair scan finds the old definition of object 2517, which the newest cross-reference stream "
     "marks free; mutool's repair finds it too"},
    {"gh-qpdf-recover-xref-stream.pdf", "truncated",
     "the newest cross-reference stream puts object 8 at index 1 of an object stream that holds one object; "
     "objects are looked up by index and number, qpdf finds it by number alone"},
};

template <size_t N>
const char* knownDifference(const KnownDifference (&list)[N], const std::string& file,
                            const std::string& variant) {
    for (const KnownDifference& k : list)
        if (file == k.file && variant == k.variant)
            return k.reason;
    return nullptr;
}

// qpdf keys its table by number and generation, so an object that an update
// freed and used again under another generation (or a stray object of the
// same number) is listed under each. The format has one object per number:
// where qpdf lists several generations of a number, only the one that our
// table holds is compared (all of them when it holds none of them).
bool otherGenerationIsOurs(const QpdfView& theirs, OurView& ours, int num, int gen) {
    if (!ours.ok() || num < 0 || num >= ours.xref->getSize())
        return false;
    const XrefTable::Entry& e = ours.xref->getEntry(num);
    const int ourGen = e.type == XrefTable::kInFile ? e.generation : 0;
    return e.type != XrefTable::kFree && ourGen != gen && theirs.objects.count({num, ourGen}) > 0;
}

// Compares every object qpdf lists with ours.
void compareFile(const fs::path& path, const std::string& password, const std::string& file,
                 const std::string& variant) {
    const std::string label = variant.empty() ? file : file + " " + variant;
    std::optional<QpdfView> theirs = qpdfView(path, password);
    OurView ours(path, password);
    if (!theirs) {
        // qpdf cannot read it: neither need we, but we must not crash. Only
        // the files the manifest marks so may be unreadable to qpdf, and
        // encrypted ones whose password the manifest does not give. A copy
        // that qpdf wrote of a damaged file and cannot read back (it writes
        // a trailer without the Size it lacked) leaves nothing to compare.
        if (!variant.empty()) {
            std::printf("%s: qpdf cannot read the copy it wrote\n", label.c_str());
            ours.objectCount();
            return;
        }
        EXPECT_TRUE(manifestLine(file).find("qpdf-cannot-open") != std::string::npos ||
                    (password.empty() && ours.undecrypted()))
            << label << ": qpdf cannot read it";
        ours.objectCount();
        return;
    }
    ASSERT_TRUE(ours.ok()) << label << ": qpdf reads the file and we do not";
    // Every encryption but 256-bit AES is decrypted.
    EXPECT_TRUE(!ours.undecrypted() || test::usesAes256(ours.xref)) << label << ": not decrypted";
    Comparison comparison(ours.undecrypted());
    int unreadable = 0;
    for (const auto& [id, object] : theirs->objects) {
        if (ours.undecrypted() && ours.compressed(id.first)) {
            ++unreadable;  // inside an object stream that stays encrypted
            continue;
        }
        if (otherGenerationIsOurs(*theirs, ours, id.first, id.second))
            continue;
        PdfValue value;
        ours.xref->fetch(id.first, id.second, value);
        comparison.object(id.first, id.second, value, *object);
    }
    if (unreadable > 0)
        std::printf("%s: %d objects of encrypted object streams left out (256-bit AES is not decrypted)\n",
                    label.c_str(), unreadable);
    const auto& mismatches = comparison.mismatches();
    if (const char* reason = knownDifference(kKnownObjectDifferences, file, variant)) {
        std::printf("%s: %zu of %d objects differ (known: %s)\n", label.c_str(), mismatches.size(),
                    comparison.objects(), reason);
        return;
    }
    std::string report;
    for (size_t i = 0; i < mismatches.size() && i < 10; ++i)
        report += "  " + mismatches[i] + "\n";
    EXPECT_TRUE(mismatches.empty()) << label << ": " << mismatches.size() << " of " << comparison.objects()
                                    << " objects differ from qpdf:\n"
                                    << report;
}

TEST_P(XrefCorpus, EveryObjectMatchesQpdf) {
    const std::string base = m_path.stem().string();
    compareFile(m_path, m_password, GetParam(), "");

    const std::string decrypt = m_password.empty() ? "" : " --password=" + quote(m_password) + " --decrypt";
    const std::array<std::pair<const char*, const char*>, 3> variants = {
        {{"qdf", "--qdf"}, {"objstm", "--object-streams=generate"}, {"linearized", "--linearize"}}};
    for (const auto& [name, options] : variants) {
        const fs::path out = kOutput / (base + "." + name + ".pdf");
        auto [status, text] = run("qpdf " + std::string(options) + decrypt + " " + quote(m_path.string()) +
                                  " " + quote(out.string()));
        (void)text;
        if (status != 0 && status != 3)
            continue;  // qpdf cannot write it either
        compareFile(out, "", GetParam(), name);
    }
}

// ---- damaged copies -------------------------------------------------------

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The ways a copy is damaged.
std::vector<std::pair<std::string, std::string>> damagedCopies(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> copies;
    copies.emplace_back("truncated", bytes.substr(0, bytes.size() * 6 / 10));
    const size_t startxref = bytes.rfind("startxref");
    if (startxref != std::string::npos) {
        std::string bogus = bytes;
        size_t digits = bogus.find_first_of("0123456789", startxref + 9);
        if (digits != std::string::npos) {
            bogus[digits] = bogus[digits] == '1' ? '2' : '1';
            copies.emplace_back("bogus-startxref", bogus);
        }
        std::string noTable = bytes;
        const size_t offset = size_t(std::strtoll(bytes.c_str() + startxref + 9, nullptr, 10));
        if (offset + 16 < noTable.size()) {
            for (size_t i = offset; i < offset + 16; ++i)
                noTable[i] = 'X';
            copies.emplace_back("broken-table", noTable);
        }
    }
    std::string zeroed = bytes;
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64 && i < bytes.size(); ++i)
        zeroed[i] = 0;
    copies.emplace_back("zeroed", zeroed);
    return copies;
}

// Whether what the repair gives for object num is the object as it stands in
// the whole file (as qpdf reads that): a live object recovered, not a
// definition that a later update replaced or deleted.
bool liveInWhole(OurView& ours, int num, const QpdfView& whole) {
    const XrefTable::Entry& e = ours.xref->getEntry(num);
    const int gen = e.type == XrefTable::kInFile ? e.generation : 0;
    const auto found = whole.objects.find({num, gen});
    if (found == whole.objects.end())
        return false;
    PdfValue value;
    ours.xref->fetch(num, gen, value);
    Comparison comparison(ours.undecrypted());
    comparison.object(num, gen, value, *found->second);
    return comparison.mismatches().empty();
}

TEST_P(XrefCorpus, DamagedCopiesKeepQpdfsObjectCount) {
    // Encrypted copies are left out: qpdf needs the password to count, and
    // the count does not depend on encryption.
    if (!m_password.empty())
        GTEST_SKIP() << "encrypted";
    const std::string bytes = readFile(m_path);
    for (const auto& [damage, copy] : damagedCopies(bytes)) {
        const fs::path out = kOutput / (m_path.stem().string() + "." + damage + ".pdf");
        writeFile(out, copy);
        std::optional<QpdfView> theirs = qpdfView(out, "");
        // qpdf lists an object it gave up parsing (or found nothing at) as
        // null; ours parses on as the format's readers do. Such objects may
        // count on either side; every other object must be on both or on
        // neither.
        std::set<int> theirPresent, theirNull, ourPresent;
        if (theirs) {
            for (const auto& [id, object] : theirs->objects) {
                const Json* value = object->find("value");
                (value && value->type == Json::Type::Null ? theirNull : theirPresent).insert(id.first);
            }
        }
        OurView ours(out, "");
        const int ourCount = ours.objectCount(&ourPresent);
        if (!theirs) {
            // qpdf refuses the copy (a cut file has lost its trailer, a file
            // of cross-reference streams has none); what we recover must be
            // objects of the whole file, where qpdf reads that.
            std::optional<QpdfView> whole = qpdfView(m_path, "");
            if (whole && !knownDifference(kKnownCountDifferences, GetParam(), damage)) {
                std::set<int> wholePresent;
                for (const auto& entry : whole->objects)
                    wholePresent.insert(entry.first.first);
                for (int n : ourPresent)
                    EXPECT_TRUE(wholePresent.count(n)) << GetParam() << " " << damage << ": " << n;
            }
            std::printf("%s %s: qpdf refuses it, ours recovers %d objects\n", GetParam().c_str(),
                        damage.c_str(), ourCount);
            continue;
        }
        // qpdf's own repair may lose objects that are live in the whole file
        // (those of object streams that a hybrid file's table marks free, for
        // one); recovering more of them is no fault.
        std::optional<QpdfView> whole;
        int liveExtra = 0;
        std::string onlyOurs, onlyTheirs;
        int differences = 0;
        for (int n : ourPresent) {
            if (theirPresent.count(n) || theirNull.count(n))
                continue;
            if (!whole)
                whole = qpdfView(m_path, "");
            if (whole && liveInWhole(ours, n, *whole)) {
                ++liveExtra;
                continue;
            }
            ++differences;
            if (onlyOurs.size() < 60)
                onlyOurs += " " + std::to_string(n);
        }
        for (int n : theirPresent) {
            if (ourPresent.count(n) || (ours.undecrypted() && ours.compressed(n)))
                continue;
            ++differences;
            if (onlyTheirs.size() < 60)
                onlyTheirs += " " + std::to_string(n);
        }
        const std::string label = GetParam() + " " + damage;
        if (liveExtra > 0)
            std::printf("%s: ours also recovers %d objects live in the whole file that qpdf loses\n",
                        label.c_str(), liveExtra);
        if (const char* reason = knownDifference(kKnownCountDifferences, GetParam(), damage)) {
            std::printf("%s: ours %d, qpdf %zu (known: %s)\n", label.c_str(), ourCount, theirPresent.size(),
                        reason);
            continue;
        }
        EXPECT_EQ(differences, 0) << label << ": ours " << ourCount << " objects, qpdf "
                                  << theirPresent.size() << " (and " << theirNull.size() << " null)"
                                  << (ours.ok() ? "" : " (we do not open it)")
                                  << (ours.ok() && ours.xref->wasRepaired() ? " (repaired)" : "")
                                  << "\n  only ours:" << onlyOurs << "\n  only qpdf's:" << onlyTheirs;
    }
}

// Copies whose last classic table is read whole but whose entries point to
// wrong places, each entry keeping its 20 bytes so that nothing else moves.
std::vector<std::pair<std::string, std::string>> wrongEntryCopies(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> copies;
    const size_t startxref = bytes.rfind("startxref");
    if (startxref == std::string::npos)
        return copies;
    const size_t table = size_t(std::strtoll(bytes.c_str() + startxref + 9, nullptr, 10));
    const size_t trailer = bytes.find("trailer", table);
    if (table >= bytes.size() || bytes.compare(table, 4, "xref") != 0 || trailer == std::string::npos)
        return copies;
    // The places of the entries: ten digits of offset, a space, five of
    // generation, a space and the type.
    std::vector<size_t> used, unused;
    for (size_t at = table; at + 18 <= trailer; ++at) {
        const bool entry = std::all_of(bytes.begin() + long(at), bytes.begin() + long(at) + 10, ::isdigit) &&
                           bytes[at + 10] == ' ' && bytes[at + 16] == ' ' &&
                           (bytes[at + 17] == 'n' || bytes[at + 17] == 'f') &&
                           (at == 0 || !isdigit(bytes[at - 1]));
        if (!entry)
            continue;
        (bytes[at + 17] == 'n' ? used : unused).push_back(at);
        at += 17;
    }
    if (used.size() < 2)
        return copies;
    auto setOffset = [](std::string& copy, size_t at, long long offset) {
        char digits[24];
        std::snprintf(digits, sizeof digits, "%010lld", offset % 10000000000LL);
        copy.replace(at, 10, digits, 10);
    };
    auto offsetAt = [&](size_t at) { return std::strtoll(bytes.c_str() + at, nullptr, 10); };
    std::string wrong = bytes, shifted = bytes, swapped = bytes, freeUsed = bytes;
    for (size_t i = 0; i < used.size(); ++i) {
        if (i % 2 == 1)
            setOffset(wrong, used[i], offsetAt(used[i]) / 2 + 1);
        setOffset(shifted, used[i], offsetAt(used[i]) + 3);
        if (i % 2 == 1)
            swapped.replace(used[i - 1], 10, bytes, used[i], 10),
                swapped.replace(used[i], 10, bytes, used[i - 1], 10);
    }
    for (size_t at : unused)
        freeUsed[at + 17] = 'n';
    copies.emplace_back("wrong-offsets", wrong);
    copies.emplace_back("shifted-offsets", shifted);
    copies.emplace_back("swapped-entries", swapped);
    if (!unused.empty())
        copies.emplace_back("free-marked-used", freeUsed);
    return copies;
}

TEST_P(XrefCorpus, WrongTableEntriesAreFoundByOneRescan) {
    if (!m_password.empty())
        GTEST_SKIP() << "encrypted";
    const std::vector<std::pair<std::string, std::string>> copies = wrongEntryCopies(readFile(m_path));
    if (copies.empty())
        GTEST_SKIP() << "no classic table at the last startxref";
    std::optional<QpdfView> whole = qpdfView(m_path, "");
    if (!whole)
        GTEST_SKIP() << "qpdf cannot read the whole file";
    if (knownDifference(kKnownObjectDifferences, GetParam(), ""))
        GTEST_SKIP() << "the whole file differs from qpdf's reading already";
    for (const auto& [damage, copy] : copies) {
        const fs::path out = kOutput / (m_path.stem().string() + "." + damage + ".pdf");
        writeFile(out, copy);
        OurView ours(out, "");
        ASSERT_TRUE(ours.ok()) << damage;
        Comparison comparison(ours.undecrypted());
        for (const auto& [id, object] : whole->objects) {
            if ((ours.undecrypted() && ours.compressed(id.first)) ||
                otherGenerationIsOurs(*whole, ours, id.first, id.second))
                continue;
            PdfValue value;
            ours.xref->fetch(id.first, id.second, value);
            comparison.object(id.first, id.second, value, *object);
        }
        std::string report;
        for (size_t i = 0; i < comparison.mismatches().size() && i < 5; ++i)
            report += "  " + comparison.mismatches()[i] + "\n";
        EXPECT_TRUE(comparison.mismatches().empty())
            << GetParam() << " " << damage << ": " << comparison.mismatches().size() << " of "
            << comparison.objects() << " objects differ from the whole file's:\n"
            << report;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, XrefCorpus, testing::ValuesIn(test::corpusFiles()), test::corpusTestName);

}  // namespace
}  // namespace rendova
