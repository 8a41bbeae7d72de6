#include "services/KZItemInspection.h"

#include "platform/Bookmark.h"

#include "platform/FileStat.h"
#include "platform/FinderInfo.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/Volumes.h"
#include "services/KZStartupDiskName.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The code a missing item reports; callers only test that there is one.
constexpr int kItemMissingError = 4;

fs::path withoutTrailingSlash(const fs::path& path)
{
    std::string s = path.native();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return fs::path(std::move(s));
}

// Absolute, "." and ".." folded, no trailing slash: the form in which two
// spellings of one location compare equal.
fs::path normalAbsolute(const fs::path& path)
{
    std::error_code ec;
    const fs::path absolute = path.is_absolute() ? path : fs::current_path(ec) / path;
    return withoutTrailingSlash(absolute.lexically_normal());
}

std::vector<std::string> componentsOf(const fs::path& path)
{
    std::vector<std::string> parts;
    for (const auto& part : path.lexically_normal()) {
        const std::string& name = part.native();
        if (name.empty() || name == "/" || name == ".")
            continue;
        parts.push_back(name);
    }
    return parts;
}

std::optional<platform::FileStat> lstatItem(const fs::path& path)
{
    if (path.empty())
        return std::nullopt;
    return platform::statPath(path, false);
}

bool itemExists(const fs::path& path)
{
    if (path.empty())
        return false;
    if (::access(path.c_str(), F_OK) == 0)
        return true;
    // A path longer than one call takes is still there: asked folder by
    // folder.
    return errno == ENAMETOOLONG && platform::statPath(path, true);
}

QVariant sizeOrUnknown(quint64 bytes)
{
    if (bytes == 0)
        return platform::localizedString(QStringLiteral("unknown_file"));
    return QVariant::fromValue(bytes);
}

struct Providers {
    std::mutex lock;
    std::function<fs::path()> iTunesFolder;
    std::function<std::vector<fs::path>()> globalExclusions;
};

Providers& providers()
{
    static Providers shared;
    return shared;
}

} // namespace

// ---- Item inspection -------------------------------------------------------

std::optional<QString> KZItemInspection::itemNameWithURL(const fs::path& path)
{
    if (!lstatItem(path))
        return std::nullopt;
    const fs::path normal = normalAbsolute(path);
    if (normal == "/")
        return platform::startupDiskName();
    return platform::pathText(normal.filename().native());
}

QVariant KZItemInspection::attributeWithURL(const fs::path& path, ResourceKey key)
{
    const auto st = lstatItem(path);
    if (!st)
        return {};
    switch (key) {
    case ResourceKey::Name:
        if (auto name = itemNameWithURL(path))
            return *name;
        return {};
    case ResourceKey::Path:
        return QVariant::fromValue(withoutTrailingSlash(path));
    case ResourceKey::ParentDirectory: {
        const fs::path parent = parentDirectoryWithURL(path);
        return parent.empty() ? QVariant() : QVariant::fromValue(parent);
    }
    case ResourceKey::IsDirectory:
        return st->isDir();
    case ResourceKey::IsPackage:
        return isPackageWithURL(path);
    case ResourceKey::IsApplication:
        return isApplicationWithURL(path);
    case ResourceKey::IsAliasFile:
        return isAliasWithURL(path);
    case ResourceKey::IsHidden:
        return isHiddenWithURL(path);
    case ResourceKey::IsVolume:
        return isVolumeWithURL(path);
    case ResourceKey::VolumeIsReadOnly:
    case ResourceKey::VolumeIsLocal:
    case ResourceKey::VolumeTotalCapacity:
    case ResourceKey::VolumeAvailableCapacity: {
        const auto volume = platform::volumeForPath(path);
        if (!volume)
            return {};
        if (key == ResourceKey::VolumeIsReadOnly)
            return volume->readOnly;
        if (key == ResourceKey::VolumeIsLocal)
            return !volume->isNetwork;
        return QVariant::fromValue(key == ResourceKey::VolumeTotalCapacity ? volume->capacity : volume->available);
    }
    case ResourceKey::VolumeIdentifier:
        return QVariant::fromValue(quint64(st->device));
    case ResourceKey::FileSize:
    case ResourceKey::TotalFileSize:
        // A folder has no size of its own; its contents are measured.
        if (st->isDir())
            return {};
        return QVariant::fromValue(st->size);
    }
    return {};
}

fs::path KZItemInspection::parentDirectoryWithURL(const fs::path& path)
{
    if (!lstatItem(path))
        return {};
    const fs::path normal = normalAbsolute(path);
    if (normal == "/")
        return {};
    return normal.parent_path();
}

bool KZItemInspection::isPackageWithURL(const fs::path& path)
{
    return !path.empty() && platform::isPackage(withoutTrailingSlash(path));
}

