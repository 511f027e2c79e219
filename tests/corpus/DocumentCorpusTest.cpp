// The document layer against peers on the real documents of the corpus: the
// page count against qpdf, each page's media box, crop box and rotation
// against mutool, and the outline (titles, nesting and destinations) against
// mutool's. Encrypted variants that qpdf writes at test time (RC4 40 and 128
// bits, AES-128) must open with either password, refuse a wrong one, and
// decrypt every sampled stream to the bytes qpdf gives.
#include <gtest/gtest.h>

#include "tests/corpus/CorpusFiles.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Shell.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/LinkAction.h"
#include "engine/core/Outline.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/XrefTable.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = RENDOVA_CORPUS_DIR;
const fs::path kOutput = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "document-corpus";

// ---- peers ----------------------------------------------------------------

const auto quote = &test::shellQuote;

const auto run = &test::runShell;

bool havePeers() {
    return run("qpdf --version").first == 0 && run("mutool -v").first <= 1;
}

// The passwords of MANIFEST.tsv's password column: "user=...; owner=...".
struct Passwords {
    std::string user, owner;
    bool any() const { return !user.empty() || !owner.empty(); }
};

Passwords passwordsOf(const std::string& file) {
    std::ifstream manifest(kCorpus / "MANIFEST.tsv");
    std::string line;
    while (std::getline(manifest, line))
        if (line.rfind(file + "\t", 0) == 0)
            break;
    if (line.rfind(file + "\t", 0) != 0)
        return {};
    auto field = [&](const char* key) -> std::string {
        const size_t at = line.find(key);
        if (at == std::string::npos)
            return {};
        const size_t begin = at + std::strlen(key);
        return line.substr(begin, line.find_first_of(";\t", begin) - begin);
    };
    return {field("user="), field("owner=")};
}

std::unique_ptr<PdfDocument> open(const fs::path& path, const std::string& owner, const std::string& user) {
    DynString ownerPassword(owner.c_str()), userPassword(user.c_str());
    return std::make_unique<PdfDocument>(std::make_unique<DynString>(path.c_str()),
                                         owner.empty() ? nullptr : &ownerPassword,
                                         user.empty() ? nullptr : &userPassword);
}

// qpdf's page count, or -1 when qpdf cannot open the file.
int qpdfPageCount(const fs::path& path, const std::string& password) {
    std::string command = "qpdf --show-npages";
    if (!password.empty())
        command += " --password=" + quote(password);
    auto [status, out] = run(command + " " + quote(path.string()));
    if ((status != 0 && status != 3) || out.empty())
        return -1;
    return std::atoi(out.c_str());
}

struct PeerPage {
    PageBox media;
    bool haveCrop = false;
    PageBox crop;
    int rotate = 0;
};

PageBox normalised(double l, double b, double r, double t) {
    return {std::min(l, r), std::min(b, t), std::max(l, r), std::max(b, t)};
}

// mutool pages lists only the boxes a page object holds itself; the boxes a
// page inherits from the page tree are read by this script, run by mutool
// over its own parse of the file (its repair included). A box may be an
// indirect object.
const char* const kBoxScript = R"(var doc = new PDFDocument(scriptArgs[0]);
if (doc.needsPassword()) doc.authenticatePassword(scriptArgs[1] || "");
function inheritable(o, key) {
  for (var d = 0; o && !o.isNull() && d < 64; d++) {
    var v = o.get(key);
    if (v && !v.isNull()) return v.resolve();
    o = o.get("Parent");
  }
  return null;
}
var n = doc.countPages();
for (var i = 0; i < n; i++) {
  var p = doc.findPage(i);
  print("page " + inheritable(p, "MediaBox") + " " + inheritable(p, "CropBox") + " " + inheritable(p, "Rotate"));
}
)";

