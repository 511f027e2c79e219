// The content interpreter against mutool on the real documents of the
// corpus: for sampled pages of every file, the sequence of path-painting and
// clipping operations the interpreter sends its device (fill nonzero, fill
// even-odd, stroke, clip nonzero, clip even-odd, clip to a stroke) must equal,
// in order and count, the path operations of `mutool trace` for the page.
// Shadings and tiling cells are not path operations on either side: the
// pieces of a shading are left out of our list and the cells of a tile out
// of mutool's (the device takes tiling patterns whole).
//
// These rules keep the comparison fair:
// - mutool reports a painting operator whose path is empty (an "f" right
//   after another, a lone move-to) as a path with no segments; it paints
//   nothing and our interpreter does not send it, so such entries are left
//   out of mutool's list.
// - A clip to a simple polygon of at most four edges (a form's box) covers
//   the same area under either rule, and mutool names its rule otherwise
//   than the content does: on both sides it is "clip_path polygon".
// - mutool skips a form with an empty box, folds a soft mask that only
//   draws an image into the image it masks, clips to a stencil mask or to Type 3
//   text that a pattern paints through (where the interpreter clips to the
//   mask's box),
//   and draws the glyphs of a Type 3 font that declares its box (d1) as
//   cached masks: the clips and paths that these leave out on its side are
//   left out of ours.
// - A clip to a single point lets nothing through; it is left out on both
//   sides. A line to the point it starts from is no edge of a polygon.
// - Pages whose drawing needs what the interpreter does not draw yet (form
//   XObjects) or that have annotations must give a subsequence of mutool's
//   list instead: our operations in mutool's order, with theirs from the
//   missing parts in between. Our annotations are left out of that
//   comparison: mutool draws no link border without an appearance and
//   ignores a form's request for new appearances, so the two draw them
//   differently by design. The reason is written to the result table.
//
// Every sampled page's result goes to test-output/content-trace/<file>.tsv.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
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

#include "engine/content/Annotation.h"
#include "engine/content/ContentInterpreter.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/XrefTable.h"
#include "tests/corpus/CorpusFiles.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/RecordingDevice.h"
#include "tests/support/Shell.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = RENDOVA_CORPUS_DIR;
const fs::path kOutput = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "content-trace";

// Pages sampled per file: the first three, the middle one and the last.
constexpr int kLeadingPages = 3;

const auto quote = &test::shellQuote;

const auto run = &test::runShell;

bool haveMutool() {
    return run("command -v mutool").first == 0;
}

// The owner (else user) password of MANIFEST.tsv's password column.
std::string passwordOf(const std::string& file) {
    std::ifstream manifest(kCorpus / "MANIFEST.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        if (line.rfind(file + "\t", 0) != 0)
            continue;
        for (const char* key : {"owner=", "user="}) {
            const size_t at = line.find(key);
            if (at == std::string::npos)
                continue;
            const size_t begin = at + std::strlen(key);
            const std::string value = line.substr(begin, line.find_first_of(";\t", begin) - begin);
            if (!value.empty())
                return value;
        }
    }
    return "";
}

using Ops = std::vector<std::string>;

// A clip to one subpath of at most four straight edges: a box, as a form's
// bounding box is clipped, covers the same area under either rule, and
// mutool names the rule of such a clip differently from the content's.
// Both sides call it "clip_path polygon".
bool isPlainPolygon(int moves, int lines, int others) {
    return moves == 1 && lines >= 2 && lines <= 4 && others <= 1;  // the other: a closepath
}

// The same for our recorded path ("M x y L x y ... Z"), where a last line
// back to the start (which mutool folds into the closepath) is not counted.
bool isPlainPolygon(const std::string& recorded) {
    int moves = 0, lines = 0, others = 0;
    std::string start, last;
    std::istringstream words(recorded);
    for (std::string word; words >> word;) {
        moves += word == "M";
        others += word == "C" || word == "Z";
        if (word == "M" || word == "L") {
            std::string x, y;
            words >> x >> y;
            const std::string point = x + " " + y;
            // A line to the point it starts from adds no edge; mutool leaves
            // it out of its path.
            lines += word == "L" && point != (last.empty() ? start : last);
            (word == "M" ? start : last) = point;
        }
    }
    if (lines > 0 && last == start)
        --lines;
    return isPlainPolygon(moves, lines, others);
}