bool KZItemInspection::isApplicationWithURL(const fs::path& path)
{
    return !path.empty() && platform::isApplication(withoutTrailingSlash(path));
}

bool KZItemInspection::isAliasWithURL(const fs::path& path)
{
    const fs::path item = withoutTrailingSlash(path);
    const auto st = lstatItem(item);
    if (!st)
        return false;
    if (st->isSymlink())
        return true;
    return platform::readFinderInfo(item, false).isAliasFlag();
}

bool KZItemInspection::isDirectoryWithURL(const fs::path& path)
{
    const auto st = lstatItem(withoutTrailingSlash(path));
    return st && st->isDir();
}

bool KZItemInspection::isHiddenWithURL(const fs::path& path)
{
    if (path.empty())
        return false;
    const fs::path item = withoutTrailingSlash(path);
    const std::string name = item.filename().native();
    if (!name.empty() && name.front() == '.' && name != "." && name != "..")
        return true;
    if (!lstatItem(item))
        return false;
    return platform::readFinderInfo(item, false).isInvisible();
}

bool KZItemInspection::isVolumeWithURL(const fs::path& path)
{
    return lstatItem(path) && platform::isVolumeRoot(withoutTrailingSlash(path));
}

bool KZItemInspection::isVolumeLockedWithURL(const fs::path& path)
{
    return attributeWithURL(path, ResourceKey::VolumeIsReadOnly).toBool();
}

quint64 KZItemInspection::volumeCapacityWithURL(const fs::path& path)
{
    return attributeWithURL(path, ResourceKey::VolumeTotalCapacity).value<quint64>();
}

quint64 KZItemInspection::volumeFreeCapacityWithURL(const fs::path& path)
{
    return attributeWithURL(path, ResourceKey::VolumeAvailableCapacity).value<quint64>();
}

std::optional<quint64> KZItemInspection::volumeIDWithItemURL(const fs::path& path)
{
    const auto st = lstatItem(path);
    if (!st)
        return std::nullopt;
    return quint64(st->device);
}

fs::path KZItemInspection::pathWithURL(const fs::path& path, int* posixError)
{
    // An empty path names no item: callers get the same answer as for a
    // missing one, so that one test of the code covers both.
    if (!itemExists(path)) {
        if (posixError)
            *posixError = kItemMissingError;
        return {};
    }
    return withoutTrailingSlash(path);
}

bool KZItemInspection::isLockedWithURL(const fs::path& path)
{
    return lstatItem(path) && platform::isImmutable(withoutTrailingSlash(path));
}

KZObjectID KZItemInspection::directoryIDWithURL(const fs::path& path)
{
    if (path.empty())
        return {};
    const auto st = platform::statPath(path, true);
    if (!st)
        return {};
    return KZObjectID{quint64(st->device), st->inode};
}

QString KZItemInspection::normalizeString(const QString& string)
{
    return string.normalized(QString::NormalizationForm_KD);
}

fs::path KZItemInspection::pathFromFileURL(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return {};
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded);
    // "%00" decodes to a NUL, which no path holds: the system would stop
    // there and name another file.
    if (bytes.contains('\0'))
        return {};
    return fs::path(std::string(bytes.constData(), size_t(bytes.size())));
}

fs::path KZItemInspection::pathOfLocalFileURL(const QString& text)
{
    const QUrl url(text);
    if (url.scheme() != QStringLiteral("file"))
        return {};
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0)
        return {};
    const fs::path path = pathFromFileURL(url);
    if (!path.is_absolute())
        return {};
    std::string bytes = path.native();
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    return fs::path(bytes);
}

QUrl KZItemInspection::fileURLWithPath(const fs::path& path)
{
    const std::string& bytes = path.native();
    const QByteArray encoded = QByteArray(bytes.data(), qsizetype(bytes.size())).toPercentEncoding("/");
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + encoded, QUrl::StrictMode);
}

KZItemInspection::PathOrURL KZItemInspection::URLsToPaths(const QUrl& url)
{
    const fs::path path = pathFromFileURL(url);
    if (!itemExists(path))
        return url;
    return withoutTrailingSlash(path);
}

std::vector<KZItemInspection::PathOrURL> KZItemInspection::URLsToPaths(const QList<QUrl>& urls)
{
    std::vector<PathOrURL> out;
    out.reserve(size_t(urls.size()));
    for (const QUrl& url : urls)
        out.push_back(URLsToPaths(url));
    return out;
}

QString KZItemInspection::appNameWithIdentifier(const QString&)
{
    return QString(QLatin1String(""));
}

// ---- Music library ----------------------------------------------------------

void KZItemInspection::setiTunesFolderProvider(std::function<fs::path()> provider)
{
    std::lock_guard guard(providers().lock);
    providers().iTunesFolder = std::move(provider);
}

