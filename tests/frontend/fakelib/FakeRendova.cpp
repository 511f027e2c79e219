// A stand-in for the conversion library with the same export table, for the
// wizard's tests. It reads no PDF: it decides by the file's name and first
// bytes, and writes a small text file for every converted page, so that the
// names, places and options of the outputs can be checked.
//
//   - a file that does not exist: -2; one without "%PDF" in its first 1024
//     bytes, or whose name contains "damaged": -3;
//   - a name containing "encrypted" opens only with the owner password
//     "owner" in the first slot or the user password "user" in the second:
//     else -4;
//   - a name ending in "-<N>p" (before the extension) has N pages, every
//     other document 3;
//   - each page file holds one line with the options it was written with;
//     a page file that cannot be made gives -99;
//   - a name containing "lost" writes its even pages but answers 2 for
//     them (their content lost in the document);
//   - a name containing "huge" writes nothing above 200 dpi and answers -8
//     (the page too large at that resolution).
//
// Extra exports for the tests: fakeRendovaCalls (the calls so far, one per
// line), fakeRendovaReset and fakeRendovaSetPageDelay (milliseconds each
// convertPage waits before writing).

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

struct Job {
    int pages = 0;
    bool lost = false;
    bool huge = false;
    std::string folder;
    std::string baseName;
    int imageType = 4;
    int bits = 24;
    int greyscale = 0;
    int xDpi = 120;
    int yDpi = 120;
    int quality = 75;
    int compression = 0;
    int multiPage = 0;
    bool tiffStarted = false;
};

std::mutex g_lock;
std::map<int, Job> g_jobs;
int g_nextHandle = 1;
std::string g_calls;
std::string g_callsCopy;
int g_pageDelay = 0;

void record(const std::string& call) {
    g_calls += call;
    g_calls += '\n';
}

std::string text(const char* value) {
    return value ? value : "null";
}

bool looksLikePdf(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char head[1024];
    size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    for (size_t i = 0; i + 4 <= got; ++i) {
        if (std::memcmp(head + i, "%PDF", 4) == 0)
            return true;
    }
    return false;
}

int pagesFromName(const std::string& stem) {
    size_t dash = stem.rfind('-');
    if (dash == std::string::npos || stem.size() < dash + 3 || stem.back() != 'p')
        return 3;
    std::string digits = stem.substr(dash + 1, stem.size() - dash - 2);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return 3;
    return std::stoi(digits);
}

const char* extensionFor(int type) {
    static const char* const kExtensions[] = {"bmp", "emf", "wmf", "jpg", "png", "gif", "tif", "pcx"};
    return type >= 1 && type <= 8 ? kExtensions[type - 1] : "bmp";
}

int clampDpi(intptr_t value) {
    return value < 72 ? 72 : value > 500 ? 500 : static_cast<int>(value);
}

int openDocument(const char* path, const char* ownerPassword, const char* userPassword) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::string name = path ? fs::path(path).filename().string() : "null";
    record("open " + name + " " + text(ownerPassword) + " " + text(userPassword));
    if (!path)
        return -2;
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return -2;
    if (!looksLikePdf(path) || name.find("damaged") != std::string::npos)
        return -3;
    if (name.find("encrypted") != std::string::npos &&
        !(ownerPassword && std::strcmp(ownerPassword, "owner") == 0) &&
        !(userPassword && std::strcmp(userPassword, "user") == 0)) {
        return -4;
    }
    fs::path absolute = fs::absolute(path);
    Job job;
    job.folder = absolute.parent_path().string() + "/";
    job.baseName = absolute.stem().string();
    job.pages = pagesFromName(job.baseName);
    job.lost = name.find("lost") != std::string::npos;
    job.huge = name.find("huge") != std::string::npos;
    int handle = g_nextHandle++;
    g_jobs[handle] = job;
    return handle;
}

int closeDocument(int handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    record("close " + std::to_string(handle));
    if (handle == 0)
        return -10;
    g_jobs.erase(handle);
    return 1;
}

