#include "removal/KZRemovalJournal.h"

#include "platform/AnchoredItem.h"
#include "platform/Bookmark.h"
#include "platform/Clock.h"
#include "platform/DirectoryListing.h"
#include "platform/FileIdentity.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/FolderAttributes.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "removal/KZItemWhereabouts.h"
#include "removal/KZKilledRestore.h"
#include "removal/KZUndoFile.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QVariantMap>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>

namespace fs = std::filesystem;
namespace where = KZItemWhereabouts;

namespace {

constexpr const char* header = "maravex-removal-journal 1\n";
// Written with the header by a removal that moves one item at a time and
// announces every name before it reserves it; a reader of an earlier
// version passes over it.
constexpr const char* announcesLine = "announces\n";
constexpr int nameAttempts = 1000;
// A journal never grows near this; anything larger is not ours.
constexpr qint64 maxJournalSize = qint64(1) << 30;
// A .trashinfo younger than this may belong to a move happening right now.
constexpr int orphanMinimumAgeSeconds = 10;

QByteArray encodePath(const fs::path& path)
{
    return QByteArray::fromStdString(platform::encodeTrashPath(path.native()));
}

std::optional<fs::path> decodePath(const QByteArray& text)
{
    const auto decoded = platform::decodeTrashPath(std::string_view(text.constData(), size_t(text.size())));
    if (!decoded)
        return std::nullopt;
    return fs::path(*decoded);
}

// The fields an intent line and a done line share: identity, flags and tag.
QByteArray identityFieldsOf(const KZPersistentUndoRecord& record)
{
    QByteArray fields = QByteArray::number(record.device) + '\t';
    fields += QByteArray::number(record.inode) + '\t';
    fields += QByteArray(record.aliasWasCreated ? "1" : "0") + '\t';
    fields += QByteArray(record.isiTunesItem ? "1" : "0") + '\t';
    fields += QByteArray::number(record.locationLabelTag);
    return fields;
}

QByteArray timeFieldsOf(const std::optional<platform::FileIdentity::Time>& time)
{
    if (!time)
        return "\t";
    return QByteArray::number(time->seconds) + '\t' + QByteArray::number(time->nanoseconds);
}

// Device and inode are handed to the next new file as soon as they are
// freed: a line also keeps the birth time (or, where the file system has
// none, size and modification time), then whether the item is a folder ("d"
// or "f") and its file system's own identity, then its block device's and
// its mount's (DiskMarks), each field empty when not known. A line of an
// older journal ends before them, after the times, or after the file
// system.
QByteArray fullIdentityFieldsOf(const KZPersistentUndoRecord& record)
{
    if (!record.identity)
        return {};
    const platform::FileIdentity& identity = *record.identity;
    QByteArray fields = '\t' + timeFieldsOf(identity.birth) + '\t';
    if (identity.size)
        fields += QByteArray::number(*identity.size);
    fields += '\t' + timeFieldsOf(identity.modified) + '\t';
    if (identity.folder)
        fields += *identity.folder ? "d" : "f";
    fields += '\t';
    if (identity.fileSystem)
        fields += QByteArray::number(*identity.fileSystem);
    fields += '\t';
    if (identity.volume)
        fields += QByteArray::number(*identity.volume);
    fields += '\t';
    if (identity.mount)
        fields += QByteArray::number(*identity.mount);
    return fields;
}

QByteArray lineOf(const KZPersistentUndoRecord& record)
{
    return "item\t" + encodePath(record.oldPosition) + '\t' + encodePath(record.currPosition) + '\t'
        + identityFieldsOf(record) + '\t' + record.bookmark.toBase64() + fullIdentityFieldsOf(record) + '\n';
}

// The folder the item leaves, as it is then, on a line of its own before
// the intent (a journal of an earlier version has none, and skips it): the
// owner, group and mode in decimal, then the access and default ACLs in
// base64, empty where the folder has none.
QByteArray folderLineOf(const KZPersistentUndoRecord& record)
{
    if (!record.oldFolderAttributes)
        return {};
    const platform::FolderAttributes& folder = *record.oldFolderAttributes;
    return "folder\t" + encodePath(record.oldPosition) + '\t' + QByteArray::number(folder.owner) + '\t'
        + QByteArray::number(folder.group) + '\t' + QByteArray::number(folder.mode) + '\t'
        + folder.accessAcl.toBase64() + '\t' + folder.defaultAcl.toBase64() + '\n';
}

QByteArray intentLineOf(const KZPersistentUndoRecord& record)
{
    return folderLineOf(record) + "intent\t" + encodePath(record.oldPosition) + '\t' + identityFieldsOf(record)
        + fullIdentityFieldsOf(record) + '\n';
}

// A reservation: its place, then the device and inode it was made with and
// the rest of its identity as key=value pairs joined by commas, so that a
// fact a later version keeps is read by this one too.
QByteArray reservationLineOf(const fs::path& place, const platform::FileIdentity& identity)
{
    QVariantMap facts;
    identity.insertInto(facts);
    QByteArray pairs;
    for (auto it = facts.constBegin(); it != facts.constEnd(); ++it) {
        if (!pairs.isEmpty())
            pairs += ',';
        pairs += it.key().toLatin1() + '=';
        pairs += it.value().typeId() == QMetaType::Bool ? QByteArray(it.value().toBool() ? "true" : "false")
                                                         : QByteArray::number(it.value().toULongLong());
    }
    return "reserved\t" + encodePath(place) + '\t' + QByteArray::number(identity.device) + '\t'
        + QByteArray::number(identity.inode) + '\t' + pairs + '\n';
}

// A name about to be reserved: its place, the item meant to take it (empty
// for a .trashinfo), "d", "f" or "l" (a hard link to the item), and the
// clock then; for a file moved over it, the file's size and modification
// time besides (a journal of an earlier version has none).
QByteArray reservingLineOf(const platform::ReservationIntent& intent)
{
    QByteArray line = "reserving\t" + encodePath(intent.place) + '\t' + encodePath(intent.item) + '\t'
        + (intent.link ? "l" : intent.folder ? "d" : "f") + '\t' + QByteArray::number(qint64(intent.announced.tv_sec))
        + '\t' + QByteArray::number(qint64(intent.announced.tv_nsec));
    if (intent.size && intent.modified)
        line += '\t' + QByteArray::number(*intent.size) + '\t' + QByteArray::number(qint64(intent.modified->tv_sec))
            + '\t' + QByteArray::number(qint64(intent.modified->tv_nsec));
    return line + '\n';
}

// A copy about to be made: its place, the item copied, "d" or "f" ("D" or
// "F" for one about to be taken apart), and the clock then.
QByteArray copyingLineOf(const platform::ReservationIntent& intent)
{
    const char* kind = intent.takenApart ? (intent.folder ? "D" : "F") : (intent.folder ? "d" : "f");
    return "copying\t" + encodePath(intent.place) + '\t' + encodePath(intent.item) + '\t' + kind + '\t'
        + QByteArray::number(qint64(intent.announced.tv_sec)) + '\t'
        + QByteArray::number(qint64(intent.announced.tv_nsec)) + '\n';
}

QByteArray undoFileLineOf(const std::string& name)
{
    return "undo\t" + encodePath(name) + '\n';
}

// An item a Restore puts back: the name of the undo file that lists it,
// the place it goes back to, and the bookmark of it in the Trash.
QByteArray restoringLineOf(const std::string& undoFile, const QByteArray& currPosition, const fs::path& oldPosition)
{
    return "restoring\t" + encodePath(undoFile) + '\t' + encodePath(oldPosition) + '\t' + currPosition.toBase64()
        + '\n';
}

bool readFlag(const QByteArray& field, bool* flag)
{
    if (field != "0" && field != "1")
        return false;
    *flag = field == "1";
    return true;
}

// The Trash is writable by any program of the user: a line that could send
// an item anywhere but a plain absolute place is not taken.
std::optional<fs::path> cleanPathOf(const QByteArray& field)
{
    auto path = decodePath(field);
    if (!path || !KZUndoFile::isCleanAbsolutePath(path->native()))
        return std::nullopt;
    return path;
}

// Both fields empty: none. False when they say anything else than a time.
bool readTime(const QByteArray& seconds, const QByteArray& nanoseconds,
              std::optional<platform::FileIdentity::Time>* time)
{
    if (seconds.isEmpty() && nanoseconds.isEmpty())
        return true;
    bool ok[2] = {};
    const platform::FileIdentity::Time read{seconds.toLongLong(&ok[0]), nanoseconds.toLongLong(&ok[1])};
    if (!ok[0] || !ok[1] || read.nanoseconds < 0 || read.nanoseconds >= 1000000000)
        return false;
    *time = read;
    return true;
}

bool readNumber(const QByteArray& field, std::optional<quint64>* number)
{
    if (field.isEmpty())
        return true;
    bool ok = false;
    *number = field.toULongLong(&ok);
    return ok;
}

// The fields a line keeps after its own: birth seconds and nanoseconds,
// size, modification seconds and nanoseconds; in newer lines then the kind
// and the file system.
bool readIdentity(const QList<QByteArray>& fields, qsizetype first, KZPersistentUndoRecord* record)
{
    platform::FileIdentity identity;
    identity.device = record->device;
    identity.inode = record->inode;
    if (!readTime(fields[first], fields[first + 1], &identity.birth)
        || !readTime(fields[first + 3], fields[first + 4], &identity.modified)
        || !readNumber(fields[first + 2], &identity.size))
        return false;
    if (fields.size() > first + 5) {
        const QByteArray& kind = fields[first + 5];
        if (kind == "d" || kind == "f")
            identity.folder = kind == "d";
        else if (!kind.isEmpty())
            return false;
        if (!readNumber(fields[first + 6], &identity.fileSystem))
            return false;
    }
    if (fields.size() > first + 7
        && (!readNumber(fields[first + 7], &identity.volume) || !readNumber(fields[first + 8], &identity.mount)))
        return false;
    record->identity = identity;
    return true;
}

std::optional<KZPersistentUndoRecord> intentOf(const QList<QByteArray>& fields)
{
    if (fields.size() != 7 && fields.size() != 12 && fields.size() != 14 && fields.size() != 16)
        return std::nullopt;
    KZPersistentUndoRecord record;
    const auto old = cleanPathOf(fields[1]);
    bool ok[3] = {};
    record.device = fields[2].toULongLong(&ok[0]);
    record.inode = fields[3].toULongLong(&ok[1]);
    record.locationLabelTag = fields[6].toShort(&ok[2]);
    if (!old || !ok[0] || !ok[1] || !ok[2] || !readFlag(fields[4], &record.aliasWasCreated)
        || !readFlag(fields[5], &record.isiTunesItem) || (fields.size() > 7 && !readIdentity(fields, 7, &record)))
        return std::nullopt;
    record.oldPosition = *old;
    return record;
}

// A line that is not plainly one of ours gives the folder nothing: made
// again, it is made private.
std::optional<std::pair<fs::path, platform::FolderAttributes>> folderOf(const QList<QByteArray>& fields)
{
    if (fields.size() != 7)
        return std::nullopt;
    const auto old = cleanPathOf(fields[1]);
    QVariantMap map;
    const char* const numbers[] = {"owner", "group", "mode"};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const qint64 number = fields[2 + i].toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        map.insert(QString::fromLatin1(numbers[i]), number);
    }
    const char* const acls[] = {"accessACL", "defaultACL"};
    for (int i = 0; i < 2; ++i) {
        const auto acl = QByteArray::fromBase64Encoding(fields[5 + i], QByteArray::AbortOnBase64DecodingErrors);
        if (!acl)
            return std::nullopt;
        if (!acl.decoded.isEmpty())
            map.insert(QString::fromLatin1(acls[i]), acl.decoded);
    }
    const auto folder = platform::FolderAttributes::fromMap(map);
    if (!old || !folder)
        return std::nullopt;
    return std::pair(*old, *folder);
}