// Each page's inherited boxes and rotation as mutool reads them.
std::vector<PeerPage> mutoolPages(const fs::path& path, const std::string& password) {
    const fs::path script = kOutput / "boxes.js";
    // Written again when an earlier run left another version of it.
    std::ifstream existing(script);
    const std::string current((std::istreambuf_iterator<char>(existing)), std::istreambuf_iterator<char>());
    if (current != kBoxScript) {
        fs::create_directories(kOutput);
        const fs::path temporary = kOutput / ("boxes.js." + std::to_string(getpid()));
        std::ofstream(temporary) << kBoxScript;
        fs::rename(temporary, script);
    }
    std::istringstream in(
        run("mutool run " + quote(script.string()) + " " + quote(path.string()) + " " + quote(password))
            .second);
    std::vector<PeerPage> pages;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("page ", 0) != 0)
            continue;
        PeerPage page;
        double l, b, r, t;
        int consumed = 0;
        const char* text = line.c_str() + 5;
        if (std::sscanf(text, "[%lf %lf %lf %lf] %n", &l, &b, &r, &t, &consumed) == 4)
            page.media = normalised(l, b, r, t);
        else
            page.media = {0, 0, 612, 792};
        text += consumed ? consumed : int(std::strcspn(text, " ")) + 1;
        consumed = 0;
        if (std::sscanf(text, "[%lf %lf %lf %lf] %n", &l, &b, &r, &t, &consumed) == 4) {
            page.haveCrop = true;
            page.crop = normalised(l, b, r, t);
            page.crop = {std::clamp(page.crop.x1, page.media.x1, page.media.x2),
                         std::clamp(page.crop.y1, page.media.y1, page.media.y2),
                         std::clamp(page.crop.x2, page.media.x1, page.media.x2),
                         std::clamp(page.crop.y2, page.media.y1, page.media.y2)};
            text += consumed;
        } else {
            page.crop = page.media;
            text += std::strcspn(text, " ") + 1;
        }
        int v;
        char rest;
        if (std::sscanf(text, "%d%c", &v, &rest) == 1)
            page.rotate = (v % 360 + 360) % 360;
        pages.push_back(page);
    }
    return pages;
}

// The boxes mutool pages lists for page n (those the page object holds).
struct OwnBoxes {
    bool haveMedia = false, haveCrop = false;
    PageBox media, crop;
};

std::vector<OwnBoxes> mutoolOwnBoxes(const fs::path& path, const std::string& password) {
    std::string command = "mutool pages";
    if (!password.empty())
        command += " -p " + quote(password);
    std::istringstream in(run(command + " " + quote(path.string())).second);
    std::vector<OwnBoxes> pages;
    std::string line;
    while (std::getline(in, line)) {
        double l, b, r, t;
        if (line.rfind("<page ", 0) == 0) {
            pages.emplace_back();
        } else if (pages.empty()) {
            continue;
        } else if (std::sscanf(line.c_str(), "<MediaBox l=\"%lf\" b=\"%lf\" r=\"%lf\" t=\"%lf\"", &l, &b, &r,
                               &t) == 4) {
            pages.back().haveMedia = true;
            pages.back().media = normalised(l, b, r, t);
        } else if (std::sscanf(line.c_str(), "<CropBox l=\"%lf\" b=\"%lf\" r=\"%lf\" t=\"%lf\"", &l, &b, &r,
                               &t) == 4) {
            pages.back().haveCrop = true;
            pages.back().crop = normalised(l, b, r, t);
        }
    }
    return pages;
}

std::string boxText(const PageBox& b) {
    std::ostringstream out;
    out << "[" << b.x1 << " " << b.y1 << " " << b.x2 << " " << b.y2 << "]";
    return out.str();
}

bool sameBox(const PageBox& a, const PageBox& b) {
    // mutool prints with a few significant digits.
    auto near = [](double x, double y) { return std::fabs(x - y) <= 0.01 + 1e-5 * std::fabs(x); };
    return near(a.x1, b.x1) && near(a.y1, b.y1) && near(a.x2, b.x2) && near(a.y2, b.y2);
}

// ---- outlines -------------------------------------------------------------

std::string utf8(const uint32_t* units, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) {
        uint32_t c = units[i];
        // Titles keep UTF-16 units; pairs are combined here for comparison.
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < length && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000)
            c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xc0 | c >> 6);
            out += char(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += char(0xe0 | c >> 12);
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        } else {
            out += char(0xf0 | c >> 18);
            out += char(0x80 | ((c >> 12) & 0x3f));
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        }
    }
    return out;
}

// A named destination through the catalog's Dests dictionary or the name
// tree of Names; the result is the destination array, or null.
bool sameString(const PdfValue& v, const DynString& name) {
    return v.isString() && v.getString()->getLength() == name.getLength() &&
           std::memcmp(v.getString()->getCString(), name.getCString(), size_t(name.getLength())) == 0;
}

