#include "platform/memory.h"

// Any C library header brings in the library's feature header, which is what defines
// __GLIBC__: tested before one, the macro is never defined and the setting silently drops
// out of the build.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

bool KeepFreedMemory() {
#if defined(__GLIBC__)
    // One arena for every thread: rows read on other threads reuse the pages the rows before
    // them freed, wherever they were read.
    return mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024) == 1 &&
           mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024) == 1 && mallopt(M_ARENA_MAX, 1) == 1;
#else
    return false;
#endif
}