std::optional<KZPersistentUndoRecord> recordOf(const QList<QByteArray>& fields)
{
    if (fields.size() != 9 && fields.size() != 14 && fields.size() != 16 && fields.size() != 18)
        return std::nullopt;
    KZPersistentUndoRecord record;
    const auto old = cleanPathOf(fields[1]);
    const auto curr = cleanPathOf(fields[2]);
    if (!old || !curr)
        return std::nullopt;
    bool ok[3] = {};
    record.oldPosition = *old;
    record.currPosition = *curr;
    record.device = fields[3].toULongLong(&ok[0]);
    record.inode = fields[4].toULongLong(&ok[1]);
    record.locationLabelTag = fields[7].toShort(&ok[2]);
    record.bookmark = QByteArray::fromBase64(fields[8], QByteArray::AbortOnBase64DecodingErrors);
    if (!ok[0] || !ok[1] || !ok[2] || !readFlag(fields[5], &record.aliasWasCreated)
        || !readFlag(fields[6], &record.isiTunesItem) || (record.bookmark.isEmpty() && !fields[8].isEmpty())
        || (fields.size() > 9 && !readIdentity(fields, 9, &record)))
        return std::nullopt;
    return record;
}

std::optional<KZRemovalJournal::Reservation> reservationOf(const QList<QByteArray>& fields)
{
    if (fields.size() != 5)
        return std::nullopt;
    const auto place = cleanPathOf(fields[1]);
    bool ok[2] = {};
    const quint64 device = fields[2].toULongLong(&ok[0]);
    const quint64 inode = fields[3].toULongLong(&ok[1]);
    if (!place || !place->has_parent_path() || !ok[0] || !ok[1])
        return std::nullopt;
    QVariantMap facts;
    for (const QByteArray& pair : fields[4].split(',')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        if (equals <= 0)
            return std::nullopt;
        const QString key = QString::fromLatin1(pair.left(equals));
        const QByteArray value = pair.mid(equals + 1);
        if (value == "true" || value == "false") {
            facts.insert(key, value == "true");
            continue;
        }
        bool number = false;
        facts.insert(key, value.toULongLong(&number));
        if (!number)
            return std::nullopt;
    }
    return KZRemovalJournal::Reservation{*place, platform::FileIdentity::readFrom(facts, device, inode)};
}

std::optional<platform::ReservationIntent> reservingOf(const QList<QByteArray>& fields)
{
    if ((fields.size() != 6 && fields.size() != 9) || (fields[3] != "d" && fields[3] != "f" && fields[3] != "l"))
        return std::nullopt;
    platform::ReservationIntent intent;
    const auto place = cleanPathOf(fields[1]);
    const auto item = fields[2].isEmpty() ? std::optional<fs::path>(fs::path()) : cleanPathOf(fields[2]);
    bool ok[2] = {};
    intent.announced.tv_sec = time_t(fields[4].toLongLong(&ok[0]));
    intent.announced.tv_nsec = long(fields[5].toLong(&ok[1]));
    if (!place || !place->has_parent_path() || !item || !ok[0] || !ok[1] || intent.announced.tv_nsec < 0
        || intent.announced.tv_nsec >= 1000000000L)
        return std::nullopt;
    intent.place = *place;
    intent.item = *item;
    intent.folder = fields[3] == "d";
    intent.link = fields[3] == "l";
    if (intent.link && intent.item.empty())
        return std::nullopt;
    if (fields.size() == 9) {
        bool moved[3] = {};
        const quint64 size = fields[6].toULongLong(&moved[0]);
        const timespec modified{time_t(fields[7].toLongLong(&moved[1])), long(fields[8].toLong(&moved[2]))};
        if (!moved[0] || !moved[1] || !moved[2] || modified.tv_nsec < 0 || modified.tv_nsec >= 1000000000L
            || intent.item.empty() || intent.folder || intent.link)
            return std::nullopt;
        intent.size = size;
        intent.modified = modified;
    }
    return intent;
}

std::optional<platform::ReservationIntent> copyingOf(const QList<QByteArray>& fields)
{
    if (fields.size() != 6 || fields[3].size() != 1 || !QByteArrayView("dfDF").contains(fields[3][0]))
        return std::nullopt;
    platform::ReservationIntent intent;
    const auto place = cleanPathOf(fields[1]);
    const auto item = cleanPathOf(fields[2]);
    bool ok[2] = {};
    intent.announced.tv_sec = time_t(fields[4].toLongLong(&ok[0]));
    intent.announced.tv_nsec = long(fields[5].toLong(&ok[1]));
    if (!place || !place->has_parent_path() || !item || !item->has_parent_path() || !ok[0] || !ok[1]
        || intent.announced.tv_nsec < 0 || intent.announced.tv_nsec >= 1000000000L)
        return std::nullopt;
    intent.place = *place;
    intent.item = *item;
    intent.folder = fields[3] == "d" || fields[3] == "D";
    intent.takenApart = fields[3] == "D" || fields[3] == "F";
    return intent;
}

