#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Hands an address (a file, a folder, a web page, a mail message) to the
// desktop: first to xdg-open, the desktop's own opener, then to Qt's
// desktop services, which know browsers and sandbox portals of their own.
// Main thread only.
class KZDesktopOpener {
public:
    // The programs tried in turn; each answers whether it took the address.
    // Tests put recording ones in place; an empty member is the system's.
    struct Launchers {
        std::function<bool(const QUrl&)> xdgOpen;
        std::function<bool(const QUrl&)> desktopServices;
    };

    // Whether some program took `url`. Nothing is said to the user.
    static bool open(const QUrl& url);
    // The same, with an error alert naming `shownName` when nothing could
    // open it: `errorKey` and `infoKey` are keys of the "Errors" table.
    static bool openOrTell(const QUrl& url, const QString& shownName, const QString& errorKey,
                           const QString& infoKey);

    // Replaces the launchers and answers the ones replaced.
    static Launchers setLaunchers(Launchers launchers);
};
