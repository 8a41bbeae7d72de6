#pragma once

#include <QList>
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
    // How it went: opened, an opener ran and could not open it (no program
    // for that kind of item, a broken file), or no opener was found.
    enum class Outcome { Opened, Failed, NotFound };
    using OutcomeAnswer = std::function<void(Outcome)>;
    // An item to open and the name an alert gives it.
    struct Item {
        QUrl url;
        QString shownName;
    };

    // xdg-open still running after this long has handed the address to a
    // program (some openers wait for the program they started to end): it
    // counts as opened, and its later end is not waited for.
    static constexpr int kOpenedAfterMs = 8000;

    // Hands `url` over; `answer` (optional) learns whether it was opened.
    // Nothing is said to the user.
    static void open(const QUrl& url, Answer answer = {});
    static void openWithOutcome(const QUrl& url, OutcomeAnswer answer);
    // The same, with an error alert naming `shownName` when nothing could
    // open it: `errorKey` is a key of the "Errors" table, and the detail is
    // `infoKey` when no opener was found, `ranInfoKey` when one ran and
    // failed.
    static void openOrTell(const QUrl& url, const QString& shownName, const QString& errorKey,
                           const QString& infoKey, const QString& ranInfoKey);
    // Several items at once: one alert, once every opener has answered,
    // names each item that could not be opened ("open_failed" for one,
    // "open_failed_plur" for more).
    static void openAllOrTell(const QList<Item>& items);

    // Replaces the launchers and answers the ones replaced.
    static Launchers setLaunchers(Launchers launchers);
};
