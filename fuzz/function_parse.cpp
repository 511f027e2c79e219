// Fuzzes PdfFunction::parse and evaluation: the first value of the input is
// the function (see FuzzValues.h); it is evaluated at inputs taken from the
// input's tail, and its copy once more.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "engine/content/PdfFunction.h"
#include "fuzz/FuzzValues.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    std::unique_ptr<PdfFunction> function = PdfFunction::parse(doc.value());
    if (!function)
        return 0;
    if (function->getInputCount() < 0 || function->getInputCount() > PdfFunction::kMaxInputs ||
        function->getOutputCount() < 0 || function->getOutputCount() > PdfFunction::kMaxOutputs)
        __builtin_trap();

    static const double kSpecial[] = {0,
                                      1,
                                      -1,
                                      0.5,
                                      1e300,
                                      -1e300,
                                      std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN()};
    double in[PdfFunction::kMaxInputs];
    double out[PdfFunction::kMaxOutputs];
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < PdfFunction::kMaxInputs; ++i) {
            const uint8_t b = data[(size - 1 - size_t(i + round)) % size];
            in[i] = b >= 0xf8 ? kSpecial[b - 0xf8] : (b - 64) / 64.0;
        }
        function->transform(in, out);
    }
    std::unique_ptr<PdfFunction> copy = function->copy();
    function.reset();
    copy->transform(in, out);
    return 0;
}