std::optional<KZRemovalJournal::Restoring> restoringOf(const QList<QByteArray>& fields)
{
    if (fields.size() != 4)
        return std::nullopt;
    const auto name = decodePath(fields[1]);
    const auto old = cleanPathOf(fields[2]);
    const auto bookmark = QByteArray::fromBase64Encoding(fields[3], QByteArray::AbortOnBase64DecodingErrors);
    if (!name || name->has_parent_path() || !KZUndoFile::isUndoFileName(name->native()) || !old || !bookmark
        || bookmark.decoded.isEmpty())
        return std::nullopt;
    return KZRemovalJournal::Restoring{name->native(), bookmark.decoded, *old};
}

void syncFolder(const fs::path& folder)
{
    const int fd = platform::openFolderAt(AT_FDCWD, folder.c_str(), platform::kFolderFollowLink);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

fs::path infoPathOf(const fs::path& trashDir, const fs::path& file)
{
    return platform::trashInfoPath(trashDir, file.filename().native());
}

bool isRegularNoFollow(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    return st && st->isRegular();
}

// A .trashinfo reserved for an item's move, not for an undo file or a
// journal of our own.
bool isItemInfo(const fs::path& place)
{
    const auto name = platform::trashedNameOfInfo(place.filename().native());
    return name && !KZUndoFile::isUndoFileName(*name) && !name->starts_with(KZRemovalJournal::namePrefix);
}

double secondsOfJournalName(const std::string& name)
{
    const std::string prefix = KZRemovalJournal::namePrefix;
    if (name.rfind(prefix, 0) != 0)
        return 0;
    // Read as an undo file name would be: only the leading number counts.
    return KZUndoFile::secondsOfFileName(KZUndoFile::namePrefix + QString::fromStdString(name.substr(prefix.size())));
}

} // namespace

std::unique_ptr<KZRemovalJournal> KZRemovalJournal::begin(int* err, bool announces)
{
    return beginIn(platform::homeTrashDirectory(), KZUndoFile::nowSinceReferenceDate(), err, announces);
}

std::unique_ptr<KZRemovalJournal> KZRemovalJournal::beginIn(const fs::path& trashDir, double seconds, int* failure,
                                                            bool announces)
{
    int lastErr = EEXIST;
    const fs::path files = platform::trashFilesFolder(trashDir);
    std::error_code ec;
    fs::create_directories(files, ec);
    fs::create_directories(platform::trashInfoFolder(trashDir), ec);
    QString why;
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        const std::string name = namePrefix + QString::number(seconds + attempt * 0.001, 'f', 6).toStdString();
        const fs::path target = files / name;
        int err = 0;
        // The journal first: a kill before its .trashinfo leaves a journal
        // that the recovery finds and takes with whatever it holds, where a
        // .trashinfo made first would be left naming nothing.
        const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            lastErr = errno;
            if (lastErr == EEXIST)
                continue;
            why = platform::systemErrorString(lastErr);
            break;
        }
        // Its own .trashinfo, so that emptying the Trash takes it as well.
        const fs::path original = platform::pathFromText(QDir::homePath()) / name;
        if (!platform::createTrashInfo(trashDir, name, original, &why, &err)) {
            lastErr = err ? err : EIO;
            ::close(fd);
            fs::remove(target, ec);
            if (err == EEXIST)
                continue;
            break;
        }
        // Held for the whole removal: a recovery never folds a live journal.
        const std::string opening = std::string(header) + (announces ? announcesLine : "");
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !platform::writeAll(fd, opening.data(), opening.size())
            || ::fdatasync(fd) != 0) {
            lastErr = errno ? errno : EIO;
            why = platform::systemErrorString(lastErr);
            ::close(fd);
            fs::remove(target, ec);
            fs::remove(infoPathOf(trashDir, target), ec);
            break;
        }
        syncFolder(files);
        return std::unique_ptr<KZRemovalJournal>(new KZRemovalJournal(fd, trashDir, target));
    }
    if (why.isEmpty())
        why = platform::systemErrorString(EEXIST);
    platform::logLine(QStringLiteral("Removal journal not made in %1: %2")
                          .arg(platform::pathText(trashDir), why));
    if (failure)
        *failure = lastErr;
    return nullptr;
}

KZRemovalJournal::KZRemovalJournal(int fd, fs::path trashDir, fs::path path)
    : fd_(fd)
    , trashDir_(std::move(trashDir))
    , path_(std::move(path))
{
    flusher_ = std::thread([this] { flushLoop(); });
}

KZRemovalJournal::~KZRemovalJournal()
{
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    flusher_.join();
    if (dirty_)
        ::fdatasync(fd_);
    ::close(fd_); // releases the lock
}

void KZRemovalJournal::flushLoop()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::seconds(1));
        if (dirty_ && !finished_) {
            dirty_ = false;
            // The descriptor stays open until this thread has ended.
            lock.unlock();
            ::fdatasync(fd_);
            lock.lock();
        }
    }
}

bool KZRemovalJournal::writeLine(const QByteArray& line, int* err)
{
    std::lock_guard guard(mutex_);
    if (finished_) {
        if (err)
            *err = EBADF;
        return false;
    }
    // One write per line: a process killed now loses at most this line,
    // and a torn one is recognised by its missing line end.
    if (!platform::writeAll(fd_, line.constData(), size_t(line.size()))) {
        const int code = errno ? errno : EIO;
        if (failedAppends_++ == 0)
            platform::logLine(QStringLiteral("Removal journal %1 not written: %2")
                                  .arg(platform::pathText(path_), platform::systemErrorString(code)));
        if (err)
            *err = code;
        return false;
    }
    dirty_ = true;
    return true;
}

bool KZRemovalJournal::intend(const KZPersistentUndoRecord& record, int* err)
{
    return writeLine(intentLineOf(record), err);
}

void KZRemovalJournal::append(const KZPersistentUndoRecord& record)
{
    writeLine(lineOf(record));
}

void KZRemovalJournal::reserving(const platform::ReservationIntent& intent)
{
    if (!intent.place.empty() && intent.place.is_absolute())
        writeLine(reservingLineOf(intent));
}

void KZRemovalJournal::reserved(const fs::path& place, const platform::FileIdentity& identity)
{
    writeLine(reservationLineOf(place, identity));
}

void KZRemovalJournal::copying(const platform::ReservationIntent& intent)
{
    if (intent.place.is_absolute() && intent.item.is_absolute())
        writeLine(copyingLineOf(intent));
}

void KZRemovalJournal::copied(const fs::path& place)
{
    if (place.is_absolute())
        writeLine("copied\t" + encodePath(place) + '\n');
}

void KZRemovalJournal::givenUp(const fs::path& place)
{
    if (!place.empty() && place.is_absolute())
        writeLine("unused\t" + encodePath(place) + '\n');
}

// The .trashinfo of an undo file named `name` in `trashDir`, announced.
static platform::ReservationIntent undoInfoIntent(const fs::path& trashDir, const std::string& name)
{
    platform::ReservationIntent intent;
    intent.place = platform::trashInfoPath(trashDir, name);
    ::clock_gettime(CLOCK_REALTIME, &intent.announced);
    return intent;
}

void KZRemovalJournal::willReserveUndoFileName(const std::string& name)
{
    reserving(undoInfoIntent(trashDir_, name));
}

void KZRemovalJournal::restoring(const std::string& undoFile, const QByteArray& currPosition,
                                 const fs::path& oldPosition)
{
    writeLine(restoringLineOf(undoFile, currPosition, oldPosition));
}

void KZRemovalJournal::rewriting(const fs::path& temporary)
{
    writeLine("rewriting\t" + encodePath(temporary) + '\n');
}

void KZRemovalJournal::willWriteUndoFile(const std::string& name)
{
    writeLine(undoFileLineOf(name));
    // On disk before the file exists: a journal left beside a whole undo
    // file must never be folded into a second one.
    std::lock_guard guard(mutex_);
    if (!finished_)
        ::fdatasync(fd_);
}

quint64 KZRemovalJournal::failedAppends() const
{
    std::lock_guard guard(mutex_);
    return failedAppends_;
}

void KZRemovalJournal::finish(const std::optional<fs::path>& undoFile)
{
    std::lock_guard guard(mutex_);
    if (finished_)
        return;
    finished_ = true;
    // Said first, so that a journal whose removal died right here is not
    // folded into a second undo file of the same items.
    const QByteArray line = "finished\t" + (undoFile ? encodePath(undoFile->filename()) : QByteArray()) + '\n';
    platform::writeAll(fd_, line.constData(), size_t(line.size()));
    ::fdatasync(fd_);
    removeFiles();
}

