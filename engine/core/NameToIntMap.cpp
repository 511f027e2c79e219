#include "engine/core/NameToIntMap.h"

#include <cstring>

#include "engine/core/KeyHash.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {
constexpr int kInitialSlots = 31;
}

NameToIntMap::NameToIntMap()
    : m_slots(static_cast<Slot*>(memAllocArray(kInitialSlots, sizeof(Slot)))), m_capacity(kInitialSlots) {
    for (int i = 0; i < m_capacity; ++i)
        m_slots[i] = Slot{nullptr, 0};
}

NameToIntMap::~NameToIntMap() {
    for (int i = 0; i < m_capacity; ++i)
        memFree(m_slots[i].key);
    memFree(m_slots);
}

int NameToIntMap::probe(const char* name) const {
    int i = static_cast<int>(keyHash(name) % static_cast<uint32_t>(m_capacity));
    while (m_slots[i].key && std::strcmp(m_slots[i].key, name) != 0) {
        if (++i == m_capacity)
            i = 0;
    }
    return i;
}

void NameToIntMap::grow() {
    int oldCapacity = m_capacity;
    Slot* oldSlots = m_slots;
    int capacity = checkedAdd(checkedMul(oldCapacity, 2), 1);
    m_slots = static_cast<Slot*>(memAllocArray(capacity, sizeof(Slot)));
    m_capacity = capacity;
    for (int i = 0; i < capacity; ++i)
        m_slots[i] = Slot{nullptr, 0};
    for (int i = 0; i < oldCapacity; ++i) {
        if (oldSlots[i].key)
            m_slots[probe(oldSlots[i].key)] = oldSlots[i];
    }
    memFree(oldSlots);
}

void NameToIntMap::add(const char* name, int value) {
    if (m_count >= m_capacity / 2)
        grow();
    Slot& slot = m_slots[probe(name)];
    if (!slot.key) {
        slot.key = copyString(name);
        ++m_count;
    }
    slot.value = value;
}

int NameToIntMap::lookup(const char* name) const {
    const Slot& slot = m_slots[probe(name)];
    return slot.key ? slot.value : 0;
}

}  // namespace rendova
