#include "platform/FolderAttributes.h"

#include "platform/FileOps.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";
// The kernel takes no attribute value larger than this.
constexpr ssize_t kMaxAclSize = 65536;

std::string procPathOf(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// Empty for an ACL the folder does not have; nothing when it could not be
// read. A file system that answers ENOTSUP may only be mounted without
// ACLs for now (btrfs -o noacl), with the folder's restricting ACL still on
// its disk: that is an ACL unknown, never one absent.
std::optional<QByteArray> readAcl(const std::string& path, const char* name)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
        if (size < 0)
            return errno == ENODATA ? std::optional(QByteArray()) : std::nullopt;
        if (size > kMaxAclSize)
            return std::nullopt;
        QByteArray value(qsizetype(size), Qt::Uninitialized);
        const ssize_t got = ::getxattr(path.c_str(), name, value.data(), size_t(value.size()));
        if (got >= 0) {
            value.truncate(qsizetype(got));
            return value;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

// The folder open at `fd` gets exactly the ACL given: an empty one is
// taken away (one that mkdir handed down from the parent included).
bool setAcl(int fd, const char* name, const QByteArray& value)
{
    if (value.isEmpty())
        return ::fremovexattr(fd, name) == 0 || errno == ENODATA || errno == ENOTSUP;
    return ::fsetxattr(fd, name, value.constData(), size_t(value.size()), 0) == 0;
}

std::optional<qint64> numberIn(const QVariantMap& map, const QString& key, qint64 max)
{
    const QVariant value = map.value(key);
    if (value.typeId() != QMetaType::LongLong && value.typeId() != QMetaType::Int
        && value.typeId() != QMetaType::ULongLong && value.typeId() != QMetaType::UInt)
        return std::nullopt;
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    if (!ok || number < 0 || number > max)
        return std::nullopt;
    return number;
}

// Absent, or data no larger than the kernel takes.
std::optional<QByteArray> aclIn(const QVariantMap& map, const QString& key)
{
    const QVariant value = map.value(key);
    if (!value.isValid())
        return QByteArray();
    if (value.typeId() != QMetaType::QByteArray || value.toByteArray().size() > kMaxAclSize)
        return std::nullopt;
    return value.toByteArray();
}

} // namespace

std::optional<FolderAttributes> FolderAttributes::of(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    const std::string path = procPathOf(fd);
    auto access = readAcl(path, kAccessAcl);
    auto defaults = readAcl(path, kDefaultAcl);
    if (!access || !defaults)
        return std::nullopt;
    return FolderAttributes{st.st_uid, st.st_gid, mode_t(st.st_mode & 07777), std::move(*access),
                            std::move(*defaults)};
}

QVariantMap FolderAttributes::toMap() const
{
    QVariantMap map{{QStringLiteral("owner"), qint64(owner)},
                    {QStringLiteral("group"), qint64(group)},
                    {QStringLiteral("mode"), qint64(mode)}};
    if (!accessAcl.isEmpty())
        map.insert(QStringLiteral("accessACL"), accessAcl);
    if (!defaultAcl.isEmpty())
        map.insert(QStringLiteral("defaultACL"), defaultAcl);
    return map;
}

std::optional<FolderAttributes> FolderAttributes::fromMap(const QVariantMap& map)
{
    // (uid_t)-1 and (gid_t)-1 mean "leave as it is" to chown: never an owner.
    const auto owner = numberIn(map, QStringLiteral("owner"), qint64(uid_t(-1)) - 1);
    const auto group = numberIn(map, QStringLiteral("group"), qint64(gid_t(-1)) - 1);
    const auto mode = numberIn(map, QStringLiteral("mode"), 07777);
    auto access = aclIn(map, QStringLiteral("accessACL"));
    auto defaults = aclIn(map, QStringLiteral("defaultACL"));
    if (!owner || !group || !mode || !access || !defaults)
        return std::nullopt;
    return FolderAttributes{uid_t(*owner), gid_t(*group), mode_t(*mode), std::move(*access), std::move(*defaults)};
}

namespace {

FolderMade makeInPlace(int parentFd, const std::string& name, FileStat* made, int* err)
{
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0) {
        const int code = errno;
        if (err)
            *err = code == EEXIST ? 0 : code;
        return code == EEXIST ? FolderMade::Existed : FolderMade::Failed;
    }
    if (made) {
        const auto now = statAt(parentFd, name.c_str(), false);
        *made = now ? *now : FileStat{};
    }
    if (err)
        *err = 0;
    return FolderMade::Private;
}

} // namespace

FolderMade makeFolderAt(int parentFd, const std::string& name, const std::optional<FolderAttributes>& attributes,
                        mode_t extraMode, FileStat* made, int* err)
{
    const auto fail = [err](int code) {
        if (err)
            *err = code;
        return FolderMade::Failed;
    };
    std::string temporary;
    for (int n = 0;; ++n) {
        temporary = ".maravex-folder-" + std::to_string(::getpid()) + "-" + std::to_string(n);
        if (::mkdirat(parentFd, temporary.c_str(), 0700) == 0)
            break;
        if (errno != EEXIST || n >= 1000)
            return fail(errno);
    }
    const auto discard = [&](int code) {
        ::unlinkat(parentFd, temporary.c_str(), AT_REMOVEDIR);
        return fail(code);
    };
    const int fd = openFolderAt(parentFd, temporary.c_str());
    if (fd < 0)
        return discard(errno);
    // Owner first: taking a folder over is what the ACLs and the mode must
    // not meet half given. Whatever cannot be given leaves the folder
    // private to whoever it belongs to then.
    bool given = attributes && ::fchown(fd, attributes->owner, attributes->group) == 0
                 && setAcl(fd, kDefaultAcl, attributes->defaultAcl) && setAcl(fd, kAccessAcl, attributes->accessAcl);
    if (given)
        given = changeMode(fd, attributes->mode | extraMode) == ModeChange::Given;
    // A disk that keeps no modes shows the folder as private as it can.
    int modeErr = 0;
    if (!given && changeMode(fd, 0700, &modeErr) == ModeChange::Failed) {
        ::close(fd);
        return discard(modeErr);
    }
    struct stat st {};
    const bool described = ::fstat(fd, &st) == 0;
    ::close(fd);
    int moveErr = 0;
    if (!moveNoReplaceAt(parentFd, temporary, parentFd, name, &moveErr)) {
        ::unlinkat(parentFd, temporary.c_str(), AT_REMOVEDIR);
        if (moveErr == EEXIST)
            return FolderMade::Existed;
        // A disk that moves no folder gave nothing to hide while it was
        // half made either: the folder is made at its name.
        if (moveErr != folderMoveRefusedByDisk || given)
            return fail(moveErr);
        return makeInPlace(parentFd, name, made, err);
    }
    if (made) {
        if (const auto now = statAt(parentFd, name.c_str(), false); now && described && now->inode == st.st_ino)
            *made = *now;
        else
            *made = {};
    }
    if (err)
        *err = 0;
    return given ? FolderMade::Given : FolderMade::Private;
}

} // namespace platform