// mutool trace's path operations per page number, in mutool's words
// ("fill_path nonzero", "fill_path eofill", "stroke_path", "clip_path
// eofill", "clip_stroke_path"), without those whose path is empty.
std::map<int, Ops> mutoolPathOps(const std::string& output) {
    std::map<int, Ops> pages;
    std::istringstream in(output);
    std::string line;
    int page = 0;
    static const char* const kNames[] = {"fill_path", "stroke_path", "clip_path", "clip_stroke_path"};
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || line[start] != '<')
            continue;
        const std::string tag = line.substr(start + 1, line.find_first_of(" />", start + 1) - start - 1);
        // A tiling pattern's cell: our device takes the pattern whole.
        if (tag == "tile") {
            while (std::getline(in, line) && line.find("</tile>") == std::string::npos) {
            }
            continue;
        }
        if (tag == "page") {
            const size_t at = line.find("number=\"");
            page = at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 8);
            pages[page];
            continue;
        }
        if (std::find_if(std::begin(kNames), std::end(kNames), [&](const char* n) { return tag == n; }) ==
            std::end(kNames))
            continue;
        std::string op = tag;
        const size_t winding = line.find("winding=\"");
        if (winding != std::string::npos)
            op += " " + line.substr(winding + 9, line.find('"', winding + 9) - winding - 9);
        std::vector<std::string> elements;
        std::set<std::string> points;
        if (line.find("/>") == std::string::npos) {
            const std::string end = "</" + tag + ">";
            while (std::getline(in, line) && line.find(end) == std::string::npos) {
                const size_t s = line.find_first_not_of(' ');
                if (s != std::string::npos && line[s] == '<')
                    elements.push_back(line.substr(s + 1, line.find_first_of(" />", s + 1) - s - 1));
                const size_t x = line.find(" x=\""), y = line.find(" y=\"");
                if (x != std::string::npos && y != std::string::npos)
                    points.insert(line.substr(x, line.find('"', x + 4) - x) +
                                  line.substr(y, line.find('"', y + 4) - y));
            }
        }
        const bool curved = std::find(elements.begin(), elements.end(), "curveto") != elements.end();
        // A clip to a single point leaves nothing to draw: left out on both
        // sides (mutool clips so where a form's box or a rectangle is empty,
        // or where it takes a re without operands as one at 0 0, which the
        // interpreter drops).
        if (tag == "clip_path" && !curved && points.size() == 1)
            continue;
        const int segments = int(elements.size());
        // mutool starts a new subpath after a closepath; it holds nothing.
        if (segments >= 2 && elements.back() == "moveto" && elements[elements.size() - 2] == "closepath")
            elements.pop_back();
        const int moves = int(std::count(elements.begin(), elements.end(), "moveto"));
        const int lines = int(std::count(elements.begin(), elements.end(), "lineto"));
        if (tag == "clip_path" && isPlainPolygon(moves, lines, int(elements.size()) - moves - lines))
            op = "clip_path polygon";
        if (segments > 0)
            pages[page].push_back(op);
    }
    return pages;
}

// A clip whose points are all one point (or that has none): nothing is
// drawn through it, and mutool's such clips are left out as well.
bool clipsToAPoint(const std::string& recorded) {
    std::istringstream words(recorded.substr(recorded.find(' ') + 1));
    std::set<std::string> points;
    for (std::string word, x, y; words >> word;) {
        if (word == "C")
            return false;
        if ((word == "M" || word == "L") && words >> x >> y)
            points.insert(x + " " + y);
    }
    return points.size() <= 1;
}

bool isPathOp(const std::string& name) {
    return name == "fill" || name == "eoFill" || name == "stroke" || name == "clip" || name == "eoClip" ||
           name == "clipToStrokeOutline";
}