void destArray(PdfValue& value) {
    if (value.isDict()) {
        PdfValue d;
        value.dictLookup("D", d);
        value = std::move(d);
    }
}

void findInNameTree(const PdfValue& node, const DynString& name, PdfValue& out, int depth) {
    if (!node.isDict() || depth > 32 || !out.isNull())
        return;
    PdfValue names;
    node.dictLookup("Names", names);
    if (names.isArray()) {
        for (int i = 0; i + 1 < names.getArray()->getLength(); i += 2) {
            PdfValue key;
            names.getArray()->get(i, key);
            if (sameString(key, name)) {
                names.getArray()->get(i + 1, out);
                destArray(out);
                return;
            }
        }
    }
    PdfValue kids;
    node.dictLookup("Kids", kids);
    if (kids.isArray()) {
        for (int i = 0; i < kids.getArray()->getLength() && out.isNull(); ++i) {
            PdfValue kid;
            kids.getArray()->get(i, kid);
            findInNameTree(kid, name, out, depth + 1);
        }
    }
}

void findNamedDest(const DocumentCatalog* catalog, const DynString& name, PdfValue& out) {
    out.initNull();
    if (catalog->getDests().isDict()) {
        catalog->getDests().dictLookup(name.getCString(), out);
        destArray(out);
        if (!out.isNull())
            return;
    }
    findInNameTree(catalog->getNameDests(), name, out, 0);
}

