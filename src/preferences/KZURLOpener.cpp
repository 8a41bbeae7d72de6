#include "preferences/KZURLOpener.h"

#include <QDesktopServices>

#include <mutex>

namespace {
std::mutex g_lock;
std::function<bool(const QUrl&)> g_opener;
}

bool KZOpenURL(const QUrl& url)
{
    std::function<bool(const QUrl&)> opener;
    {
        std::lock_guard guard(g_lock);
        opener = g_opener;
    }
    if (opener)
        return opener(url);
    return QDesktopServices::openUrl(url);
}

void KZSetURLOpener(std::function<bool(const QUrl&)> opener)
{
    std::lock_guard guard(g_lock);
    g_opener = std::move(opener);
}
