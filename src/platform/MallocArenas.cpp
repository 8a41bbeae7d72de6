#include "platform/MallocArenas.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void limitMallocArenas()
{
#if defined(__GLIBC__)
    if (!std::getenv("MALLOC_ARENA_MAX"))
        ::mallopt(M_ARENA_MAX, 2);
#endif
}

void releaseFreeMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace platform
