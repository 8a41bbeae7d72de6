#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <QtGlobal>

#include <compare>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

class KZStopSource;

// Sums of a folder measurement: the items' total sizes (what the item takes
// as a whole, every fork included; on Linux there is only the data) and
// their data sizes.
struct ItemSizeInfo {
    quint64 totalFileSize = 0;
    quint64 fileSize = 0;
};

// Counters of a folder measurement, owned by the caller.
struct ItemCountInfo {
    quint64 folders = 0;          // directories that are not packages
    quint64 filesAndPackages = 0; // everything else, packages included
};

// Identity of an item on disk. Inode numbers are only unique per device, so
// both travel together; a null identifier means "could not be read".
struct KZObjectID {
    quint64 device = 0;
    quint64 inode = 0;

    bool isNull() const { return device == 0 && inode == 0; }
    auto operator<=>(const KZObjectID&) const = default;
};

// The process-wide file-system service: item inspection, the program's
// tables of file kinds, folder measurement, Trash and bookmarks.
//
// Locations are std::filesystem::path (bytes). An empty path stands for "no
// location" wherever an answer may be missing or an argument absent.
// Every operation is safe from any thread; instances hold no state, so the
// shared instance and separately made ones answer alike.
//
// Source info dictionaries hold their locations as std::filesystem::path
// (QVariant::fromValue) under "url" and "path", never as text, so that a
// name that is not UTF-8 survives the trip into a source item.
class KZFilesUtilities {
public:
    KZFilesUtilities() = default;
    static KZFilesUtilities& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZFilesUtilities> instance);

    // ---- Item inspection -------------------------------------------------

    // The attributes that attributeWithURL() can read.
    enum class ResourceKey {
        Name,                    // QString
        Path,                    // std::filesystem::path
        ParentDirectory,         // std::filesystem::path
        IsDirectory,             // bool
        IsPackage,               // bool
        IsApplication,           // bool
        IsAliasFile,             // bool
        IsHidden,                // bool
        IsVolume,                // bool
        VolumeIsReadOnly,        // bool
        VolumeIsLocal,           // bool
        VolumeTotalCapacity,     // quint64
        VolumeAvailableCapacity, // quint64
        VolumeIdentifier,        // quint64
        FileSize,                // quint64
        TotalFileSize,           // quint64
    };

    // The item's name; "/" answers the startup disk's name. Empty optional
    // when there is no item. A name that is not UTF-8 is decoded for display.
    std::optional<QString> itemNameWithURL(const std::filesystem::path& path) const;
    // An invalid QVariant when the value cannot be read.
    QVariant attributeWithURL(const std::filesystem::path& path, ResourceKey key) const;
    // Empty for "/" and for a missing item.
    std::filesystem::path parentDirectoryWithURL(const std::filesystem::path& path) const;

    bool isPackageWithURL(const std::filesystem::path& path) const;
    bool isApplicationWithURL(const std::filesystem::path& path) const;
    // Symbolic links and items whose Finder information carries the alias flag.
    bool isAliasWithURL(const std::filesystem::path& path) const;
    // A symbolic link to a folder is not a folder.
    bool isDirectoryWithURL(const std::filesystem::path& path) const;
    // A leading full stop hides an item whatever its flags say.
    bool isHiddenWithURL(const std::filesystem::path& path) const;
    bool isVolumeWithURL(const std::filesystem::path& path) const;
    bool isVolumeLockedWithURL(const std::filesystem::path& path) const;
    quint64 volumeCapacityWithURL(const std::filesystem::path& path) const;
    quint64 volumeFreeCapacityWithURL(const std::filesystem::path& path) const;
    // Equal for two items exactly when they are on the same file system
    // (st_dev); empty when the item cannot be read.
    std::optional<quint64> volumeIDWithItemURL(const std::filesystem::path& path) const;

    // The path when an item exists there (a symbolic link counts by its
    // target), else empty. `posixError` receives 4 when nothing is there
    // (an empty path included); it is left untouched on success.
    std::filesystem::path pathWithURL(const std::filesystem::path& path, int* posixError = nullptr) const;
    // The immutable flag; false for a missing item.
    bool isLockedWithURL(const std::filesystem::path& path) const;
    // Device and 64-bit inode of the item (a final symbolic link is
    // followed); null when the item cannot be read.
    KZObjectID directoryIDWithURL(const std::filesystem::path& path) const;

    // Unicode compatibility decomposition (NFKD).
    QString normalizeString(const QString& string) const;

    // A local file URL whose item exists becomes its path; anything else (a
    // remote URL, a missing item) is handed back unchanged.
    using PathOrURL = std::variant<std::filesystem::path, QUrl>;
    std::vector<PathOrURL> URLsToPaths(const QList<QUrl>& urls) const;
    PathOrURL URLsToPaths(const QUrl& url) const;
    // The bytes of a local file URL's path, percent escapes decoded byte for
    // byte; empty for any other URL.
    static std::filesystem::path pathFromFileURL(const QUrl& url);
    // A file URL that keeps every byte of the path (non-UTF-8 bytes are
    // percent-encoded).
    static QUrl fileURLWithPath(const std::filesystem::path& path);

    // No application registry exists here: always the empty string.
    QString appNameWithIdentifier(const QString& bundleIdentifier) const;

    // The music library's media folder: empty optional when the library
    // names a folder that does not exist, an empty path when there is no
    // library (or no reader has been installed).
    std::optional<std::filesystem::path> iTunesFolderLocationPath() const;
    // How `path` relates to the media folder: 0 none, 1 its parent, 2 the
    // folder itself, 3 two levels above it, 4 none of these but the last
    // component contains "iTunes". Ancestry is decided by whole components.
    qint16 isiTunesURL(const std::filesystem::path& path) const;

    // Source info dictionaries (see the class comment for the value types).
    std::optional<QVariantMap> directoryInfoForPath(const std::filesystem::path& path) const;
    std::optional<QVariantMap> fastDirectoryInfoForPath(const std::filesystem::path& path) const;

    QStringList invisibleSystemItems() const;
    QStringList visibleSystemItems() const;
    std::vector<std::filesystem::path> visibleSystemPaths() const;

    // Every "/" becomes ":" (a volume name may hold slashes, a path
    // component may not). `foundCount` receives the number of replacements.
    QString removeSlashesFromFileSystemName(const QString& name, quint16* foundCount = nullptr) const;
    // The "/Volumes/<startup disk>/..." form of a startup-disk path; a path
    // already under "/Volumes/" is returned unchanged.
    std::filesystem::path setAbsolutePath(const std::filesystem::path& path) const;
    // Removes a leading `prefix` but keeps its final character, so that
    // "/Volumes/Data/x" gives "/Data/x". An empty prefix means "/Volumes/".
    // A path that does not begin with the prefix is returned unchanged.
    std::filesystem::path removeFirstPathComponent(const std::filesystem::path& path,
                                                   const std::string& prefix = {}) const;
    std::filesystem::path removeFirstPathComponentWithURL(const std::filesystem::path& path,
                                                          const std::string& prefix = {}) const;

    // Images that need no icon theme (the theme look-ups live in the UI
    // layer). Sizes are in pixels.
    QImage placeholderImageWithSize(QSize size) const;
    QImage ghostIconWithIcon(const QImage& icon, QSize size) const;

    // Installed by the layers above (services cannot see them): the media
    // layer reports the music library's media folder, the shared search
    // request its global exclusions. An empty function restores the default
    // (no library; the visible system paths).
    static void setiTunesFolderProvider(std::function<std::filesystem::path()> provider);
    static void setGlobalExclusionsProvider(std::function<std::vector<std::filesystem::path>()> provider);

    // ---- File-type tables --------------------------------------------------

    QString imagesExtensions() const;
    QStringList arrayImagesExtensions() const;
    QString imagesTypes() const;
    QStringList imagesOSTypesArray() const;
    QString imagesForContentCheckTypes() const;
    QStringList imagesContentCheckExtensions() const;
    QString musicExtensions() const;
    QStringList arrayMusicExtensions() const;
    QStringList musicOSTypesArray() const;
    QString moviesExtensions() const;
    QStringList arrayMoviesExtensions() const;
    QStringList moviesOSTypesArray() const;
    QString archiveExtensions() const;
    QStringList arrayArchiveExtensions() const;
    QStringList archiveOSTYpesArray() const;
    QString documentExtensions() const;
    QStringList arrayDocumentExtensions() const;
    QStringList documentOSTypesArray() const;

    using StringGetter = QString (KZFilesUtilities::*)() const;
    // The 32-bit codes of a quoted-code list ("'GIF ','GIFf',..."), in order,
    // repeats kept; a piece not of the form 'XXXX' gives 0.
    std::vector<quint32> typesFormattedToCheckWithSelector(StringGetter getter) const;
    QStringList extensionsFormattedToCheckWithSelector(StringGetter getter) const;

    // Case-sensitive; an empty extension matches nothing.
    bool isImage(quint32 type, const QString& extension) const;
    bool isSound(quint32 type, const QString& extension) const;
    bool isCompressed(quint32 type, const QString& extension) const;

    // ---- Folder sizes, Trash, bookmarks -------------------------------------

    // Every item below `folder` (hidden ones and package contents included,
    // symbolic links not followed) adds one to `itemsFound` and its sizes to
    // the sums; folders add no size. Unreadable folders are passed over.
    ItemSizeInfo iterateFolderForSize(const std::filesystem::path& folder, quint64* itemsFound) const;
    // The measurement of a scan: Finder's ".DS_Store" files are left out,
    // `stop` is asked before and after every item, and the first error ends
    // the measurement. Answers what was summed until then. With
    // `incrementCount` the items are counted into `itemsFound`.
    ItemSizeInfo iterateFolderForSize(const std::filesystem::path& folder, const KZStopSource* stop,
                                      ItemCountInfo* itemsFound, bool incrementCount) const;
    // true when an item of that name is measured.
    bool cantBeCalculated(const QString& name) const;
    // The file system's own bookkeeping that a folder may hold and still be
    // empty: ".DS_Store", ".localized", AppleDouble "._" files and the
    // custom-icon file "Icon\r". Any other name, a dot file such as ".env"
    // or ".gitignore" included, is content.
    static bool isFolderMetadataName(std::string_view name);

    // The folder that holds the trashed items ("files/" of a freedesktop.org
    // trash) of the user's home Trash, created when missing; empty on error.
    std::filesystem::path startupTrashURL() const;
    // The same for the trash on the item's own device; empty (and one log
    // line) when that device has no usable trash.
    std::filesystem::path trashURLForItemURL(const std::filesystem::path& path) const;
    // The item a bookmark refers to; empty when it is gone.
    std::filesystem::path urlWithDataAlias(const QByteArray& bookmark) const;
};
