// JPEG 2000 decoding throughput of the engine's decoder beside libopenjp2 on
// the same streams in the same run, in megabytes of decoded samples per
// second, with the ratio ours / theirs. The streams are written at start-up
// by opj_compress from a synthetic 2000 x 2000 RGB photograph: reversible
// (5/3 wavelet, RCT) and irreversible (9/7, ICT, lossless layer dropped to
// 1:10), each once plainly and once as common encoders write photographs:
// 128 x 128 and 64 x 64 precincts and ten quality layers. libopenjp2 decodes
// on one thread, as ours does.
#include <benchmark/benchmark.h>
#include <openjpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/Jpeg2000Decoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

using rendova::DataStream;
using rendova::Jpeg2000Decoder;
using rendova::RefPtr;

constexpr int kWidth = 2000;
constexpr int kHeight = 2000;

std::string makeStream(const char* options) {
    std::string folder = (std::filesystem::temp_directory_path() / "bench-jpx-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        return {};
    std::string ppm = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    uint32_t seed = 1;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            const bool disc = (x - 900) * (x - 900) + (y - 700) * (y - 700) < 400 * 400;
            const int rgb[3] = {(disc ? 230 - y / 9 : x / 9) + noise,
                                (disc ? 80 + x / 25 : 120 + ((x / 40 + y / 40) & 1) * 40) + noise,
                                (disc ? 40 : y / 8) + noise};
            for (int v : rgb)
                ppm.push_back(char(v < 0 ? 0 : v > 255 ? 255 : v));
        }
    }
    const std::string in = folder + "/in.ppm";
    const std::string out = folder + "/out.jp2";
    std::ofstream(in, std::ios::binary) << ppm;
    std::string stream;
    if (std::system(("opj_compress -i " + in + " -o " + out + " " + options + " >/dev/null 2>&1").c_str()) ==
        0) {
        std::ifstream file(out, std::ios::binary);
        stream.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove_all(folder);
    return stream;
}

const std::string& dataSet(int which) {
    static const std::string sets[4] = {
        makeStream(""),
        makeStream("-I -r 10"),
        makeStream("-c [128,128],[64,64] -r 320,160,80,40,20,10,5,3,2,1"),
        makeStream("-I -c [128,128],[64,64] -r 320,160,80,40,20,16,14,12,11,10"),
    };
    return sets[which];
}

const char* const kNames[4] = {"reversible", "irreversible", "reversible precincts ten layers",
                               "irreversible precincts ten layers"};

// libopenjp2 over a memory buffer.
struct MemoryReader {
    const std::string* data;
    size_t pos;
};

OPJ_SIZE_T readMemory(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* m = static_cast<MemoryReader*>(user);
    const size_t n = std::min(size, m->data->size() - m->pos);
    if (n == 0)
        return OPJ_SIZE_T(-1);
    std::memcpy(buffer, m->data->data() + m->pos, n);
    m->pos += n;
    return n;
}
OPJ_OFF_T skipMemory(OPJ_OFF_T n, void* user) {
    auto* m = static_cast<MemoryReader*>(user);
    m->pos = std::min(m->data->size(), size_t(OPJ_OFF_T(m->pos) + n));
    return n;
}
OPJ_BOOL seekMemory(OPJ_OFF_T n, void* user) {
    static_cast<MemoryReader*>(user)->pos = size_t(n);
    return OPJ_TRUE;
}

// Decoded samples, 0 on failure.
size_t openjpegDecode(const std::string& data) {
    MemoryReader reader{&data, 0};
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(stream, &reader, nullptr);
    opj_stream_set_user_data_length(stream, data.size());
    opj_stream_set_read_function(stream, readMemory);
    opj_stream_set_skip_function(stream, skipMemory);
    opj_stream_set_seek_function(stream, seekMemory);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_JP2);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_setup_decoder(codec, &parameters);
    opj_image_t* image = nullptr;
    size_t samples = 0;
    if (opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
        opj_end_decompress(codec, stream)) {
        for (OPJ_UINT32 c = 0; c < image->numcomps; ++c)
            samples += size_t(image->comps[c].w) * image->comps[c].h;
    }
    opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return samples;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Jpeg2000(benchmark::State& state) {
    const std::string& data = dataSet(int(state.range(0)));
    if (data.empty()) {
        state.SkipWithError("opj_compress missing or failed");
        return;
    }
    RefPtr<Jpeg2000Decoder> decoder =
        RefPtr<Jpeg2000Decoder>::adopt(new Jpeg2000Decoder(RefPtr<DataStream>::adopt(
            new rendova::MemorySource(data.data(), 0, uint32_t(data.size()), rendova::PdfValue()))));
    std::vector<uint8_t> buffer(1 << 16);
    double ours = 0, theirs = 0;
    size_t oursBytes = 0, theirBytes = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        decoder->reset();
        size_t n = 0;
        for (int got; (got = decoder->getBlock(buffer.data(), int(buffer.size()))) > 0;)
            n += size_t(got);
        decoder->close();
        ours += secondsSince(start);
        oursBytes += n;
        start = std::chrono::steady_clock::now();
        theirBytes += openjpegDecode(data);
        theirs += secondsSince(start);
    }
    const double oursRate = double(oursBytes) / 1e6 / ours;
    const double theirRate = double(theirBytes) / 1e6 / theirs;
    state.counters["ours_MB/s"] = oursRate;
    state.counters["openjpeg_MB/s"] = theirRate;
    state.counters["ours/openjpeg"] = oursRate / theirRate;
    state.counters["ours_ms"] = ours * 1000 / double(state.iterations());
    state.SetLabel(kNames[state.range(0)]);
}

BENCHMARK(BM_Jpeg2000)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