// The destination of an item in mutool's link form ("#page=N&view=Fit",
// "#page=N&zoom=Z,X,Y" ...), or "(null)".
std::string number(double v) {
    if (std::isnan(v))
        return "nan";
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string ourLink(const PdfDocument& doc, const OutlineItem* item) {
    const LinkAction* action = item->getAction();
    if (!action || action->getKind() != LinkAction::kGoTo)
        return "(null)";
    const auto* goTo = static_cast<const LinkGoTo*>(action);
    std::unique_ptr<LinkDestination> resolved;
    const LinkDestination* dest = goTo->getDest();
    if (!dest && goTo->getNamedDest()) {
        PdfValue array;
        findNamedDest(doc.getCatalog(), *goTo->getNamedDest(), array);
        if (array.isArray())
            resolved = std::make_unique<LinkDestination>(array.getArray());
        if (resolved && resolved->isOk())
            dest = resolved.get();
    }
    if (!dest)
        return "(null)";
    int page = dest->isPageRef() ? doc.getCatalog()->findPage(dest->getPageRefNum(), dest->getPageRefGen())
                                 : dest->getPageNum();
    if (page < 1 || page > doc.getPageCount())
        return "(null)";
    // Page coordinates as mutool shows them: from the crop box's top left
    // corner, y measured down. The destination itself holds user space.
    const double top = doc.getPage(page)->getCropBox().y2;
    const double leftEdge = doc.getPage(page)->getCropBox().x1;
    std::string link = "#page=" + std::to_string(page);
    switch (dest->getKind()) {
        case LinkDestination::kXyz:
            link += "&zoom=" +
                    number(dest->getChangeZoom() && dest->getZoom() != 0 ? dest->getZoom() * 100 : NAN) +
                    "," + number(dest->getChangeLeft() ? dest->getLeft() - leftEdge : NAN) + "," +
                    number(dest->getChangeTop() ? top - dest->getTop() : NAN);
            break;
        case LinkDestination::kFit:
            link += "&view=Fit";
            break;
        case LinkDestination::kFitB:
            link += "&view=FitB";
            break;
        case LinkDestination::kFitH:
            link += "&view=FitH," + number(top - dest->getTop());
            break;
        case LinkDestination::kFitBH:
            link += "&view=FitBH," + number(top - dest->getTop());
            break;
        case LinkDestination::kFitV:
            link += "&view=FitV," + number(dest->getLeft() - leftEdge);
            break;
        case LinkDestination::kFitBV:
            link += "&view=FitBV," + number(dest->getLeft() - leftEdge);
            break;
        case LinkDestination::kFitR:
            link += "&viewrect=" + number(dest->getLeft()) + "," + number(dest->getBottom()) + "," +
                    number(dest->getRight() - dest->getLeft()) + "," +
                    number(dest->getTop() - dest->getBottom());
            break;
    }
    return link;
}

// Numbers in a link compared with a tolerance (mutool prints floats with
// its own rounding).
bool sameLink(const std::string& ours, const std::string& theirs) {
    if (ours == theirs)
        return true;
    auto split = [](const std::string& s) {
        std::vector<std::string> parts;
        std::string part;
        for (char c : s) {
            if (c == ',' || c == '=' || c == '&') {
                parts.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
        parts.push_back(part);
        return parts;
    };
    const auto a = split(ours), b = split(theirs);
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue;
        char* endA;
        char* endB;
        const double x = std::strtod(a[i].c_str(), &endA), y = std::strtod(b[i].c_str(), &endB);
        if (*endA || *endB || std::fabs(x - y) > 0.01)
            return false;
    }
    return true;
}

// Quotes and backslashes in a title escaped as mutool prints them.
std::string escaped(const std::string& title) {
    std::string out;
    for (char c : title) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// One line per item as mutool prints it: the open marker, one tab per level,
// the quoted title and the link.
void ourOutlineLines(const PdfDocument& doc, const PtrList<OutlineItem>* items, int level,
                     std::vector<std::string>& lines) {
    if (!items)
        return;
    for (int i = 0; i < items->getLength(); ++i) {
        OutlineItem* item = items->get(i);
        item->open();
        const bool kids = item->getKids() && item->getKids()->getLength() > 0;
        // mutool marks an open item with "-" (it can be closed) and a closed
        // one with "+".
        const char marker = !kids ? '|' : item->startsOpen() ? '-' : '+';
        lines.push_back(std::string(1, marker) + std::string(size_t(level) + 1, '\t') + "\"" +
                        escaped(utf8(item->getTitle(), item->getTitleLength())) + "\"\t" +
                        ourLink(doc, item));
        ourOutlineLines(doc, item->getKids(), level + 1, lines);
    }
}

std::vector<std::string> mutoolOutlineLines(const fs::path& path, const std::string& password) {
    std::string command = "mutool show";
    if (!password.empty())
        command += " -p " + quote(password);
    std::istringstream in(run(command + " " + quote(path.string()) + " outline").second);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && (line[0] == '|' || line[0] == '+' || line[0] == '-'))
            lines.push_back(line);
    return lines;
}

// Everything of a line but its link, and its link.
std::pair<std::string, std::string> splitLink(const std::string& line) {
    const size_t tab = line.rfind('\t');
    return {line.substr(0, tab), line.substr(tab + 1)};
}

// ---- the corpus -----------------------------------------------------------

// Files whose pages mutool sees differently, with the reason.
const std::map<std::string, std::string> kBoxExceptions = {
    {"gh-qpdf-append-xref-loop.pdf",
     "the Prev chain loops; our repair and qpdf's find the 30 pages of the newest page tree, mutool's "
     "reconstruction only 2"},
};

// Files whose pages both peers count otherwise, with the reason.
const std::map<std::string, std::string> kCountExceptions = {
    {"pdfium-bug_1229106.pdf",
     "Kids names each of two page objects twice: qpdf and mutool list every name as a page (4), this "
     "system skips a kid reached again, the guard that keeps a looping tree finite (2)"},
};

class DocumentCorpus : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "none")
            GTEST_SKIP() << "no corpus at " << kCorpus;
        if (!havePeers())
            GTEST_SKIP() << "qpdf or mutool is not installed";
        m_path = kCorpus / GetParam();
        m_passwords = passwordsOf(GetParam());
    }
    fs::path m_path;
    Passwords m_passwords;
};

