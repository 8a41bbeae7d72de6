#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include <sys/types.h>

namespace platform {

// The system's text for an errno value, or for one of the platform's own
// codes below.
QString systemErrorString(int err);

// What a move answers when the disk moves no folder without replacing (FAT
// through FUSE refuses the kernel's no-replace flag, then refuses to rename
// a folder over the empty one reserved for it): the disk's refusal, not a
// permission the user lacks. Beside the trash's own codes (-1, -2).
constexpr int folderMoveRefusedByDisk = -3;

// The whole content of `file` when it is a regular file of at most
// `maxSize` bytes. It is opened without blocking, so a FIFO or device put
// under the name is refused instead of waited on; without `followLinks` a
// symbolic link is refused too. On failure `reason` says why ("not a regular
// file", "the file is too large", or the system's text).
// `inspect`, when given, sees the open file and its size before anything is
// read and may refuse it with a reason (its first bytes, its holes).
std::optional<QByteArray> readRegularFile(const std::filesystem::path& file, quint64 maxSize,
                                          QString* reason = nullptr, bool followLinks = false,
                                          const std::function<std::optional<QString>(int fd, quint64 size)>& inspect
                                          = {});

// How openFolderAt opens a folder; flags combine with |.
enum FolderOpening : unsigned {
    // Read-only (listable), and a symbolic link as the last component is
    // refused (ENOTDIR or ELOOP) instead of followed.
    kFolderNoFollow = 0,
    // A link as the last component is followed.
    kFolderFollowLink = 1,
    // O_PATH: enough for the *at calls, and opens a folder that may be
    // searched but not listed.
    kFolderPathOnly = 2,
};

// Opens the folder `name` relative to the open folder `dirfd` (AT_FDCWD for
// the working folder; an absolute name needs no folder), close-on-exec.
// Answers the descriptor, or -1 with errno set.
int openFolderAt(int dirfd, const char* name, unsigned how = kFolderNoFollow);

// The path of an open folder as the system knows it now, every link on the
// way resolved; nullopt when it cannot be told.
std::optional<std::filesystem::path> pathOfOpenFolder(int fd);

// Whether the path of the open folder `fd` still reaches that very folder,
// on the same mount. A disk or shared folder mounted on it since it was
// opened hides it: what moves in through the descriptor lies beneath the
// mount, where nobody finds it. True when it cannot be told (no /proc): the
// open folder is still where the item goes.
bool pathReachesOpenFolder(int fd);

// The names in the open folder `fd` (taken over and closed), without "." and
// "..". nullopt when `fd` is -1 or the folder cannot be read whole.
std::optional<std::set<std::string>> namesInFolder(int fd);

// How a change of an item's mode went. A disk that keeps no modes refuses
// every change (FAT through FUSE answers ENOSYS, others EOPNOTSUPP, one
// mounted without modes EPERM even to the item's owner): what the create
// gave stays, as private as that disk can show it, and the caller goes on.
// A permission the user lacks on a disk that keeps modes is still Failed.
enum class ModeChange { Given, RefusedByDisk, Failed };

// fchmod of the open `fd`; `err` receives the errno of a refusal or failure.
ModeChange changeMode(int fd, mode_t mode, int* err = nullptr);

// fchmodat of `name` in the open folder `dirfd`, `flags` as fchmodat takes.
ModeChange changeModeAt(int dirfd, const char* name, mode_t mode, int flags = 0, int* err = nullptr);

// Whether the files `a` and `b` hold the same bytes, read through
// descriptors that never follow a symbolic link as the last component. False
// when either cannot be opened or read, or is no regular file (a FIFO is
// refused at once, never waited on).
bool sameFileBytes(const std::filesystem::path& a, const std::filesystem::path& b);

// Answers true when the caller wants a long walk to end early.
using StopTest = std::function<bool()>;

// Whether `a` and `b` hold the same content: items of one kind, files with
// the same bytes, links with the same target, folders with the same names
// and the same content beneath. No link is followed; false when anything
// cannot be read, or on a stop.
bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b, const StopTest& stopped = {});

