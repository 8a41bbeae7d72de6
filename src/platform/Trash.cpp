#include "platform/Trash.h"

#include "platform/AnchoredItem.h"
#include "platform/Clock.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/HexDigit.h"
#include "platform/Log.h"
#include "platform/NameReservation.h"
#include "platform/Paths.h"
#include "platform/Users.h"
#include "platform/Volumes.h"

#include <QByteArray>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr const char* kInfoSuffix = ".trashinfo";

std::filesystem::path normalAbsolute(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::path absolute = path.is_absolute() ? path : std::filesystem::current_path(ec) / path;
    absolute = absolute.lexically_normal();
    // "/a/b/" names the same item as "/a/b"; the trailing separator would
    // leave an empty file name.
    if (!absolute.has_filename() && absolute.has_relative_path())
        absolute = absolute.parent_path();
    return absolute;
}

bool setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

bool isAllDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// ".Trash-UID", or UID inside ".Trash": the two forms of a top-directory trash.
bool hasTopTrashName(const std::filesystem::path& normal)
{
    const std::string name = normal.filename().native();
    return (name.rfind(".Trash-", 0) == 0 && isAllDigits(name.substr(7)))
        || (normal.parent_path().filename() == ".Trash" && isAllDigits(name));
}

// The device that an item moved into `dir` would end up on: `dir` itself, or
// its nearest existing ancestor when it has not been made yet. Links are
// followed, since moving into a linked folder lands on the link's target.
std::optional<dev_t> deviceOfFutureFolder(std::filesystem::path dir)
{
    for (;;) {
        if (auto st = statPath(dir, true))
            return st->device;
        if (!dir.has_relative_path())
            return std::nullopt;
        dir = dir.parent_path();
    }
}

// Folders that one step made, so that a step that fails can take them away
// again. rmdir only, deepest first: whatever appeared in them meanwhile stays.
class MadeFolders {
public:
    void add(const std::filesystem::path& dir) { folders_.push_back(dir); }
    void append(MadeFolders&& other)
    {
        folders_.insert(folders_.end(), other.folders_.begin(), other.folders_.end());
        other.folders_.clear();
    }
    void undo()
    {
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            ::rmdir(it->c_str());
        folders_.clear();
    }

private:
    std::vector<std::filesystem::path> folders_;
};

bool makeFolder(const std::filesystem::path& dir, mode_t mode, MadeFolders& made)
{
    if (::mkdir(dir.c_str(), mode) == 0) {
        made.add(dir);
        return true;
    }
    if (errno != EEXIST)
        return false;
    const auto st = statPath(dir, true);
    if (st && st->isDir())
        return true;
    errno = ENOTDIR;
    return false;
}

bool makeFolderWithParents(const std::filesystem::path& dir, mode_t mode, MadeFolders& made)
{
    if (auto st = statPath(dir, true)) {
        if (st->isDir())
            return true;
        errno = ENOTDIR;
        return false;
    }
    if (dir.has_relative_path() && dir.parent_path() != dir && !makeFolderWithParents(dir.parent_path(), 0777, made))
        return false;
    return makeFolder(dir, mode, made);
}