TEST_P(DocumentCorpus, PagesMatchQpdfAndMutool) {
    auto doc = open(m_path, m_passwords.owner, m_passwords.user);
    const std::string password = m_passwords.owner;

    if (test::usesAes256(doc->getXref())) {
        // 256-bit AES is not decrypted by this system: a clean refusal.
        EXPECT_FALSE(doc->isOk());
        EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorEncrypted);
        return;
    }
    const int qpdfCount = qpdfPageCount(m_path, password);
    const std::vector<PeerPage> peerPages = mutoolPages(m_path, password);
    if (qpdfCount < 0 && peerPages.empty()) {
        // Neither peer finds a page (a header and nothing else).
        EXPECT_EQ(doc->getPageCount(), 0) << "error code " << doc->getErrorCode();
        return;
    }
    ASSERT_TRUE(doc->isOk()) << "error code " << doc->getErrorCode();
    const auto countException = kCountExceptions.find(GetParam());
    if (countException != kCountExceptions.end()) {
        EXPECT_NE(doc->getPageCount(), qpdfCount) << "no longer an exception: " << countException->second;
        return;
    }
    if (qpdfCount >= 0)
        EXPECT_EQ(doc->getPageCount(), qpdfCount) << "qpdf's count";
    else
        EXPECT_EQ(doc->getPageCount(), int(peerPages.size())) << "mutool's count (qpdf cannot open the file)";

    const auto exception = kBoxExceptions.find(GetParam());
    if (exception != kBoxExceptions.end()) {
        EXPECT_NE(int(peerPages.size()), doc->getPageCount())
            << "no longer an exception: " << exception->second;
        return;
    }
    ASSERT_EQ(int(peerPages.size()), doc->getPageCount());
    const std::vector<OwnBoxes> ownBoxes = mutoolOwnBoxes(m_path, password);
    int mismatches = 0;
    for (int n = 1; n <= doc->getPageCount() && mismatches < 5; ++n) {
        const Page* page = doc->getPage(n);
        const PeerPage& peer = peerPages[size_t(n - 1)];
        bool same = sameBox(page->getMediaBox(), peer.media) && sameBox(page->getCropBox(), peer.crop) &&
                    page->getRotate() == peer.rotate && page->isCropped() == peer.haveCrop;
        if (size_t(n) <= ownBoxes.size()) {
            const OwnBoxes& own = ownBoxes[size_t(n - 1)];
            if (own.haveMedia)
                same = same && sameBox(page->getMediaBox(), own.media);
            if (own.haveCrop)
                same = same && sameBox(page->getCropBox(), own.crop);
        }
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "page " << n << ": ours media " << boxText(page->getMediaBox()) << " crop "
                          << boxText(page->getCropBox()) << " rotate " << page->getRotate()
                          << "; mutool media " << boxText(peer.media) << " crop "
                          << (peer.haveCrop ? boxText(peer.crop) : "-") << " rotate " << peer.rotate;
        }
    }
}