void KZRemovalJournal::removeFiles()
{
    ::unlink(infoPathOf(trashDir_, path_).c_str());
    ::unlink(path_.c_str());
    syncFolder(path_.parent_path());
}

// ---- Reading and recovery ---------------------------------------------------------------

std::optional<KZRemovalJournal::Contents> KZRemovalJournal::read(const fs::path& journal, QString* error)
{
    QString reason;
    // Read whole only once its head shows a journal: any other file may
    // claim a gigabyte it holds nowhere on disk.
    const auto startsAsJournal = [](int fd, quint64) -> std::optional<QString> {
        const size_t length = std::char_traits<char>::length(header);
        char head[64];
        ssize_t got = 0;
        do
            got = ::pread(fd, head, length, 0);
        while (got < 0 && errno == EINTR);
        if (got != ssize_t(length) || std::memcmp(head, header, length) != 0)
            return QStringLiteral("not a journal file");
        return std::nullopt;
    };
    const std::optional<QByteArray> read =
        platform::readRegularFile(journal, quint64(maxJournalSize), &reason, false, startsAsJournal);
    if (!read) {
        if (error)
            *error = reason;
        return std::nullopt;
    }
    const QByteArray& data = *read;
    if (!data.startsWith(header)) {
        if (error)
            *error = QStringLiteral("not a journal file");
        return std::nullopt;
    }
    Contents contents;
    // The intent of each place, until its entry says the item moved.
    std::vector<KZPersistentUndoRecord> intents;
    std::unordered_map<std::string, size_t> openIntent;
    // The folder each place left, told before its intent.
    std::unordered_map<std::string, platform::FolderAttributes> folders;
    const auto withFolder = [&folders](KZPersistentUndoRecord& record) {
        if (const auto found = folders.find(record.oldPosition.native()); found != folders.end())
            record.oldFolderAttributes = found->second;
    };
    // The place of the intent written last, and what followed each intent.
    std::optional<std::string> lastIntent;
    std::unordered_map<std::string, Contents::PendingMove> moves;
    qsizetype start = qsizetype(std::char_traits<char>::length(header));
    while (start < data.size()) {
        const qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            break; // torn by a process that died while writing it
        const QByteArrayView line = QByteArrayView(data).sliced(start, end - start);
        start = end + 1;
        // No line the journal writes has more fields than an item's 18:
        // one with more is none of them, and is not split into them all.
        if (line.count('\t') >= 18)
            continue;
        const QList<QByteArray> fields = line.toByteArray().split('\t');
        const QByteArray& kind = fields[0];
        if (kind == "finished") {
            contents.finished = true;
        } else if (kind == "item") {
            if (auto record = recordOf(fields)) {
                withFolder(*record);
                openIntent.erase(record->oldPosition.native());
                contents.records.push_back(std::move(*record));
            }
        } else if (kind == "intent") {
            if (auto intent = intentOf(fields)) {
                withFolder(*intent);
                if (lastIntent && *lastIntent != intent->oldPosition.native())
                    moves[*lastIntent].followed = true;
                lastIntent = intent->oldPosition.native();
                moves[*lastIntent] = {};
                openIntent[intent->oldPosition.native()] = intents.size();
                intents.push_back(std::move(*intent));
            }
        } else if (kind == "reserving") {
            if (auto intent = reservingOf(fields)) {
                if (lastIntent && intent->item.empty() && isItemInfo(intent->place))
                    moves[*lastIntent].infos.push_back({intent->place});
                contents.intendedReservations.push_back(std::move(*intent));
            }
        } else if (kind == "reserved") {
            if (auto reservation = reservationOf(fields)) {
                if (lastIntent)
                    for (auto& info : moves[*lastIntent].infos)
                        info.made = info.made || info.place == reservation->place;
                contents.reservations.push_back(std::move(*reservation));
            }
        } else if (kind == "copying") {
            if (auto intent = copyingOf(fields))
                contents.copies.push_back(std::move(*intent));
        } else if (kind == "copied" && fields.size() == 2) {
            if (const auto place = cleanPathOf(fields[1]))
                contents.copiesMade.insert(*place);
        } else if (kind == "announces" && fields.size() == 1) {
            contents.announces = true;
        } else if (kind == "unused" && fields.size() == 2) {
            const auto place = cleanPathOf(fields[1]);
            if (place && lastIntent)
                for (auto& info : moves[*lastIntent].infos)
                    info.givenUp = info.givenUp || info.place == *place;
        } else if (kind == "folder") {
            if (auto folder = folderOf(fields))
                folders.insert_or_assign(folder->first.native(), std::move(folder->second));
        } else if (kind == "undo" && fields.size() == 2) {
            // Only a name an undo file may have, in files/ itself.
            const auto name = decodePath(fields[1]);
            if (name && !name->has_parent_path() && KZUndoFile::isUndoFileName(name->native())) {
                contents.undoFiles.push_back(name->native());
                contents.recordsBeforeUndoFile.push_back(contents.records.size());
            }
        } else if (kind == "restoring") {
            if (auto restoring = restoringOf(fields))
                contents.restoring.push_back(std::move(*restoring));
        } else if (kind == "rewriting" && fields.size() == 2) {
            // Only a rewrite's own name, in the Trash folder itself.
            const auto temporary = cleanPathOf(fields[1]);
            if (temporary && KZUndoFile::isTemporaryName(temporary->filename().native())
                && temporary->parent_path() == journal.parent_path().parent_path())
                contents.rewrites.push_back(*temporary);
        } else if (kind == "folded" && fields.size() == 2) {
            // Said by a fold once its undo file was whole: only the same name
            // announced before it counts.
            const auto name = decodePath(fields[1]);
            if (name && !contents.undoFiles.empty() && contents.undoFiles.back() == name->native())
                contents.recordsFolded = contents.recordsBeforeUndoFile.back();
        }
    }
    std::vector<size_t> open;
    for (const auto& [place, index] : openIntent)
        open.push_back(index);
    std::sort(open.begin(), open.end());
    for (const size_t index : open) {
        contents.pendingMoves[intents[index].oldPosition] = moves[intents[index].oldPosition.native()];
        contents.pending.push_back(std::move(intents[index]));
    }
    return contents;
}

std::vector<fs::path> KZRemovalJournal::list(const fs::path& trashDir)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(platform::trashFilesFolder(trashDir), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().native().rfind(namePrefix, 0) == 0 && isRegularNoFollow(it->path()))
            found.push_back(it->path());
    }
    return found;
}

namespace {

// Where the items of intents without an entry went, as KZItemWhereabouts
// answers it: each trash's files/ is listed once, by inode.
class TrashedItems {
public:
    // `journalDevice`: the device of the file system the journal was read
    // from.
    TrashedItems(std::set<fs::path> trashes, quint64 journalDevice)
        : known_(std::move(trashes)), journalDevice_(journalDevice)
    {
    }

    struct Outcome {
        enum { Stayed, Found, Gone, Unknown } where = Unknown;
        fs::path item; // when found
    };

    // The item of `intent` in a trash: the identity it had before the move,
    // and a .trashinfo naming its old place. Stayed when it never moved (or
    // nothing says what it was); Unknown when it left its place and is in
    // none of the trashes it can have gone to (its disk may be unplugged);
    // Gone when it is in none of them although its disk is here: its folder
    // is still on the device the item had, so every trash it can have gone
    // to was looked into. Then nothing is left to wait for.
    // `movedNowhere`: the journal shows that the removal never moved it.
    Outcome find(const KZPersistentUndoRecord& intent, bool movedNowhere)
    {
        const std::vector<fs::path>& own = trashesOfFolder(intent.oldPosition.parent_path());
        seen_.insert(own.begin(), own.end());
        const auto withItsInode = [&] {
            std::set<fs::path> trashes = known_;
            trashes.insert(own.begin(), own.end());
            std::vector<std::pair<fs::path, platform::FileStat>> found;
            for (const fs::path& trash : trashes) {
                const auto& items = itemsOf(trash);
                const auto [first, last] = items.equal_range(intent.inode);
                for (auto it = first; it != last; ++it)
                    found.emplace_back(platform::trashFilesFolder(trash) / it->second.second, it->second.first);
            }
            return found;
        };
        Outcome outcome;
        switch (where::whereIsIntended(intent, where::RecordSource{journalDevice_, 0}, movedNowhere, withItsInode,
                                       &outcome.item)) {
        case where::IntendedWhere::AtItsPlace:
            outcome.where = Outcome::Stayed;
            break;
        case where::IntendedWhere::InTrash:
            outcome.where = Outcome::Found;
            break;
        case where::IntendedWhere::Gone:
            outcome.where = Outcome::Gone;
            break;
        case where::IntendedWhere::NotKnown:
            outcome.where = Outcome::Unknown;
            break;
        }
        return outcome;
    }

