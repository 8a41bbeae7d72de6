#include "platform/Packages.h"

#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/Volumes.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <string_view>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// Lower-case; compared case-insensitively.
constexpr std::array<const char*, 38> kPackageExtensions = {
    // applications, plug-ins and system bundles
    "app", "appex", "bundle", "component", "framework", "kext", "mdimporter", "plugin", "prefpane",
    "qlgenerator", "saver", "wdgt", "xpc", "dsym",
    // installer packages
    "pkg", "mpkg",
    // documents that are folders
    "rtfd", "pages", "numbers", "key", "scptd", "xcodeproj", "xcworkspace", "xcarchive", "playground",
    "sparsebundle", "download",
    // media libraries
    "photoslibrary", "photolibrary", "aplibrary", "migratedphotolibrary", "imovielibrary", "fcpbundle",
    "logicx", "band", "musiclibrary", "tvlibrary", "theater",
};

std::filesystem::path withoutTrailingSlash(const std::filesystem::path& path)
{
    return path.has_filename() || !path.has_parent_path() ? path : path.parent_path();
}

// Whether the last name of `path` may end in "app" or "desktop", in any
// case, told from its bytes: most names are neither, and are not decoded to
// know it. An extension with other than ASCII in it is left to the decoded
// comparison, where case folding may still make one of them.
bool mayNameAnApplication(std::string_view path)
{
    const std::string_view name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return false;
    const std::string_view extension = name.substr(dot + 1);
    if (std::any_of(extension.begin(), extension.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return true;
    const auto is = [extension](std::string_view known) {
        return std::equal(extension.begin(), extension.end(), known.begin(), known.end(),
                          [](char c, char k) { return (c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) == k; });
    };
    return is("app") || is("desktop");
}

bool isDesktopApplicationEntry(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    // Desktop entries are small; only the start is read.
    QByteArray head(64 * 1024, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < head.size()) {
        const ssize_t got = ::read(fd, head.data() + filled, size_t(head.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    ::close(fd);
    head.truncate(filled);
    bool inEntryGroup = false;
    for (QByteArray line : head.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (inEntryGroup)
                return false; // the group ended without a Type line
            inEntryGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntryGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        if (line.left(eq).trimmed() == "Type")
            return line.mid(eq + 1).trimmed() == "Application";
    }
    return false;
}

bool isPhotoLibraryFolder(const std::filesystem::path& folder)
{
    if (nameExtension(folder).compare(QLatin1String("photoslibrary"), Qt::CaseInsensitive) != 0)
        return false;
    const auto st = statPath(folder, false);
    return st && st->isDir();
}

// The place of an absolute path whose elements are walked as written.
PhotoLibraryPlace placeOfElements(const std::filesystem::path& path)
{
    if (path.empty())
        return PhotoLibraryPlace::None;
    bool library = isPhotoLibraryFolder(path);
    for (std::filesystem::path folder = path.parent_path(); folder.has_relative_path(); folder = folder.parent_path()) {
        if (isPhotoLibraryFolder(folder))
            return PhotoLibraryPlace::Inside;
    }
    return library ? PhotoLibraryPlace::Library : PhotoLibraryPlace::None;
}

bool namesPhotoLibrary(const std::filesystem::path& folder)
{
    return nameExtension(folder).compare(QLatin1String("photoslibrary"), Qt::CaseInsensitive) == 0;
}

// The place of a path judged by its names alone: every element above the
// entry is a folder (a path of a mounted file system, or one below a mount
// point), so no disk is asked, and the paths of other mounts need not be
// reachable from here.
PhotoLibraryPlace placeOfNames(const std::filesystem::path& path, bool isFolder)
{
    if (path.has_relative_path() && path.has_parent_path()) {
        for (std::filesystem::path folder = path.parent_path(); folder.has_relative_path();
             folder = folder.parent_path()) {
            if (namesPhotoLibrary(folder))
                return PhotoLibraryPlace::Inside;
        }
    }
    return isFolder && path.has_relative_path() && namesPhotoLibrary(path) ? PhotoLibraryPlace::Library
                                                                         : PhotoLibraryPlace::None;
}

// The place of an entry by the mounts that show its file system: a folder
// of a library mounted at a plain path (a bind mount, a share of the server
// that holds the library, the library's own disk mounted a second time) is
// still the library's, whatever its path says.
PhotoLibraryPlace placeByMount(const std::filesystem::path& path)
{
    const std::optional<FileStat> st = statPath(path, false);
    if (!st || !st->mountId)
        return PhotoLibraryPlace::None;
    const auto mounts = mountTableWith(*st->mountId);
    const auto shower = std::find_if(mounts->begin(), mounts->end(), [&](const MountEntry& mount) {
        return quint64(mount.mountId) == *st->mountId;
    });
    if (shower == mounts->end())
        return PhotoLibraryPlace::None;
    // The entry's path in its file system: the mount's root, and the way
    // from the mount point down to the entry.
    std::filesystem::path below = st->mountRoot ? std::filesystem::path(".")
                                                : absolutePath(path).lexically_relative(shower->mountPoint);
    if (below.empty() || *below.begin() == "..") {
        // A link on the way leads under another mount point than the path
        // names: the entry lies somewhere below this mount's root.
        const PhotoLibraryPlace ofRoot = photoLibraryPlaceThroughMounts(*mounts, shower->deviceId, shower->root, true);
        return ofRoot == PhotoLibraryPlace::None ? ofRoot : PhotoLibraryPlace::Inside;
    }
    return photoLibraryPlaceThroughMounts(*mounts, shower->deviceId,
                                          below == "." ? std::filesystem::path(shower->root)
                                                       : std::filesystem::path(shower->root) / below,
                                          st->isDir());
}

} // namespace

QString nameExtension(const std::filesystem::path& path)
{
    // The name is bytes: decode only to compare, never to build a path.
    const std::string name = path.filename().native();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
        return {};
    return platform::pathText(std::string_view(name.data() + dot + 1, name.size() - dot - 1));
}

bool isPackageExtension(QStringView extension)
{
    if (extension.isEmpty())
        return false;
    return std::any_of(kPackageExtensions.begin(), kPackageExtensions.end(), [&](const char* known) {
        return extension.compare(QLatin1String(known), Qt::CaseInsensitive) == 0;
    });
}

bool isPackage(const std::filesystem::path& path)
{
    const auto target = withoutTrailingSlash(path);
    if (!isPackageExtension(nameExtension(target)))
        return false;
    const auto st = statPath(target, false);
    return st && st->isDir();
}

PhotoLibraryPlace photoLibraryPlace(const std::filesystem::path& path)
{
    const PhotoLibraryPlace written = placeOfElements(absolutePath(path));
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    const PhotoLibraryPlace followed = ec ? PhotoLibraryPlace::None : placeOfElements(real);
    // A path without links is its own real path: its mount is asked once.
    return std::max({written, followed, placeByMount(path),
                     ec || real == path ? PhotoLibraryPlace::None : placeByMount(real)});
}

PhotoLibraryPlace photoLibraryPlaceOfMountRoot(quint64 mountId)
{
    const auto mounts = mountTableWith(mountId);
    for (const MountEntry& mount : *mounts) {
        if (quint64(mount.mountId) == mountId)
            return photoLibraryPlaceThroughMounts(*mounts, mount.deviceId, mount.root, true);
    }
    return PhotoLibraryPlace::None;
}

PhotoLibraryPlace photoLibraryPlaceThroughMounts(const std::vector<MountEntry>& mounts, dev_t device,
                                                const std::filesystem::path& inFileSystem, bool isFolder)
{
    const std::filesystem::path entry = withoutTrailingSlash(inFileSystem.lexically_normal());
    PhotoLibraryPlace place = placeOfNames(entry, isFolder);
    for (const MountEntry& mount : mounts) {
        if (mount.deviceId != device || place == PhotoLibraryPlace::Inside)
            continue;
        const std::filesystem::path below = entry.lexically_relative(std::filesystem::path(mount.root).lexically_normal());
        if (below.empty() || *below.begin() == "..")
            continue; // this mount shows another part of the file system
        place = std::max(place, placeOfNames(below == "." ? mount.mountPoint : mount.mountPoint / below, isFolder));
    }
    return place;
}

bool isInsidePhotoLibraryAsWritten(const std::filesystem::path& path)
{
    return placeOfElements(absolutePath(path)) == PhotoLibraryPlace::Inside
        || placeByMount(path) == PhotoLibraryPlace::Inside;
}

bool isApplication(const std::filesystem::path& path)
{
    const auto target = withoutTrailingSlash(path);
    if (!mayNameAnApplication(target.native()))
        return false;
    const QString ext = nameExtension(target);
    if (ext.compare(QLatin1String("app"), Qt::CaseInsensitive) == 0)
        return isPackage(target);
    if (ext.compare(QLatin1String("desktop"), Qt::CaseInsensitive) != 0)
        return false;
    const auto st = statPath(target, false);
    return st && st->isRegular() && isDesktopApplicationEntry(target);
}

} // namespace platform
