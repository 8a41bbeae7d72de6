#pragma once

#include <QDateTime>
#include <QString>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The freedesktop.org Trash: a trash folder holds "files/" (the items) and
// "info/" (one "<name>.trashinfo" per item, naming where it came from).

// $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash. Not created here.
std::filesystem::path homeTrashDirectory();

// The layout inside a trash folder; the one place that spells it.
std::filesystem::path trashFilesFolder(const std::filesystem::path& trashDir);
std::filesystem::path trashInfoFolder(const std::filesystem::path& trashDir);
// trashDir/info/<name>.trashinfo, the info of the item trashDir/files/<name>.
std::filesystem::path trashInfoPath(const std::filesystem::path& trashDir, const std::string& name);
// The trash folder whose files/ holds `trashedItem` directly, judged by the
// names alone; nullopt when the item's folder is not called files/.
std::optional<std::filesystem::path> trashOfTrashedItem(const std::filesystem::path& trashedItem);
// The item name that an info file's name is about ("x.txt" for
// "x.txt.trashinfo"); nullopt for any other name.
std::optional<std::string> trashedNameOfInfo(const std::string& infoName);

// The trash that `item` goes to without leaving its device:
// - the home trash when the item is on the home trash's device;
// - else $topdir/.Trash/$uid when $topdir/.Trash is a real folder (not a
//   link) with the sticky bit;
// - else $topdir/.Trash-$uid.
// A top-directory trash, its files/ and its info/ are used only when each is
// a real folder (no link) of this user, as the disk shows its owner, with
// mode 0700, or, on a disk that keeps no modes (vfat, exFAT, NTFS without
// them), no more open than the disk shows a folder made with 0700. With
// `create` the chosen folder and its files/ and info/ are made (0700).
// Answers nullopt when no trash on the item's own device can be used: an
// item is never moved to another device.
std::optional<std::filesystem::path> trashDirectoryFor(const std::filesystem::path& item, bool create);

// Whether an item at `item` can go to a trash on its own device: the trash
// is looked at, and made where missing, as a move to it would, and what was
// made for the question is taken away again.
bool canTrashOnDeviceOf(const std::filesystem::path& item);

// Every trash an item of `folder` can have been moved to: the one
// trashDirectoryFor() chooses and the one at the top of the folder's own
// mount, where an item of a bind mount of the home file system goes. Nothing
// is made; a trash that is not there yet may be named all the same.
std::vector<std::filesystem::path> trashDirectoriesFor(const std::filesystem::path& folder);

// A folder laid out as a trash (files/ and info/), or the home trash.
bool isTrashDirectory(const std::filesystem::path& path);
// The path lies inside a trash's files/ or info/ folder (lexically).
bool isInTrash(const std::filesystem::path& path);
// The folder a top-directory trash lies in (the top of its disk's mount);
// empty for the home trash, which belongs to no disk's top.
std::filesystem::path topOfTrashDirectory(const std::filesystem::path& trashDir);

// Moves `item` into its trash: writes info/<name>.trashinfo first, created
// exclusively with a free name ("x.txt", "x.2.txt", "x.3.txt", ...), then
// moves the item to files/<name> without replacing anything. An item on a
// bind mount of the home file system goes to the trash of its own mount. On
// any failure the trashinfo and the trash folders made for it are removed
// again and the item stays where it was. A mount point is refused. Answers
// the item's new location. `err` receives the errno of the failed step, or
// noUsableTrash when no trash on the item's own device can be used, and
// trashCovered when a disk was mounted on the trash's files/ folder while the
// item moved there (it stays where it was).
constexpr int noUsableTrash = -1;
constexpr int trashCovered = -2;
std::optional<std::filesystem::path> moveToTrash(const std::filesystem::path& item, QString* error = nullptr,
                                                 int* err = nullptr);

// For tests: runs right before each move into a trash's files/ folder, once
// the folder was chosen and opened, with the item's destination there.
void setBeforeTrashMoveHook(std::function<void(const std::filesystem::path& destination)> hook);

class AnchoredItem;

// The numbers already given to each name in each trash during one removal:
// trashing many items of one name then starts at the next free number
// instead of trying "x.2", "x.3", ... again for every item. A number is only
// where the search starts; every name is still created exclusively.
class TrashNumbering {
public:
    int firstNumber(const std::filesystem::path& trash, const std::string& name) const;
    void taken(const std::filesystem::path& trash, const std::string& name, int number);

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> next_;
};

// The same for an item reached through its open parent folder: the entry is
// moved out of that very folder, whatever its path now leads to.
std::optional<std::filesystem::path> moveToTrash(const AnchoredItem& item, TrashNumbering* numbering,
                                                 QString* error = nullptr, int* err = nullptr);

// Moves a trashed item back to `originalPath` (missing parent folders are
// made again, and removed again when the move fails) without replacing
// anything there, then removes its trashinfo.
bool restoreFromTrash(const std::filesystem::path& trashedItem, const std::filesystem::path& originalPath,
                      QString* error = nullptr);

// Creates trashDir/info/<name>.trashinfo exclusively for an item that will be
// put at trashDir/files/<name>; fails (EEXIST in `err`) when one is there.
bool createTrashInfo(const std::filesystem::path& trashDir, const std::string& name,
                     const std::filesystem::path& originalPath, QString* error = nullptr, int* err = nullptr);

struct TrashInfo {
    std::filesystem::path originalPath; // absolute, decoded byte for byte
    QDateTime deletionDate;             // local time; invalid when absent
};

// The trashinfo of an item in some trash's files/ folder; nullopt when it
// is missing or damaged, or when its path has a ".." component.
std::optional<TrashInfo> readTrashInfo(const std::filesystem::path& trashedItem);

// Percent-encoding of path bytes as trashinfo files hold them ("/" is kept).
std::string encodeTrashPath(const std::string& bytes);
std::optional<std::string> decodeTrashPath(std::string_view text); // nullopt for a bad escape

} // namespace platform
