#include "engine/KZItemAttributes.h"

#include "engine/KZEnginePaths.h"
#include "platform/Packages.h"
#include "platform/Paths.h"

#include <QByteArray>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

using KZEnginePaths::extensionOfBytes;
using KZEnginePaths::lastComponent;

namespace {

// Reads the record relative to an open folder (getxattrat, Linux 6.13);
// none when the system lacks the call or the record does not fit, and the
// caller reads by path instead.
std::optional<platform::FinderInfo> finderInfoAt(int parentFd, const std::string& name)
{
#if defined(__linux__) && !defined(__alpha__)
    static std::atomic<bool> missing{false};
    if (parentFd < 0 || missing.load(std::memory_order_relaxed))
        return std::nullopt;
    struct XattrArgs {
        alignas(8) quint64 value;
        quint32 size;
        quint32 flags;
    };
    constexpr long kGetXattrAt = 464; // the same on every architecture but alpha
    platform::FinderInfo info;
    XattrArgs args{quint64(reinterpret_cast<std::uintptr_t>(info.bytes.data())), quint32(info.bytes.size()), 0};
    const long n = ::syscall(kGetXattrAt, parentFd, name.c_str(), AT_SYMLINK_NOFOLLOW, platform::kFinderInfoAttribute,
                             &args, sizeof args);
    if (n == long(info.bytes.size()))
        return info;
    if (n >= 0)
        return platform::FinderInfo{}; // a short record is damaged: none
    switch (errno) {
    case ENODATA:
    case ENOTSUP:
        return platform::FinderInfo{};
    case ENOSYS:
        missing = true;
        return std::nullopt;
    default:
        return std::nullopt;
    }
#else
    (void)parentFd;
    (void)name;
    return std::nullopt;
#endif
}

} // namespace

KZItemAttributes::KZItemAttributes(const KZItemAttributes& other)
    : path_(other.path()), name_(other.name_), parentFd_(other.parentFd_), stat_(other.stat_),
      finderInfo_(other.finderInfo_)
{
}

KZItemAttributes& KZItemAttributes::operator=(const KZItemAttributes& other)
{
    if (this != &other)
        *this = KZItemAttributes(other);
    return *this;
}

KZItemAttributes::KZItemAttributes(KZItemAttributes&& other)
    : name_(std::move(other.name_)), parentFd_(other.parentFd_), stat_(std::move(other.stat_)),
      finderInfo_(std::move(other.finderInfo_))
{
    other.holdPath();
    path_ = std::move(other.path_);
}

KZItemAttributes& KZItemAttributes::operator=(KZItemAttributes&& other)
{
    if (this != &other) {
        other.holdPath();
        path_ = std::move(other.path_);
        parent_ = nullptr;
        name_ = std::move(other.name_);
        parentFd_ = other.parentFd_;
        stat_ = std::move(other.stat_);
        finderInfo_ = std::move(other.finderInfo_);
    }
    return *this;
}

void KZItemAttributes::holdPath() const
{
    if (parent_) {
        path_ = *parent_ / name_;
        parent_ = nullptr;
    }
}

const std::filesystem::path& KZItemAttributes::path() const
{
    holdPath();
    return path_;
}

std::filesystem::path KZItemAttributes::takePath()
{
    holdPath();
    return std::move(path_);
}

KZItemAttributes KZItemAttributes::fromEntry(const std::filesystem::path& parent, const platform::DirEntry& entry,
                                             int parentFd)
{
    KZItemAttributes attributes;
    attributes.parent_ = &parent;
    attributes.name_ = entry.name;
    attributes.parentFd_ = parentFd;
    if (!entry.statFailed)
        attributes.stat_ = entry.stat;
    return attributes;
}

KZItemAttributes KZItemAttributes::read(const std::filesystem::path& path)
{
    return described(path, platform::statPath(path, false));
}

KZItemAttributes KZItemAttributes::described(std::filesystem::path path, std::optional<platform::FileStat> stat)
{
    KZItemAttributes attributes;
    // A path that ends in a name has it after its last separator.
    const std::string& bytes = path.native();
    if (!bytes.empty() && bytes.back() != '/')
        attributes.name_.assign(bytes, bytes.rfind('/') + 1);
    else
        attributes.name_ = lastComponent(path).native();
    attributes.path_ = std::move(path);
    attributes.stat_ = std::move(stat);
    return attributes;
}

std::optional<QString> KZItemAttributes::fileName() const
{
    if (!stat_)
        return std::nullopt;
    if (name_.empty())
        return QStringLiteral("/");
    return platform::pathText(name_);
}

