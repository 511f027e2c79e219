#include "engine/core/ErrorReport.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace rendova {

namespace {
ErrorSink g_sink = nullptr;
void* g_sinkContext = nullptr;
std::atomic<uint64_t> g_reportCount{0};
}  // namespace

uint64_t errorReportCount() {
    return g_reportCount.load(std::memory_order_relaxed);
}

void reportError(int64_t position, const char* format, ...) {
    g_reportCount.fetch_add(1, std::memory_order_relaxed);
    // Without a sink nothing is formatted, so reports cost nothing in the
    // conversion path.
    if (!g_sink)
        return;
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    g_sink(g_sinkContext, position, message);
}

void setErrorSink(ErrorSink sink, void* context) {
    g_sink = sink;
    g_sinkContext = context;
}

}  // namespace rendova