    // The item of `intent` saved anew in a trash: an editor that saves by
    // renaming a new file over the old one gives it another inode under the
    // same Trash name, beside the same .trashinfo (saved twice, often the
    // freed inode of the item itself, with a birth time of its own). A name
    // in a trash of the item's own disk that holds an item, whose .trashinfo
    // names the intent's old place, and that no record lists (`listed`):
    // the item in some form, which must stay listed.
    std::optional<fs::path> findSavedAnew(const KZPersistentUndoRecord& intent,
                                          const std::function<bool(const fs::path&)>& listed)
    {
        const fs::path place = intent.oldPosition.lexically_normal();
        for (const fs::path& trash : trashesOfFolder(intent.oldPosition.parent_path())) {
            const auto& names = namesByPlaceOf(trash);
            const auto [first, last] = names.equal_range(place);
            for (auto it = first; it != last; ++it) {
                const fs::path item = platform::trashFilesFolder(trash) / it->second;
                // Only on the item's own disk: another disk mounted at its
                // place has a Trash of its own, whose items name the same
                // old places.
                const auto st = platform::statPath(item, false);
                if (st && !listed(item) && where::isOnIntendedDisk(intent, item, *st))
                    return item;
            }
        }
        return std::nullopt;
    }

    // The trashes of the intents' volumes, where a move may have died half way.
    const std::set<fs::path>& trashesSeen() const { return seen_; }

private:
    using Items = std::unordered_multimap<quint64, std::pair<platform::FileStat, std::string>>;

    const Items& itemsOf(const fs::path& trash)
    {
        auto [it, added] = items_.try_emplace(trash);
        if (added) {
            platform::listDirectory(platform::trashFilesFolder(trash), [&](const platform::DirEntry& entry) {
                if (!entry.statFailed)
                    it->second.emplace(entry.stat.inode, std::make_pair(entry.stat, entry.name));
                return true;
            });
        }
        return it->second;
    }

    // The names of a trash's items by the place each .trashinfo names; read
    // once, and only when some intent's item was not found by its inode.
    const std::multimap<fs::path, std::string>& namesByPlaceOf(const fs::path& trash)
    {
        auto [it, added] = namesByPlace_.try_emplace(trash);
        if (added) {
            std::error_code ec;
            for (fs::directory_iterator entry(platform::trashInfoFolder(trash), ec), end; !ec && entry != end;
                 entry.increment(ec)) {
                const auto name = platform::trashedNameOfInfo(entry->path().filename().native());
                if (!name)
                    continue;
                if (const auto info = platform::readTrashInfo(platform::trashFilesFolder(trash) / *name))
                    it->second.emplace(info->originalPath.lexically_normal(), *name);
            }
        }
        return it->second;
    }

    // The trashes of the volume the folder is on, the home one and its own
    // mount's (a bind mount of the home file system moves into the latter);
    // the folder itself may have gone since, its nearest existing ancestor is
    // on the same mount.
    const std::vector<fs::path>& trashesOfFolder(fs::path folder)
    {
        const auto found = trashesOfFolder_.find(folder);
        if (found != trashesOfFolder_.end())
            return found->second;
        const fs::path asked = folder;
        while (folder.has_relative_path() && !platform::statPath(folder, false))
            folder = folder.parent_path();
        return trashesOfFolder_.emplace(asked, platform::trashDirectoriesFor(folder)).first->second;
    }

    std::set<fs::path> known_;
    quint64 journalDevice_ = 0;
    std::set<fs::path> seen_;
    std::map<fs::path, Items> items_;
    std::map<fs::path, std::multimap<fs::path, std::string>> namesByPlace_;
    std::map<fs::path, std::vector<fs::path>> trashesOfFolder_;
};

// A journal whose removal died before its header was whole holds nothing.
bool diedAtBirth(const fs::path& journal)
{
    const auto data = platform::readRegularFile(journal, std::char_traits<char>::length(header));
    return data && QByteArray(header).startsWith(*data);
}

bool isReadableUndoFile(const fs::path& file)
{
    return KZUndoFile::read(file).has_value();
}

// How many of the journal's first records an undo file lists: one that a
// fold said it wrote whole, or one it names that is whole now.
size_t recordsListed(const fs::path& trashDir, const KZRemovalJournal::Contents& contents)
{
    size_t listed = contents.recordsFolded;
    for (size_t i = 0; i < contents.undoFiles.size(); ++i)
        if (contents.recordsBeforeUndoFile[i] > listed
            && isReadableUndoFile(platform::trashFilesFolder(trashDir) / contents.undoFiles[i]))
            listed = contents.recordsBeforeUndoFile[i];
    return listed;
}

struct Fold {
    std::vector<KZPersistentUndoRecord> records; // to list now
    size_t foundIntents = 0;                      // the last of them, found by their intents
    int unknown = 0; // intents whose item left its place and is in no trash it can have gone to
    // The old places of intents whose item is gone, its disk being here: a
    // .trashinfo reserved for one of them names a move that never happened.
    std::set<fs::path> gone;
};

// The trashed items that some record already lists, by their place in the
// trash and inode: the entries of the undo files and of the journals. A
// removal killed before it moved an item whose disk was then unplugged
// leaves an intent that waits; once the disk is back, another removal may
// put that very item in the Trash and list it. Read only when a fold first
// finds an intent's item, and kept up to date by the folds of the same
// recovery.
class ListedItems {
public:
    explicit ListedItems(fs::path trashDir)
        : trashDir_(std::move(trashDir))
    {
    }
    bool contains(const fs::path& item, quint64 inode)
    {
        readOnce();
        return listed_.count({item.lexically_normal(), inode}) > 0;
    }
    // Whether some record names `item` in a trash, whatever its inode.
    bool names(const fs::path& item)
    {
        readOnce();
        const fs::path normal = item.lexically_normal();
        const auto next = listed_.lower_bound({normal, 0});
        return next != listed_.end() && next->first == normal;
    }
    void add(const fs::path& item, quint64 inode) { listed_.insert({item.lexically_normal(), inode}); }

private:
    void readOnce()
    {
        if (!read_) {
            read_ = true;
            for (const fs::path& file : KZUndoFile::list(trashDir_))
                if (const auto contents = KZUndoFile::read(file))
                    for (const KZUndoFile::Entry& entry : contents->entries)
                        if (const auto target = platform::bookmarkTarget(entry.currPosition))
                            add(target->path, target->inode);
            for (const fs::path& journal : KZRemovalJournal::list(trashDir_))
                if (const auto contents = KZRemovalJournal::read(journal))
                    for (const KZPersistentUndoRecord& record : contents->records)
                        add(record.currPosition, record.inode);
        }
    }

