#pragma once

#include <QList>
#include <QString>

#include <filesystem>

// Shows files in the file manager and opens them with their applications.
// One service for every window that offers Show in Folder; tests put a
// recording one in its place.
class KZWorkspace {
public:
    virtual ~KZWorkspace() = default;
    // The file manager selecting the files; a file manager without that
    // service opens the folder of the first one instead.
    virtual void revealItems(const QList<std::filesystem::path>& paths) = 0;
    virtual void openItem(const std::filesystem::path& path) = 0;
    static KZWorkspace& system();

    // The "file://" address of a path, made from its bytes, so that a name
    // that is not valid UTF-8 still names that very file.
    static QString fileUri(const std::filesystem::path& path);
};
