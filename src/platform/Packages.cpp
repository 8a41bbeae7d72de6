#include "platform/Packages.h"

#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/Volumes.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
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

// The mount's root is a path of the mounted file system, so only its names
// are judged.
PhotoLibraryPlace placeOfMountRoot(const MountEntry& mount, bool isRoot)
{
    const std::filesystem::path root(mount.root);
    bool last = true;
    for (std::filesystem::path folder = root; folder.has_relative_path(); folder = folder.parent_path()) {
        if (nameExtension(folder).compare(QLatin1String("photoslibrary"), Qt::CaseInsensitive) == 0)
            return last && isRoot ? PhotoLibraryPlace::Library : PhotoLibraryPlace::Inside;
        last = false;
    }
    return PhotoLibraryPlace::None;
}

// The place of an entry by the mount that shows it: a folder of a library
// mounted at a plain path (a bind mount, a share of the server that holds
// the library) is still the library's, whatever its path says.
PhotoLibraryPlace placeByMount(const std::filesystem::path& path)
{
    const auto entry = mountOfEntry(path);
    return entry ? placeOfMountRoot(entry->mount, entry->isRoot) : PhotoLibraryPlace::None;
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
    const auto mount = mountWithId(mountId);
    return mount ? placeOfMountRoot(*mount, true) : PhotoLibraryPlace::None;
}

bool isInsidePhotoLibraryAsWritten(const std::filesystem::path& path)
{
    return placeOfElements(absolutePath(path)) == PhotoLibraryPlace::Inside
        || placeByMount(path) == PhotoLibraryPlace::Inside;
}

bool isApplication(const std::filesystem::path& path)
{
    const auto target = withoutTrailingSlash(path);
    const QString ext = nameExtension(target);
    if (ext.compare(QLatin1String("app"), Qt::CaseInsensitive) == 0)
        return isPackage(target);
    if (ext.compare(QLatin1String("desktop"), Qt::CaseInsensitive) != 0)
        return false;
    const auto st = statPath(target, false);
    return st && st->isRegular() && isDesktopApplicationEntry(target);
}

} // namespace platform
