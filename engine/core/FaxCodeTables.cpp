#include "engine/core/FaxCodeTables.h"

#include <array>
#include <cstddef>

namespace rendova {

namespace {

// One code as written in the coding tables: its bits, first bit first.
struct CodeWord {
    const char* bits;
    int16_t value;
};

constexpr CodeWord kModeCodes[] = {
    {"0001", kFaxPass},           {"001", kFaxHorizontal},        {"1", kFaxVertical0},
    {"011", kFaxVerticalRight1},  {"000011", kFaxVerticalRight2}, {"0000011", kFaxVerticalRight3},
    {"010", kFaxVerticalLeft1},   {"000010", kFaxVerticalLeft2},  {"0000010", kFaxVerticalLeft3},
};

// Make-up codes from 1792 to 2560, the same for white and black runs.
constexpr CodeWord kExtendedMakeUpCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

constexpr CodeWord kWhiteCodes[] = {
    {"00110101", 0},    {"000111", 1},      {"0111", 2},        {"1000", 3},        {"1011", 4},
    {"1100", 5},        {"1110", 6},        {"1111", 7},        {"10011", 8},       {"10100", 9},
    {"00111", 10},      {"01000", 11},      {"001000", 12},     {"000011", 13},     {"110100", 14},
    {"110101", 15},     {"101010", 16},     {"101011", 17},     {"0100111", 18},    {"0001100", 19},
    {"0001000", 20},    {"0010111", 21},    {"0000011", 22},    {"0000100", 23},    {"0101000", 24},
    {"0101011", 25},    {"0010011", 26},    {"0100100", 27},    {"0011000", 28},    {"00000010", 29},
    {"00000011", 30},   {"00011010", 31},   {"00011011", 32},   {"00010010", 33},   {"00010011", 34},
    {"00010100", 35},   {"00010101", 36},   {"00010110", 37},   {"00010111", 38},   {"00101000", 39},
    {"00101001", 40},   {"00101010", 41},   {"00101011", 42},   {"00101100", 43},   {"00101101", 44},
    {"00000100", 45},   {"00000101", 46},   {"00001010", 47},   {"00001011", 48},   {"01010010", 49},
    {"01010011", 50},   {"01010100", 51},   {"01010101", 52},   {"00100100", 53},   {"00100101", 54},
    {"01011000", 55},   {"01011001", 56},   {"01011010", 57},   {"01011011", 58},   {"01001010", 59},
    {"01001011", 60},   {"00110010", 61},   {"00110011", 62},   {"00110100", 63},
    {"11011", 64},      {"10010", 128},     {"010111", 192},    {"0110111", 256},   {"00110110", 320},
    {"00110111", 384},  {"01100100", 448},  {"01100101", 512},  {"01101000", 576},  {"01100111", 640},
    {"011001100", 704}, {"011001101", 768}, {"011010010", 832}, {"011010011", 896}, {"011010100", 960},
    {"011010101", 1024}, {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216},
    {"011011001", 1280}, {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472},
    {"010011001", 1536}, {"010011010", 1600}, {"011000", 1664},  {"010011011", 1728},
};

constexpr CodeWord kBlackCodes[] = {
    {"0000110111", 0},     {"010", 1},            {"11", 2},             {"10", 3},
    {"011", 4},            {"0011", 5},           {"0010", 6},           {"00011", 7},
    {"000101", 8},         {"000100", 9},         {"0000100", 10},       {"0000101", 11},
    {"0000111", 12},       {"00000100", 13},      {"00000111", 14},      {"000011000", 15},
    {"0000010111", 16},    {"0000011000", 17},    {"0000001000", 18},    {"00001100111", 19},
    {"00001101000", 20},   {"00001101100", 21},   {"00000110111", 22},   {"00000101000", 23},
    {"00000010111", 24},   {"00000011000", 25},   {"000011001010", 26},  {"000011001011", 27},
    {"000011001100", 28},  {"000011001101", 29},  {"000001101000", 30},  {"000001101001", 31},
    {"000001101010", 32},  {"000001101011", 33},  {"000011010010", 34},  {"000011010011", 35},
    {"000011010100", 36},  {"000011010101", 37},  {"000011010110", 38},  {"000011010111", 39},
    {"000001101100", 40},  {"000001101101", 41},  {"000011011010", 42},  {"000011011011", 43},
    {"000001010100", 44},  {"000001010101", 45},  {"000001010110", 46},  {"000001010111", 47},
    {"000001100100", 48},  {"000001100101", 49},  {"000001010010", 50},  {"000001010011", 51},
    {"000000100100", 52},  {"000000110111", 53},  {"000000111000", 54},  {"000000100111", 55},
    {"000000101000", 56},  {"000001011000", 57},  {"000001011001", 58},  {"000000101011", 59},
    {"000000101100", 60},  {"000001011010", 61},  {"000001100110", 62},  {"000001100111", 63},
    {"0000001111", 64},    {"000011001000", 128}, {"000011001001", 192}, {"000001011011", 256},
    {"000000110011", 320}, {"000000110100", 384}, {"000000110101", 448}, {"0000001101100", 512},
    {"0000001101101", 576},  {"0000001001010", 640},  {"0000001001011", 704},  {"0000001001100", 768},
    {"0000001001101", 832},  {"0000001110010", 896},  {"0000001110011", 960},  {"0000001110100", 1024},
    {"0000001110101", 1088}, {"0000001110110", 1152}, {"0000001110111", 1216}, {"0000001010010", 1280},
    {"0000001010011", 1344}, {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536},
    {"0000001011011", 1600}, {"0000001100100", 1664}, {"0000001100101", 1728},
};

constexpr int bitCount(const char* bits) {
    int n = 0;
    while (bits[n]) ++n;
    return n;
}

// The code as a number of width bits, its first bit highest.
constexpr uint32_t leftAligned(const char* bits, int width) {
    uint32_t v = 0;
    for (int n = 0; bits[n]; ++n) v = (v << 1) | uint32_t(bits[n] == '1');
    return v << (width - bitCount(bits));
}

// Enters the codes into a direct table over width-bit inputs. A table of the
// long codes (zeroPrefix > 0) takes the inputs whose first zeroPrefix bits
// are 0, indexed by the remaining bits; the table of the short codes takes
// all other inputs (skipping the codes that begin with skipPrefix zeros, when
// skipPrefix > 0), indexed by their first indexBits bits. Two codes on one
// slot (a list that is not prefix-free) or a code too long for its table
// stop the compilation.
template <size_t N, size_t M>
constexpr void enter(std::array<FaxCode, N>& table, const CodeWord (&codes)[M], int width, int zeroPrefix,
                     int skipPrefix, int indexBits) {
    for (const CodeWord& code : codes) {
        const int length = bitCount(code.bits);
        const uint32_t v = leftAligned(code.bits, width);
        uint32_t first = 0, count = 0;
        if (zeroPrefix > 0) {
            if ((v >> (width - zeroPrefix)) != 0) continue;
            first = v;
            count = 1u << (width - length);
        } else {
            if (skipPrefix > 0 && (v >> (width - skipPrefix)) == 0) continue;
            if (length > indexBits) throw "code longer than its table";
            first = v >> (width - indexBits);
            count = 1u << (indexBits - length);
        }
        for (uint32_t i = first; i < first + count; ++i) {
            if (i >= N) throw "code outside its table";
            if (table[i].length != 0) throw "codes overlap";
            table[i] = {int16_t(length), code.value};
        }
    }
}

template <size_t N>
constexpr std::array<FaxCode, N> modeTable() {
    std::array<FaxCode, N> table{};
    enter(table, kModeCodes, kFaxModeBits, 0, 0, kFaxModeBits);
    return table;
}

template <size_t N, size_t M>
constexpr std::array<FaxCode, N> runTable(const CodeWord (&codes)[M], int width, int zeroPrefix, int skipPrefix,
                                          int indexBits) {
    std::array<FaxCode, N> table{};
    enter(table, codes, width, zeroPrefix, skipPrefix, indexBits);
    enter(table, kExtendedMakeUpCodes, width, zeroPrefix, skipPrefix, indexBits);
    return table;
}

}  // namespace

namespace faxtables {

constexpr std::array<FaxCode, 128> kMode = modeTable<128>();
constexpr std::array<FaxCode, 32> kWhiteLong = runTable<32>(kWhiteCodes, kFaxWhiteBits, 7, 0, 0);
constexpr std::array<FaxCode, 512> kWhiteShort = runTable<512>(kWhiteCodes, kFaxWhiteBits, 0, 7, 9);
constexpr std::array<FaxCode, 512> kBlackLong = runTable<512>(kBlackCodes, kFaxBlackBits, 4, 0, 0);
constexpr std::array<FaxCode, 64> kBlackShort = runTable<64>(kBlackCodes, kFaxBlackBits, 0, 4, 6);

}  // namespace faxtables

}  // namespace rendova
