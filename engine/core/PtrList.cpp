#include "engine/core/PtrList.h"

#include <cstring>

#include "engine/core/Memory.h"

namespace rendova {

namespace {
constexpr int kInitialSlots = 8;
}

PtrListBase::PtrListBase(int increment)
    : m_items(static_cast<void**>(memAllocArray(kInitialSlots, sizeof(void*)))),
      m_capacity(kInitialSlots),
      m_increment(increment) {}

PtrListBase::~PtrListBase() {
    memFree(m_items);
}

void PtrListBase::grow() {
    int step = m_increment > 0 ? m_increment : m_capacity;
    // A list shrunk to no slots by its increment still has one to double.
    if (step < 1)
        step = 1;
    int capacity = checkedAdd(m_capacity, step);
    m_items = static_cast<void**>(memReallocArray(m_items, capacity, sizeof(void*)));
    m_capacity = capacity;
}

void PtrListBase::shrink() {
    int step = m_increment > 0 ? m_increment : m_capacity / 2;
    if (step < 1 || m_capacity - m_length < step)
        return;
    int capacity = m_capacity - step;
    // memReallocArray frees the array and returns null when no slot remains.
    m_items = static_cast<void**>(memReallocArray(m_items, capacity, sizeof(void*)));
    m_capacity = capacity;
}

void PtrListBase::appendItem(void* item) {
    if (m_length >= m_capacity)
        grow();
    m_items[m_length++] = item;
}

void* PtrListBase::deleteItem(int index) {
    assert(index >= 0 && index < m_length);
    void* removed = m_items[index];
    std::memmove(m_items + index, m_items + index + 1,
                 sizeof(void*) * static_cast<size_t>(m_length - index - 1));
    --m_length;
    shrink();
    return removed;
}

}  // namespace rendova
