#include "engine/core/Jbig2HuffmanTable.h"

#include <array>

namespace rendova {

namespace {

// Prefix codes longer than this cannot be told apart by the 32-bit codes.
constexpr int kMaxPrefixLength = 32;

using Row = Jbig2HuffmanRow;
constexpr Row::Kind R = Row::kRange;
constexpr Row::Kind L = Row::kLower;
constexpr Row::Kind O = Row::kOutOfBand;

// The tables as the recommendation lists them: {low, prefix length, range
// length}; the upper range is an ordinary row of 32 range bits.
const std::vector<Row> kTables[15] = {
    {{0, 1, 4, R, 0}, {16, 2, 8, R, 0}, {272, 3, 16, R, 0}, {65808, 3, 32, R, 0}},
    {{0, 1, 0, R, 0},
     {1, 2, 0, R, 0},
     {2, 3, 0, R, 0},
     {3, 4, 3, R, 0},
     {11, 5, 6, R, 0},
     {75, 6, 32, R, 0},
     {0, 6, 0, O, 0}},
    {{-256, 8, 8, R, 0},
     {0, 1, 0, R, 0},
     {1, 2, 0, R, 0},
     {2, 3, 0, R, 0},
     {3, 4, 3, R, 0},
     {11, 5, 6, R, 0},
     {-257, 8, 32, L, 0},
     {75, 7, 32, R, 0},
     {0, 6, 0, O, 0}},
    {{1, 1, 0, R, 0}, {2, 2, 0, R, 0}, {3, 3, 0, R, 0}, {4, 4, 3, R, 0}, {12, 5, 6, R, 0}, {76, 5, 32, R, 0}},
    {{-255, 7, 8, R, 0},
     {1, 1, 0, R, 0},
     {2, 2, 0, R, 0},
     {3, 3, 0, R, 0},
     {4, 4, 3, R, 0},
     {12, 5, 6, R, 0},
     {-256, 7, 32, L, 0},
     {76, 6, 32, R, 0}},
    {{-2048, 5, 10, R, 0},
     {-1024, 4, 9, R, 0},
     {-512, 4, 8, R, 0},
     {-256, 4, 7, R, 0},
     {-128, 5, 6, R, 0},
     {-64, 5, 5, R, 0},
     {-32, 4, 5, R, 0},
     {0, 2, 7, R, 0},
     {128, 3, 7, R, 0},
     {256, 3, 8, R, 0},
     {512, 4, 9, R, 0},
     {1024, 4, 10, R, 0},
     {-2049, 6, 32, L, 0},
     {2048, 6, 32, R, 0}},
    {{-1024, 4, 9, R, 0},
     {-512, 3, 8, R, 0},
     {-256, 4, 7, R, 0},
     {-128, 5, 6, R, 0},
     {-64, 5, 5, R, 0},
     {-32, 4, 5, R, 0},
     {0, 4, 5, R, 0},
     {32, 5, 5, R, 0},
     {64, 5, 6, R, 0},
     {128, 4, 7, R, 0},
     {256, 3, 8, R, 0},
     {512, 3, 9, R, 0},
     {1024, 3, 10, R, 0},
     {-1025, 5, 32, L, 0},
     {2048, 5, 32, R, 0}},
    {{-15, 8, 3, R, 0}, {-7, 9, 1, R, 0},  {-5, 8, 1, R, 0},   {-3, 9, 0, R, 0},   {-2, 7, 0, R, 0},
     {-1, 4, 0, R, 0},  {0, 2, 1, R, 0},   {2, 5, 0, R, 0},    {3, 6, 0, R, 0},    {4, 3, 4, R, 0},
     {20, 6, 1, R, 0},  {22, 4, 4, R, 0},  {38, 4, 5, R, 0},   {70, 5, 6, R, 0},   {134, 5, 7, R, 0},
     {262, 6, 7, R, 0}, {390, 7, 8, R, 0}, {646, 6, 10, R, 0}, {-16, 9, 32, L, 0}, {1670, 9, 32, R, 0},
     {0, 2, 0, O, 0}},
    {{-31, 8, 4, R, 0},   {-15, 9, 2, R, 0}, {-11, 8, 2, R, 0}, {-7, 9, 1, R, 0},    {-5, 7, 1, R, 0},
     {-3, 4, 1, R, 0},    {-1, 3, 1, R, 0},  {1, 3, 1, R, 0},   {3, 5, 1, R, 0},     {5, 6, 1, R, 0},
     {7, 3, 5, R, 0},     {39, 6, 2, R, 0},  {43, 4, 5, R, 0},  {75, 4, 6, R, 0},    {139, 5, 7, R, 0},
     {267, 5, 8, R, 0},   {523, 6, 8, R, 0}, {779, 7, 9, R, 0}, {1291, 6, 11, R, 0}, {-32, 9, 32, L, 0},
     {3339, 9, 32, R, 0}, {0, 2, 0, O, 0}},
    {{-21, 7, 4, R, 0}, {-5, 8, 0, R, 0},    {-4, 7, 0, R, 0},    {-3, 5, 0, R, 0},   {-2, 2, 2, R, 0},
     {2, 5, 0, R, 0},   {3, 6, 0, R, 0},     {4, 7, 0, R, 0},     {5, 8, 0, R, 0},    {6, 2, 6, R, 0},
     {70, 5, 5, R, 0},  {102, 6, 5, R, 0},   {134, 6, 6, R, 0},   {198, 6, 7, R, 0},  {326, 6, 8, R, 0},
     {582, 6, 9, R, 0}, {1094, 6, 10, R, 0}, {2118, 7, 11, R, 0}, {-22, 8, 32, L, 0}, {4166, 8, 32, R, 0},
     {0, 2, 0, O, 0}},
    {{1, 1, 0, R, 0},
     {2, 2, 1, R, 0},
     {4, 4, 0, R, 0},
     {5, 4, 1, R, 0},
     {7, 5, 1, R, 0},
     {9, 5, 2, R, 0},
     {13, 6, 2, R, 0},
     {17, 7, 2, R, 0},
     {21, 7, 3, R, 0},
     {29, 7, 4, R, 0},
     {45, 7, 5, R, 0},
     {77, 7, 6, R, 0},
     {141, 7, 32, R, 0}},
    {{1, 1, 0, R, 0},
     {2, 2, 0, R, 0},
     {3, 3, 1, R, 0},
     {5, 5, 0, R, 0},
     {6, 5, 1, R, 0},
     {8, 6, 1, R, 0},
     {10, 7, 0, R, 0},
     {11, 7, 1, R, 0},
     {13, 7, 2, R, 0},
     {17, 7, 3, R, 0},
     {25, 7, 4, R, 0},
     {41, 8, 5, R, 0},
     {73, 8, 32, R, 0}},
    {{1, 1, 0, R, 0},
     {2, 3, 0, R, 0},
     {3, 4, 0, R, 0},
     {4, 5, 0, R, 0},
     {5, 4, 1, R, 0},
     {7, 3, 3, R, 0},
     {15, 6, 1, R, 0},
     {17, 6, 2, R, 0},
     {21, 6, 3, R, 0},
     {29, 6, 4, R, 0},
     {45, 6, 5, R, 0},
     {77, 7, 6, R, 0},
     {141, 7, 32, R, 0}},
    {{-2, 3, 0, R, 0}, {-1, 3, 0, R, 0}, {0, 1, 0, R, 0}, {1, 3, 0, R, 0}, {2, 3, 0, R, 0}},
    {{-24, 7, 4, R, 0},
     {-8, 6, 2, R, 0},
     {-4, 5, 1, R, 0},
     {-2, 4, 0, R, 0},
     {-1, 3, 0, R, 0},
     {0, 1, 0, R, 0},
     {1, 3, 0, R, 0},
     {2, 4, 0, R, 0},
     {3, 5, 1, R, 0},
     {5, 6, 2, R, 0},
     {9, 7, 4, R, 0},
     {-25, 7, 32, L, 0},
     {25, 7, 32, R, 0}},
};

}  // namespace

bool buildHuffmanCodes(Jbig2HuffmanTable& table) {
    std::array<uint32_t, kMaxPrefixLength + 1> counts{};
    for (const Row& row : table.rows) {
        if (row.prefixLength < 0 || row.prefixLength > kMaxPrefixLength)
            return false;
        if (row.prefixLength > 0)
            ++counts[size_t(row.prefixLength)];
    }
    // counts[0] stays out: rows without a prefix take no code.
    std::vector<Row> sorted;
    sorted.reserve(table.rows.size());
    uint64_t first = 0;
    for (int length = 1; length <= kMaxPrefixLength; ++length) {
        first = (first + (length > 1 ? counts[size_t(length - 1)] : 0)) << 1;
        table.start[length] = uint32_t(sorted.size());
        uint64_t next = first;
        for (Row row : table.rows) {
            if (row.prefixLength != length)
                continue;
            row.code = uint32_t(next++);
            sorted.push_back(row);
        }
    }
    table.start[kMaxPrefixLength + 1] = uint32_t(sorted.size());
    table.rows = std::move(sorted);
    return true;
}

HuffmanResult decodeHuffman(Jbig2BitReader& reader, const Jbig2HuffmanTable& table, int64_t* value) {
    uint32_t code = 0;
    for (int length = 1; length <= kMaxPrefixLength; ++length) {
        code = (code << 1) | uint32_t(reader.readBit());
        const uint32_t begin = table.start[length];
        const uint32_t count = table.start[length + 1] - begin;
        if (count && code - table.rows[begin].code < count) {
            const Row& row = table.rows[begin + (code - table.rows[begin].code)];
            if (row.kind == Row::kOutOfBand)
                return HuffmanResult::kOutOfBand;
            const int64_t offset = reader.readBits(row.rangeLength);
            *value = row.kind == Row::kLower ? int64_t(row.low) - offset : int64_t(row.low) + offset;
            return HuffmanResult::kValue;
        }
        if (reader.pastEnd())
            break;
    }
    return HuffmanResult::kNoCode;
}

const Jbig2HuffmanTable& standardHuffmanTable(int number) {
    static const std::array<Jbig2HuffmanTable, 15> tables = [] {
        std::array<Jbig2HuffmanTable, 15> built;
        for (size_t i = 0; i < built.size(); ++i) {
            built[i].rows = kTables[i];
            buildHuffmanCodes(built[i]);
        }
        return built;
    }();
    return tables[size_t(number < 1 || number > 15 ? 0 : number - 1)];
}

}  // namespace rendova
