#include "platform/memory.h"

// Any C library header brings in the library's feature header, which is what defines
// __GLIBC__: tested before one, the macro is never defined and the setting silently drops
// out of the build.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdint>

namespace {

#if defined(__GLIBC__) && defined(__linux__) && defined(MADV_HUGEPAGE)
#define TRAZPLOT_LARGE_PAGES 1
constexpr std::size_t LARGE_PAGE_BYTES = 2 * 1024 * 1024;
// The heap prepared for large pages: more than two rows of a day at 100 samples per second
// with their filtered copies. Address space only: pages are taken as they are touched.
constexpr std::size_t LARGE_PAGE_HEAP_BYTES = 128 * 1024 * 1024;
// Each block stays below the size the C library would map on its own, so that it comes from
// the heap and goes back to it.
constexpr std::size_t HEAP_BLOCK_BYTES = 16 * 1024 * 1024;
constexpr int HEAP_BLOCKS = LARGE_PAGE_HEAP_BYTES / HEAP_BLOCK_BYTES;

// Asks the system for large pages wherever a whole one fits inside [begin, end).
void AdviseLargePages(std::uintptr_t begin, std::uintptr_t end) {
    const std::uintptr_t first = (begin + LARGE_PAGE_BYTES - 1) & ~(LARGE_PAGE_BYTES - 1);
    const std::uintptr_t last = end & ~(LARGE_PAGE_BYTES - 1);
    // A host without large pages refuses the advice and faults small pages as before.
    if (first < last)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// The start of the heap's first block, up to the first large-page boundary in it: kept
// allocated for the whole run (and never touched), so that the heap's free space starts on
// that boundary.
void* largePagePad = nullptr;

// Grows the heap by LARGE_PAGE_HEAP_BYTES, marks it for large pages and frees it again: kept
// by the settings above, it serves the sample arrays of the rows, which then fault in a large
// page at a time, 512 times fewer faults than with small pages. The first block is cut back
// to the part before its first large-page boundary rather than freed: freed, that part would
// be the first to serve the arrays, with small pages.
void PrepareLargePageHeap() {
    void* blocks[HEAP_BLOCKS] = {};
    for (void*& block : blocks) block = std::malloc(HEAP_BLOCK_BYTES);
    // The blocks follow one another on the heap: one range from the first to the last, or
    // each on its own where they do not.
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    for (void* block : blocks) {
        if (block == nullptr)
            continue;
        const auto address = reinterpret_cast<std::uintptr_t>(block);
        if (end != 0 && address >= end && address - end < LARGE_PAGE_BYTES) {
            end = address + HEAP_BLOCK_BYTES;
            continue;
        }
        if (end != 0)
            AdviseLargePages(begin, end);
        begin = address;
        end = address + HEAP_BLOCK_BYTES;
    }
    if (end != 0)
        AdviseLargePages(begin, end);
    for (int i = HEAP_BLOCKS; i-- > 1;) std::free(blocks[i]);
    // A chunk ends 16 bytes before the next one's memory, so the pad's memory ends there.
    const auto first = reinterpret_cast<std::uintptr_t>(blocks[0]);
    const std::size_t head = ((first + LARGE_PAGE_BYTES - 1) & ~(LARGE_PAGE_BYTES - 1)) - first;
    if (largePagePad == nullptr && blocks[0] != nullptr && head >= 64) {
        // Shrinking keeps a block in place and frees the rest of it.
        largePagePad = std::realloc(blocks[0], head - 16);
        if (largePagePad == nullptr)
            std::free(blocks[0]);
    } else {
        std::free(blocks[0]);
    }
}
#endif

}  // namespace

bool KeepFreedMemory() {
#if defined(__GLIBC__)
    // One arena for every thread: rows read on other threads reuse the pages the rows before
    // them freed, wherever they were read.
    const bool kept = mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024) == 1 &&
                      mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024) == 1 &&
                      mallopt(M_ARENA_MAX, 1) == 1;
#if defined(TRAZPLOT_LARGE_PAGES)
    if (kept)
        PrepareLargePageHeap();
#endif
    return kept;
#else
    return false;
#endif
}
