// The content interpreter against mutool on the real documents of the
// corpus: for sampled pages of every file, the sequence of path-painting and
// clipping operations the interpreter sends its device (fill nonzero, fill
// even-odd, stroke, clip nonzero, clip even-odd, clip to a stroke) must equal,
// in order and count, the path operations of `mutool trace` for the page.
//
// Two rules keep the comparison fair:
// - mutool reports a painting operator whose path is empty (an "f" right
//   after another, a lone move-to) as a path with no segments; it paints
//   nothing and our interpreter does not send it, so such entries are left
//   out of mutool's list.
// - Pages whose drawing needs what the interpreter does not draw yet (form
//   XObjects, shadings, pattern fills) or that have annotations must give a
//   subsequence of mutool's list instead: our operations in mutool's order,
//   with theirs from the missing parts in between. Our annotations are left
//   out of that comparison: mutool draws no link border without an
//   appearance and ignores a form's request for new appearances, so the two
//   draw them differently by design. The reason is written to the result
//   table.
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
        int segments = 0;
        if (line.find("/>") == std::string::npos) {
            const std::string end = "</" + tag + ">";
            while (std::getline(in, line) && line.find(end) == std::string::npos) {
                const size_t s = line.find_first_not_of(' ');
                if (s != std::string::npos && line[s] == '<')
                    ++segments;
            }
        }
        if (segments > 0)
            pages[page].push_back(op);
    }
    return pages;
}

// Our device calls in mutool's words.
Ops ourPathOps(const test::RecordingDevice& device) {
    Ops ops;
    for (const std::string& line : device.paths()) {
        const std::string name = line.substr(0, line.find(' '));
        if (name == "fill")
            ops.push_back("fill_path nonzero");
        if (name == "eoFill")
            ops.push_back("fill_path eofill");
        if (name == "stroke")
            ops.push_back("stroke_path");
        if (name == "clip")
            ops.push_back("clip_path nonzero");
        if (name == "eoClip")
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
std::string missingParts(const test::ErrorCapture& errors, const Page* page, XrefTable* xref) {
    std::string parts;
    for (const char* family : {"XObjects", "Shadings", "Pattern fills"}) {
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
    const PdfValue& form = doc.getCatalog()->getAcroForm();
    PdfValue need;
    if (form.isDict() && form.getDict()->lookup("NeedAppearances", need).isBool() && need.getBool())
        list.generateAppearances(form.getDict());
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
        test::ErrorCapture errors;
        doc.displayPage(&device, n, 72, 72, 0, false, true, false);
        Ops ours = ourPathOps(device);
        const std::string missing = missingParts(errors, doc.getPage(n), doc.getXref());
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
