#include "removal/KZRemovalJournal.h"

#include "platform/Bookmark.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/Trash.h"
#include "removal/KZUndoFile.h"

#include <QByteArray>
#include <QDir>
#include <QList>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr const char* header = "maravex-removal-journal 1\n";
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

QByteArray lineOf(const KZPersistentUndoRecord& record)
{
    QByteArray line("item\t");
    line += encodePath(record.oldPosition) + '\t';
    line += encodePath(record.currPosition) + '\t';
    line += QByteArray::number(record.device) + '\t';
    line += QByteArray::number(record.inode) + '\t';
    line += QByteArray(record.aliasWasCreated ? "1" : "0") + '\t';
    line += QByteArray(record.isiTunesItem ? "1" : "0") + '\t';
    line += QByteArray::number(record.locationLabelTag) + '\t';
    line += record.bookmark.toBase64() + '\n';
    return line;
}

std::optional<KZPersistentUndoRecord> recordOf(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 9 || fields[0] != "item")
        return std::nullopt;
    KZPersistentUndoRecord record;
    const auto old = decodePath(fields[1]);
    const auto curr = decodePath(fields[2]);
    if (!old || !curr)
        return std::nullopt;
    // The Trash is writable by any program of the user: a record that could
    // send an item anywhere but a plain absolute place is not taken.
    if (!KZUndoFile::isCleanAbsolutePath(old->native()) || !KZUndoFile::isCleanAbsolutePath(curr->native()))
        return std::nullopt;
    bool ok[4] = {};
    record.oldPosition = *old;
    record.currPosition = *curr;
    record.device = fields[3].toULongLong(&ok[0]);
    record.inode = fields[4].toULongLong(&ok[1]);
    if ((fields[5] != "0" && fields[5] != "1") || (fields[6] != "0" && fields[6] != "1"))
        return std::nullopt;
    record.aliasWasCreated = fields[5] == "1";
    record.isiTunesItem = fields[6] == "1";
    record.locationLabelTag = fields[7].toShort(&ok[2]);
    ok[3] = true;
    record.bookmark = QByteArray::fromBase64(fields[8], QByteArray::AbortOnBase64DecodingErrors);
    if (!ok[0] || !ok[1] || !ok[2] || (record.bookmark.isEmpty() && !fields[8].isEmpty()))
        return std::nullopt;
    return record;
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
    return trashDir / "info" / (file.filename().native() + ".trashinfo");
}

bool isRegularNoFollow(const fs::path& path)
{
    const auto st = platform::statPath(path, false);
    return st && st->isRegular();
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

std::unique_ptr<KZRemovalJournal> KZRemovalJournal::begin()
{
    return beginIn(platform::homeTrashDirectory(), KZUndoFile::nowSinceReferenceDate());
}

std::unique_ptr<KZRemovalJournal> KZRemovalJournal::beginIn(const fs::path& trashDir, double seconds)
{
    const fs::path files = KZUndoFile::trashFilesFolder(trashDir);
    std::error_code ec;
    fs::create_directories(files, ec);
    fs::create_directories(trashDir / "info", ec);
    QString why;
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        const std::string name = namePrefix + QString::number(seconds + attempt * 0.001, 'f', 6).toStdString();
        const fs::path target = files / name;
        int err = 0;
        // Its own .trashinfo, so that emptying the Trash takes it as well.
        const fs::path original = fs::path(QDir::homePath().toStdString()) / name;
        if (!platform::createTrashInfo(trashDir, name, original, &why, &err)) {
            if (err == EEXIST)
                continue;
            break;
        }
        const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            const int openErr = errno;
            fs::remove(infoPathOf(trashDir, target), ec);
            if (openErr == EEXIST)
                continue;
            why = platform::systemErrorString(openErr);
            break;
        }
        // Held for the whole removal: a recovery never folds a live journal.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0
            || !platform::writeAll(fd, header, std::char_traits<char>::length(header)) || ::fdatasync(fd) != 0) {
            why = platform::systemErrorString(errno);
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
                          .arg(QString::fromStdString(trashDir.string()), why));
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

