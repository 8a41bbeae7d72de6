#include "services/KZSearchInProgress.h"

#include <atomic>

namespace {
std::atomic<bool> g_searchInProgress{false};
}

bool KZIsSearchInProgress()
{
    return g_searchInProgress.load(std::memory_order_acquire);
}

void KZSetSearchInProgress(bool inProgress)
{
    g_searchInProgress.store(inProgress, std::memory_order_release);
}