// The most private mode a folder made in `dir` keeps: 0700 on a disk that
// keeps modes. A disk that keeps none (vfat, exFAT, NTFS mounted without
// them) shows every folder with the one mode its mount gives, whatever was
// asked; the disk itself is asked, with a folder made and taken away again,
// since no list of file-system types tells what a FUSE driver or a mount
// option does. Empty when nothing can be made there.
std::optional<mode_t> mostPrivateModeIn(const std::filesystem::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<mode_t> mode;
    for (int n = 0; n < 100 && !mode; ++n) {
        const std::string probe = ".mode-probe-" + std::to_string(::getpid()) + "-" + std::to_string(n);
        if (::mkdirat(fd, probe.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        // What the disk keeps of 0700 is read back below, whatever it answers.
        changeModeAt(fd, probe.c_str(), 0700);
        struct stat st {};
        if (::fstatat(fd, probe.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
            mode = st.st_mode & 0777;
        ::unlinkat(fd, probe.c_str(), AT_REMOVEDIR);
        if (!mode)
            break;
    }
    ::close(fd);
    return mode;
}

// A folder of a top-directory trash lies on a volume that other users may
// share: it must be a real folder (a link could redirect our items), ours
// as the disk shows it, and closed to everyone else, or they could read or
// plant trashed items. On a disk that keeps no modes, "closed" is as closed
// as that disk can show a folder: the items were no more private in place.
// `closest` is that disk's most private mode, asked once it is needed.
bool isPrivateFolder(const std::filesystem::path& dir, std::optional<mode_t>& closest)
{
    const auto st = statPath(dir, false);
    if (!st || !st->isDir() || st->uid != ::getuid())
        return false;
    const mode_t mode = st->mode & 0777;
    if (mode == 0700)
        return true;
    if (!closest)
        closest = mostPrivateModeIn(dir);
    return closest && *closest != 0700 && (mode & ~*closest) == 0;
}

// The umask may have left a folder that we just made with fewer bits than
// 0700; one that was already there is taken only as it is. A folder made
// here shows what this disk keeps of 0700.
bool makePrivateFolder(const std::filesystem::path& dir, MadeFolders& made, std::optional<mode_t>& closest)
{
    if (::mkdir(dir.c_str(), 0700) == 0) {
        made.add(dir);
        changeModeAt(AT_FDCWD, dir.c_str(), 0700, AT_SYMLINK_NOFOLLOW);
        if (const auto st = statPath(dir, false); st && st->isDir() && !closest)
            closest = st->mode & 0777;
    } else if (errno != EEXIST) {
        return false;
    }
    return isPrivateFolder(dir, closest);
}

bool ensureHomeLayout(const std::filesystem::path& trash, MadeFolders& made)
{
    return makeFolderWithParents(trash, 0700, made) && makeFolder(trashFilesFolder(trash), 0700, made)
        && makeFolder(trashInfoFolder(trash), 0700, made);
}

// The folder that a top-directory trash belongs to; empty for the home trash.
std::filesystem::path topDirectoryOf(const std::filesystem::path& trash)
{
    const auto normal = normalAbsolute(trash);
    if (normal == normalAbsolute(homeTrashDirectory()))
        return {};
    const std::string name = normal.filename().native();
    if (name.rfind(".Trash-", 0) == 0)
        return normal.parent_path();
    if (normal.parent_path().filename() == ".Trash")
        return normal.parent_path().parent_path();
    return {};
}

// The name an item gets in files/: a number goes before the extension
// ("x.2.txt"), as file managers do, so that the Trash still shows the type.
struct TrashName {
    std::string stem;
    std::string extension; // with its dot; empty for ".profile" or "name."

    std::string numbered(int number) const
    {
        return number == 1 ? stem + extension : stem + "." + std::to_string(number) + extension;
    }
};

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Trash names live beside ".trashinfo" in info/: leave room for the suffix
// and a counter, and never cut a UTF-8 sequence in two.
TrashName trashNameFor(const std::string& name)
{
    constexpr size_t room = NAME_MAX - 10 /* .trashinfo */ - 6 /* .NNNNN */;
    TrashName out{name, {}};
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
        out.stem = name.substr(0, dot);
        out.extension = name.substr(dot);
    }
    if (name.size() <= room)
        return out;
    // A long tail after the last dot tells no type; it is shortened with the rest.
    if (out.extension.size() > room / 4) {
        out.stem = name;
        out.extension.clear();
    }
    const size_t keep = room - out.extension.size();
    size_t cut = keep;
    while (cut > 0 && isUtf8Continuation(out.stem[cut]))
        --cut;
    // Bytes that are no UTF-8 at all have no character to keep whole; cutting
    // them anywhere is better than an empty stem, which would leave the item
    // hidden (".2") or nameless.
    if (cut == 0)
        cut = keep;
    out.stem.resize(cut);
    return out;
}

} // namespace

std::filesystem::path trashFilesFolder(const std::filesystem::path& trashDir)
{
    return trashDir / "files";
}

std::filesystem::path trashInfoFolder(const std::filesystem::path& trashDir)
{
    return trashDir / "info";
}

std::filesystem::path trashInfoPath(const std::filesystem::path& trashDir, const std::string& name)
{
    return trashInfoFolder(trashDir) / (name + kInfoSuffix);
}

std::optional<std::filesystem::path> trashOfTrashedItem(const std::filesystem::path& trashedItem)
{
    const auto files = trashedItem.parent_path();
    if (files.filename() != "files")
        return std::nullopt;
    return files.parent_path();
}

std::optional<std::string> trashedNameOfInfo(const std::string& infoName)
{
    const std::string_view suffix(kInfoSuffix);
    if (infoName.size() <= suffix.size() || !infoName.ends_with(suffix))
        return std::nullopt;
    return infoName.substr(0, infoName.size() - suffix.size());
}

std::filesystem::path homeTrashDirectory()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::filesystem::path(data) / "Trash";
    return homeDirectory() / ".local" / "share" / "Trash";
}

namespace {

// One candidate top-directory trash: it and its files/ and info/ must be
// private folders (made so with `create`, else made on first use), and the
// items moved into it must stay on their device. What a refused candidate
// made is taken away again.
bool usableTopTrash(const std::filesystem::path& trash, dev_t device, bool create, MadeFolders& made)
{
    MadeFolders mine;
    std::optional<mode_t> closest;
    for (const auto& dir : {trash, trashFilesFolder(trash), trashInfoFolder(trash)}) {
        bool usable = true;
        if (statPath(dir, false))
            usable = isPrivateFolder(dir, closest);
        else if (create)
            usable = makePrivateFolder(dir, mine, closest);
        if (!usable) {
            mine.undo();
            return false;
        }
    }
    if (deviceOfFutureFolder(trashFilesFolder(trash)) != device) {
        mine.undo();
        return false;
    }
    made.append(std::move(mine));
    return true;
}

// The trash at the top of the mount that holds `item`: $topdir/.Trash/$uid,
// else $topdir/.Trash-$uid.
std::optional<std::filesystem::path> topDirectoryTrashFor(const std::filesystem::path& item, dev_t device, bool create,
                                                          MadeFolders& made)
{
    const auto volume = volumeForPath(item);
    if (!volume)
        return std::nullopt;
    const auto& top = volume->mountPoint;
    const std::string uid = std::to_string(::getuid());

    // An administrator-made $topdir/.Trash is only trusted when it is a real
    // folder with the sticky bit; otherwise any user could read our items.
    const auto shared = top / ".Trash";
    if (const auto st = statPath(shared, false); st && st->isDir() && (st->mode & S_ISVTX)) {
        if (usableTopTrash(shared / uid, device, create, made))
            return shared / uid;
    }
    const auto own = top / (".Trash-" + uid);
    if (usableTopTrash(own, device, create, made))
        return own;
    return std::nullopt;
}

std::optional<std::filesystem::path> chooseTrash(const std::filesystem::path& item, dev_t device, bool create,
                                                 MadeFolders& made)
{
    const auto home = homeTrashDirectory();
    if (deviceOfFutureFolder(home) == device) {
        if (create && !ensureHomeLayout(home, made))
            return std::nullopt;
        if (deviceOfFutureFolder(trashFilesFolder(home)) == device)
            return home;
        return std::nullopt;
    }
    return topDirectoryTrashFor(item, device, create, made);
}

} // namespace

std::optional<std::filesystem::path> trashDirectoryFor(const std::filesystem::path& itemPath, bool create)
{
    if (itemPath.empty())
        return std::nullopt;
    MadeFolders made;
    const auto item = normalAbsolute(itemPath);
    const auto itemStat = statPath(item, false);
    if (!itemStat)
        return std::nullopt;
    auto trash = chooseTrash(item, itemStat->device, create, made);
    if (!trash)
        made.undo();
    return trash;
}

bool canTrashOnDeviceOf(const std::filesystem::path& itemPath)
{
    if (itemPath.empty())
        return false;
    const auto item = normalAbsolute(itemPath);
    const auto itemStat = statPath(item, false);
    if (!itemStat)
        return false;
    MadeFolders made;
    const bool usable = chooseTrash(item, itemStat->device, true, made).has_value();
    made.undo();
    return usable;
}

std::vector<std::filesystem::path> trashDirectoriesFor(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> trashes;
    if (folder.empty())
        return trashes;
    const auto normal = normalAbsolute(folder);
    const auto st = statPath(normal, false);
    if (!st)
        return trashes;
    MadeFolders none;
    if (auto chosen = chooseTrash(normal, st->device, false, none))
        trashes.push_back(std::move(*chosen));
    if (auto top = topDirectoryTrashFor(normal, st->device, false, none);
        top && std::find(trashes.begin(), trashes.end(), *top) == trashes.end())
        trashes.push_back(std::move(*top));
    return trashes;
}

std::filesystem::path topOfTrashDirectory(const std::filesystem::path& trashDir)
{
    const std::string name = trashDir.filename().native();
    if (name.rfind(".Trash-", 0) == 0)
        return trashDir.parent_path();
    if (trashDir.parent_path().filename() == ".Trash")
        return trashDir.parent_path().parent_path();
    return {};
}

bool isTrashDirectory(const std::filesystem::path& path)
{
    if (path.empty())
        return false;
    const auto normal = normalAbsolute(path);
    if (normal == normalAbsolute(homeTrashDirectory()))
        return true;
    if (topDirectoryOf(normal).empty())
        return false;
    if (!hasTopTrashName(normal))
        return false;
    const auto st = statPath(normal, true);
    return st && st->isDir();
}

bool isInTrash(const std::filesystem::path& path)
{
    if (path.empty())
        return false;
    const auto normal = normalAbsolute(path);
    const auto home = normalAbsolute(homeTrashDirectory());
    for (auto p = normal; p.has_relative_path(); p = p.parent_path()) {
        const auto name = p.filename();
        if (name != "files" && name != "info")
            continue;
        const auto trash = p.parent_path();
        if (trash == home || hasTopTrashName(trash))
            return true;
    }
    return false;
}

std::string encodeTrashPath(const std::string& bytes)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const unsigned char c : bytes) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::optional<std::string> decodeTrashPath(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = hexDigitValue(text[i + 1]), lo = hexDigitValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(char((hi << 4) | lo));
        i += 2;
    }
    return out;
}

