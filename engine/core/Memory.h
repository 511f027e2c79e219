#pragma once

#include <cstddef>
#include <memory>
#include <utility>

namespace rendova {

// Thrown by value whenever the engine cannot get memory or is asked for a size
// that overflows. It carries no message; only the exported functions catch it.
class MemoryException {};

// The engine's checked allocation routines. Sizes and counts are signed 32-bit,
// as every size in the engine is; a size of 0 or less is "nothing".
void* memAlloc(int size);
void* memRealloc(void* block, int size);
void* memAllocArray(int count, int size);
void* memReallocArray(void* block, int count, int size);
void memFree(void* block);

// Blocks of a page's size (a page bitmap, its alpha plane, a group's
// backdrop). From 1 MB up they are mapped from the system on a 2 MB boundary
// and marked for huge pages, so that writing one first takes a fault per 2 MB
// rather than per 4 KB: on a fresh process those faults were a large share of
// the first page's time. A freed block is kept for a later request that it
// fits, so that the pages of a document and their groups reuse a few blocks
// instead of faulting fresh ones. Smaller blocks come from memAlloc. The
// contents of a new block are undefined. `memFreeLarge` takes the size that
// was asked for.
void* memAllocLarge(int size);
void memFreeLarge(void* block, int size);
// Gives the kept blocks back to the system: when the last document closes,
// an idle program holds none.
void memReleaseLargeBlocks();

// Owns a block from memAllocLarge (none when default-constructed).
class LargeBlock {
public:
    LargeBlock() = default;
    explicit LargeBlock(int size) : m_data(static_cast<unsigned char*>(memAllocLarge(size))), m_size(size) {}
    ~LargeBlock() { memFreeLarge(m_data, m_size); }
    LargeBlock(LargeBlock&& other) noexcept { swap(other); }
    LargeBlock& operator=(LargeBlock&& other) noexcept {
        swap(other);
        return *this;
    }

    unsigned char* data() const { return m_data; }

private:
    void swap(LargeBlock& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
    }

    unsigned char* m_data = nullptr;
    int m_size = 0;
};

// Owns a block from memAlloc, so that an exception thrown while the block is
// being filled frees it on the way out.
struct MemFreeDeleter {
    void operator()(void* block) const { memFree(block); }
};
template <typename T>
using MemPtr = std::unique_ptr<T, MemFreeDeleter>;

// memReallocArray on an owned block of T: when growing throws, `block` still
// owns the old block, which realloc leaves in place.
template <typename T>
void memReallocArray(MemPtr<T>& block, int count) {
    T* resized = static_cast<T*>(memReallocArray(block.get(), count, static_cast<int>(sizeof(T))));
    static_cast<void>(block.release());  // realloc took the old block over
    block.reset(resized);
}

// A memAlloc'd copy of a NUL-terminated string, terminator included.
char* copyString(const char* text);

// Checked arithmetic for sizes read from files: the result, or throws
// MemoryException when it does not fit a signed 32-bit size.
[[nodiscard]] int checkedAdd(int a, int b);
[[nodiscard]] int checkedMul(int a, int b);

}  // namespace rendova