// Whether the clip at calls[at] is the box of a soft mask's group that
// paints no path and masks an image: mutool folds such a mask into the
// image and runs no group, so the box clip (the first thing inside the
// group) has no counterpart there.
bool clipsImageOnlyMask(const std::vector<std::string>& calls, size_t at) {
    if (at == 0 || calls[at - 1].rfind("beginTransparencyGroup", 0) != 0 || calls[at - 1].size() < 8 ||
        calls[at - 1].compare(calls[at - 1].size() - 8, 8, "softmask") != 0)
        return false;
    size_t j = at;
    for (int depth = 1; depth > 0;) {
        if (++j == calls.size())
            return false;
        const std::string name = calls[j].substr(0, calls[j].find(' '));
        depth += name == "beginTransparencyGroup" ? 1 : name == "endTransparencyGroup" ? -1 : 0;
        if (isPathOp(name))
            return false;
    }
    // The mask is folded only into the image that it masks.
    while (++j < calls.size() && (calls[j] == "restoreState" || calls[j].rfind("setSoftMask", 0) == 0)) {
    }
    return j < calls.size() && calls[j].rfind("drawImageWithSoftMask", 0) == 0;
}

// Whether the clip at calls[at] is the box through which a pattern paints
// a stencil mask or the glyphs of a Type 3 font: the mask (or the glyphs)
// drawn into an alpha mask group, then the box clipped and the pattern
// filled. mutool clips to the image mask or the text itself, which is no
// path operation.
bool clipsPatternThroughStencil(const std::vector<std::string>& calls, size_t at) {
    static const char* const kBefore[] = {"setSoftMask alpha", "restoreState", "endTransparencyGroup"};
    if (at <= std::size(kBefore))
        return false;
    for (size_t k = 0; k < std::size(kBefore); ++k)
        if (calls[at - 1 - k].rfind(kBefore[k], 0) != 0)
            return false;
    // The group that made the mask, and what it drew first.
    size_t begin = at - 1 - std::size(kBefore);
    for (int depth = 1; begin > 0; --begin) {
        if (calls[begin].rfind("endTransparencyGroup", 0) == 0)
            ++depth;
        else if (calls[begin].rfind("beginTransparencyGroup", 0) == 0 && --depth == 0)
            break;
    }
    const std::string& group = calls[begin];
    if (group.rfind("beginTransparencyGroup", 0) != 0 || group.size() < 8 ||
        group.compare(group.size() - 8, 8, "softmask") != 0)
        return false;
    const bool stencil =
        begin + 2 == at - std::size(kBefore) && calls[begin + 1].rfind("drawStencilMask", 0) == 0;
    const bool glyphs =
        begin + 2 < at && calls[begin + 1] == "saveState" && calls[begin + 2].rfind("beginType3Char", 0) == 0;
    return stencil || glyphs;
}

// Our device calls in mutool's words. The pieces that a shading is cut
// into (between anti-aliasing off and on again) are one fill_shade there,
// which is no path operation.
Ops ourPathOps(const test::RecordingDevice& device) {
    Ops ops;
    bool inShading = false;
    // A Type 3 glyph that sets only its width (d0) is drawn by mutool as
    // the paths of its procedure; one that sets its box (d1) becomes a
    // cached mask, no path. Our glyphs of the second kind are left out.
    int glyphDepth = 0, maskGlyphDepth = 0;
    for (size_t i = 0; i < device.calls.size(); ++i) {
        const std::string& line = device.calls[i];
        const std::string name = line.substr(0, line.find(' '));
        if (name == "beginType3Char") {
            ++glyphDepth;
        } else if (name == "endType3Char") {
            maskGlyphDepth = maskGlyphDepth == glyphDepth ? maskGlyphDepth - 1 : maskGlyphDepth;
            glyphDepth = std::max(0, glyphDepth - 1);
        } else if (name == "setType3GlyphBox" && maskGlyphDepth == 0) {
            maskGlyphDepth = glyphDepth;
        }
        if (maskGlyphDepth > 0)
            continue;
        if (name == "clip" && (clipsImageOnlyMask(device.calls, i) ||
                               clipsPatternThroughStencil(device.calls, i) || clipsToAPoint(line)))
            continue;
        if (line == "setAntialias 0" || line == "setAntialias 1")
            inShading = line == "setAntialias 0";
        if (inShading)
            continue;
        if (name == "fill")
            ops.push_back("fill_path nonzero");
        if (name == "eoFill")
            ops.push_back("fill_path eofill");
        if (name == "stroke")
            ops.push_back("stroke_path");
        if ((name == "clip" || name == "eoClip") && isPlainPolygon(line))
            ops.push_back("clip_path polygon");
        else if (name == "clip")
            ops.push_back("clip_path nonzero");
        else if (name == "eoClip")
            ops.push_back("clip_path eofill");
        if (name == "clipToStrokeOutline")
            ops.push_back("clip_stroke_path");
    }
    return ops;
}