bool createTrashInfo(const std::filesystem::path& trashDir, const std::string& name,
                     const std::filesystem::path& originalPath, QString* error, int* err)
{
    const auto original = normalAbsolute(originalPath);
    std::string location = original.native();
    if (const auto top = topDirectoryOf(trashDir); !top.empty()) {
        // Relative paths keep a removable disk's trash valid wherever it is
        // mounted next time; a path that is not below the top directory
        // (reached through a link) stays absolute.
        const auto relative = original.lexically_relative(top);
        if (!relative.empty() && relative.native().rfind("..", 0) != 0 && relative != ".")
            location = relative.native();
    }
    const QDateTime now = Clock::shared().dateTime();
    const QByteArray content = QByteArray("[Trash Info]\nPath=") + QByteArray::fromStdString(encodeTrashPath(location))
        + "\nDeletionDate=" + now.toString(QStringLiteral("yyyy-MM-dd")).toLatin1() + 'T'
        + now.toString(QStringLiteral("HH:mm:ss")).toLatin1() + '\n';

    const auto infoPath = trashInfoPath(trashDir, name);
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int code = errno;
        if (err)
            *err = code;
        return setError(error,
                        QStringLiteral("Cannot create \u201c%1\u201d: %2")
                            .arg(platform::pathText(infoPath), systemErrorString(code)));
    }
    const bool written = writeAll(fd, content.constData(), size_t(content.size()));
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const int code = written ? errno : writeErrno;
        ::unlink(infoPath.c_str());
        if (err)
            *err = code ? code : EIO;
        return setError(error,
                        QStringLiteral("Cannot write \u201c%1\u201d: %2")
                            .arg(platform::pathText(infoPath), systemErrorString(code ? code : EIO)));
    }
    if (err)
        *err = 0;
    return true;
}

