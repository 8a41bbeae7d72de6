#pragma once

#include "media/KZPhotosLibraryPositions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One image of a photo library, as its database describes it.
struct KZPhotosImage {
    QString uuid;                       // the image's version: its identifier everywhere else
    QString imagePath;                  // below the library's "Masters" folder
    std::optional<QString> projectUuid; // the container it sits in, when it has one
};

struct KZPhotosAlbum {
    QString uuid;
    QString name;
    std::vector<KZPhotosImage> children;
};

// One image for a search: `imagePath` is absolute, always below
// <library>/Masters/.
struct KZPhotosImageEntry {
    QString uuid;
    std::filesystem::path imagePath;
};

// Reads a photo library package without the photo application: the four
// tables of its database through the sqlite3 tool, joined into albums.
//
// Thread safety: stateless; every call builds its own rows and indexes, so
// any number of threads may call at once.
class KZPhotosSupport {
public:
    // Name of the unfiled images' pseudo-album.
    static inline const QString imagesWithoutAlbum = QStringLiteral("ImagesWithoutAlbum");

    static KZPhotosSupport& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZPhotosSupport> instance);

    // Says why a photo library named as a source was not searched (`reason`
    // in the words of its alert's heading). By default an error alert, with a log line
    // for a database that could not be read; the command-line tools print it
    // instead. Null restores the alert.
    using RefusalTeller = std::function<void(const std::filesystem::path& library, const QString& reason)>;
    static void setRefusalTeller(RefusalTeller teller);

    // No application registry here: the empty string.
    QString appName() const;

    // The database inside the package; empty when the package is not there.
    std::filesystem::path sourcePhotosLocationWithPath(const std::filesystem::path& library) const;
    // <library>/Masters when that folder exists, else empty.
    std::filesystem::path mastersPhotosLocationWithPath(const std::filesystem::path& library) const;

    // The albums, sorted by name case-insensitively; unfiled images form the
    // album "ImagesWithoutAlbum". `imagesCount` receives the number of
    // usable images. An unreadable library, or one without a usable image,
    // shows the alert "photos_database_not_found" and answers no album.
    std::vector<KZPhotosAlbum> photosAlbumsWithPath(const std::filesystem::path& library,
                                                    int* imagesCount = nullptr) const;
    // Every image of every album in album order, with absolute paths.
    std::vector<KZPhotosImageEntry> photosDataWithPath(const std::filesystem::path& library) const;
    // Per album, in the same order: its name and its images' identifiers.
    std::vector<std::pair<QString, QStringList>> albumsWithChildWithPath(const std::filesystem::path& library) const;
    KZPhotosLibraryPositions libraryPositionsWithPath(const std::filesystem::path& library) const;

    // The joins alone, on rows as the sqlite3 runner gives them; exposed for
    // tests. Images whose path could leave the Masters folder are dropped.
    static std::vector<KZPhotosAlbum> albumsFromRows(const QList<QVariantMap>& versions,
                                                     const QList<QVariantMap>& masters,
                                                     const QList<QVariantMap>& albums,
                                                     QList<QVariantMap> sortOrders, int* imagesCount = nullptr);
    // False for an empty or absolute path or one with a ".." component.
    static bool isSafeRelativePath(const QString& imagePath);

    // Where a folder really is, every link followed; empty when that cannot
    // be told.
    using FolderResolver = std::function<std::filesystem::path(const std::filesystem::path& folder)>;
    // The images of `albums` with their absolute paths below `masters`,
    // leaving out each one whose folder, resolved by `resolve` (the file
    // system when empty), lies outside `realLibrary`. Each folder is resolved
    // once, however many images it holds. Exposed for tests and benchmarks.
    static std::vector<KZPhotosImageEntry> entriesInsideLibrary(const std::vector<KZPhotosAlbum>& albums,
                                                                const std::filesystem::path& masters,
                                                                const std::filesystem::path& realLibrary,
                                                                const FolderResolver& resolve = {});
};
