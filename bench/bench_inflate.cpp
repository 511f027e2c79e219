// Inflate throughput of the engine's decoder against zlib's inflate on the
// same data in the same run. Two data sets, each compressed at level 6 into
// one stream: the Flate streams of the reference PDFs (content, fonts and
// images, decompressed with zlib), and synthetic page-content text.
//
// Ours is measured twice: draining the decoder byte by byte through its own
// class (the calls are resolved at compile time), and through the DataStream
// interface, as the engine's readers see it (one virtual call per byte).
// zlib is measured twice too: inflating into a 64 KB buffer, and behind the
// same byte-by-byte reading as ours (a 32 KB buffer handed out by getChar).
// Handing bytes out one call at a time costs about as much as decoding them,
// whatever the decoder; the second pair compares the decoders on equal terms.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/core/InflateDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "tests/support/ContentLikeText.h"

namespace {

using Bytes = std::vector<uint8_t>;
using rendova::DataStream;
using rendova::InflateDecoder;
using rendova::RefPtr;

constexpr size_t kCorpusCap = 8 * 1024 * 1024;
constexpr size_t kTextSize = 4 * 1024 * 1024;

Bytes zlibCompress(const Bytes& data, int level) {
    uLongf size = compressBound(data.size());
    Bytes out(size);
    compress2(out.data(), &size, data.data(), data.size(), level);
    out.resize(size);
    return out;
}

// Inflates the zlib stream at data[0..size); false unless it ends properly.
bool zlibInflateAt(const uint8_t* data, size_t size, Bytes& out) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(size);
    uint8_t buffer[65536];
    int rc;
    size_t start = out.size();
    do {
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
    } while (rc == Z_OK && out.size() - start < (64u << 20));
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        out.resize(start);
    return rc == Z_STREAM_END;
}

// The decoded Flate streams of the reference PDFs, up to kCorpusCap bytes:
// every "stream" keyword whose data zlib decodes to its end.
Bytes corpusStreams() {
    Bytes out;
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(RENDOVA_CORPUS_DIR, ec))
        if (entry.path().extension() == ".pdf")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const Bytes pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string_view text(reinterpret_cast<const char*>(pdf.data()), pdf.size());
        for (size_t at = text.find("stream"); at != std::string_view::npos;
             at = text.find("stream", at + 6)) {
            size_t data = at + 6;
            if (data < text.size() && text[data] == '\r')
                ++data;
            if (data < text.size() && text[data] == '\n')
                ++data;
            zlibInflateAt(pdf.data() + data, pdf.size() - data, out);
            if (out.size() >= kCorpusCap) {
                out.resize(kCorpusCap);
                return out;
            }
        }
    }
    return out;
}

struct Dataset {
    std::string name;
    Bytes raw;
    Bytes compressed;
};

RefPtr<InflateDecoder> makeDecoder(const Bytes& z) {
    RefPtr<DataStream> source = RefPtr<rendova::MemorySource>::adopt(new rendova::MemorySource(
        reinterpret_cast<const char*>(z.data()), 0, static_cast<uint32_t>(z.size()), rendova::PdfValue()));
    return RefPtr<InflateDecoder>::adopt(new InflateDecoder(std::move(source), 1, 1, 1, 8));
}

template <typename Stream>
void drain(benchmark::State& state, const Dataset& d, Stream& stream) {
    for (auto _ : state) {
        stream.reset();
        uint32_t sum = 0;
        size_t n = 0;
        for (int c; (c = stream.getChar()) != -1; ++n)
            sum += static_cast<uint32_t>(c);
        benchmark::DoNotOptimize(sum);
        if (n != d.raw.size())
            state.SkipWithError("decoded size differs");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
}

void benchOurs(benchmark::State& state, const Dataset* d) {
    RefPtr<InflateDecoder> decoder = makeDecoder(d->compressed);
    drain(state, *d, *decoder);
}

void benchOursStream(benchmark::State& state, const Dataset* d) {
    RefPtr<InflateDecoder> decoder = makeDecoder(d->compressed);
    DataStream& stream = *decoder;
    drain(state, *d, stream);
}

void benchZlib(benchmark::State& state, const Dataset* d) {
    z_stream zs{};
    inflateInit(&zs);
    static uint8_t buffer[65536];
    for (auto _ : state) {
        inflateReset(&zs);
        zs.next_in = const_cast<Bytef*>(d->compressed.data());
        zs.avail_in = static_cast<uInt>(d->compressed.size());
        size_t n = 0;
        int rc;
        do {
            zs.next_out = buffer;
            zs.avail_out = sizeof buffer;
            rc = inflate(&zs, Z_NO_FLUSH);
            n += sizeof buffer - zs.avail_out;
            benchmark::DoNotOptimize(buffer);
        } while (rc == Z_OK);
        if (n != d->raw.size())
            state.SkipWithError("decoded size differs");
    }
    inflateEnd(&zs);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d->raw.size()));
}