namespace {

// Where the item to trash is: an entry of an open folder (AT_FDCWD with the
// full path for a caller that has only the path).
struct TrashSource {
    int dirfd;
    std::string name;
    std::filesystem::path path;
};

std::function<void(const std::filesystem::path&)>& beforeTrashMoveHook()
{
    static std::function<void(const std::filesystem::path&)> hook;
    return hook;
}

// Closes a descriptor when it goes out of scope.
struct HeldFolder {
    int fd;
    ~HeldFolder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reserves a free name in `trash` with its trashinfo, then moves the item
// there without replacing anything; a failed move takes the trashinfo away.
// The files/ folder is held from its check to the move: the item lands in
// the folder that was looked at, on the item's device, and a disk mounted on
// its path meanwhile, which would hide the item beneath it (and take the
// undo file written after it), leaves the item where it was.
std::optional<std::filesystem::path> moveIntoTrash(const std::filesystem::path& trash, const TrashSource& item,
                                                   dev_t device, TrashNumbering* numbering, QString* error, int* err)
{
    const auto covered = [&] {
        *err = trashCovered;
        setError(error, QStringLiteral("\u201c%1\u201d was left where it is: a disk was mounted on the Trash "
                                       "folder \u201c%2\u201d as it was moved there.")
                            .arg(platform::pathText(item.path), platform::pathText(trashFilesFolder(trash))));
        return std::nullopt;
    };
    const HeldFolder files{openFolderAt(AT_FDCWD, trashFilesFolder(trash).c_str(), kFolderPathOnly)};
    if (files.fd < 0) {
        *err = errno;
        setError(error, QStringLiteral("Cannot open \u201c%1\u201d: %2")
                            .arg(platform::pathText(trashFilesFolder(trash)), systemErrorString(*err)));
        return std::nullopt;
    }
    const auto held = statAt(files.fd, ".", false);
    if (!held || held->device != device)
        return covered();
    const std::string plainName = item.path.filename().native();
    const TrashName trashName = trashNameFor(plainName);
    const int first = numbering ? numbering->firstNumber(trash, plainName) : 1;
    for (int attempt = first; attempt <= 99999; ++attempt) {
        const std::string name = trashName.numbered(attempt);
        QString infoError;
        reservingName(AT_FDCWD, trashInfoPath(trash, name).c_str());
        if (!createTrashInfo(trash, name, item.path, &infoError, err)) {
            if (*err == EEXIST)
                continue;
            setError(error, infoError);
            return std::nullopt;
        }
        // A kill before the move leaves the .trashinfo of an item that never
        // came: whoever records the move names it, for a recovery to take.
        nameReserved(AT_FDCWD, trashInfoPath(trash, name).c_str());
        const auto destination = trashFilesFolder(trash) / name;
        if (const auto& hook = beforeTrashMoveHook())
            hook(destination);
        // A .trashinfo whose move did not happen is said to be given up
        // before it goes, so that a kill between the two leaves a record
        // that no item took its name.
        const auto giveUpInfo = [&] {
            reservationGivenUp(AT_FDCWD, trashInfoPath(trash, name).c_str());
            ::unlink(trashInfoPath(trash, name).c_str());
        };
        if (!pathReachesOpenFolder(files.fd)) {
            giveUpInfo();
            return covered();
        }
        if (moveNoReplaceAt(item.dirfd, item.name, files.fd, name, err)) {
            if (!pathReachesOpenFolder(files.fd)) {
                int backErr = 0;
                if (moveNoReplaceAt(files.fd, name, item.dirfd, item.name, &backErr)) {
                    giveUpInfo();
                    return covered();
                }
                // In the Trash after all, beneath the mount, with its
                // trashinfo: it keeps its record, which finds it once the
                // mount goes.
                logLine(QStringLiteral("%1 lies in the Trash folder %2 beneath a disk mounted on it as it moved "
                                       "there, and could not be put back (%3)")
                            .arg(platform::pathText(item.path), platform::pathText(trashFilesFolder(trash)),
                                 systemErrorString(backErr)));
            }
            if (numbering)
                numbering->taken(trash, plainName, attempt);
            return destination;
        }
        giveUpInfo();
        // An item without a trashinfo (another program's leftover) holds the name.
        if (*err == EEXIST)
            continue;
        setError(error,
                 QStringLiteral("Cannot move \u201c%1\u201d to the Trash: %2")
                     .arg(platform::pathText(item.path), systemErrorString(*err)));
        return std::nullopt;
    }
    *err = EEXIST;
    setError(error,
             QStringLiteral("The Trash has no free name for \u201c%1\u201d.").arg(platform::pathText(item.path)));
    return std::nullopt;
}

std::optional<std::filesystem::path> trashItem(const TrashSource& source, const std::optional<FileStat>& itemStat,
                                               int statErr, TrashNumbering* numbering, QString* error, int& failure)
{
    const auto& item = source.path;
    if (!itemStat) {
        failure = statErr;
        setError(error,
                 QStringLiteral("Cannot move \u201c%1\u201d to the Trash: %2")
                     .arg(platform::pathText(item), systemErrorString(statErr)));
        return std::nullopt;
    }
    // A mount point cannot be renamed; asking would only leave a new trash
    // folder behind inside it.
    if (isVolumeRoot(item)) {
        failure = EBUSY;
        setError(error,
                 QStringLiteral("\u201c%1\u201d is the top folder of a volume and cannot be moved to the Trash.")
                     .arg(platform::pathText(item)));
        return std::nullopt;
    }
    MadeFolders made;
    const auto noTrash = [&] {
        made.undo();
        failure = noUsableTrash;
        setError(error,
                 QStringLiteral("There is no usable Trash on the volume of \u201c%1\u201d; it was left where it is.")
                     .arg(platform::pathText(item)));
        return std::nullopt;
    };
    auto trash = chooseTrash(item, itemStat->device, true, made);
    if (!trash)
        return noTrash();
    if (isInTrash(item) && normalAbsolute(item.parent_path()) == normalAbsolute(trashFilesFolder(*trash))) {
        made.undo();
        failure = EINVAL;
        setError(error, QStringLiteral("\u201c%1\u201d is already in the Trash.").arg(platform::pathText(item)));
        return std::nullopt;
    }

    int err = 0;
    auto trashed = moveIntoTrash(*trash, source, itemStat->device, numbering, error, &err);
    if (!trashed && err == EXDEV && *trash == homeTrashDirectory()) {
        // A bind mount shows the home file system (same device) under another
        // mount, and rename never crosses mounts: the trash at the top of the
        // item's own mount is on the same mount as the item.
        trash = topDirectoryTrashFor(item, itemStat->device, true, made);
        if (!trash)
            return noTrash();
        trashed = moveIntoTrash(*trash, source, itemStat->device, numbering, error, &err);
    }
    if (!trashed) {
        made.undo();
        failure = err;
    }
    return trashed;
}

} // namespace

void setBeforeTrashMoveHook(std::function<void(const std::filesystem::path&)> hook)
{
    beforeTrashMoveHook() = std::move(hook);
}

int TrashNumbering::firstNumber(const std::filesystem::path& trash, const std::string& name) const
{
    std::lock_guard guard(mutex_);
    const auto found = next_.find(trash.native() + '\0' + name);
    return found == next_.end() ? 1 : found->second;
}

void TrashNumbering::taken(const std::filesystem::path& trash, const std::string& name, int number)
{
    std::lock_guard guard(mutex_);
    int& next = next_[trash.native() + '\0' + name];
    next = std::max(next, number + 1);
}

std::optional<std::filesystem::path> moveToTrash(const std::filesystem::path& itemPath, QString* error, int* errOut)
{
    int ignored = 0;
    int& failure = errOut ? *errOut : ignored;
    failure = 0;
    if (itemPath.empty()) {
        failure = ENOENT;
        setError(error, QStringLiteral("No item was given to move to the Trash."));
        return std::nullopt;
    }
    const auto item = normalAbsolute(itemPath);
    if (!item.has_relative_path()) {
        failure = EBUSY;
        setError(error, QStringLiteral("\u201c%1\u201d cannot be moved to the Trash.").arg(platform::pathText(item)));
        return std::nullopt;
    }
    int statErr = 0;
    const auto itemStat = statPath(item, false, &statErr);
    return trashItem({AT_FDCWD, item.native(), item}, itemStat, statErr, nullptr, error, failure);
}

std::optional<std::filesystem::path> moveToTrash(const AnchoredItem& item, TrashNumbering* numbering, QString* error,
                                                 int* errOut)
{
    int ignored = 0;
    int& failure = errOut ? *errOut : ignored;
    failure = 0;
    int statErr = 0;
    const auto itemStat = item.stat(&statErr);
    return trashItem({item.parentFd(), item.name(), item.path()}, itemStat, statErr, numbering, error, failure);
}

bool restoreFromTrash(const std::filesystem::path& trashedItem, const std::filesystem::path& originalPath,
                      QString* error)
{
    if (trashedItem.empty() || originalPath.empty())
        return setError(error, QStringLiteral("No item was given to put back."));
    const auto from = normalAbsolute(trashedItem);
    const auto to = normalAbsolute(originalPath);
    int err = 0;
    if (!statPath(from, false, &err)) {
        return setError(
            error,
            QStringLiteral("Cannot put back \u201c%1\u201d: %2").arg(platform::pathText(from), systemErrorString(err)));
    }
    // The old place is reached, and its missing folders made, one folder at
    // a time without following links: a folder on the way swapped for a
    // link cannot take the item elsewhere.
    std::vector<std::filesystem::path> madeFolders;
    const auto undoMade = [&madeFolders] {
        for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it)
            ::rmdir(it->c_str());
    };
    const std::optional<AnchoredItem> place = AnchoredItem::openMakingFolders(to, &err, &madeFolders);
    if (!place) {
        undoMade();
        return setError(error,
                        QStringLiteral("Cannot make the folder \u201c%1\u201d: %2")
                            .arg(platform::pathText(to.parent_path()), systemErrorString(err)));
    }
    if (!moveNoReplaceAt(AT_FDCWD, from.native(), place->parentFd(), place->name(), &err)) {
        undoMade();
        return setError(error, QStringLiteral("Cannot move \u201c%1\u201d to \u201c%2\u201d: %3")
                                   .arg(platform::pathText(from), platform::pathText(to), systemErrorString(err)));
    }
    if (const auto trash = trashOfTrashedItem(from))
        ::unlink(trashInfoPath(*trash, from.filename().native()).c_str());
    return true;
}