void KZRemovalJournal::append(const KZPersistentUndoRecord& record)
{
    const QByteArray line = lineOf(record);
    std::lock_guard guard(mutex_);
    if (finished_)
        return;
    // One write per entry: a process killed now loses at most this entry,
    // and a torn one is recognised by its missing line end.
    if (!platform::writeAll(fd_, line.constData(), size_t(line.size()))) {
        if (failedAppends_++ == 0)
            platform::logLine(QStringLiteral("Removal journal %1 not written: %2")
                                  .arg(QString::fromStdString(path_.string()), platform::systemErrorString(errno)));
        return;
    }
    dirty_ = true;
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
    const std::optional<QByteArray> read = platform::readRegularFile(journal, quint64(maxJournalSize), &reason);
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
    qsizetype start = qsizetype(std::char_traits<char>::length(header));
    while (start < data.size()) {
        const qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            break; // torn by a process that died while writing it
        const QByteArray line = data.mid(start, end - start);
        start = end + 1;
        if (line.startsWith("finished\t") || line == "finished") {
            contents.finished = true;
        } else if (auto record = recordOf(line)) {
            contents.records.push_back(std::move(*record));
        }
    }
    return contents;
}

std::vector<fs::path> KZRemovalJournal::list(const fs::path& trashDir)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(KZUndoFile::trashFilesFolder(trashDir), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().native().rfind(namePrefix, 0) == 0 && isRegularNoFollow(it->path()))
            found.push_back(it->path());
    }
    return found;
}

int KZRemovalJournal::recoverInterrupted(const fs::path& trashDir)
{
    int written = 0;
    std::set<fs::path> trashes{trashDir};
    for (const fs::path& journal : list(trashDir)) {
        const int fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        // A removal still writing it holds the lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        QString error;
        const auto contents = read(journal, &error);
        bool done = false;
        if (!contents) {
            platform::logLine(QStringLiteral("Removal journal %1 not read: %2")
                                  .arg(QString::fromStdString(journal.string()), error));
        } else if (contents->finished || contents->records.empty()) {
            done = true;
        } else {
            auto records = contents->records;
            for (auto& record : records) {
                const fs::path files = record.currPosition.parent_path();
                if (files.filename() == "files")
                    trashes.insert(files.parent_path());
                // A bookmark that could not be made during the removal is
                // made now, for the very item recorded and no other.
                if (record.bookmark.isEmpty()) {
                    const auto st = platform::statPath(record.currPosition, false);
                    if (st && quint64(st->device) == record.device && st->inode == record.inode)
                        record.bookmark = platform::createBookmark(record.currPosition);
                }
            }
            const double seconds = secondsOfJournalName(journal.filename().native());
            const auto file = KZUndoFile::write(trashDir, {}, records,
                                                seconds > 0 ? seconds : KZUndoFile::nowSinceReferenceDate(), &error);
            if (file) {
                ++written;
                done = true;
            } else {
                platform::logLine(QStringLiteral("Removal journal %1 not folded into an undo file: %2")
                                      .arg(QString::fromStdString(journal.string()), error));
            }
        }
        if (done) {
            ::unlink(infoPathOf(trashDir, journal).c_str());
            ::unlink(journal.c_str());
        }
        ::close(fd);
    }
    for (const fs::path& trash : trashes)
        removeOrphanTrashInfos(trash);
    return written;
}

int KZRemovalJournal::removeOrphanTrashInfos(const fs::path& trashDir)
{
    const fs::path info = trashDir / "info";
    const fs::path files = KZUndoFile::trashFilesFolder(trashDir);
    const std::string suffix = ".trashinfo";
    const time_t now = std::time(nullptr);
    int removed = 0;
    std::error_code ec;
    std::vector<fs::path> candidates;
    for (fs::directory_iterator it(info, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            candidates.push_back(it->path());
    }
    for (const fs::path& infoFile : candidates) {
        const std::string name = infoFile.filename().native();
        const fs::path item = files / name.substr(0, name.size() - suffix.size());
        const auto st = platform::statPath(infoFile, false);
        if (!st || !st->isRegular() || now - st->modified.tv_sec < orphanMinimumAgeSeconds)
            continue;
        int err = 0;
        if (platform::statPath(item, false, &err) || err != ENOENT)
            continue;
        // Only when the item never left its place: that is a move that did
        // not happen, not an item someone took out of the Trash.
        const auto trashInfo = platform::readTrashInfo(item);
        if (!trashInfo || !platform::statPath(trashInfo->originalPath, false))
            continue;
        if (::unlink(infoFile.c_str()) == 0)
            ++removed;
    }
    return removed;
}
