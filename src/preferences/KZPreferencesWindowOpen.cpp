#include "preferences/KZPreferencesWindowOpen.h"

#include <atomic>

namespace {
// Written on the main thread; atomic so that a reader elsewhere is never a
// data race.
std::atomic<bool> g_preferencesOpen{false};
}

void KZSetPreferencesWindowOpen(bool open)
{
    g_preferencesOpen.store(open);
}

bool KZPreferencesWindowIsOpen()
{
    return g_preferencesOpen.load();
}
