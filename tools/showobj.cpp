// showobj: prints one object of a PDF file as the engine's cross-reference
// table and parser read it, for comparing with other readers. A developer
// tool, not part of the product.
//
//   showobj FILE            the table: size, root, trailer, repair
//   showobj FILE NUM [GEN]  object NUM (generation GEN, default 0)
//   showobj FILE NUM --data a stream's decoded data, raw, on standard output
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/DataStream.h"
#include "engine/core/FileSource.h"
#include "engine/core/Memory.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"

using namespace rendova;

namespace {

// Every offset of the file counts from the header marker, as the document
// counts them.
void shiftToHeader(SourceStream* source) {
    char head[1024];
    int n = 0;
    source->reset();
    for (int c; n < int(sizeof head) && (c = source->getChar()) != -1;)
        head[n++] = char(c);
    for (int i = 0; i + 5 <= n && i <= 1018; ++i) {
        if (std::memcmp(head + i, "%PDF-", 5) == 0) {
            source->shiftStart(i);
            break;
        }
    }
    source->reset();
}

void printStreamDict(const PdfValue& value) {
    PdfValue dict;
    dict.initDictRef(value.getDictOrStreamDict());
    dict.print(stdout);
    std::fputs(" stream", stdout);
}

int usage() {
    std::fputs("usage: showobj FILE [NUM [GEN]] [--data]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    bool data = false;
    int positional[2] = {-1, 0};
    int count = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data") == 0)
            data = true;
        else if (count < 2)
            positional[count++] = std::atoi(argv[i]);
        else
            return usage();
    }

    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "showobj: cannot open %s\n", argv[1]);
        return 1;
    }
    int status = 0;
    try {
        PdfValue noDict;
        noDict.initNull();
        RefPtr<FileSource> source =
            RefPtr<FileSource>::adopt(new FileSource(file, 0, false, 0, std::move(noDict)));
        shiftToHeader(source.get());
        XrefTable xref(source.get());
        if (!xref.isOk()) {
            std::fprintf(stderr, "showobj: no cross-reference table (error %d)\n", xref.getErrorCode());
            status = 1;
        } else if (count == 0) {
            std::printf("size %d\nroot %d %d\nrepaired %s\nstartxref %lld\ntrailer ", xref.getSize(),
                        xref.getRootNumber(), xref.getRootGeneration(), xref.wasRepaired() ? "yes" : "no",
                        static_cast<long long>(xref.getLastSectionOffset()));
            xref.getTrailer().print(stdout);
            std::fputc('\n', stdout);
        } else {
            PdfValue object;
            xref.fetch(positional[0], positional[1], object);
            if (data) {
                if (!object.isStream()) {
                    std::fprintf(stderr, "showobj: object %d is a %s, not a stream\n", positional[0],
                                 object.typeName());
                    status = 1;
                } else {
                    DataStream* stream = object.getStream();
                    stream->reset();
                    for (int c; (c = stream->getChar()) != -1;)
                        std::fputc(c, stdout);
                    stream->close();
                }
            } else if (object.isStream()) {
                printStreamDict(object);
                std::fputc('\n', stdout);
            } else {
                object.print(stdout);
                std::fputc('\n', stdout);
            }
        }
    } catch (const MemoryException&) {
        std::fputs("showobj: out of memory\n", stderr);
        status = 1;
    }
    std::fclose(file);
    return status;
}
