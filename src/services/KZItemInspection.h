#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <QtGlobal>

#include <compare>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// Identity of an item on disk. Inode numbers are only unique per device, so
// both travel together; a null identifier means "could not be read".
struct KZObjectID {
    quint64 device = 0;
    quint64 inode = 0;

    bool isNull() const { return device == 0 && inode == 0; }
    auto operator<=>(const KZObjectID&) const = default;
};

// What an item on disk is: its name, kind, volume and identity, the
// spellings of its location, the source info dictionaries and the system
// items a search passes over.
//
// Locations are std::filesystem::path (bytes). An empty path stands for "no
// location" wherever an answer may be missing or an argument absent. Every
// function is safe from any thread.
//
// Source info dictionaries hold their locations as std::filesystem::path
// (QVariant::fromValue) under "url" and "path", never as text, so that a
// name that is not UTF-8 survives the trip into a source item.
namespace KZItemInspection {

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
std::optional<QString> itemNameWithURL(const std::filesystem::path& path);
// An invalid QVariant when the value cannot be read.
QVariant attributeWithURL(const std::filesystem::path& path, ResourceKey key);
// Empty for "/" and for a missing item.
std::filesystem::path parentDirectoryWithURL(const std::filesystem::path& path);

bool isPackageWithURL(const std::filesystem::path& path);
bool isApplicationWithURL(const std::filesystem::path& path);
// Symbolic links and items whose Finder information carries the alias flag.
bool isAliasWithURL(const std::filesystem::path& path);
// A symbolic link to a folder is not a folder.
bool isDirectoryWithURL(const std::filesystem::path& path);
// A leading full stop hides an item whatever its flags say.
bool isHiddenWithURL(const std::filesystem::path& path);
bool isVolumeWithURL(const std::filesystem::path& path);
bool isVolumeLockedWithURL(const std::filesystem::path& path);
quint64 volumeCapacityWithURL(const std::filesystem::path& path);
quint64 volumeFreeCapacityWithURL(const std::filesystem::path& path);
// Equal for two items exactly when they are on the same file system
// (st_dev); empty when the item cannot be read.
std::optional<quint64> volumeIDWithItemURL(const std::filesystem::path& path);

// The path when an item exists there (a symbolic link counts by its
// target), else empty. `posixError` receives 4 when nothing is there
// (an empty path included); it is left untouched on success.
std::filesystem::path pathWithURL(const std::filesystem::path& path, int* posixError = nullptr);
// The immutable flag; false for a missing item.
bool isLockedWithURL(const std::filesystem::path& path);
// Device and 64-bit inode of the item (a final symbolic link is
// followed); null when the item cannot be read.
KZObjectID directoryIDWithURL(const std::filesystem::path& path);

// Unicode compatibility decomposition (NFKD).
QString normalizeString(const QString& string);

// A local file URL whose item exists becomes its path; anything else (a
// remote URL, a missing item) is handed back unchanged.
using PathOrURL = std::variant<std::filesystem::path, QUrl>;
std::vector<PathOrURL> URLsToPaths(const QList<QUrl>& urls);
PathOrURL URLsToPaths(const QUrl& url);
// The bytes of a local file URL's path, percent escapes decoded byte for
// byte; empty for any other URL, and for one whose path holds a NUL ("%00").
std::filesystem::path pathFromFileURL(const QUrl& url);
// The path that a file URL written in a file ("file:///a/b" or
// "file://localhost/a/b", any case of the host) names on this computer, as
// bytes, without trailing slashes; empty for another scheme or host, and for
// anything that is not an absolute path.
std::filesystem::path pathOfLocalFileURL(const QString& text);
// A file URL that keeps every byte of the path (non-UTF-8 bytes are
// percent-encoded).
QUrl fileURLWithPath(const std::filesystem::path& path);

// No application registry exists here: always the empty string.
QString appNameWithIdentifier(const QString& bundleIdentifier);

// The music library's media folder: empty optional when the library
// names a folder that does not exist, an empty path when there is no
// library (or no reader has been installed).
std::optional<std::filesystem::path> iTunesFolderLocationPath();
// How `path` relates to the media folder: 0 none, 1 its parent, 2 the
// folder itself, 3 two levels above it, 4 none of these but the last
// component contains "iTunes". Ancestry is decided by whole components.
qint16 isiTunesURL(const std::filesystem::path& path);

// Why a folder cannot be searched as a source, as a key of the "Errors"
// table whose text takes the folder's name; empty when it can. A folder
// inside a photo library (its pictures belong to the library) and one of the
// kernel's own file systems (/proc, /sys) are refused.
QString sourceRefusal(const std::filesystem::path& path);

// Source info dictionaries (see the namespace comment for the value types).
// "url" is the item with every link on its way followed, "path" the path as
// given; a path that sourceRefusal() refuses gives no full dictionary.
std::optional<QVariantMap> directoryInfoForPath(const std::filesystem::path& path);
std::optional<QVariantMap> fastDirectoryInfoForPath(const std::filesystem::path& path);

QStringList invisibleSystemItems();
QStringList visibleSystemItems();
std::vector<std::filesystem::path> visibleSystemPaths();

// Every "/" becomes ":" (a volume name may hold slashes, a path
// component may not). `foundCount` receives the number of replacements.
QString removeSlashesFromFileSystemName(const QString& name, quint16* foundCount = nullptr);
// The "/Volumes/<startup disk>/..." form of a startup-disk path; a path
// already under "/Volumes/" is returned unchanged.
std::filesystem::path setAbsolutePath(const std::filesystem::path& path);
// Removes a leading `prefix` but keeps its final character, so that
// "/Volumes/Data/x" gives "/Data/x". An empty prefix means "/Volumes/".
// A path that does not begin with the prefix is returned unchanged.
std::filesystem::path removeFirstPathComponent(const std::filesystem::path& path, const std::string& prefix = {});
std::filesystem::path removeFirstPathComponentWithURL(const std::filesystem::path& path,
                                                      const std::string& prefix = {});

// Installed by the layers above (services cannot see them): the media
// layer reports the music library's media folder, the shared search
// request its global exclusions. An empty function restores the default
// (no library; the visible system paths).
void setiTunesFolderProvider(std::function<std::filesystem::path()> provider);
void setGlobalExclusionsProvider(std::function<std::vector<std::filesystem::path>()> provider);

// The item a bookmark refers to; empty when it is gone.
std::filesystem::path urlWithDataAlias(const QByteArray& bookmark);

} // namespace KZItemInspection
