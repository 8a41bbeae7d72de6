#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Hands an address (a file, a folder, a web page, a mail message) to the
// desktop: first to xdg-open, the desktop's own opener, then, when there is
// none, to Qt's desktop services, which know browsers and sandbox portals of
// their own. Main thread only.
//
// Whether the address was opened is known only once xdg-open has ended (it
// starts even when the desktop has no program for the address, and then
// fails): the answer comes later, from the event loop, and the window is
// never blocked while it waits.
class KZDesktopOpener {
public:
    // The programs tried in turn; each answers at once whether it took the
    // address. Tests put recording ones in place; an empty member is the
    // system's.
    struct Launchers {
        std::function<bool(const QUrl&)> xdgOpen;
        std::function<bool(const QUrl&)> desktopServices;
    };
    // Whether some program took the address.
    using Answer = std::function<void(bool opened)>;

    // xdg-open still running after this long has handed the address to a
    // program (some openers wait for the program they started to end): it
    // counts as opened, and its later end is not waited for.
    static constexpr int kOpenedAfterMs = 8000;

    // Hands `url` over; `answer` (optional) learns whether it was opened.
    // Nothing is said to the user.
    static void open(const QUrl& url, Answer answer = {});
    // The same, with an error alert naming `shownName` when nothing could
    // open it: `errorKey` and `infoKey` are keys of the "Errors" table.
    static void openOrTell(const QUrl& url, const QString& shownName, const QString& errorKey,
                           const QString& infoKey);

    // Replaces the launchers and answers the ones replaced.
    static Launchers setLaunchers(Launchers launchers);
};
