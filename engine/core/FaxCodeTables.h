#pragma once

#include <array>
#include <cstdint>

namespace rendova {

// The prefix codes of bilevel facsimile coding: the white and black run
// codes (terminating codes for runs of 0 to 63, make-up codes for multiples
// of 64, and the extended make-up codes of 1792 to 2560 that both colours
// share) and the two-dimensional mode codes. The fax decoder and the JBIG2
// MMR reader both read them, so they live here once.
//
// Each look-up takes the next bits of the input, most significant bit first
// (zeros below the last bit when the input holds fewer), and answers in one
// index. The tables are constant data built at compile time; the look-ups
// are safe from any thread.
struct FaxCode {
    // Bits the code takes; 0 when no code begins with the bits given.
    int16_t length;
    // Run length, or one of the FaxMode values.
    int16_t value;
};

// The values of the mode codes. The seven vertical modes are consecutive,
// so that value - kFaxVertical0 is the offset of a1 from b1.
enum FaxMode : int16_t {
    kFaxPass = 0,
    kFaxHorizontal = 1,
    kFaxVerticalLeft3 = 2,
    kFaxVerticalLeft2 = 3,
    kFaxVerticalLeft1 = 4,
    kFaxVertical0 = 5,
    kFaxVerticalRight1 = 6,
    kFaxVerticalRight2 = 7,
    kFaxVerticalRight3 = 8,
};

// The longest codes of each table: what one look-up needs to see.
constexpr int kFaxModeBits = 7;
constexpr int kFaxWhiteBits = 12;
constexpr int kFaxBlackBits = 13;
// A run value below this ends the run; larger ones are make-up codes that
// a terminating code must follow.
constexpr int kFaxFirstMakeUp = 64;
// The end-of-line code: eleven 0 bits and a 1. It is no run or mode code,
// so the look-ups answer 0 for it.
constexpr int kFaxEolBits = 12;
constexpr uint32_t kFaxEolCode = 1;

namespace faxtables {
extern const std::array<FaxCode, 128> kMode;
// White codes whose first seven bits are 0 (the extended make-up codes),
// by the last five of twelve bits; all others by their first nine bits.
extern const std::array<FaxCode, 32> kWhiteLong;
extern const std::array<FaxCode, 512> kWhiteShort;
// Black codes whose first four bits are 0, by the last nine of thirteen
// bits; all others (none longer than six bits) by their first six bits.
extern const std::array<FaxCode, 512> kBlackLong;
extern const std::array<FaxCode, 64> kBlackShort;
}  // namespace faxtables

inline FaxCode lookupFaxMode(uint32_t next7) { return faxtables::kMode[next7 & 0x7f]; }

inline FaxCode lookupFaxWhite(uint32_t next12) {
    next12 &= 0xfff;
    return next12 < 0x20 ? faxtables::kWhiteLong[next12] : faxtables::kWhiteShort[next12 >> 3];
}

inline FaxCode lookupFaxBlack(uint32_t next13) {
    next13 &= 0x1fff;
    return next13 < 0x200 ? faxtables::kBlackLong[next13] : faxtables::kBlackShort[next13 >> 7];
}

}  // namespace rendova