std::optional<fs::path> KZItemInspection::iTunesFolderLocationPath()
{
    std::function<fs::path()> provider;
    {
        std::lock_guard guard(providers().lock);
        provider = providers().iTunesFolder;
    }
    const fs::path folder = provider ? provider() : fs::path();
    if (folder.empty())
        return fs::path();
    if (!itemExists(folder))
        return std::nullopt;
    return folder;
}

qint16 KZItemInspection::isiTunesURL(const fs::path& url)
{
    const fs::path path = pathWithURL(url);
    const auto media = iTunesFolderLocationPath();
    qint16 result = 0;
    if (!path.empty() && media && !media->empty()) {
        // Whole components only: "/Users/a/Mus" is no ancestor of
        // "/Users/a/Music/iTunes".
        const auto p = componentsOf(normalAbsolute(path));
        const auto m = componentsOf(normalAbsolute(*media));
        if (p.size() <= m.size() && std::equal(p.begin(), p.end(), m.begin())) {
            switch (m.size() - p.size()) {
            case 0:
                result = 2;
                break;
            case 1:
                result = 1;
                break;
            case 2:
                result = 3;
                break;
            default:
                break;
            }
        }
    }
    if (result == 0 && !path.empty()) {
        const std::string last = withoutTrailingSlash(path).filename().native();
        if (last.find("iTunes") != std::string::npos)
            result = 4;
    }
    return result;
}

// ---- Source info dictionaries --------------------------------------------------

void KZItemInspection::setGlobalExclusionsProvider(std::function<std::vector<fs::path>()> provider)
{
    std::lock_guard guard(providers().lock);
    providers().globalExclusions = std::move(provider);
}

namespace {

std::optional<QVariantMap> sourceInfo(const fs::path& path, bool fast)
{
    if (path.empty())
        return std::nullopt;

    if (fast) {
        std::function<std::vector<fs::path>()> provider;
        {
            std::lock_guard guard(providers().lock);
            provider = providers().globalExclusions;
        }
        const auto exclusions = provider ? provider() : KZItemInspection::visibleSystemPaths();
        const fs::path normal = normalAbsolute(path);
        for (const auto& excluded : exclusions) {
            if (!excluded.empty() && normalAbsolute(excluded) == normal)
                return std::nullopt;
        }
    }

    if (KZItemInspection::isAliasWithURL(path)) {
        // A Finder alias has no link text and is refused here.
        std::error_code ec;
        const fs::path target = fs::read_symlink(withoutTrailingSlash(path), ec);
        if (ec || target.empty())
            return std::nullopt;
    }
    // Searched, and later removed from, where every link on the way leads:
    // a removal opens the folders above an item one by one without
    // following links, and would find none of a source reached through one
    // (~/Documents leading to /data/docs). "path" keeps what the user chose.
    const fs::path url = platform::linkFreePath(path, true);
    if (url.empty())
        return std::nullopt;
    if (!fast && !KZItemInspection::sourceRefusal(url).isEmpty())
        return std::nullopt;

    bool isPhotosLib = false;
    if (KZItemInspection::isPackageWithURL(url)) {
        if (platform::nameExtension(withoutTrailingSlash(url)) != QLatin1String("photoslibrary"))
            return std::nullopt;
        isPhotosLib = true;
    } else if (!fast) {
        // A whole library shown at a plain path (a bind mount, its own disk
        // mounted a second time) is the library, as its package is: walked
        // as a plain folder, it would offer the masters as plain files.
        isPhotosLib = platform::photoLibraryPlace(url) == platform::PhotoLibraryPlace::Library;
    }
    if (fast && !KZItemInspection::isDirectoryWithURL(url))
        return std::nullopt;

    // A library that a mount shows is searched as the library, not as a disk.
    const bool disk = !fast && !isPhotosLib && KZItemInspection::isVolumeWithURL(url);
    const auto name = KZItemInspection::itemNameWithURL(url);
    if (!name)
        return std::nullopt;

    QVariantMap info;
    info.insert(QStringLiteral("url"), QVariant::fromValue(url));
    info.insert(QStringLiteral("name"), *name);
    info.insert(QStringLiteral("path"), QVariant::fromValue(path));
    if (fast)
        return info;
    info.insert(QStringLiteral("isDisk"), disk);
    if (disk) {
        info.insert(QStringLiteral("isLocked"), KZItemInspection::isVolumeLockedWithURL(url));
        info.insert(QStringLiteral("totSize"), sizeOrUnknown(KZItemInspection::volumeCapacityWithURL(url)));
        info.insert(QStringLiteral("freeSize"), sizeOrUnknown(KZItemInspection::volumeFreeCapacityWithURL(url)));
    } else {
        info.insert(QStringLiteral("isPhotosLib"), isPhotosLib);
    }
    return info;
}

} // namespace

