#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace rendova::test {

// A reader of the EMF and WMF files our metafile writer makes, written from
// the published record formats, so that tests can check every record's size
// and fields. It checks the framing (record sizes that add up to the file)
// and leaves the meaning to the tests.

inline uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
    return at + 2 <= b.size() ? uint16_t(b[at] | b[at + 1] << 8) : 0;
}
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return at + 4 <= b.size() ? uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                                    uint32_t(b[at + 3]) << 24
                              : 0;
}
inline int32_t les32(const std::vector<uint8_t>& b, size_t at) {
    return int32_t(le32(b, at));
}
inline int16_t les16(const std::vector<uint8_t>& b, size_t at) {
    return int16_t(le16(b, at));
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One record: its type (EMF) or function (WMF), where it starts in the file
// and its size in bytes.
struct MetaRecord {
    uint32_t type = 0;
    size_t offset = 0;
    size_t size = 0;
};

// The records of an EMF file, header first; empty when the framing is
// broken (a size that is not a multiple of 4, or that runs past the file, or
// no end-of-file record last).
inline std::vector<MetaRecord> emfRecords(const std::vector<uint8_t>& file) {
    std::vector<MetaRecord> records;
    size_t at = 0;
    while (at + 8 <= file.size()) {
        const uint32_t type = le32(file, at);
        const uint32_t size = le32(file, at + 4);
        if (size < 8 || size % 4 != 0 || at + size > file.size())
            return {};
        records.push_back({type, at, size});
        at += size;
        if (type == 14)
            break;
    }
    if (at != file.size() || records.empty() || records.back().type != 14)
        return {};
    return records;
}

// The records of a WMF file after its placeable and metafile headers
// (offset 40); empty when the framing is broken.
inline std::vector<MetaRecord> wmfRecords(const std::vector<uint8_t>& file) {
    std::vector<MetaRecord> records;
    size_t at = 40;
    while (at + 6 <= file.size()) {
        const uint64_t size = uint64_t(le32(file, at)) * 2;
        const uint16_t function = le16(file, at + 4);
        if (size < 6 || at + size > file.size())
            return {};
        records.push_back({function, at, size_t(size)});
        at += size_t(size);
        if (function == 0)
            break;
    }
    if (at != file.size() || records.empty() || records.back().type != 0)
        return {};
    return records;
}

}  // namespace rendova::test