std::filesystem::path KZItemAttributes::parentDirectory() const
{
    if (!stat_)
        return {};
    const std::filesystem::path& whole = path();
    std::filesystem::path trimmed = whole.has_filename() ? whole : whole.parent_path();
    if (!trimmed.has_relative_path())
        return {}; // the root has no parent
    return trimmed.parent_path();
}

bool KZItemAttributes::isPackage() const
{
    if (!isDirectory())
        return false;
    if (platform::isPackageExtension(extensionOfBytes(name_)))
        return true;
    // A photo library's folder that a mount shows at a plain path is the
    // library's as much as the package is: one item, never walked, or its
    // masters would be offered as plain files. Only a mount point costs the
    // look at the mount table.
    return stat_->mountRoot && stat_->mountId
        && platform::photoLibraryPlaceOfMountRoot(*stat_->mountId) != platform::PhotoLibraryPlace::None;
}

bool KZItemAttributes::isApplication() const
{
    return stat_ && platform::isApplication(path());
}

bool KZItemAttributes::isHidden() const
{
    if (!stat_)
        return false;
    if (!name_.empty() && name_.front() == '.')
        return true;
    return finderInfo().isInvisible();
}

bool KZItemAttributes::isAlias() const
{
    if (!stat_)
        return false;
    return stat_->isSymlink() || finderInfo().isAliasFlag();
}

bool KZItemAttributes::isLocked() const
{
    if (!stat_ || stat_->isSymlink())
        return false;
    if (stat_->immutable)
        return *stat_->immutable;
    return platform::isImmutable(path());
}

bool KZItemAttributes::hasCustomIcon() const
{
    return stat_ && finderInfo().hasCustomIcon();
}

std::optional<int> KZItemAttributes::labelNumber() const
{
    if (!stat_)
        return std::nullopt;
    return finderInfo().labelColor();
}

quint32 KZItemAttributes::typeCode() const
{
    return stat_ ? finderInfo().fileType() : 0;
}

std::optional<quint64> KZItemAttributes::totalFileSize() const
{
    if (!stat_ || stat_->isDir())
        return std::nullopt;
    return stat_->size;
}

const platform::FinderInfo& KZItemAttributes::finderInfo() const
{
    if (!finderInfo_) {
        // A link carries no user attributes of its own on Linux; asking would
        // only cost a refused call.
        if (!stat_ || stat_->isSymlink())
            finderInfo_ = platform::FinderInfo{};
        else if (auto at = finderInfoAt(parentFd_, name_))
            finderInfo_ = *at;
        else
            finderInfo_ = platform::readFinderInfo(path(), false);
    }
    return *finderInfo_;
}

KZObjectID KZItemAttributes::objectID() const
{
    if (!stat_)
        return {};
    return {quint64(stat_->device), stat_->inode};
}

std::filesystem::path KZItemAttributes::pathWithURL(const std::filesystem::path& path, int* posixError)
{
    int err = 0;
    if (path.empty())
        err = EINVAL;
    else if (!platform::statPath(path, false, &err))
        err = err ? err : ENOENT;
    if (err) {
        if (posixError)
            *posixError = err;
        return {};
    }
    return path;
}

std::optional<QString> KZItemAttributes::fileNameWithURL(const std::filesystem::path& path)
{
    return read(path).fileName();
}

std::filesystem::path KZItemAttributes::parentDirectoryWithURL(const std::filesystem::path& path)
{
    return read(path).parentDirectory();
}

bool KZItemAttributes::isApplicationWithURL(const std::filesystem::path& path)
{
    return read(path).isApplication();
}

bool KZItemAttributes::isPackageWithURL(const std::filesystem::path& path)
{
    return read(path).isPackage();
}

bool KZItemAttributes::isDirectoryWithURL(const std::filesystem::path& path)
{
    return read(path).isDirectory();
}

bool KZItemAttributes::isHiddenWithURL(const std::filesystem::path& path)
{
    return read(path).isHidden();
}

bool KZItemAttributes::isAliasWithURL(const std::filesystem::path& path)
{
    return read(path).isAlias();
}

bool KZItemAttributes::isLockedWithURL(const std::filesystem::path& path)
{
    return read(path).isLocked();
}

KZObjectID KZItemAttributes::directoryIDWithURL(const std::filesystem::path& path)
{
    return read(path).objectID();
}

bool KZItemAttributes::hasCustomIcon(const std::filesystem::path& path)
{
    return read(path).hasCustomIcon();
}