int convertPage(int handle, int page, const char* name) {
    int delay;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        delay = g_pageDelay;
    }
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));

    std::lock_guard<std::mutex> guard(g_lock);
    record("convert " + std::to_string(page) + " " + text(name));
    if (handle == 0)
        return -10;
    auto found = g_jobs.find(handle);
    if (found == g_jobs.end())
        return -10;
    Job& job = found->second;
    if (page < 1 || page > job.pages)
        return -5;
    if (job.huge && (job.xDpi > 200 || job.yDpi > 200))
        return -8;
    std::error_code error;
    fs::create_directories(job.folder, error);

    char line[256];
    std::snprintf(line, sizeof line, "type=%d bits=%d grey=%d dpi=%dx%d quality=%d compression=%d page=%d\n",
                  job.imageType, job.bits, job.greyscale, job.xDpi, job.yDpi, job.quality, job.compression,
                  page);
    std::string output;
    const char* mode = "wb";
    if (job.imageType == 7 && job.multiPage) {
        output = job.folder + job.baseName + ".tif";
        if (job.tiffStarted)
            mode = "ab";
        job.tiffStarted = true;
    } else if (name) {
        output = job.folder + name + "." + extensionFor(job.imageType);
    } else {
        char number[16];
        std::snprintf(number, sizeof number, "%05d", page);
        output = job.folder + job.baseName + number + "." + extensionFor(job.imageType);
    }
    FILE* file = std::fopen(output.c_str(), mode);
    if (!file)
        return -99;
    std::fputs(line, file);
    std::fclose(file);
    return job.lost && page % 2 == 0 ? 2 : 1;
}

int setOption(int handle, int option, const char* value, intptr_t number, intptr_t) {
    std::lock_guard<std::mutex> guard(g_lock);
    record("set " + std::to_string(option) + " " + (option == 1 ? text(value) : std::to_string(number)));
    if (handle == 0)
        return -10;
    auto found = g_jobs.find(handle);
    if (found == g_jobs.end())
        return -10;
    Job& job = found->second;
    switch (option) {
        case 1:
            if (value && *value) {
                job.folder = fs::absolute(value).string();
                if (job.folder.back() != '/')
                    job.folder += '/';
            }
            return 1;
        case 5:
            job.imageType = number >= 2 && number <= 8 ? static_cast<int>(number) : 1;
            return 1;
        case 6:
            job.bits = static_cast<int>(number);
            return 1;
        case 7:
            job.xDpi = clampDpi(number);
            return 1;
        case 8:
            job.yDpi = clampDpi(number);
            return 1;
        case 9:
            job.quality = static_cast<int>(number);
            return 1;
        case 10:
            job.compression = static_cast<int>(number);
            return 1;
        case 11:
            job.multiPage = number != 0;
            return 1;
        case 12:
            job.greyscale = number != 0;
            return 1;
        case 2:
        case 3:
        case 4:
        case 13:
        case 14:
        case 15:
        case 40:
        case 91:
        case 92:
        case 93:
            return 1;
        default:
            return -11;
    }
}

[[maybe_unused]] int getPageCount(int handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    record("pages " + std::to_string(handle));
    if (handle == 0)
        return -10;
    auto found = g_jobs.find(handle);
    return found == g_jobs.end() ? -10 : found->second.pages;
}

int reserved() {
    return 1;
}

using Proc = void (*)();

}  // namespace

extern "C" {

#ifdef FAKE_WITHOUT_PAGE_COUNT
// A broken build of the library: ordinal 11 is missing.
#define PAGE_COUNT_ENTRY nullptr
#else
#define PAGE_COUNT_ENTRY reinterpret_cast<Proc>(&getPageCount)
#endif

// Declared extern first: a const array would otherwise be private to this file.
__attribute__((visibility("default"))) extern const Proc rendovaExports[12];
const Proc rendovaExports[12] = {
    reinterpret_cast<Proc>(&openDocument),
    reinterpret_cast<Proc>(&reserved),
    reinterpret_cast<Proc>(&closeDocument),
    reinterpret_cast<Proc>(&reserved),
    nullptr,
    reinterpret_cast<Proc>(&reserved),
    reinterpret_cast<Proc>(&convertPage),
    reinterpret_cast<Proc>(&reserved),
    reinterpret_cast<Proc>(&setOption),
    reinterpret_cast<Proc>(&reserved),
    PAGE_COUNT_ENTRY,
    reinterpret_cast<Proc>(&reserved),
};

__attribute__((visibility("default"))) const char* fakeRendovaCalls() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_callsCopy = g_calls;
    return g_callsCopy.c_str();
}

__attribute__((visibility("default"))) void fakeRendovaReset() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_calls.clear();
    g_pageDelay = 0;
}

__attribute__((visibility("default"))) void fakeRendovaSetPageDelay(int milliseconds) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_pageDelay = milliseconds;
}

}  // extern "C"