// zlib behind the engine's byte-at-a-time reading: the same index-and-end
// hand-out as InflateDecoder, refilled 32 KB at a time.
class ZlibByteReader {
public:
    explicit ZlibByteReader(const Bytes& z) : m_z(z) { inflateInit(&m_stream); }
    ~ZlibByteReader() { inflateEnd(&m_stream); }
    void reset() {
        inflateReset(&m_stream);
        m_stream.next_in = const_cast<Bytef*>(m_z.data());
        m_stream.avail_in = static_cast<uInt>(m_z.size());
        m_index = m_end = 0;
        m_done = false;
    }
    int getChar() {
        if (m_index == m_end && !fill())
            return -1;
        return m_buffer[m_index++];
    }

private:
    __attribute__((noinline)) bool fill() {
        if (m_done)
            return false;
        m_stream.next_out = m_buffer;
        m_stream.avail_out = sizeof m_buffer;
        if (inflate(&m_stream, Z_NO_FLUSH) != Z_OK)
            m_done = true;
        m_index = 0;
        m_end = static_cast<int>(sizeof m_buffer - m_stream.avail_out);
        return m_end > 0;
    }

    const Bytes& m_z;
    z_stream m_stream{};
    int m_index = 0;
    int m_end = 0;
    bool m_done = false;
    uint8_t m_buffer[32768];
};

void benchZlibBytes(benchmark::State& state, const Dataset* d) {
    ZlibByteReader reader(d->compressed);
    drain(state, *d, reader);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);

    std::vector<Dataset> datasets;
    Bytes corpus = corpusStreams();
    if (!corpus.empty())
        datasets.push_back({"corpus", std::move(corpus), {}});
    datasets.push_back({"text", rendova::test::contentLikeData(kTextSize, 1), {}});
    for (Dataset& d : datasets) {
        d.compressed = zlibCompress(d.raw, 6);
        std::printf("%s: %zu bytes, %zu compressed at level 6 (%.2f:1)\n", d.name.c_str(), d.raw.size(),
                    d.compressed.size(), double(d.raw.size()) / double(d.compressed.size()));
    }
    for (const Dataset& d : datasets) {
        for (auto* b : {benchmark::RegisterBenchmark(("zlib/" + d.name).c_str(), benchZlib, &d),
                        benchmark::RegisterBenchmark(("zlib_bytes/" + d.name).c_str(), benchZlibBytes, &d),
                        benchmark::RegisterBenchmark(("ours/" + d.name).c_str(), benchOurs, &d),
                        benchmark::RegisterBenchmark(("ours_stream/" + d.name).c_str(), benchOursStream, &d)})
            rendova::bench::repeatForMedian(b);
    }

    rendova::bench::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nInflate throughput (MB/s = 10^6 decoded bytes per second; ratio = zlib's rate / ours)\n");
    for (const Dataset& d : datasets) {
        const double zlib = reporter.rate("zlib/" + d.name) / 1e6;
        const double zlibBytes = reporter.rate("zlib_bytes/" + d.name) / 1e6;
        const double ours = reporter.rate("ours/" + d.name) / 1e6;
        const double stream = reporter.rate("ours_stream/" + d.name) / 1e6;
        if (zlib <= 0 || zlibBytes <= 0 || ours <= 0 || stream <= 0)
            continue;
        std::printf("%-7s into a buffer:     zlib %7.1f   ours %7.1f   ratio %.2f\n", d.name.c_str(), zlib,
                    ours, zlib / ours);
        std::printf("%-7s byte by byte:      zlib %7.1f   ours %7.1f   ratio %.2f\n", d.name.c_str(),
                    zlibBytes, ours, zlibBytes / ours);
        std::printf("%-7s through DataStream:              ours %7.1f   ratio %.2f (to zlib into a buffer)\n",
                    d.name.c_str(), stream, zlib / stream);
    }
    return 0;
}
