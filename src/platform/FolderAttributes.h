#pragma once

#include "platform/FileStat.h"

#include <QByteArray>
#include <QVariantMap>

#include <optional>
#include <string>
#include <sys/types.h>

namespace platform {

// Who a folder belongs to and who may enter it: what a folder made again in
// its place has to be given, so that it is never more open, nor anyone
// else's, than the one the user had. The ACLs are the kernel's own
// system.posix_acl_access and system.posix_acl_default values, byte for
// byte; empty where the folder has none.
struct FolderAttributes {
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0; // permission, set-id and sticky bits
    QByteArray accessAcl;
    QByteArray defaultAcl;

    // The folder open at `fd` (an O_PATH descriptor will do); nothing when
    // any of it cannot be read (an ACL on a file system that does not say,
    // ENOTSUP, included), for a part missing would make the folder more
    // open than it was.
    static std::optional<FolderAttributes> of(int fd);

    // As a stored record keeps them: "owner", "group", "mode", and
    // "accessACL" and "defaultACL" only where the folder has them. A record
    // is anyone's to write: what is not plainly such a record reads as none.
    QVariantMap toMap() const;
    static std::optional<FolderAttributes> fromMap(const QVariantMap& map);

    bool operator==(const FolderAttributes&) const = default;
};

// What makeFolderAt() did.
enum class FolderMade {
    Given,   // made, with the attributes asked for
    Private, // made, private to its maker (0700): the attributes could not all be given
    Existed, // something took the name first; nothing was made
    Failed,  // nothing was made; errno in `err`
};

// Makes the folder `name` in the open folder `parentFd` with `attributes`,
// or private to the caller (0700) when there are none or any of them cannot
// be given. It is made under a temporary name in the same folder, given its
// owner, ACLs and mode there, and only then moved to its name without
// replacing: no one ever finds it at its name with attributes it was not
// meant to have, not even after the process was killed half way. `extraMode`
// is added to a given mode for as long as the caller fills the folder (its
// owner's bits, say). `made` receives what was made. On a disk that keeps
// no modes and moves no folder (FAT through FUSE), where nothing could be
// given, it is made at its name at once.
FolderMade makeFolderAt(int parentFd, const std::string& name, const std::optional<FolderAttributes>& attributes,
                        mode_t extraMode = 0, FileStat* made = nullptr, int* err = nullptr);

} // namespace platform
