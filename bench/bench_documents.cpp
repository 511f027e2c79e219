// Whole documents as a user converts them: pages 1 .. 10 of each document of
// a fixed set (text, vector art, images and transparency), each document
// converted by a fresh process from a cold start, ours (tools/convertdoc over
// the public interface) beside the peer (`mutool draw` converting the same
// pages of the same file in one process), output written to tmpfs. Runs
// alternate between the two; each figure is the median of several runs.
// Raw output compares our 24-bit BMP with the peer's PPM; PNG compares PNG.
// The table gives pages per second for both, the ratio (ours over the
// peer's: above 1 is faster) and the peak resident memory of each process.
//
// A second run converts a long document (the set concatenated by qpdf) to
// show that peak memory stays flat in the page count.
//
// The number of runs per figure is RENDOVA_BENCH_RUNS (default 5);
// RENDOVA_BENCH_DPI (say "150") limits the table to the resolutions named.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Document {
    const char* file;
    int pages;  // filled in: 10, or fewer for a shorter document
};

Document g_documents[] = {
    {"deb-r-intro.pdf", 0},       {"deb-valgrind-manual-fop.pdf", 0},
    {"deb-prawn-manual.pdf", 0},  {"deb-reportlab-userguide.pdf", 0},
    {"made-groff-pic-ms.pdf", 0}, {"gh-ocr-cmyk-photoshop.pdf", 0},
    {"made-gs-tiger.pdf", 0},     {"gh-ocr-vector-cairo115.pdf", 0},
    {"made-gs-escher.pdf", 0},    {"made-gs-transparency.pdf", 0},
};
constexpr int kPagesPerDocument = 10;

std::string corpusPath(const std::string& file) {
    return std::string(RENDOVA_CORPUS_DIR) + "/" + file;
}

int runsPerFigure() {
    const char* text = std::getenv("RENDOVA_BENCH_RUNS");
    const int runs = text != nullptr ? std::atoi(text) : 5;
    return runs >= 1 ? runs : 1;
}

// A folder on tmpfs (or the temporary folder) that each run empties.
std::string outputFolder() {
    static const std::string folder = [] {
        const std::string base =
            fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
        std::string pattern = base + "/rendova-bench-XXXXXX";
        return std::string(mkdtemp(pattern.data()) != nullptr ? pattern : base);
    }();
    return folder;
}

void emptyFolder(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        fs::remove_all(entry.path());
}

struct Run {
    double seconds = -1;
    long peakKb = 0;
    std::string out;
};

// Runs a program to its end: wall-clock seconds and its peak resident
// memory; seconds stay -1 when it could not start or failed.
Run runProgram(const std::vector<std::string>& args, bool keepOutput = false) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    Run run;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        if (keepOutput)
            run.out.append(buffer, size_t(n));
    close(pipeFds[0]);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        run.seconds = seconds;
    return run;
}

enum class Output { Raw, Png };

std::vector<std::string> oursCommand(const Document& d, int dpi, Output output, const std::string& folder) {
    return {RENDOVA_CONVERTDOC,
            corpusPath(d.file),
            folder,
            std::to_string(dpi),
            output == Output::Raw ? "1" : "5",
            "1",
            std::to_string(d.pages)};
}

std::vector<std::string> peerCommand(const Document& d, int dpi, Output output, const std::string& folder) {
    std::vector<std::string> command = {"mutool", "draw", "-q", "-r", std::to_string(dpi)};
    if (output == Output::Raw) {
        command.insert(command.end(), {"-c", "rgb", "-o", folder + "/%d.ppm"});
    } else {
        command.insert(command.end(), {"-o", folder + "/%d.png"});
    }
    command.insert(command.end(), {corpusPath(d.file), "1-" + std::to_string(d.pages)});
    return command;
}