TEST_P(DocumentCorpus, OutlineMatchesMutool) {
    const std::vector<std::string> theirs = mutoolOutlineLines(m_path, m_passwords.owner);
    if (theirs.empty())
        GTEST_SKIP() << "no outline";
    auto doc = open(m_path, m_passwords.owner, m_passwords.user);
    if (test::usesAes256(doc->getXref()))
        GTEST_SKIP() << "256-bit AES is not decrypted";
    ASSERT_TRUE(doc->isOk());
    std::vector<std::string> ours;
    ourOutlineLines(*doc, doc->getOutline()->getItems(), 0, ours);
    ASSERT_EQ(ours.size(), theirs.size());
    int mismatches = 0;
    for (size_t i = 0; i < ours.size() && mismatches < 5; ++i) {
        const auto [ourItem, ourTarget] = splitLink(ours[i]);
        const auto [theirItem, theirTarget] = splitLink(theirs[i]);
        if (ourItem != theirItem || !sameLink(ourTarget, theirTarget)) {
            ++mismatches;
            ADD_FAILURE() << "item " << i << "\n  ours:   " << ours[i] << "\n  mutool: " << theirs[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, DocumentCorpus, testing::ValuesIn(test::corpusFiles()),
                         test::corpusTestName);

// Files cut short where the catalog's page tree is lost but page objects
// survive (both peers give up on these copies): the surviving pages are
// listed in file order, each the page of the whole file it was.
TEST(DocumentCorpusDamage, PagesOfALostTreeAreTakenInFileOrder) {
    if (test::corpusFiles().front() == "none")
        GTEST_SKIP() << "no corpus";
    for (const char* name : {"gh-gs-annots.pdf", "gh-qpdf-lin5-lzw-a85.pdf"}) {
        const fs::path whole = fs::path(RENDOVA_CORPUS_DIR) / name;
        std::ifstream in(whole, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fs::create_directories(kOutput);
        const fs::path cut = kOutput / (whole.stem().string() + ".cut.pdf");
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 6 / 10);
        auto full = open(whole, "", "");
        test::ErrorCapture errors;
        auto doc = open(cut, "", "");
        EXPECT_TRUE(errors.contains("file order")) << name;
        ASSERT_TRUE(full->isOk() && doc->isOk()) << name << " error code " << doc->getErrorCode();
        ASSERT_GT(doc->getPageCount(), 0) << name;
        int previous = 0;
        for (int n = 1; n <= doc->getPageCount(); ++n) {
            const DocumentCatalog::PageRef& ref = doc->getCatalog()->getPageRef(n);
            const int inWhole = full->getCatalog()->findPage(ref.num, ref.gen);
            ASSERT_GT(inWhole, previous) << name << " page " << n;
            EXPECT_TRUE(doc->getPage(n)->getMediaBox().x2 == full->getPage(inWhole)->getMediaBox().x2 &&
                        doc->getPage(n)->getMediaBox().y2 == full->getPage(inWhole)->getMediaBox().y2)
                << name << " page " << n;
            previous = inWhole;
        }
    }
}

// ---- encrypted variants ---------------------------------------------------

// A stream's data after decryption and before any filter: the decoder
// directly above the file's bytes.
std::string decryptedRawData(DataStream* stream) {
    DataStream* s = stream;
    while (s->getChainedSource() && s->getChainedSource()->getChainedSource())
        s = s->getChainedSource();
    std::string out;
    s->reset();
    for (int c; (c = s->getChar()) != -1;)
        out += char(c);
    s->close();
    return out;
}

std::string filteredData(DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;)
        out += char(c);
    stream->close();
    return out;
}

struct Variant {
    const char* name;
    const char* options;
    int algorithm;
    int keyLength;
};

const Variant kVariants[] = {
    {"rc4-40", "40", 0, 5},
    {"rc4-128", "128", 0, 16},
    {"aes-128", "128 --use-aes=y", 1, 16},
};

// Small files of the corpus with outline strings, object streams and
// several filters between them.
const char* const kEncryptedSources[] = {"gh-qpdf-lin5-lzw-a85.pdf", "deb-r-intro.pdf", "made-gs-tiger.pdf"};

// Streams compared per variant, spread over the file's objects.
constexpr int kSampledStreams = 8;

class EncryptedVariant : public testing::TestWithParam<std::tuple<const char*, Variant>> {};

TEST_P(EncryptedVariant, OpensWithEitherPasswordAndDecryptsLikeQpdf) {
    const std::string source = std::get<0>(GetParam());
    const Variant variant = std::get<1>(GetParam());
    const fs::path plain = kCorpus / source;
    if (!fs::exists(plain))
        GTEST_SKIP() << "no " << source << " in the corpus";
    if (!havePeers())
        GTEST_SKIP() << "qpdf or mutool is not installed";
    fs::create_directories(kOutput);
    const fs::path encrypted = kOutput / (fs::path(source).stem().string() + "-" + variant.name + ".pdf");
    const std::string user = "us3r", owner = "0wner";
    const auto [status, ignored] =
        run("qpdf --allow-weak-crypto --encrypt " + user + " " + owner + " " + variant.options + " -- " +
            quote(plain.string()) + " " + quote(encrypted.string()));
    ASSERT_TRUE(status == 0 || status == 3) << "qpdf could not encrypt " << source;

    auto reference = open(plain, "", "");
    ASSERT_TRUE(reference->isOk());
    auto byUser = open(encrypted, "", user);
    auto byOwner = open(encrypted, owner, "");
    ASSERT_TRUE(byUser->isOk()) << byUser->getErrorCode();
    ASSERT_TRUE(byOwner->isOk()) << byOwner->getErrorCode();
    EXPECT_FALSE(byUser->getXref()->isOwnerPasswordOk());
    EXPECT_TRUE(byOwner->getXref()->isOwnerPasswordOk());
    EXPECT_EQ(byUser->getXref()->getEncryptionAlgorithm(), variant.algorithm);
    EXPECT_EQ(byUser->getXref()->getKeyLength(), variant.keyLength);
    EXPECT_EQ(open(encrypted, "wrong", "wrong")->getErrorCode(), PdfDocument::kErrorEncrypted);
    EXPECT_EQ(open(encrypted, "", "")->getErrorCode(), PdfDocument::kErrorEncrypted);

    // The same pages and the same outline as the plain file: strings are
    // decrypted.
    EXPECT_EQ(byUser->getPageCount(), reference->getPageCount());
    std::vector<std::string> plainOutline, decryptedOutline;
    ourOutlineLines(*reference, reference->getOutline()->getItems(), 0, plainOutline);
    ourOutlineLines(*byUser, byUser->getOutline()->getItems(), 0, decryptedOutline);
    EXPECT_EQ(decryptedOutline, plainOutline);

    // Streams: our decrypted bytes against qpdf's (its raw stream data is
    // decrypted but not decoded), and the decoded data where the filters
    // are ones qpdf decodes too.
    XrefTable* xref = byUser->getXref();
    std::vector<int> streams;
    for (int num = 1; num < xref->getSize(); ++num) {
        if (xref->getEntry(num).type != XrefTable::kInFile)
            continue;
        PdfValue value;
        xref->fetch(num, xref->getEntry(num).generation, value);
        // Cross-reference streams are never encrypted; the table reads them
        // before it has a key and nothing fetches them afterwards.
        if (value.isStream() && !value.getDictOrStreamDict()->isType("XRef"))
            streams.push_back(num);
    }
    ASSERT_FALSE(streams.empty());
    const size_t step = std::max<size_t>(1, streams.size() / kSampledStreams);
    int compared = 0;
    for (size_t i = 0; i < streams.size(); i += step) {
        const int num = streams[i];
        PdfValue value;
        xref->fetch(num, xref->getEntry(num).generation, value);
        const std::string object = " --show-object=" + std::to_string(num) + " ";
        const std::string theirs =
            run("qpdf --password=" + user + object + "--raw-stream-data " + quote(encrypted.string())).second;
        EXPECT_EQ(decryptedRawData(value.getStream()), theirs) << "object " << num;
        PdfValue filter;
        value.dictLookup("Filter", filter);
        if (filter.isName("FlateDecode") || filter.isNull()) {
            const std::string decoded = run("qpdf --password=" + user + object + "--filtered-stream-data " +
                                            quote(encrypted.string()))
                                            .second;
            EXPECT_EQ(filteredData(value.getStream()), decoded) << "object " << num << " decoded";
        }
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

std::string variantName(const testing::TestParamInfo<std::tuple<const char*, Variant>>& info) {
    std::string name = fs::path(std::get<0>(info.param)).stem().string() + "_" + std::get<1>(info.param).name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, EncryptedVariant,
                         testing::Combine(testing::ValuesIn(kEncryptedSources), testing::ValuesIn(kVariants)),
                         variantName);

// The encrypted files of the corpus open with the manifest's passwords.
TEST(EncryptedCorpus, ManifestPasswordsOpenEveryFileItCanDecrypt) {
    if (!fs::exists(kCorpus / "MANIFEST.tsv"))
        GTEST_SKIP() << "no corpus";
    int files = 0;
    for (const std::string& name : test::corpusFiles()) {
        const Passwords passwords = passwordsOf(name);
        if (!passwords.any())
            continue;
        SCOPED_TRACE(name);
        ++files;
        const fs::path path = kCorpus / name;
        auto byUser = open(path, "", passwords.user);
        auto byOwner = open(path, passwords.owner, "");
        auto none = open(path, "", "");
        EXPECT_EQ(none->getErrorCode(), PdfDocument::kErrorEncrypted);
        if (test::usesAes256(none->getXref())) {
            EXPECT_EQ(byUser->getErrorCode(), PdfDocument::kErrorEncrypted);
            EXPECT_EQ(byOwner->getErrorCode(), PdfDocument::kErrorEncrypted);
            continue;
        }
        // A file may come with its user password alone.
        ASSERT_TRUE(byUser->isOk()) << byUser->getErrorCode();
        EXPECT_FALSE(byUser->getXref()->isOwnerPasswordOk());
        EXPECT_GT(byUser->getPageCount(), 0);
        if (passwords.owner.empty())
            continue;
        ASSERT_TRUE(byOwner->isOk()) << byOwner->getErrorCode();
        EXPECT_TRUE(byOwner->getXref()->isOwnerPasswordOk());
    }
    if (files == 0)
        GTEST_SKIP() << "no encrypted files in the corpus";
    EXPECT_GE(files, 4);
}

}  // namespace
}  // namespace rendova