QString KZItemInspection::sourceRefusal(const fs::path& path)
{
    // A folder of a library walked as a plain folder would offer the
    // library's own pictures for removal.
    if (platform::photoLibraryPlace(path) == platform::PhotoLibraryPlace::Inside)
        return QStringLiteral("source_inside_photo_library");
    if (platform::isOnKernelFileSystem(path))
        return QStringLiteral("source_kernel_file_system");
    return {};
}

std::optional<QVariantMap> KZItemInspection::directoryInfoForPath(const fs::path& path)
{
    return sourceInfo(path, false);
}

std::optional<QVariantMap> KZItemInspection::fastDirectoryInfoForPath(const fs::path& path)
{
    return sourceInfo(path, true);
}

// ---- System items ------------------------------------------------------------

QStringList KZItemInspection::invisibleSystemItems()
{
    static const QStringList names = {
        QStringLiteral("home"),
        QStringLiteral("net"),
        QStringLiteral("bin"),
        QStringLiteral("dev"),
        QStringLiteral("etc"),
        QStringLiteral("mach"),
        QStringLiteral("mach.sym"),
        QStringLiteral("mach_kernel.ctfsys"),
        QStringLiteral("mach_kernel"),
        QStringLiteral("sbin"),
        QStringLiteral("tmp"),
        QStringLiteral("usr"),
        QStringLiteral("var"),
        QStringLiteral(".Archived_Directories\n"),
        QStringLiteral(".fseventsd"),
        QStringLiteral(".HFS+ Private Directory Data\n"),
        QStringLiteral(".Metadata"),
        QStringLiteral(".Spotlight-V100"),
        QStringLiteral(".Trashes"),
        QStringLiteral(".vol"),
        QStringLiteral(".TemporaryItems"),
        QStringLiteral("cores"),
        QStringLiteral("Cleanup At Startup"),
        QStringLiteral("Desktop Folder"),
        QStringLiteral("Network Trash Folder"),
        QStringLiteral("Network"),
        QStringLiteral("private"),
        QStringLiteral("Temporary Items"),
        QStringLiteral("TheVolumeSettingsFolder"),
        QStringLiteral("Volumes"),
        QStringLiteral("automount"),
        QStringLiteral(".Archived_Directories?"),
    };
    return names;
}

QStringList KZItemInspection::visibleSystemItems()
{
    return {QStringLiteral("Library"), QStringLiteral("System"), QStringLiteral("System Folder")};
}

std::vector<fs::path> KZItemInspection::visibleSystemPaths()
{
    return {fs::path("/Library"), fs::path("/System"), fs::path("/System Folder")};
}

// ---- Path forms ------------------------------------------------------------------

QString KZItemInspection::removeSlashesFromFileSystemName(const QString& name, quint16* foundCount)
{
    QString out = name;
    quint16 count = 0;
    for (qsizetype i = out.size() - 1; i >= 0; --i) {
        if (out.at(i) == QLatin1Char('/')) {
            out[i] = QLatin1Char(':');
            ++count;
        }
    }
    if (foundCount)
        *foundCount = count;
    return out;
}

fs::path KZItemInspection::setAbsolutePath(const fs::path& path)
{
    const std::string& s = path.native();
    // Only a leading "/Volumes" component marks the path as already in this
    // form; "/home/a/Volumes/x" is an ordinary startup-disk path.
    if (s.empty() || s == "/Volumes" || s.rfind("/Volumes/", 0) == 0)
        return path;
    const QByteArray disk = QFile::encodeName(removeSlashesFromFileSystemName(KZStartupDiskName()));
    std::string out = "/Volumes/";
    out.append(disk.constData(), size_t(disk.size()));
    if (s.size() >= 2)
        out += s;
    return fs::path(std::move(out));
}

fs::path KZItemInspection::removeFirstPathComponent(const fs::path& path, const std::string& prefix)
{
    const std::string match = prefix.empty() ? std::string("/Volumes/") : prefix;
    const std::string& s = path.native();
    if (s.size() < match.size() || s.compare(0, match.size(), match) != 0)
        return path;
    return fs::path(s.substr(match.size() - 1));
}

fs::path KZItemInspection::removeFirstPathComponentWithURL(const fs::path& path, const std::string& prefix)
{
    if (path.empty())
        return path;
    return removeFirstPathComponent(withoutTrailingSlash(path), prefix);
}

// ---- Bookmarks -------------------------------------------------------------------

fs::path KZItemInspection::urlWithDataAlias(const QByteArray& bookmark)
{
    if (bookmark.isEmpty())
        return {};
    const auto resolved = platform::resolveBookmark(bookmark);
    return resolved ? resolved->path : fs::path();
}
