// contenttrace: runs the content of pages of a PDF file through the content
// interpreter against a device that records every call, and prints the
// calls, for comparing the interpreter's view of a page with other readers'.
// A developer tool, not part of the product.
//
//   contenttrace [-r DPI] [-w PASSWORD] [-p] [-e] FILE [PAGE...]
//
//   -r DPI       resolution (72 by default)
//   -w PASSWORD  owner or user password
//   -p           painting and clipping calls only, named as mutool trace
//                names them, one per line:
//                  contenttrace -p f.pdf 3 > ours
//                  mutool trace f.pdf 3 |
//                    grep -o '^<\(fill\|stroke\|clip\)[a-z_]*\( winding="[a-z]*"\)\?' |
//                    sed 's/^<//; s/ winding="\(.*\)"/ \1/' > theirs
//                  diff ours theirs
//   -e           print the interpreter's error reports on standard error
//
// Pages default to every page of the document.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/DocumentCatalog.h"
#include "engine/core/DynString.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfDocument.h"
#include "tests/support/RecordingDevice.h"

using namespace rendova;

namespace {

int usage() {
    std::fputs("usage: contenttrace [-r DPI] [-w PASSWORD] [-p] [-e] FILE [PAGE...]\n", stderr);
    return 2;
}

void printReport(void*, int64_t position, const char* message) {
    std::fprintf(stderr, "error at %lld: %s\n", static_cast<long long>(position), message);
}

// A recorded painting or clipping call in mutool trace's vocabulary, or an
// empty string for any other call.
std::string peerName(const std::string& line) {
    const std::string name = line.substr(0, line.find(' '));
    if (name == "fill")
        return "fill_path nonzero";
    if (name == "eoFill")
        return "fill_path eofill";
    if (name == "stroke")
        return "stroke_path";
    if (name == "clip")
        return "clip_path nonzero";
    if (name == "eoClip")
        return "clip_path eofill";
    if (name == "clipToStrokeOutline")
        return "clip_stroke_path";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    double dpi = 72;
    std::string password;
    bool pathsOnly = false;
    const char* file = nullptr;
    std::vector<int> pages;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc) {
            dpi = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "-w") == 0 && i + 1 < argc) {
            password = argv[++i];
        } else if (std::strcmp(argv[i], "-p") == 0) {
            pathsOnly = true;
        } else if (std::strcmp(argv[i], "-e") == 0) {
            setErrorSink(printReport, nullptr);
        } else if (!file) {
            file = argv[i];
        } else {
            pages.push_back(std::atoi(argv[i]));
        }
    }
    if (!file || dpi <= 0)
        return usage();

    DynString pw(password.c_str());
    PdfDocument doc(std::make_unique<DynString>(file), password.empty() ? nullptr : &pw,
                    password.empty() ? nullptr : &pw);
    if (!doc.isOk()) {
        std::fprintf(stderr, "contenttrace: cannot open %s (error %d)\n", file, doc.getErrorCode());
        return 1;
    }
    if (pages.empty())
        for (int n = 1; n <= doc.getPageCount(); ++n)
            pages.push_back(n);

    for (int n : pages) {
        if (n < 1 || n > doc.getPageCount()) {
            std::fprintf(stderr, "contenttrace: no page %d\n", n);
            continue;
        }
        test::RecordingDevice device;
        if (!pathsOnly) {
            device.echo = stdout;
            std::printf("# page %d\n", n);
        }
        doc.displayPage(&device, n, dpi, dpi, 0, false, true, false);
        if (pathsOnly) {
            for (const std::string& line : device.calls) {
                const std::string name = peerName(line);
                if (!name.empty())
                    std::printf("%s\n", name.c_str());
            }
        }
    }
    return 0;
}