bool isSubsequence(const Ops& ours, const Ops& theirs) {
    size_t j = 0;
    for (const std::string& op : theirs)
        if (j < ours.size() && ours[j] == op)
            ++j;
    return j == ours.size();
}

// Where the two lists first part.
std::string firstDifference(const Ops& ours, const Ops& theirs) {
    size_t i = 0;
    while (i < ours.size() && i < theirs.size() && ours[i] == theirs[i])
        ++i;
    std::ostringstream text;
    text << "first difference at operation " << i << ": ours "
         << (i < ours.size() ? ours[i] : std::string("(end)")) << ", mutool's "
         << (i < theirs.size() ? theirs[i] : std::string("(end)")) << " (ours " << ours.size()
         << ", mutool's " << theirs.size() << ")";
    return text.str();
}

// What the page needs that the interpreter does not draw yet, from the
// notes it reports, and whether the page has annotations.
std::string missingParts(const test::ErrorCapture& errors, const test::RecordingDevice& device,
                         const Page* page, XrefTable* xref) {
    std::string parts;
    // mutool expands a pattern whose cell is met once instead of tiling it.
    if (!device.only({"fillTilingPattern"}).empty())
        parts = "tiling cells";
    for (const char* family : {"XObjects"}) {
        for (const auto& report : errors.reports()) {
            if (report.message.rfind(family, 0) == 0 &&
                report.message.find("not drawn") != std::string::npos) {
                parts += std::string(parts.empty() ? "" : ", ") + family;
                break;
            }
        }
    }
    PdfValue annots;
    page->getAnnots().fetch(xref, annots);
    if (annots.isArray() && annots.getArray()->getLength() > 0)
        parts += std::string(parts.empty() ? "" : ", ") + "annotations";
    return parts;
}

// The number of path operations the page's annotations add after its
// contents: they are drawn last, so the page's first operations are those of
// its contents.
size_t annotationOps(PdfDocument& doc, int n) {
    Page* page = doc.getPage(n);
    XrefTable* xref = doc.getXref();
    PdfValue annots;
    page->getAnnots().fetch(xref, annots);
    AnnotationList list(xref, annots);
    const PdfValue& acroForm = doc.getCatalog()->getAcroForm();
    PdfDict* form = acroForm.isDict() ? acroForm.getDict() : nullptr;
    list.generateAppearances(form, AnnotationList::formAsksForAppearances(form));
    test::RecordingDevice device;
    device.recordUpdates = false;
    {
        ContentInterpreter interpreter(xref, &device, n, page->getResourceDict(), 72, 72, page->getCropBox(),
                                       nullptr, 0, nullptr, nullptr);
        for (int i = 0; i < list.getCount(); ++i)
            list.get(i)->draw(&interpreter, false);
    }
    return ourPathOps(device).size();
}

// Files whose operations differ from mutool's for a reason outside the
// interpreter, and the reason.
struct KnownDifference {
    const char* file;
    const char* reason;
};

constexpr KnownDifference kKnownDifferences[] = {
    {"pdfjs-issue12007-reduced.pdf",
     "two of its forms are optional content that the document's configuration hides; this system draws "
     "all optional content"},
    {"pdfium-pixel-bug_1099446.pdf",
     "SCN names a pattern while the stroke colour space is DeviceGray: the interpreter keeps the colour "
     "and strokes the line, mutool strokes with the pattern (a clip to the stroke)"},
    {"pdfium-pixel-bug_491_invisible.pdf",
     "a square is optional content that mutool hides; this system draws "
     "all optional content"},
    {"pdfium-pixel-bug_491_unspecified.pdf",
     "a square is optional content that mutool hides; this system "
     "draws all optional content"},
    {"pdfium-bug_451265.pdf",
     "its forms have no BBox, which a form must have: the interpreter skips them, as Ghostscript does, and "
     "mutool draws them unclipped; all they paint is a pattern that draws itself, which no reader shows"},
    {"pdfjs-issue6342.pdf",
     "the form's content is damaged (numbers run together, operators cut); the two readers resume at "
     "different tokens"},
};

