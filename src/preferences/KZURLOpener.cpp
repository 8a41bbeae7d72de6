#include "preferences/KZURLOpener.h"

#include "services/KZDesktopOpener.h"
#include "services/KZErrorDelegate.h"

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
    return KZDesktopOpener::open(url);
}

bool KZOpenURLOrTell(const QUrl& url)
{
    if (KZOpenURL(url))
        return true;
    // A file is named by its path, anything else by the address itself.
    const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toDisplayString();
    KZErrorDelegate::sharedControl().showError(QStringLiteral("address_unopened"),
                                               QStringLiteral("address_unopened_info"), {shown});
    return false;
}

void KZSetURLOpener(std::function<bool(const QUrl&)> opener)
{
    std::lock_guard guard(g_lock);
    g_opener = std::move(opener);
}
