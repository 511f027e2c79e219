#pragma once

#include <utility>

#include "platform/CriticalSection.h"

namespace rendova {

// Base of the objects the engine shares by reference count (arrays,
// dictionaries, streams, CMaps, Unicode maps). The count starts at 1 for the
// creator's reference; the object deletes itself when the count drops to 0.
// Counts are plain integers: a shared object belongs to one thread at a time.
// Only RefPtr, which holds the references, changes the count.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    void incRef() { ++m_refs; }
    void decRef() {
        if (--m_refs == 0)
            delete this;
    }
    int refCount() const { return m_refs; }

protected:
    virtual ~RefCounted() = default;

private:
    int m_refs = 1;
};

// Base of the shared objects that holders on different threads may add and
// drop references to (CMaps, code-to-Unicode maps, which the settings' caches
// hand to the fonts of any document): the count is guarded by a lock of the
// object's own. Otherwise as RefCounted: the count starts at 1 for the
// creator's reference, and only RefPtr changes it.
class LockedRefCounted {
public:
    LockedRefCounted() = default;
    LockedRefCounted(const LockedRefCounted&) = delete;
    LockedRefCounted& operator=(const LockedRefCounted&) = delete;

    void incRef() {
        platform::CriticalSectionLock lock(m_refLock);
        ++m_refs;
    }
    void decRef() {
        bool last;
        {
            platform::CriticalSectionLock lock(m_refLock);
            last = --m_refs == 0;
        }
        if (last)
            delete this;
    }

protected:
    virtual ~LockedRefCounted() = default;

private:
    int m_refs = 1;
    platform::CriticalSection m_refLock;
};

// An owning reference to a RefCounted object. Construct it with adopt() to
// take over the creator's reference (the count stays), or from a plain pointer
// to add a reference.
template <typename T>
class RefPtr {
public:
    RefPtr() = default;
    RefPtr(std::nullptr_t) {}
    explicit RefPtr(T* object) : m_object(object) {
        if (m_object)
            m_object->incRef();
    }
    static RefPtr adopt(T* object) {
        RefPtr ref;
        ref.m_object = object;
        return ref;
    }
    RefPtr(const RefPtr& other) : RefPtr(other.m_object) {}
    RefPtr(RefPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    template <typename U>
    RefPtr(RefPtr<U>&& other) noexcept : m_object(other.release()) {}
    ~RefPtr() { reset(); }

    RefPtr& operator=(RefPtr other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }

    void reset() {
        if (m_object)
            std::exchange(m_object, nullptr)->decRef();
    }
    // Gives up the reference without changing the count.
    T* release() { return std::exchange(m_object, nullptr); }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

}  // namespace rendova