// Whether the entry `copyName` of `copyDir` is a copy of the entry
// `itemName` of `itemDir` cut short: of its kind, each of its files the
// first bytes of the item's file of that name, each link of the same
// target, nothing the item lacks, and less than the whole item. Read
// through open folders, never following a link; false when anything
// cannot be read.
bool isUnfinishedCopyAt(int itemDir, const std::string& itemName, int copyDir, const std::string& copyName);

// Writes all of `data`, retrying after signals and short writes. False with
// errno set on an error; EIO when the descriptor takes no more bytes.
bool writeAll(int fd, const char* data, size_t size);

// Moves `from` to `to` (same file system) and never replaces an item that is
// already at `to`: renameat2(RENAME_NOREPLACE), else, where the file system
// does not support that flag, a hard link and an unlink for non-folders, or a
// reserved empty placeholder for folders. A symbolic link is moved itself.
// On failure nothing has moved; `err` receives the errno (EEXIST when the
// destination is taken, EXDEV across file systems), or
// folderMoveRefusedByDisk.
bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                   QString* error = nullptr, int* err = nullptr);

// Copies `from` to `to`, a folder with everything in it. Modes, time stamps
// and extended attributes are kept; a symbolic link is copied as a link.
// Every target is created exclusively, so nothing that is already at `to`
// is replaced (EEXIST). On failure only what this call created is removed
// again; the source is only read. A stop request fails with ECANCELED.
// Nothing is copied across a file system boundary: a mount point at or
// beneath `from` (also one made while the copy runs) fails it with EXDEV.
bool copyTree(const std::filesystem::path& from, const std::filesystem::path& to, const StopTest& stopped = {},
              int* err = nullptr);

// copyTree from the entry `fromName` of the open folder `fromDir` to the
// entry `toName` of the open folder `toDir`. Everything is created, and a
// failed copy cleaned up, through those descriptors and the ones opened
// below them, never by path again.
bool copyTreeAt(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                const StopTest& stopped = {}, int* err = nullptr);

// Deletes `path`, a folder with everything in it. The walk goes through
// open folders (openat/unlinkat) and never follows a symbolic link, so a link
// inside the folder can never lead the deletion outside it. With `keepTop`
// only the contents of the folder go. Between children the stop test is
// asked; a stop fails with ECANCELED and keeps what was not reached yet.
// Nothing is deleted across a file system boundary: when the item is a mount
// point or holds one (also a bind mount of the same file system), or holds a
// folder that cannot be read, the call fails (EXDEV, or that folder's errno)
// before anything goes.
bool removeTree(const std::filesystem::path& path, const StopTest& stopped = {}, int* err = nullptr,
                bool keepTop = false);

// renameat2(RENAME_NOREPLACE) between two open folders, with the same
// fallbacks as moveNoReplace for file systems without the flag. Never
// replaces; EEXIST when the target name is taken.
bool moveNoReplaceAt(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                     int* err = nullptr);

// removeTree for the entry `name` of an open folder. `deletedSome` tells
// whether anything went before a failure: a mount that appears in the folder
// while it is deleted stops the deletion at its edge (EXDEV) after part of
// the folder may have gone already.
bool removeTreeAt(int dirfd, const std::string& name, const StopTest& stopped = {}, int* err = nullptr,
                  bool* deletedSome = nullptr);

// Walks the entry `name` of an open folder without following links and
// touches nothing: EXDEV when the entry is a mount point or one lies beneath
// it (also a bind mount of the same file system), the errno of a folder
// that cannot be read, else 0. What moves or copies a folder asks first: a
// mount travels with its folder, and whatever later deletes the folder
// (emptying the Trash) would delete the other file system's files.
int mountInsideEntryAt(int dirfd, const std::string& name);

} // namespace platform
