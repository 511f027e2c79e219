#pragma once

// Builds TrueType (sfnt) files for tests: tables in, file out, with an
// honest directory (checksums are computed but the head adjustment is left
// as given). Also splits an existing file into its tables, so that a test can
// damage a real font in one place.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rendova::test {

using Bytes = std::vector<uint8_t>;

inline void be16(Bytes& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void be32(Bytes& b, uint32_t v) {
    be16(b, v >> 16);
    be16(b, v & 0xffff);
}
inline void set16(Bytes& b, size_t pos, unsigned v) {
    b[pos] = static_cast<uint8_t>(v >> 8);
    b[pos + 1] = static_cast<uint8_t>(v);
}
inline void set32(Bytes& b, size_t pos, uint32_t v) {
    set16(b, pos, v >> 16);
    set16(b, pos + 2, v & 0xffff);
}
inline unsigned get16(const Bytes& b, size_t pos) {
    return (unsigned{b[pos]} << 8) | b[pos + 1];
}
inline uint32_t get32(const Bytes& b, size_t pos) {
    return (uint32_t{get16(b, pos)} << 16) | get16(b, pos + 2);
}

// Tables by tag; the map keeps them sorted as a directory should be.
using Tables = std::map<std::string, Bytes>;

inline Tables splitSfnt(const Bytes& file) {
    Tables tables;
    unsigned count = get16(file, 4);
    for (unsigned i = 0; i < count; ++i) {
        size_t record = 12 + 16 * size_t{i};
        std::string tag(reinterpret_cast<const char*>(&file[record]), 4);
        uint32_t offset = get32(file, record + 8);
        uint32_t length = get32(file, record + 12);
        tables[tag] = Bytes(file.begin() + offset, file.begin() + offset + length);
    }
    return tables;
}

// A file of the tables. `lengthOverride` gives a table's directory length
// instead of its size (to make a damaged directory).
inline Bytes buildSfnt(const Tables& tables, uint32_t version = 0x00010000,
                       const std::map<std::string, uint32_t>& lengthOverride = {}) {
    Bytes file;
    be32(file, version);
    be16(file, static_cast<unsigned>(tables.size()));
    be16(file, 0);
    be16(file, 0);
    be16(file, 0);
    size_t offset = 12 + 16 * tables.size();
    for (const auto& [tag, bytes] : tables) {
        for (char c : tag)
            file.push_back(static_cast<uint8_t>(c));
        uint32_t sum = 0;
        for (size_t i = 0; i < bytes.size(); i += 4) {
            uint32_t word = 0;
            for (size_t j = 0; j < 4; ++j)
                word = (word << 8) | (i + j < bytes.size() ? bytes[i + j] : 0);
            sum += word;
        }
        be32(file, sum);
        be32(file, static_cast<uint32_t>(offset));
        auto over = lengthOverride.find(tag);
        be32(file, over != lengthOverride.end() ? over->second : static_cast<uint32_t>(bytes.size()));
        offset += (bytes.size() + 3) & ~size_t{3};
    }
    for (const auto& entry : tables) {
        const Bytes& bytes = entry.second;
        file.insert(file.end(), bytes.begin(), bytes.end());
        file.resize((file.size() + 3) & ~size_t{3}, 0);
    }
    return file;
}

}  // namespace rendova::test
