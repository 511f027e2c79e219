#pragma once

#include <cstdint>

namespace rendova {

// One record of a NameCodeTable, in an array that the caller keeps (usually
// static). `next` belongs to the table: build threads the buckets through it.
struct NameCodeRecord {
    const char* name;
    uint16_t code;
    NameCodeRecord* next;
};

// A fixed hash over a caller's array of name/code records, with as many
// buckets as records. Among records of equal hash the last of the array is
// found first. The records are not copied or freed; they must outlive the
// table, and one array serves one table at a time. Lookups may run on any
// thread once built; throws MemoryException when memory runs out.
class NameCodeTable {
public:
    NameCodeTable() = default;
    ~NameCodeTable();
    NameCodeTable(const NameCodeTable&) = delete;
    NameCodeTable& operator=(const NameCodeTable&) = delete;

    void build(NameCodeRecord* records, int count);
    // 1 with the name's code, or 0 when the name is absent (always 0 for a
    // table of no records).
    int lookup(const char* name, uint16_t* code) const;

private:
    NameCodeRecord** m_buckets = nullptr;
    int m_bucketCount = 0;
};

}  // namespace rendova