std::optional<TrashInfo> readTrashInfo(const std::filesystem::path& trashedItem)
{
    const auto item = normalAbsolute(trashedItem);
    const auto trash = trashOfTrashedItem(item);
    if (!trash)
        return std::nullopt;
    const auto infoPath = trashInfoPath(*trash, item.filename().native());
    // Any program may put a pipe under this name: it is refused, never waited on.
    const std::optional<QByteArray> content = readRegularFile(infoPath, 1024 * 1024);
    if (!content)
        return std::nullopt;

    TrashInfo info;
    bool inGroup = false, havePath = false;
    for (QByteArray line : content->split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        if (!inGroup)
            continue;
        if (line.startsWith("Path=")) {
            const QByteArray encoded = line.mid(5);
            const auto decoded = decodeTrashPath(std::string_view(encoded.constData(), size_t(encoded.size())));
            if (!decoded || decoded->empty())
                return std::nullopt;
            std::filesystem::path original(*decoded);
            // The file lies in a folder that others may write to: a ".."
            // would let a relative entry name a place outside its volume,
            // and an absolute one hide where it really points.
            for (const auto& part : original) {
                if (part == "..")
                    return std::nullopt;
            }
            if (original.is_relative()) {
                const auto top = topDirectoryOf(*trash);
                if (top.empty())
                    return std::nullopt;
                original = top / original;
            }
            info.originalPath = original.lexically_normal();
            havePath = true;
        } else if (line.startsWith("DeletionDate=")) {
            info.deletionDate = QDateTime::fromString(QString::fromLatin1(line.mid(13)), Qt::ISODate);
        }
    }
    if (!havePath)
        return std::nullopt;
    return info;
}

} // namespace platform