std::vector<int> resolutions() {
    const char* text = std::getenv("RENDOVA_BENCH_DPI");
    if (text == nullptr || *text == '\0')
        return {72, 150, 300};
    std::vector<int> chosen;
    for (const char* p = text; *p != '\0';) {
        char* end = nullptr;
        const long dpi = std::strtol(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        if (dpi >= 72 && dpi <= 500)
            chosen.push_back(int(dpi));
        p = end;
    }
    return chosen;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool prepare() {
    static const bool ready = [] {
        if (std::system("mutool -v > /dev/null 2>&1") != 0) {
            std::printf("mutool is not installed\n");
            return false;
        }
        for (Document& d : g_documents) {
            if (!fs::exists(corpusPath(d.file))) {
                std::printf("corpus file %s is absent\n", d.file);
                return false;
            }
            // The page count, from a conversion of no pages.
            d.pages = kPagesPerDocument;
            const Run probe = runProgram({RENDOVA_CONVERTDOC, corpusPath(d.file), outputFolder(), "72", "1",
                                          "1", std::to_string(kPagesPerDocument)},
                                         true);
            const int written = std::atoi(probe.out.c_str());
            if (written < 1) {
                std::printf("%s does not convert\n", d.file);
                return false;
            }
            d.pages = std::min(written, kPagesPerDocument);
        }
        emptyFolder(outputFolder());
        return true;
    }();
    return ready;
}

void BM_WholeDocuments(benchmark::State& state) {
    if (!prepare()) {
        state.SkipWithError("corpus or peer missing");
        return;
    }
    const int runs = runsPerFigure();
    const std::string folder = outputFolder();
    for (auto _ : state) {
        std::printf("\nWhole documents, %d runs per figure (medians), single-threaded, output on %s\n", runs,
                    folder.c_str());
        std::printf("%-6s %-4s %-30s %5s %9s %9s %6s %9s %9s\n", "output", "dpi", "document", "pages",
                    "ours ms", "peer ms", "ratio", "ours MB", "peer MB");
        for (Output output : {Output::Raw, Output::Png}) {
            for (int dpi : resolutions()) {
                double oursTotal = 0, peerTotal = 0, lowest = 1e9;
                int pages = 0;
                for (const Document& d : g_documents) {
                    std::vector<double> ours, peer;
                    long oursPeak = 0, peerPeak = 0;
                    for (int i = 0; i < runs; ++i) {
                        // Alternating, so that a busy moment of the machine
                        // falls on both sides alike.
                        const Run a = runProgram(oursCommand(d, dpi, output, folder));
                        emptyFolder(folder);
                        const Run b = runProgram(peerCommand(d, dpi, output, folder));
                        emptyFolder(folder);
                        ours.push_back(a.seconds);
                        peer.push_back(b.seconds);
                        oursPeak = std::max(oursPeak, a.peakKb);
                        peerPeak = std::max(peerPeak, b.peakKb);
                    }
                    const double o = median(ours), p = median(peer);
                    const double ratio = o > 0 ? p / o : 0;
                    lowest = std::min(lowest, ratio);
                    oursTotal += o;
                    peerTotal += p;
                    pages += d.pages;
                    std::printf("%-6s %-4d %-30s %5d %9.1f %9.1f %6.2f %9.1f %9.1f\n",
                                output == Output::Raw ? "raw" : "png", dpi, d.file, d.pages, o * 1000,
                                p * 1000, ratio, double(oursPeak) / 1024, double(peerPeak) / 1024);
                }
                std::printf(
                    "%-6s %-4d %-30s %5d %9.1f %9.1f %6.2f   pages/s: ours %.1f, peer %.1f; lowest %.2f\n\n",
                    output == Output::Raw ? "raw" : "png", dpi, "WHOLE SET", pages, oursTotal * 1000,
                    peerTotal * 1000, oursTotal > 0 ? peerTotal / oursTotal : 0, pages / oursTotal,
                    pages / peerTotal, lowest);
                std::fflush(stdout);
            }
        }
    }
}
BENCHMARK(BM_WholeDocuments)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Peak memory against the page count: the first N pages of a long document
// (the set concatenated three times, about 2,000 pages) at 72 dpi as BMP.
void BM_LongDocumentMemory(benchmark::State& state) {
    if (!prepare()) {
        state.SkipWithError("corpus or peer missing");
        return;
    }
    const std::string folder = outputFolder();
    const std::string longDocument = fs::temp_directory_path().string() + "/rendova-bench-long.pdf";
    std::vector<std::string> qpdf = {"qpdf", "--empty", "--pages"};
    // The set three times over: about 2,000 pages.
    for (int copy = 0; copy < 3; ++copy)
        for (const Document& d : g_documents)
            qpdf.push_back(corpusPath(d.file));
    qpdf.insert(qpdf.end(), {"--", longDocument});
    if (runProgram(qpdf).seconds < 0 && !fs::exists(longDocument)) {
        state.SkipWithError("qpdf could not build the long document");
        return;
    }
    for (auto _ : state) {
        std::printf("\nPeak resident memory by pages converted (72 dpi, BMP, one process):\n");
        std::printf("%6s %10s %10s %10s\n", "pages", "seconds", "ours MB", "peer MB");
        for (int pages : {100, 300, 1000, 2000}) {
            std::vector<std::string> ours = {RENDOVA_CONVERTDOC,   longDocument, folder, "72", "1", "1",
                                             std::to_string(pages)};
            const Run a = runProgram(ours);
            emptyFolder(folder);
            const Run b = runProgram({"mutool", "draw", "-q", "-r", "72", "-c", "rgb", "-o",
                                      folder + "/%d.ppm", longDocument, "1-" + std::to_string(pages)});
            emptyFolder(folder);
            std::printf("%6d %10.1f %10.1f %10.1f\n", pages, a.seconds, double(a.peakKb) / 1024,
                        double(b.peakKb) / 1024);
            std::fflush(stdout);
        }
    }
    fs::remove(longDocument);
}
BENCHMARK(BM_LongDocumentMemory)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