    fs::path trashDir_;
    bool read_ = false;
    std::set<std::pair<fs::path, quint64>> listed_;
};

// Whether the journal itself shows that the removal never moved the item
// of the intent at `place` into a Trash, whatever the disk shows (a byte
// copy of it shows the item at its place too): the removal went on to
// another item without its entry, or it never made a .trashinfo for it
// that it did not give up, or that this recovery did not find unused and
// take away (`released`). Only a journal that announces every name it
// reserves tells by what it does not say.
bool movedNowhere(const KZRemovalJournal::Contents& contents, const fs::path& place,
                  const std::set<fs::path>& released)
{
    const auto found = contents.pendingMoves.find(place);
    if (!contents.announces || found == contents.pendingMoves.end())
        return false;
    if (found->second.followed)
        return true;
    return std::all_of(found->second.infos.begin(), found->second.infos.end(), [&](const auto& info) {
        int err = 0;
        return info.givenUp || released.count(info.place)
            || (!info.made && !platform::statPath(info.place, false, &err) && err == ENOENT);
    });
}

// What Restore gets of a journal and does not list yet: its entries after
// the first `listed`, and each intent without an entry whose item is in a
// trash and listed by no other record. The trashes they lie in join
// `trashes`.
Fold recordsToList(const KZRemovalJournal::Contents& contents, size_t listed, std::set<fs::path>& trashes,
                   ListedItems& listedElsewhere, quint64 journalDevice, const std::set<fs::path>& released)
{
    Fold fold;
    for (size_t i = 0; i < contents.records.size(); ++i) {
        KZPersistentUndoRecord record = contents.records[i];
        if (const auto trash = platform::trashOfTrashedItem(record.currPosition))
            trashes.insert(*trash);
        if (i < listed)
            continue;
        // A bookmark that could not be made during the removal is made now,
        // for the very item recorded and no other.
        if (record.bookmark.isEmpty()) {
            const auto st = platform::statPath(record.currPosition, false);
            if (st && where::mayBeTheItem(record, *st, platform::fileSystemQueryOf(record.currPosition)))
                record.bookmark = where::bookmarkOfFound(record, record.currPosition);
        }
        fold.records.push_back(std::move(record));
    }
    // Killed between a move and its entry: the item is in the Trash all the same.
    TrashedItems trashed(trashes, journalDevice);
    std::vector<std::pair<KZPersistentUndoRecord, TrashedItems::Outcome>> notFound;
    for (KZPersistentUndoRecord intent : contents.pending) {
        const auto outcome = trashed.find(intent, movedNowhere(contents, intent.oldPosition, released));
        if (outcome.where == TrashedItems::Outcome::Found) {
            // Moved by another removal, which lists it: this one never did.
            if (listedElsewhere.contains(outcome.item, intent.inode))
                continue;
            listedElsewhere.add(outcome.item, intent.inode);
            intent.currPosition = outcome.item;
            intent.bookmark = where::bookmarkOfFound(intent, outcome.item);
            fold.records.push_back(std::move(intent));
            ++fold.foundIntents;
        } else if (outcome.where != TrashedItems::Outcome::Stayed) {
            notFound.emplace_back(std::move(intent), outcome);
        }
    }
    // Only once every item found by its inode is listed: a Trash name that
    // holds one of them is not another item saved anew.
    const auto listedByName = [&listedElsewhere](const fs::path& item) { return listedElsewhere.names(item); };
    for (auto& [intent, outcome] : notFound) {
        if (const auto savedAnew = trashed.findSavedAnew(intent, listedByName)) {
            // Listed under the identity it had when it left: what lies there
            // now is not proved to be it, and Restore keeps it and says so.
            platform::FileIdentity left;
            left.device = intent.device;
            left.inode = intent.inode;
            if (intent.identity)
                left = *intent.identity;
            listedElsewhere.add(*savedAnew, intent.inode);
            intent.currPosition = *savedAnew;
            intent.bookmark = platform::bookmarkOf(*savedAnew, left);
            fold.records.push_back(std::move(intent));
            ++fold.foundIntents;
        } else if (outcome.where == TrashedItems::Outcome::Unknown) {
            ++fold.unknown;
        } else {
            fold.gone.insert(intent.oldPosition.lexically_normal());
        }
    }
    trashes.insert(trashed.trashesSeen().begin(), trashed.trashesSeen().end());
    return fold;
}

std::function<void()>& recoveryStepHook()
{
    static std::function<void()> hook;
    return hook;
}

void recoveryStep()
{
    if (const auto& hook = recoveryStepHook())
        hook();
}

bool appendSynced(int fd, const QByteArray& lines)
{
    return platform::writeAll(fd, lines.constData(), size_t(lines.size())) && ::fdatasync(fd) == 0;
}

// A journal kept for items that are nowhere to be found yet ends with this
// line, so that it alone does not offer Restore.
constexpr const char* waitingLine = "waiting\n";

bool endsWaiting(int fd)
{
    const size_t size = std::char_traits<char>::length(waitingLine);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < off_t(size))
        return false;
    char tail[16] = {};
    return ::pread(fd, tail, size, st.st_size - off_t(size)) == ssize_t(size)
           && std::string_view(tail, size) == waitingLine;
}

// An undo file the journal named that the kill tore while writing it: ours,
// and no list of anything. (A file of another program under that name has
// no .trashinfo of ours: the name was taken, so ours was removed again.)
// Killed before the file was made, the .trashinfo made for it names
// nothing.
void removeTornUndoFiles(const fs::path& trashDir, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const fs::path named = platform::trashFilesFolder(trashDir) / name;
        const bool withInfo = isRegularNoFollow(infoPathOf(trashDir, named));
        int err = 0;
        if (withInfo && !platform::statPath(named, false, &err) && err == ENOENT) {
            ::unlink(infoPathOf(trashDir, named).c_str());
        } else if (isRegularNoFollow(named) && !isReadableUndoFile(named) && withInfo) {
            ::unlink(infoPathOf(trashDir, named).c_str());
            ::unlink(named.c_str());
        }
    }
}

// The item a .trashinfo reservation was made for: trash/files/<name> for
// trash/info/<name>.trashinfo. None for any other place.
std::optional<fs::path> itemOfInfo(const fs::path& place)
{
    const auto name = platform::trashedNameOfInfo(place.filename().native());
    if (!name || place.parent_path() != platform::trashInfoFolder(place.parent_path().parent_path()))
        return std::nullopt;
    return platform::trashFilesFolder(place.parent_path().parent_path()) / *name;
}

// What lies at the reservation's place is that very reservation as it was
// made: an empty file or folder (a .trashinfo as it was written), proved by
// its disk, inode and birth time, or size and dates where there is none.
// Filled, replaced, or taken by the item it was made for, it is not. Not
// proved either way where nothing recorded tells (a folder on a disk that
// gives no birth time).
platform::Proof isStillTheReservation(const KZRemovalJournal::Reservation& reservation,
                                      const platform::AnchoredItem& anchor, const platform::FileStat& st, bool isInfo)
{
    if (reservation.identity.folder && *reservation.identity.folder != st.isDir())
        return platform::Proof::Different;
    if (isInfo || !st.isDir()) {
        if (!st.isRegular() || (!isInfo && st.size != 0))
            return platform::Proof::Different;
    } else {
        const auto names = platform::namesInFolder(platform::openFolderAt(anchor.parentFd(), anchor.name().c_str()));
        if (!names || !names->empty())
            return platform::Proof::Different;
    }
    const platform::FileSystemQuery fileSystemNow = platform::fileSystemQueryOf(reservation.place, st);
    const platform::GenerationQuery generationNow
        = platform::folderGenerationQueryAt(anchor.parentFd(), anchor.name());
    const platform::Proof proof = reservation.identity.prove(st, fileSystemNow, generationNow);
    if (proof != platform::Proof::NotProved)
        return proof;
    // On a disk that cannot be told from a byte copy of it (the usual
    // stick), the reservation is proved by itself: an empty entry of its
    // inode and dates is this removal's own on either.
    return reservation.identity.disk().proveDiskOfItem(quint64(st.device), fileSystemNow) == platform::Proof::NotProved
            && reservation.identity.proveOnItsDisk(st, generationNow) == platform::Proof::Proved
        ? platform::Proof::Proved
        : platform::Proof::NotProved;
}

// A file system stamps what it makes with a coarse clock, behind the one
// read for the announcement by up to a tick, and a FAT time counts in steps
// of two seconds.
constexpr qint64 announcementSlackNanoseconds = 2000000000LL;
// A reservation is made right after its announcement, and a job that made
// one writes its journal again at once (the name made, or the next step):
// one killed in between made it within this of the journal's last line,
// the clock's coarseness and a slow disk's creation included. What lies
// there and was made later is another's, made since the kill.
constexpr qint64 killAllowanceNanoseconds = 5000000000LL;

