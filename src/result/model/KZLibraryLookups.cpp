#include "result/model/KZLibraryLookups.h"

#include <mutex>

namespace {

std::mutex& lookupsMutex()
{
    static std::mutex mutex;
    return mutex;
}

KZLibraryLookups& installed()
{
    static KZLibraryLookups lookups;
    return lookups;
}

} // namespace

KZLibraryLookups KZLibraryLookups::current()
{
    std::lock_guard guard(lookupsMutex());
    return installed();
}

void KZLibraryLookups::install(KZLibraryLookups lookups)
{
    KZLibraryLookups old;
    {
        std::lock_guard guard(lookupsMutex());
        old = std::exchange(installed(), std::move(lookups));
    }
}
