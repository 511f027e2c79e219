// DCT decoding throughput of the engine's decoder against libjpeg on the same
// JPEG data in the same run, in megabytes of decoded samples per second.
// libjpeg decodes with its accurate integer transform and without
// interpolating upsampling (what the engine's decoder does); both hand out
// the same 8-bit samples.
//
// Three data sets: the largest DCT image of the reference PDFs (its bytes
// as the engine's parser reads them), and a synthetic 2048 x 1536 photograph
// written by libjpeg at quality 85 with 4:2:0 chroma, baseline and
// progressive. Ours is drained byte by byte through its own class (calls
// resolved at compile time), as the engine's image reader takes it.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "engine/core/FileSource.h"
#include "engine/core/JpegDecoder.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"

namespace {

using rendova::DataStream;
using rendova::JpegDecoder;
using rendova::RefPtr;

struct ErrorJump {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}
void noMessage(j_common_ptr) {}

// libjpeg's decoding into out (resized by the caller to hold the image);
// the number of samples, 0 on failure.
size_t libjpegDecode(const std::string& jpeg, unsigned char* out, size_t capacity) {
    jpeg_decompress_struct info;
    ErrorJump error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = errorExit;
    error.manager.output_message = noMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return 0;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * size_t(info.output_components);
    if (stride * info.output_height > capacity) {
        jpeg_destroy_decompress(&info);
        return 0;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    const size_t samples = stride * info.output_height;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return samples;
}

std::string libjpegEncode(const std::vector<unsigned char>& rgb, int width, int height, bool progressive) {
    jpeg_compress_struct info;
    ErrorJump error;
    unsigned char* target = nullptr;
    unsigned long size = 0;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = errorExit;
    error.manager.output_message = noMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &target, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<unsigned char*>(rgb.data()) + size_t(info.next_scanline) * size_t(width) * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<const char*>(target), size);
    std::free(target);
    return out;
}

// A smooth scene with edges and fine texture, like a photograph.
std::string syntheticPhoto(bool progressive) {
    const int width = 2048, height = 1536;
    std::vector<unsigned char> rgb(size_t(width) * height * 3);
    uint32_t seed = 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 28) - 8;
            const bool disc = (x - 900) * (x - 900) + (y - 700) * (y - 700) < 400 * 400;
            unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
            const int r = (disc ? 230 - y / 8 : x / 9) + noise;
            const int g = (disc ? 80 + x / 20 : 120 + ((x / 40 + y / 40) & 1) * 40) + noise;
            const int b = (disc ? 40 : y / 7) + noise;
            p[0] = static_cast<unsigned char>(r < 0 ? 0 : r > 255 ? 255 : r);
            p[1] = static_cast<unsigned char>(g < 0 ? 0 : g > 255 ? 255 : g);
            p[2] = static_cast<unsigned char>(b < 0 ? 0 : b > 255 ? 255 : b);
        }
    }
    return libjpegEncode(rgb, width, height, progressive);
}

// The largest DCT stream of the reference PDFs, as raw JPEG bytes.
std::string largestCorpusJpeg() {
    std::string best;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(RENDOVA_CORPUS_DIR, ec)) {
        if (entry.path().extension() != ".pdf")
            continue;
        std::FILE* file = std::fopen(entry.path().c_str(), "rb");
        if (!file)
            continue;
        try {
            rendova::PdfValue noDict;
            noDict.initNull();
            RefPtr<rendova::FileSource> source = RefPtr<rendova::FileSource>::adopt(
                new rendova::FileSource(file, 0, false, 0, std::move(noDict)));
            rendova::XrefTable xref(source.get());
            for (int num = 1; xref.isOk() && num < xref.getSize(); ++num) {
                rendova::PdfValue object;
                const auto& e = xref.getEntry(num);
                xref.fetch(num, e.type == rendova::XrefTable::kCompressed ? 0 : e.generation, object);
                if (!object.isStream() || object.getStream()->getKind() != DataStream::kDctKind)
                    continue;
                DataStream* raw = object.getStream()->getChainedSource();
                std::string bytes;
                raw->reset();
                for (int c; (c = raw->getChar()) != -1;)
                    bytes.push_back(static_cast<char>(c));
                raw->close();
                if (bytes.size() > best.size())
                    best = std::move(bytes);
            }
        } catch (const rendova::MemoryException&) {
        }
        std::fclose(file);
    }
    return best;
}

const std::string& dataSet(int which) {
    static const std::string sets[3] = {largestCorpusJpeg(), syntheticPhoto(false), syntheticPhoto(true)};
    return sets[which];
}

const char* const kNames[3] = {"corpus", "photo_baseline", "photo_progressive"};

void BM_Ours(benchmark::State& state) {
    const std::string& jpeg = dataSet(int(state.range(0)));
    if (jpeg.empty()) {
        state.SkipWithError("no data");
        return;
    }
    RefPtr<JpegDecoder> decoder = RefPtr<JpegDecoder>::adopt(
        new JpegDecoder(RefPtr<DataStream>::adopt(new rendova::MemorySource(
                            jpeg.data(), 0, uint32_t(jpeg.size()), rendova::PdfValue())),
                        -1));
    size_t samples = 0;
    for (auto _ : state) {
        decoder->reset();
        size_t n = 0;
        unsigned sum = 0;
        for (int c; (c = decoder->getChar()) != -1; ++n)
            sum += unsigned(c);
        decoder->close();
        benchmark::DoNotOptimize(sum);
        samples = n;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(samples));
    state.SetLabel(kNames[state.range(0)]);
}

void BM_Libjpeg(benchmark::State& state) {
    const std::string& jpeg = dataSet(int(state.range(0)));
    if (jpeg.empty()) {
        state.SkipWithError("no data");
        return;
    }
    std::vector<unsigned char> out(size_t(1) << 26);
    size_t samples = 0;
    for (auto _ : state) {
        samples = libjpegDecode(jpeg, out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(samples));
    state.SetLabel(kNames[state.range(0)]);
}

BENCHMARK(BM_Ours)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libjpeg)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
