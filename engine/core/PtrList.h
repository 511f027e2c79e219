#pragma once

#include <cassert>

namespace rendova {

// A growable array of pointers. It never owns the pointed-to items: the
// destructor frees the slot array only. Starts with 8 slots; grows when full
// by `increment` slots, or doubles when the increment is 0 or less; after a
// removal it gives back s slots (s = the increment, or half the capacity) when
// at least s are free. One thread at a time; throws MemoryException when
// memory runs out.
//
// PtrListBase holds the untyped slots; PtrList<T> is the typed face.
class PtrListBase {
public:
    explicit PtrListBase(int increment = 0);
    ~PtrListBase();
    PtrListBase(const PtrListBase&) = delete;
    PtrListBase& operator=(const PtrListBase&) = delete;

    int getLength() const { return m_length; }
    int getCapacity() const { return m_capacity; }

protected:
    void appendItem(void* item);
    // Removes the item at index and moves the later ones down one place.
    void* deleteItem(int index);
    void* item(int index) const {
        assert(index >= 0 && index < m_length);
        return m_items[index];
    }

private:
    void grow();
    void shrink();

    void** m_items;
    int m_capacity;
    int m_length = 0;
    int m_increment;
};

template <typename T>
class PtrList : public PtrListBase {
public:
    explicit PtrList(int increment = 0) : PtrListBase(increment) {}

    T* get(int index) const { return static_cast<T*>(item(index)); }
    void append(T* item) { appendItem(const_cast<void*>(static_cast<const void*>(item))); }
    // Returns the removed pointer.
    T* del(int index) { return static_cast<T*>(deleteItem(index)); }
};

}  // namespace rendova
