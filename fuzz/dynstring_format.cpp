// Fuzzes DynString::appendFormat's parser: the input is the format, applied
// to a fixed list of arguments of every type.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "engine/core/DynString.h"
#include "engine/core/Memory.h"

using rendova::DynString;
using rendova::FormatArg;

namespace {

// Widths are taken from the format as they stand; a long digit run would only
// make the fuzzer allocate gigabytes of padding, so such inputs are skipped.
constexpr int kMaxDigitRun = 4;
constexpr size_t kMaxFormat = 4096;

bool acceptable(const std::string& format) {
    int run = 0;
    for (char c : format) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run > kMaxDigitRun)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxFormat)
        return 0;
    std::string format(reinterpret_cast<const char*>(data), size);  // NULs end the format early
    if (!acceptable(format))
        return 0;

    static const DynString text("dyn\0string", 10);
    const FormatArg args[] = {
        FormatArg(0),
        FormatArg(-42),
        FormatArg(255),
        FormatArg(INT_MIN),
        FormatArg(INT_MAX),
        FormatArg(int64_t(0x123456789abcdef)),
        FormatArg('A'),
        FormatArg(3.14159),
        FormatArg(-0.001),
        FormatArg(1e300),
        FormatArg(std::numeric_limits<double>::quiet_NaN()),
        FormatArg(-std::numeric_limits<double>::infinity()),
        FormatArg("c string"),
        FormatArg(static_cast<const char*>(nullptr)),
        FormatArg(&text),
        FormatArg(static_cast<const DynString*>(nullptr)),
        FormatArg(7),
    };
    DynString out("prefix");
    try {
        out.appendFormatArgs(format.c_str(), args, static_cast<int>(sizeof args / sizeof args[0]));
    } catch (const rendova::MemoryException&) {
        // An absurd width (an argument of INT_MAX spaces) is refused this way.
    }
    if (std::memcmp(out.getCString(), "prefix", 6) != 0)
        __builtin_trap();
    if (out.getCString()[out.getLength()] != '\0')
        __builtin_trap();
    return 0;
}
