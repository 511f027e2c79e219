#pragma once
#include <cstddef>

namespace platform {

// Memory in whole pages straight from the system, for large caches that
// fill as they are used: pages never touched take no memory, and freed ones
// go back to the system at once instead of staying in the heap, where
// blocks of many sizes freed and made again page after page left the
// process holding far more than any cache's budget.
//
// Any thread may call these; they do not throw.

// `bytes` of zero-filled memory, or null when the system refuses them.
void* allocatePages(size_t bytes);
// The same on a huge-page boundary (2 MB), marked so that the system may back
// it with huge pages: the first write then faults once per huge page instead
// of once per 4 KB page. `bytes` is rounded up to a whole huge page, and
// freePages takes the rounded size. Null when the system refuses.
constexpr size_t kHugePageSize = size_t(2) << 20;
void* allocateHugePages(size_t bytes);
// Gives back a block from allocatePages or allocateHugePages, with the size it was asked with;
// null is ignored.
void freePages(void* block, size_t bytes);

}  // namespace platform
