// JBIG2 decoding speed of the engine's decoder against libjbig2dec on the
// same streams in the same run: the JBIG2 images of the corpus (a 300-dpi
// scanned page with its globals, and the conformance set of small pages
// covering every region type), fetched through the engine's own parser.
// Each iteration decodes the whole page from the stream bytes, globals
// included, and reads it out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FileSource.h"
#include "engine/core/Jbig2Decoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"

// Last: the peer's header defines names that the standard headers use.
#include <jbig2.h>

namespace {

using rendova::DataStream;
using rendova::PdfValue;
using rendova::RefPtr;

struct Image {
    std::string page;
    std::string globals;
};

struct Dataset {
    std::string name;
    std::vector<Image> images;
};

std::string readStream(DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;)
        out.push_back(char(c));
    stream->close();
    return out;
}

void quiet(void*, int64_t, const char*) {}

std::vector<Image> imagesOf(const std::filesystem::path& path) {
    std::vector<Image> images;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return images;
    {
        PdfValue noDict;
        noDict.initNull();
        RefPtr<rendova::FileSource> source =
            RefPtr<rendova::FileSource>::adopt(new rendova::FileSource(file, 0, false, 0, std::move(noDict)));
        rendova::XrefTable xref(source.get());
        for (int num = 1; xref.isOk() && num < xref.getSize(); ++num) {
            PdfValue object;
            xref.fetch(num,
                       xref.getEntry(num).type == rendova::XrefTable::kCompressed
                           ? 0
                           : xref.getEntry(num).generation,
                       object);
            if (!object.isStream() || object.getStream()->getKind() != DataStream::kJbig2Kind)
                continue;
            Image image;
            image.page = readStream(object.getStream()->getChainedSource());
            PdfValue params, globals;
            object.getDictOrStreamDict()->lookup("DecodeParms", params);
            if (params.isDict())
                params.getDict()->lookup("JBIG2Globals", globals);
            if (globals.isStream())
                image.globals = readStream(globals.getStream());
            images.push_back(std::move(image));
        }
    }
    std::fclose(file);
    return images;
}

RefPtr<DataStream> memory(const std::string& bytes) {
    return RefPtr<DataStream>::adopt(
        new rendova::MemorySource(bytes.data(), 0, uint32_t(bytes.size()), PdfValue()));
}

void benchOurs(benchmark::State& state, const Dataset* d) {
    std::vector<RefPtr<DataStream>> decoders;
    for (const Image& image : d->images) {
        PdfValue globals;
        if (!image.globals.empty())
            globals.initStream(memory(image.globals).release());
        decoders.push_back(RefPtr<DataStream>::adopt(new rendova::Jbig2Decoder(memory(image.page), globals)));
    }
    std::vector<uint8_t> buffer(1 << 16);
    for (auto _ : state) {
        for (auto& decoder : decoders) {
            decoder->reset();
            while (decoder->getBlock(buffer.data(), int(buffer.size())) > 0)
                benchmark::DoNotOptimize(buffer.data());
            decoder->close();
        }
    }
}

void ignore(void*, const char*, Jbig2Severity, uint32_t) {}

void benchJbig2dec(benchmark::State& state, const Dataset* d) {
    for (auto _ : state) {
        for (const Image& image : d->images) {
            Jbig2GlobalCtx* global = nullptr;
            if (!image.globals.empty()) {
                Jbig2Ctx* g = jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, nullptr, ignore, nullptr);
                jbig2_data_in(g, reinterpret_cast<const unsigned char*>(image.globals.data()),
                              image.globals.size());
                global = jbig2_make_global_ctx(g);
            }
            Jbig2Ctx* ctx = jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, global, ignore, nullptr);
            jbig2_data_in(ctx, reinterpret_cast<const unsigned char*>(image.page.data()), image.page.size());
            jbig2_complete_page(ctx);
            if (Jbig2Image* page = jbig2_page_out(ctx)) {
                benchmark::DoNotOptimize(page->data);
                jbig2_release_page(ctx, page);
            }
            jbig2_ctx_free(ctx);
            if (global)
                jbig2_global_ctx_free(global);
        }
    }
}

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    rendova::setErrorSink(quiet, nullptr);
    std::vector<Dataset> datasets = {{"scanned-page", {}}, {"conformance-set", {}}};
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(RENDOVA_CORPUS_DIR, ec))
        if (entry.path().extension() == ".pdf")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        Dataset* d = name == "gh-ocr-jbig2.pdf"            ? &datasets[0]
                     : name.rfind("pdfjs-bitmap-", 0) == 0 ? &datasets[1]
                                                           : nullptr;
        if (!d)
            continue;
        for (Image& image : imagesOf(path))
            d->images.push_back(std::move(image));
    }
    for (const Dataset& d : datasets) {
        if (d.images.empty())
            continue;
        for (auto* b : {benchmark::RegisterBenchmark(("jbig2dec/" + d.name).c_str(), benchJbig2dec, &d),
                        benchmark::RegisterBenchmark(("ours/" + d.name).c_str(), benchOurs, &d)})
            rendova::bench::repeatForMedian(b);
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nJBIG2 decoding time per pass (ms, median of 5; ratio = ours / jbig2dec's)\n");
    for (const Dataset& d : datasets) {
        const double peer = reporter.times["jbig2dec/" + d.name];
        const double ours = reporter.times["ours/" + d.name];
        if (peer <= 0 || ours <= 0)
            continue;
        std::printf("%-16s %3zu images   jbig2dec %8.3f   ours %8.3f   ratio %.2f\n", d.name.c_str(),
                    d.images.size(), peer, ours, ours / peer);
    }
    return 0;
}