qint64 nanosecondsOf(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

// What a kill right after a creation left at a name announced before it was
// reserved, before it could be named with what was made: made no earlier
// than the announcement and no later than the kill, which came right after
// the journal was `lastWritten` (its birth, or its last change where the
// disk keeps no birth), an empty file or folder that is not the item it was
// made for, which still lies at its own place (or a .trashinfo, which never
// is).
bool isAnnouncedReservation(const platform::ReservationIntent& intent, const platform::AnchoredItem& anchor,
                            const platform::FileStat& st, bool isInfo, const timespec& lastWritten)
{
    if (intent.link) {
        // A second name of the item, while the item keeps its own: the
        // move or swap it was made for never came.
        const auto item = platform::statPath(intent.item, false);
        return !isInfo && !st.isDir() && item && item->sameItem(st) && st.links >= 2 && intent.item != intent.place
            && nanosecondsOf(st.changed) + announcementSlackNanoseconds >= nanosecondsOf(intent.announced);
    }
    if (intent.folder != st.isDir())
        return false;
    if (st.isDir()) {
        const auto names = platform::namesInFolder(platform::openFolderAt(anchor.parentFd(), anchor.name().c_str()));
        if (!names || !names->empty())
            return false;
    } else if (!st.isRegular() || (!isInfo && st.size != 0) || st.size > 65536) {
        return false;
    }
    const timespec made = st.birth ? *st.birth : st.changed;
    if (nanosecondsOf(made) + announcementSlackNanoseconds < nanosecondsOf(intent.announced)
        || nanosecondsOf(made) > nanosecondsOf(lastWritten) + killAllowanceNanoseconds)
        return false;
    if (intent.item.empty())
        return isInfo;
    const auto item = platform::statPath(intent.item, false);
    return item && !item->sameItem(st);
}

// A removal killed between moving an item into a Trash and giving it its
// own dates back left it there dated by the move: given back where the
// journal announced that very move, the item's old place is free, the
// .trashinfo of its Trash name names that place, and the Trash lies on the
// item's disk (or one nothing tells from it).
void redateMovedIntoTrash(const KZRemovalJournal::Contents& contents, const timespec& lastWritten)
{
    for (const KZPersistentUndoRecord& intent : contents.pending) {
        int err = 0;
        if (!intent.identity || platform::statPath(intent.oldPosition, false, &err) || err != ENOENT)
            continue;
        for (const platform::ReservationIntent& announced : contents.intendedReservations) {
            if (announced.link || announced.folder || announced.item != intent.oldPosition
                || !platform::trashOfTrashedItem(announced.place))
                continue;
            const auto info = platform::readTrashInfo(announced.place);
            const auto st = platform::statPath(announced.place, false);
            if (info && info->originalPath == intent.oldPosition && st
                && where::isOnIntendedDisk(intent, announced.place, *st)
                && KZRemovalJournal::giveBackDatesOfKilledMove(announced.place, *intent.identity,
                                                               announced.announced, lastWritten))
                platform::logLine(QStringLiteral("Gave %1 back the date it had before a removal that was killed "
                                                 "moved it into the Trash")
                                      .arg(platform::pathText(announced.place)));
        }
    }
}

// An Undo or a move into a folder killed between moving a file over its
// placeholder and giving it its own dates back left it dated by the move:
// given back where the journal announced that very move with the file's
// size and date, the file left its place, and what lies at the new place
// is a file of that size dated by the kill. Moves into or out of a Trash
// are proved by their .trashinfo and records besides (above, and in
// KZKilledRestore).
void redateMovedIntoFolders(const KZRemovalJournal::Contents& contents, const timespec& lastWritten)
{
    for (const platform::ReservationIntent& announced : contents.intendedReservations) {
        int err = 0;
        if (!announced.size || !announced.modified || platform::trashOfTrashedItem(announced.place)
            || platform::trashOfTrashedItem(announced.item) || platform::statPath(announced.item, false, &err)
            || err != ENOENT)
            continue;
        platform::FileIdentity recorded;
        recorded.size = announced.size;
        recorded.modified = platform::FileIdentity::Time{announced.modified->tv_sec, announced.modified->tv_nsec};
        if (KZRemovalJournal::giveBackDatesOfKilledMove(announced.place, recorded, announced.announced, lastWritten))
            platform::logLine(QStringLiteral("Gave %1 back the date it had before a move that was killed")
                                  .arg(platform::pathText(announced.place)));
    }
}

// What a job killed part-way through making or deleting a copy left: the
// copy cut short, which would pass for the item. Taken away only while the
// item is still where it was copied from, what lies at the copy's place
// holds nothing but part of it, and no record names it; a whole copy stays.
// A copy being made was made since its announcement (the name was free
// then): what lies there changed no earlier. One being taken apart was
// proved the copy right before.
void removeUnfinishedCopies(const KZRemovalJournal::Contents& contents, ListedItems& listed,
                            std::set<fs::path>& released)
{
    for (auto copy = contents.copies.rbegin(); copy != contents.copies.rend(); ++copy) {
        if (contents.copiesMade.count(copy->place) || listed.names(copy->place))
            continue;
        const auto target = platform::AnchoredItem::open(copy->place);
        const auto item = target ? platform::AnchoredItem::open(copy->item) : std::nullopt;
        const auto st = item ? target->stat() : std::nullopt;
        if (!st || st->isDir() != copy->folder
            || (!copy->takenApart
                && nanosecondsOf(st->changed) + announcementSlackNanoseconds < nanosecondsOf(copy->announced))
            || !platform::isUnfinishedCopyAt(item->parentFd(), item->name(), target->parentFd(), target->name()))
            continue;
        int err = 0;
        if (platform::removeTreeAt(target->parentFd(), target->name(), {}, &err)) {
            released.insert(copy->place);
            platform::logLine(QStringLiteral("Removed %1, a copy left unfinished by a job that was killed")
                                  .arg(platform::pathText(copy->place)));
            recoveryStep();
        } else {
            platform::logLine(QStringLiteral("%1, a copy left unfinished by a job that was killed, not removed: %2")
                                  .arg(platform::pathText(copy->place), platform::systemErrorString(err)));
        }
    }
}

// What a removal killed between reserving a name and the move that takes
// it left behind: the empty placeholder, or the .trashinfo of an item that
// never came. Placeholders go first, so that a .trashinfo goes only once
// its name in files/ holds nothing. Each goes through its folder opened
// without following links, and only while it is still the reservation
// made (or announced, see above) and no record names the place: the
// .trashinfo a killed Restore keeps as its evidence is named by the item's
// record. One that its recorded identity cannot tell either way (a folder
// without a birth time) is known as one only announced is. The places
// taken away join `released`.
void releaseReservations(const std::vector<KZRemovalJournal::Reservation>& reservations,
                         const std::vector<platform::ReservationIntent>& intents, const timespec& lastWritten,
                         ListedItems& listed, std::set<fs::path>& released)
{
    const auto release = [&listed, &released](const fs::path& place, bool infos, const auto& isOurs) {
        const std::optional<fs::path> item = itemOfInfo(place);
        if (item.has_value() != infos)
            return;
        const auto anchor = platform::AnchoredItem::open(place);
        const auto st = anchor ? anchor->stat() : std::nullopt;
        if (!st || !isOurs(*anchor, *st))
            return;
        int err = 0;
        if (infos && (platform::statPath(*item, false, &err) || err != ENOENT))
            return;
        if (listed.names(item.value_or(place)))
            return;
        if (::unlinkat(anchor->parentFd(), anchor->name().c_str(), st->isDir() ? AT_REMOVEDIR : 0) == 0) {
            released.insert(place);
            platform::logLine(QStringLiteral("Removed %1, reserved by a job that was killed before its move")
                                  .arg(platform::pathText(place)));
            recoveryStep();
        }
    };
    // A name named once made is known by what was made: only one that a
    // kill left merely announced is known by its place and time.
    std::set<fs::path> made;
    for (const KZRemovalJournal::Reservation& reservation : reservations)
        made.insert(reservation.place);
    for (const bool infos : {false, true}) {
        for (const KZRemovalJournal::Reservation& reservation : reservations)
            release(reservation.place, infos, [&](const platform::AnchoredItem& anchor, const platform::FileStat& st) {
                const platform::Proof proof = isStillTheReservation(reservation, anchor, st, infos);
                if (proof != platform::Proof::NotProved)
                    return proof == platform::Proof::Proved;
                const auto announced = std::find_if(intents.rbegin(), intents.rend(), [&](const auto& intent) {
                    return intent.place == reservation.place;
                });
                return announced != intents.rend()
                    && isAnnouncedReservation(*announced, anchor, st, infos, lastWritten);
            });
        // The latest first: a folder made for an item goes once the
        // folders made in it have gone.
        for (auto intent = intents.rbegin(); intent != intents.rend(); ++intent)
            if (!made.count(intent->place))
                release(intent->place, infos,
                        [&](const platform::AnchoredItem& anchor, const platform::FileStat& st) {
                            return isAnnouncedReservation(*intent, anchor, st, infos, lastWritten);
                        });
    }
}

} // namespace

