#pragma once

namespace rendova {

// An open-addressing table from C-string names to integers. Starts with 31
// slots and grows to 2n + 1 before an insertion that finds it half full, so
// that a probe always reaches an empty slot. Names are copied on first
// insertion and owned by the table. One thread at a time; throws
// MemoryException when memory runs out.
class NameToIntMap {
public:
    NameToIntMap();
    ~NameToIntMap();
    NameToIntMap(const NameToIntMap&) = delete;
    NameToIntMap& operator=(const NameToIntMap&) = delete;

    // Inserts the name with its value, or gives an existing name the new value.
    void add(const char* name, int value);
    // The name's value, or 0 when it is absent.
    int lookup(const char* name) const;

    int getCount() const { return m_count; }
    int getCapacity() const { return m_capacity; }

private:
    struct Slot {
        char* key;
        int value;
    };

    // The slot holding the name, or the empty slot where it would go.
    int probe(const char* name) const;
    void grow();

    Slot* m_slots;
    int m_capacity;
    int m_count = 0;
};

}  // namespace rendova
