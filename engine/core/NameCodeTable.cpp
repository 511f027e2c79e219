#include "engine/core/NameCodeTable.h"

#include <cstring>

#include "engine/core/KeyHash.h"
#include "engine/core/Memory.h"

namespace rendova {

NameCodeTable::~NameCodeTable() {
    memFree(m_buckets);
}

void NameCodeTable::build(NameCodeRecord* records, int count) {
    if (count < 0)
        count = 0;
    NameCodeRecord** buckets = static_cast<NameCodeRecord**>(memAllocArray(count, sizeof(NameCodeRecord*)));
    for (int i = 0; i < count; ++i)
        buckets[i] = nullptr;
    for (int i = 0; i < count; ++i) {
        uint32_t b = keyHash(records[i].name) % static_cast<uint32_t>(count);
        records[i].next = buckets[b];
        buckets[b] = &records[i];
    }
    memFree(m_buckets);
    m_buckets = buckets;
    m_bucketCount = count;
}

int NameCodeTable::lookup(const char* name, uint16_t* code) const {
    // With no records there are no buckets to take a hash modulo.
    if (m_bucketCount <= 0)
        return 0;
    uint32_t b = keyHash(name) % static_cast<uint32_t>(m_bucketCount);
    for (const NameCodeRecord* record = m_buckets[b]; record; record = record->next) {
        if (std::strcmp(record->name, name) == 0) {
            *code = record->code;
            return 1;
        }
    }
    return 0;
}

}  // namespace rendova