const char* knownDifference(const std::string& file) {
    for (const KnownDifference& k : kKnownDifferences)
        if (file == k.file)
            return k.reason;
    return nullptr;
}

class ContentTraceCorpus : public testing::TestWithParam<std::string> {};

TEST_P(ContentTraceCorpus, PathOperationsMatchMutoolTrace) {
    if (GetParam() == "none")
        GTEST_SKIP() << "no corpus at " << kCorpus;
    if (!haveMutool())
        GTEST_SKIP() << "mutool is not installed";
    const fs::path path = kCorpus / GetParam();
    const std::string password = passwordOf(GetParam());

    DynString pw(password.c_str());
    PdfDocument doc(std::make_unique<DynString>(path.c_str()), password.empty() ? nullptr : &pw,
                    password.empty() ? nullptr : &pw);
    if (!doc.isOk() || doc.getPageCount() == 0)
        GTEST_SKIP() << "the document layer does not open this file (error " << doc.getErrorCode()
                     << "); its own corpus test says why";

    std::set<int> sample;
    const int count = doc.getPageCount();
    for (int n = 1; n <= std::min(count, kLeadingPages); ++n)
        sample.insert(n);
    sample.insert((count + 1) / 2);
    sample.insert(count);
    std::string list;
    for (int n : sample)
        list += (list.empty() ? "" : ",") + std::to_string(n);

    std::string command = "mutool trace";
    if (!password.empty())
        command += " -p " + quote(password);
    const auto [status, output] = run(command + " " + quote(path.string()) + " " + list);
    const std::map<int, Ops> theirs = mutoolPathOps(output);

    fs::create_directories(kOutput);
    std::ofstream table(kOutput / (GetParam() + ".tsv"));
    table << "page\tours\tmutool\tresult\n";
    int compared = 0;
    for (int n : sample) {
        const auto peer = theirs.find(n);
        if (peer == theirs.end()) {
            table << n << "\t-\t-\tmutool gives no page\n";
            continue;
        }
        test::RecordingDevice device;
        device.recordUpdates = false;
        device.antialias = true;
        device.tilingPatterns = true;
        device.type3Glyphs = true;
        test::ErrorCapture errors;
        doc.displayPage(&device, n, 72, 72, 0, false, true, false);
        Ops ours = ourPathOps(device);
        const std::string missing = missingParts(errors, device, doc.getPage(n), doc.getXref());
        if (ours != peer->second && missing.find("annotations") != std::string::npos)
            ours.resize(ours.size() - std::min(ours.size(), annotationOps(doc, n)));
        table << n << "\t" << ours.size() << "\t" << peer->second.size() << "\t";
        if (ours == peer->second) {
            table << "same\n";
            ++compared;
        } else if (!missing.empty()) {
            table << "differs: needs " << missing << "; " << firstDifference(ours, peer->second) << "\n";
            EXPECT_TRUE(isSubsequence(ours, peer->second))
                << "page " << n << " (needs " << missing << "): our operations are not in mutool's order; "
                << firstDifference(ours, peer->second);
        } else if (const char* reason = knownDifference(GetParam())) {
            table << "differs (known: " << reason << "); " << firstDifference(ours, peer->second) << "\n";
        } else {
            table << "DIFFERS: " << firstDifference(ours, peer->second) << "\n";
            ADD_FAILURE() << "page " << n << ": " << firstDifference(ours, peer->second);
        }
    }
    RecordProperty("pages_same", compared);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ContentTraceCorpus, testing::ValuesIn(test::corpusFiles()),
                         test::corpusTestName);

}  // namespace
}  // namespace rendova
