#pragma once

#include <cstdint>
#include <type_traits>

// The one numeric-safety toolkit of the tree. It lives below every layer
// because the engine and the image library both read numbers from files and
// neither may include the other. Header-only, no state, never throws: callers
// decide what an overflow means (the engine throws MemoryException, a codec
// refuses the file).

namespace rendova {

// a + b into *result; false, leaving *result unspecified, when the sum does
// not fit T. Sizes read from files go through this (or the wider type)
// before they reach an allocation, a loop bound or an index.
template <typename T>
[[nodiscard]] constexpr bool tryAdd(T a, T b, T* result) {
    static_assert(std::is_integral_v<T>);
    return !__builtin_add_overflow(a, b, result);
}

// a x b into *result; false when the product does not fit T.
template <typename T>
[[nodiscard]] constexpr bool tryMul(T a, T b, T* result) {
    static_assert(std::is_integral_v<T>);
    return !__builtin_mul_overflow(a, b, result);
}

// ceil(a / b) for unsigned a and b > 0, without the overflow of a + b - 1.
template <typename T>
[[nodiscard]] constexpr T ceilDiv(T a, T b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

// The one conversion of a double to an integer, wherever a value is
// truncated toward zero: NaN gives 0 and a value beyond the int range gives
// the nearest limit. A plain cast of NaN, of an infinity or of a value out of
// range is undefined, and files produce all three (a singular matrix, 0/0 in
// a calculator function, an absurd number in a colour operand or a TIFF
// resolution).
[[nodiscard]] constexpr int saturateToInt(double v) {
    if (v != v)
        return 0;
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int>(v);
}

// 16.16 fixed point: a signed 32-bit value with 0x10000 as 1.0.
constexpr int kFixedOne = 0x10000;

// A double as a 16.16 fixed-point value: times 65536, truncated toward zero,
// saturated as above.
[[nodiscard]] constexpr int fixedFromDouble(double v) {
    return saturateToInt(v * 65536.0);
}

// A 16.16 fixed-point value as a double; exact for every int.
[[nodiscard]] constexpr double fixedToDouble(int v) {
    return v / 65536.0;
}

}  // namespace rendova
