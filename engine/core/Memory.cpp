#include "engine/core/Memory.h"

#include "base/Numeric.h"
#include "platform/PageMemory.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

namespace rendova {

void* memAlloc(int size) {
    if (size <= 0)
        return nullptr;
    void* block = std::malloc(static_cast<size_t>(size));
    if (!block)
        throw MemoryException();
    return block;
}

void* memRealloc(void* block, int size) {
    if (size <= 0) {
        std::free(block);
        return nullptr;
    }
    void* grown = std::realloc(block, static_cast<size_t>(size));
    if (!grown)
        throw MemoryException();
    return grown;
}

// count * size must stay below INT_MAX; the test divides so that it cannot
// itself overflow.
static bool arrayFits(int count, int size) {
    return size > 0 && count >= 0 && count < INT_MAX / size;
}

void* memAllocArray(int count, int size) {
    if (count == 0)
        return nullptr;
    if (!arrayFits(count, size))
        throw MemoryException();
    return memAlloc(count * size);
}

void* memReallocArray(void* block, int count, int size) {
    if (count == 0) {
        std::free(block);
        return nullptr;
    }
    if (!arrayFits(count, size))
        throw MemoryException();
    return memRealloc(block, count * size);
}

void memFree(void* block) {
    std::free(block);
}

namespace {

constexpr int kLargeBlock = 1 << 20;

size_t mappedSize(int size) {
    return (static_cast<size_t>(size) + platform::kHugePageSize - 1) & ~(platform::kHugePageSize - 1);
}

// The freed large blocks kept for reuse: a few, within a budget, so that a
// long conversion holds no more than its pages need.
class LargeBlockCache {
public:
    // A kept block of at least `mapped` bytes, the smallest that fits; null
    // when none does.
    void* take(size_t mapped) {
        std::lock_guard<std::mutex> lock(m_mutex);
        int best = -1;
        for (int i = 0; i < m_count; ++i)
            if (m_blocks[i].mapped >= mapped && (best < 0 || m_blocks[i].mapped < m_blocks[best].mapped))
                best = i;
        if (best < 0)
            return nullptr;
        void* block = m_blocks[best].block;
        m_total -= m_blocks[best].mapped;
        m_blocks[best] = m_blocks[--m_count];
        return block;
    }

    // Keeps the block; when that goes over the count or the budget the
    // smallest kept blocks are unmapped until it fits. A block larger than
    // the whole budget goes back at once rather than flushing the others.
    void keep(void* block, size_t mapped) {
        if (mapped > kBudget) {
            platform::freePages(block, mapped);
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocks[m_count++] = Entry{block, mapped};
        m_total += mapped;
        trim(kMaxBlocks - 1, kBudget);
    }

    void release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        trim(0, 0);
    }

private:
    // Unmaps the smallest kept blocks until at most `count` blocks and
    // `budget` bytes are kept. The mutex is held.
    void trim(int count, size_t budget) {
        while (m_count > count || m_total > budget) {
            int smallest = 0;
            for (int i = 1; i < m_count; ++i)
                if (m_blocks[i].mapped < m_blocks[smallest].mapped)
                    smallest = i;
            platform::freePages(m_blocks[smallest].block, m_blocks[smallest].mapped);
            m_total -= m_blocks[smallest].mapped;
            m_blocks[smallest] = m_blocks[--m_count];
        }
    }

    struct Entry {
        void* block;
        size_t mapped;
    };
    // One slot stays free for the block being kept.
    static constexpr int kMaxBlocks = 5;
    static constexpr size_t kBudget = size_t(256) << 20;

    std::mutex m_mutex;
    Entry m_blocks[kMaxBlocks] = {};
    int m_count = 0;
    size_t m_total = 0;
};

// Constant-initialised and never destroyed, so that a bitmap freed by a
// static object's destructor at exit still finds it.
constinit LargeBlockCache g_largeBlocks;
static_assert(std::is_trivially_destructible_v<LargeBlockCache>);

}  // namespace

void* memAllocLarge(int size) {
    if (size < kLargeBlock)
        return memAlloc(size);
    const size_t mapped = mappedSize(size);
    if (void* block = g_largeBlocks.take(mapped))
        return block;
    void* block = platform::allocateHugePages(mapped);
    if (!block)
        throw MemoryException();
    return block;
}

void memFreeLarge(void* block, int size) {
    if (size < kLargeBlock) {
        memFree(block);
        return;
    }
    if (block)
        g_largeBlocks.keep(block, mappedSize(size));
}

void memReleaseLargeBlocks() {
    g_largeBlocks.release();
}

char* copyString(const char* text) {
    size_t n = std::strlen(text) + 1;
    if (n > static_cast<size_t>(INT_MAX))
        throw MemoryException();
    char* copy = static_cast<char*>(memAlloc(static_cast<int>(n)));
    std::memcpy(copy, text, n);
    return copy;
}

int checkedAdd(int a, int b) {
    int result;
    if (!tryAdd(a, b, &result))
        throw MemoryException();
    return result;
}

int checkedMul(int a, int b) {
    int result;
    if (!tryMul(a, b, &result))
        throw MemoryException();
    return result;
}

}  // namespace rendova
