#pragma once

#include <cstdint>

namespace rendova {

// The engine's one conversion of a double to an integer, wherever a value is
// truncated toward zero: NaN gives 0 and a value beyond the int range gives
// the nearest limit. A plain cast of NaN, of an infinity or of a value out of
// range is undefined, and documents produce all three (a singular matrix, 0/0
// in a calculator function, an absurd number in a colour operand).
inline int saturateToInt(double v) {
    if (v != v)
        return 0;
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int>(v);
}

// A double as a 16.16 fixed-point value: times 65536, truncated toward zero,
// saturated as above.
inline int fixedFromDouble(double v) {
    return saturateToInt(v * 65536.0);
}

}  // namespace rendova
