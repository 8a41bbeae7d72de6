#include "preferences/KZURLOpener.h"

#include "services/KZDesktopOpener.h"
#include "services/KZErrorDelegate.h"

#include <mutex>

namespace {
std::mutex g_lock;
std::function<bool(const QUrl&)> g_opener;
}

void KZOpenURL(const QUrl& url, std::function<void(bool)> answer)
{
    std::function<bool(const QUrl&)> opener;
    {
        std::lock_guard guard(g_lock);
        opener = g_opener;
    }
    if (opener) {
        const bool opened = opener(url);
        if (answer)
            answer(opened);
        return;
    }
    KZDesktopOpener::open(url, std::move(answer));
}

void KZOpenURLOrTell(const QUrl& url, std::function<void(bool)> answer)
{
    // A file is named by its path, anything else by the address itself.
    const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toDisplayString();
    const auto tell = [shown](bool openerRan) {
        KZErrorDelegate::sharedControl().showError(
            QStringLiteral("address_unopened"),
            openerRan ? QStringLiteral("address_unopened_ran_info") : QStringLiteral("address_unopened_info"), {shown});
    };
    std::function<bool(const QUrl&)> opener;
    {
        std::lock_guard guard(g_lock);
        opener = g_opener;
    }
    if (opener) {
        const bool opened = opener(url);
        if (!opened)
            tell(false);
        if (answer)
            answer(opened);
        return;
    }
    KZDesktopOpener::openWithOutcome(url, [tell, answer = std::move(answer)](KZDesktopOpener::Outcome outcome) {
        const bool opened = outcome == KZDesktopOpener::Outcome::Opened;
        if (!opened)
            tell(outcome == KZDesktopOpener::Outcome::Failed);
        if (answer)
            answer(opened);
    });
}

void KZSetURLOpener(std::function<bool(const QUrl&)> opener)
{
    std::lock_guard guard(g_lock);
    g_opener = std::move(opener);
}
