#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>

// Shows files in the file manager and opens them with their applications.
// One service for every window that offers Show in Folder; tests put a
// recording one in its place. Main thread only.
class KZWorkspace {
public:
    virtual ~KZWorkspace() = default;
    // The file manager selecting the files; without a file manager on the
    // session bus the folder of the first one is opened instead.
    virtual void revealItems(const QList<std::filesystem::path>& paths) = 0;
    virtual void openItem(const std::filesystem::path& path) = 0;
    // Opens each in turn; the desktop's names every item it could not open
    // in one alert.
    virtual void openItems(const QList<std::filesystem::path>& paths)
    {
        for (const std::filesystem::path& path : paths)
            openItem(path);
    }
    // The desktop's: what it cannot show or open ends in an error alert.
    static KZWorkspace& system();

    // Asks the file manager to show the files of `uris` selected and
    // answers through `shown`, later, whether it took them.
    using Reveal = std::function<void(const QStringList& uris, const std::function<void(bool)>& shown)>;
    // Replaces the session-bus request of system() (tests); an empty one
    // restores it.
    static void setFileManagerReveal(Reveal reveal);

    // The "file://" address of a path, made from its bytes, so that a name
    // that is not valid UTF-8 still names that very file.
    static QString fileUri(const std::filesystem::path& path);
};
