// The library's twelve exported functions and the ordinal table through which
// programs find them. Each working export checks the handle and forwards to
// the document's ConversionJob; each body runs inside one guard, so that no
// exception leaves the library: memory exhaustion and any other escape
// become -3 while a document is being opened and -99 everywhere else.
//
// The guard also holds one process-wide lock for the whole call. The engine
// keeps process-wide state (the settings object that the renderers share by
// count, the CMap, Unicode-map and font caches) that is not built for two
// threads at once; rather than rework it for concurrency, calls that overlap
// run one after another. The lock is recursive so that a progress, poll or
// cancel callback may call back into the library from inside a conversion.
#include <climits>
#include <map>
#include <memory>
#include <mutex>

#include "engine/core/Memory.h"
#include "library/ConversionJob.h"
#include "library/rendova.h"

namespace {

using rendova::ConversionJob;

// The live jobs by handle. Handles count up from 1 and are never given out
// twice, so a closed or made-up handle finds nothing here and is answered
// with RENDOVA_NULL_HANDLE instead of touching freed memory. The table is
// read and changed only under the call lock.
std::map<int, std::unique_ptr<ConversionJob>>& liveJobs() {
    static std::map<int, std::unique_ptr<ConversionJob>> jobs;
    return jobs;
}
int g_nextHandle = 1;

ConversionJob* findJob(int handle) {
    auto& jobs = liveJobs();
    auto found = jobs.find(handle);
    return found != jobs.end() ? found->second.get() : nullptr;
}

std::recursive_mutex& callLock() {
    static std::recursive_mutex lock;
    return lock;
}

template <class Body>
int guarded(int failure, Body&& body) noexcept {
    try {
        const std::lock_guard<std::recursive_mutex> serialised(callLock());
        return body();
    } catch (const rendova::MemoryException&) {
        return failure;
    } catch (...) {
        return failure;
    }
}

}  // namespace

extern "C" {

int rendovaOpenDocument(const char* path, const char* ownerPassword, const char* userPassword) noexcept {
    return guarded(RENDOVA_OPEN_FAILED, [&] {
        if (path == nullptr)
            return int(RENDOVA_INPUT_MISSING);
        // Every handle is distinct for the life of the process.
        if (g_nextHandle == INT_MAX)
            return int(RENDOVA_OTHER_FAILURE);
        auto job = std::make_unique<ConversionJob>();
        const int result = job->open(path, ownerPassword, userPassword);
        if (result != ConversionJob::kSuccess)
            return result;  // the job is destroyed; no handle exists
        const int handle = g_nextHandle++;
        liveJobs().emplace(handle, std::move(job));
        return handle;
    });
}

int rendovaReserved2(void) noexcept {
    return 1;
}

int rendovaCloseDocument(int handle) noexcept {
    return guarded(RENDOVA_OTHER_FAILURE, [&] {
        auto& jobs = liveJobs();
        auto found = jobs.find(handle);
        if (found == jobs.end())
            return int(RENDOVA_NULL_HANDLE);
        // Out of the table first, so that the handle is dead whatever the
        // job's destruction meets.
        std::unique_ptr<ConversionJob> job = std::move(found->second);
        jobs.erase(found);
        job->close();
        job.reset();
        if (jobs.empty())
            rendova::memReleaseLargeBlocks();
        return int(RENDOVA_SUCCESS);
    });
}

int rendovaReserved4(void) noexcept {
    return 2;
}

int rendovaConvertAllPages(int handle) noexcept {
    return guarded(RENDOVA_OTHER_FAILURE, [&] {
        ConversionJob* job = findJob(handle);
        return job != nullptr ? job->convertByRange() : int(RENDOVA_NULL_HANDLE);
    });
}

int rendovaReserved6(void) noexcept {
    return 3;
}

int rendovaConvertPage(int handle, int page, const char* name) noexcept {
    return guarded(RENDOVA_OTHER_FAILURE, [&] {
        ConversionJob* job = findJob(handle);
        return job != nullptr ? job->convertPageNamed(page, name) : int(RENDOVA_NULL_HANDLE);
    });
}

int rendovaReserved8(void) noexcept {
    return 4;
}

int rendovaSetOption(int handle, int option, const char* text, intptr_t value, intptr_t value2) noexcept {
    return guarded(RENDOVA_OTHER_FAILURE, [&] {
        ConversionJob* job = findJob(handle);
        return job != nullptr ? job->setOption(option, text, value, value2) : int(RENDOVA_NULL_HANDLE);
    });
}

int rendovaReserved10(void) noexcept {
    return 5;
}

int rendovaGetPageCount(int handle) noexcept {
    return guarded(RENDOVA_OTHER_FAILURE, [&] {
        ConversionJob* job = findJob(handle);
        return job != nullptr ? job->pageCount() : int(RENDOVA_NULL_HANDLE);
    });
}

int rendovaReserved12(void) noexcept {
    return 6;
}

const RendovaProc rendovaExports[RENDOVA_EXPORT_COUNT] = {
    reinterpret_cast<RendovaProc>(&rendovaOpenDocument),    reinterpret_cast<RendovaProc>(&rendovaReserved2),
    reinterpret_cast<RendovaProc>(&rendovaCloseDocument),   reinterpret_cast<RendovaProc>(&rendovaReserved4),
    reinterpret_cast<RendovaProc>(&rendovaConvertAllPages), reinterpret_cast<RendovaProc>(&rendovaReserved6),
    reinterpret_cast<RendovaProc>(&rendovaConvertPage),     reinterpret_cast<RendovaProc>(&rendovaReserved8),
    reinterpret_cast<RendovaProc>(&rendovaSetOption),       reinterpret_cast<RendovaProc>(&rendovaReserved10),
    reinterpret_cast<RendovaProc>(&rendovaGetPageCount),    reinterpret_cast<RendovaProc>(&rendovaReserved12),
};

}  // extern "C"
