#pragma once

// Test and benchmark data: a small linear congruential generator, and text
// shaped like page content (operators, coordinates, names and strings) that
// compresses as real content streams do.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rendova::test {

// The next value of the generator (24 bits) from its state.
inline uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Text shaped like page content: operators, coordinates, names and strings.
inline std::vector<uint8_t> contentLikeData(size_t size, uint32_t seed) {
    static const char* const kOps[] = {"BT", "ET", "q", "Q", "cm", "re f", "S",   "Tf", "Td", "Tj", "TJ",
                                       "Do", "rg", "w", "m", "l",  "h",    "W n", "gs", "Tm", "c"};
    static const char* const kWords[] = {"the",   "page",  "of",   "report",  "annual",  "figure",
                                         "table", "total", "and",  "revenue", "section", "results",
                                         "in",    "per",   "cent", "a"};
    std::vector<uint8_t> out;
    uint32_t r = seed;
    while (out.size() < size) {
        std::string line;
        const int numbers = nextRandom(r) % 6;
        for (int i = 0; i < numbers; ++i)
            line += std::to_string(nextRandom(r) % 800) + "." + std::to_string(nextRandom(r) % 100) + " ";
        if (nextRandom(r) % 3 == 0) {
            line += "(";
            const int words = 1 + nextRandom(r) % 8;
            for (int i = 0; i < words; ++i)
                line += std::string(kWords[nextRandom(r) % 16]) + (i + 1 < words ? " " : "");
            line += ") ";
        }
        if (nextRandom(r) % 5 == 0)
            line += "/F" + std::to_string(nextRandom(r) % 4) + " ";
        line += kOps[nextRandom(r) % 21];
        line += "\n";
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(size);
    return out;
}

}  // namespace rendova::test