bool KZRemovalJournal::giveBackDatesOfKilledMove(const fs::path& at, const platform::FileIdentity& recorded,
                                                 const timespec& announced, const timespec& lastWritten)
{
    if (recorded.birth || !recorded.size || *recorded.size == 0 || !recorded.modified)
        return false;
    const auto anchor = platform::AnchoredItem::open(at);
    const auto st = anchor ? anchor->stat() : std::nullopt;
    const qint64 wanted = recorded.modified->seconds * 1000000000LL + recorded.modified->nanoseconds;
    if (!st || !st->isRegular() || st->size != *recorded.size || nanosecondsOf(st->modified) == wanted
        || nanosecondsOf(st->modified) + announcementSlackNanoseconds < nanosecondsOf(announced)
        || nanosecondsOf(st->modified) > nanosecondsOf(lastWritten) + killAllowanceNanoseconds)
        return false;
    // Both given: FAT through FUSE drops a change that leaves one out.
    const timespec times[2] = {st->accessed,
                               {time_t(recorded.modified->seconds), long(recorded.modified->nanoseconds)}};
    return ::utimensat(anchor->parentFd(), anchor->name().c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool KZRemovalJournal::isWaiting(const fs::path& journal)
{
    const int fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool waiting = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && endsWaiting(fd);
    ::close(fd);
    return waiting;
}

void KZRemovalJournal::setRecoveryStepHook(std::function<void()> hook)
{
    recoveryStepHook() = std::move(hook);
}

int KZRemovalJournal::recoverInterrupted(const fs::path& trashDir)
{
    int written = 0;
    std::set<fs::path> trashes{trashDir};
    std::set<fs::path> gone;
    ListedItems listed(trashDir);
    const fs::path files = platform::trashFilesFolder(trashDir);
    for (const fs::path& journal : list(trashDir)) {
        // Writable, so that the undo file folded from it is named in it first.
        int fd = ::open(journal.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        const bool writable = fd >= 0;
        if (fd < 0)
            fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        // A removal still writing it holds the lock; another recovery that
        // held it until now has removed it.
        struct stat held {};
        const auto there = platform::statPath(journal, false);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 || held.st_nlink == 0 || !there
            || there->inode != held.st_ino || there->device != held.st_dev) {
            ::close(fd);
            continue;
        }
        // Only the user whose removal was killed folds its journal: the
        // Trash at the top of each disk is per user (.Trash-<uid>), and
        // another user, root too, would look into their own, find none of
        // the moved items, and drop the records of items still in the Trash.
        if (held.st_uid != ::geteuid()) {
            platform::logLine(QStringLiteral("Removal journal %1 left for the user who removed (uid %2)")
                                  .arg(platform::pathText(journal))
                                  .arg(held.st_uid));
            ::close(fd);
            continue;
        }
        QString error;
        const auto contents = read(journal, &error);
        bool done = false;
        if (!contents) {
            done = diedAtBirth(journal);
            if (!done)
                platform::logLine(QStringLiteral("Removal journal %1 not read: %2")
                                      .arg(platform::pathText(journal), error));
        } else if (contents->finished) {
            done = true;
        } else {
            removeTornUndoFiles(trashDir, contents->undoFiles);
            // Before the fold: a placeholder with its .trashinfo in a Trash
            // is no item saved anew there.
            std::set<fs::path> released;
            releaseReservations(contents->reservations, contents->intendedReservations, held.st_mtim, listed,
                                released);
            removeUnfinishedCopies(*contents, listed, released);
            redateMovedIntoTrash(*contents, held.st_mtim);
            redateMovedIntoFolders(*contents, held.st_mtim);
            KZKilledRestore::finish(trashDir, *contents, quint64(held.st_dev), held.st_mtim, recoveryStep);
            Fold fold = recordsToList(*contents, recordsListed(trashDir, *contents), trashes, listed,
                                      quint64(held.st_dev), released);
            for (const KZPersistentUndoRecord& record : fold.records)
                listed.add(record.currPosition, record.inode);
            gone.insert(fold.gone.begin(), fold.gone.end());
            // An item that left its place and is in no trash may lie on a
            // disk that is not connected now: the journal is all that says
            // where it went, so it stays. A journal that cannot be written
            // to goes as it always did.
            const bool keep = fold.unknown > 0 && writable;
            // The items found by their intents become entries before the
            // undo file is named, so that the name covers them: a fold
            // killed after writing that file and run again lists nothing
            // twice, and one killed before it lists them from these lines.
            if (writable && fold.foundIntents > 0) {
                QByteArray lines;
                for (size_t i = fold.records.size() - fold.foundIntents; i < fold.records.size(); ++i)
                    lines += lineOf(fold.records[i]);
                if (!appendSynced(fd, lines)) {
                    ::close(fd);
                    continue;
                }
                recoveryStep();
            }
            bool folded = fold.records.empty();
            if (!folded) {
                const double seconds = secondsOfJournalName(journal.filename().native());
                const auto announce = [fd](const std::string& name) {
                    appendSynced(fd, undoFileLineOf(name));
                    recoveryStep();
                };
                const auto reserving = [fd, &trashDir](const std::string& name) {
                    appendSynced(fd, reservingLineOf(undoInfoIntent(trashDir, name)));
                };
                const auto file = KZUndoFile::write(trashDir, {}, fold.records,
                                                    seconds > 0 ? seconds : KZUndoFile::nowSinceReferenceDate(),
                                                    &error, announce, reserving);
                if (file) {
                    ++written;
                    folded = true;
                    recoveryStep();
                    // Said also for a journal about to go: the file it
                    // names may be restored and gone before a kill here is
                    // recovered from.
                    if (writable) {
                        appendSynced(fd, "folded\t" + encodePath(file->filename()) + '\n');
                        recoveryStep();
                    }
                } else {
                    platform::logLine(QStringLiteral("Removal journal %1 not folded into an undo file: %2")
                                          .arg(platform::pathText(journal), error));
                }
            }
            done = folded && !keep;
            if (folded && keep && !endsWaiting(fd)) {
                appendSynced(fd, waitingLine);
                recoveryStep();
            }
        }
        if (done) {
            ::unlink(infoPathOf(trashDir, journal).c_str());
            recoveryStep();
            ::unlink(journal.c_str());
            recoveryStep();
        }
        ::close(fd);
    }
    const auto namedByRecord = [&listed](const fs::path& item) { return listed.names(item); };
    for (const fs::path& trash : trashes)
        removeOrphanTrashInfos(trash, gone, namedByRecord);
    KZUndoFile::removeStaleTemporaries(trashDir);
    return written;
}

int KZRemovalJournal::removeOrphanTrashInfos(const fs::path& trashDir, const std::set<fs::path>& neverMoved,
                                              const std::function<bool(const fs::path&)>& namedByRecord)
{
    const fs::path info = platform::trashInfoFolder(trashDir);
    const fs::path files = platform::trashFilesFolder(trashDir);
    const auto now = static_cast<time_t>(platform::Clock::shared().sinceEpoch());
    int removed = 0;
    std::error_code ec;
    std::vector<fs::path> candidates;
    for (fs::directory_iterator it(info, ec), end; !ec && it != end; it.increment(ec)) {
        if (platform::trashedNameOfInfo(it->path().filename().native()))
            candidates.push_back(it->path());
    }
    const std::string undoPrefix = KZUndoFile::namePrefix.toStdString();
    for (const fs::path& infoFile : candidates) {
        const std::string name = *platform::trashedNameOfInfo(infoFile.filename().native());
        const fs::path item = files / name;
        const auto st = platform::statPath(infoFile, false);
        if (!st || !st->isRegular() || now - st->modified.tv_sec < orphanMinimumAgeSeconds)
            continue;
        int err = 0;
        if (platform::statPath(item, false, &err) || err != ENOENT)
            continue;
        // Its writer died between creating it and writing it: no move
        // follows a .trashinfo that says nothing.
        bool orphan = st->size == 0;
        // Our own undo file or journal: never created, or gone since.
        orphan = orphan || name.starts_with(undoPrefix) || name.starts_with(namePrefix);
        if (!orphan) {
            // Only when the item never left its place: that is a move that
            // did not happen, not an item someone took out of the Trash.
            // Or when a dead removal's journal names it as an item that never
            // came here and is gone from its place since.
            const auto trashInfo = platform::readTrashInfo(item);
            orphan = trashInfo
                && (platform::statPath(trashInfo->originalPath, false)
                    || neverMoved.count(trashInfo->originalPath.lexically_normal()));
            // The item a record names in the Trash is back at its place:
            // a Restore put it there and died before its undo file said so.
            if (orphan && namedByRecord && namedByRecord(item))
                orphan = false;
        }
        if (orphan && ::unlink(infoFile.c_str()) == 0)
            ++removed;
    }
    return removed;
}
