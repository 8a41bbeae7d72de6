#include "media/KZSQLite.h"

#include "platform/ChildProcess.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "platform/TemporaryFolders.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

platform::SharedInstance<KZSQLite>& shared()
{
    static platform::SharedInstance<KZSQLite> instance([] { return std::make_unique<KZSQLite>(); });
    return instance;
}

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

// What tells a changed file from an unchanged one while it is copied.
struct FileState {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const FileState& other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode && size == other.size
            && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

// The entry itself: a link at the log's place is something there, never
// what it leads to.
FileState stateOf(const fs::path& file)
{
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return {};
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// A database in WAL mode keeps its newest rows in "<name>-wal", and the tool
// would create that file and the "-shm" index beside the database to read
// it, even read-only. The header's read and write versions are 2 in WAL mode.
bool needsPrivateCopy(const fs::path& database)
{
    if (stateOf(fs::path(database.native() + "-wal")).exists)
        return true;
    const int fd = ::open(database.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false; // the tool will say why it cannot read it either
    std::array<unsigned char, 2> versions{};
    const ssize_t got = ::pread(fd, versions.data(), versions.size(), 18);
    ::close(fd);
    return got == ssize_t(versions.size()) && (versions[0] == 2 || versions[1] == 2);
}

// An open source file of a private copy: a regular file, with the size it
// had when it was opened and the blocks it holds on disk.
struct SourceFile {
    int fd = -1;
    off_t size = 0;
    quint64 allocated = 0;

    SourceFile() = default;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    ~SourceFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opens `from` for a copy. Answers 0 or the errno of the failure; what is
// not a regular file (a link, a pipe that would block the open, a device
// that never ends) is refused with `refusal` said.
int openSource(const fs::path& from, SourceFile& source, QString* refusal)
{
    source.fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (source.fd < 0) {
        const int err = errno;
        if (err == ELOOP)
            *refusal = QStringLiteral("%1 is a link, not a regular file").arg(platform::pathText(from));
        return err;
    }
    struct stat st {};
    if (::fstat(source.fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode)) {
        *refusal = QStringLiteral("%1 is not a regular file").arg(platform::pathText(from));
        return EINVAL;
    }
    source.size = st.st_size;
    source.allocated = quint64(st.st_blocks) * 512;
    return 0;
}

bool allZero(const char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (data[i] != 0)
            return false;
    return true;
}

// Copies the bytes of `source` into a new file `to` that only we may read.
// A file may claim far more than it holds (a sparse log of 50 GB uses no
// disk): only its data is read and written, and what it does not hold, or
// holds as zeros, stays a hole in the copy, which costs no more disk than
// the source. Only the bytes the file had when it was opened are copied:
// one that grows meanwhile is caught as changed by the caller. What is
// written is taken from `room`: a file system that reports fewer blocks
// than its data (a compressed one) still cannot make the copy outgrow it
// (ENOSPC). Answers 0 or the errno of the failure.
int copyBytes(const SourceFile& source, const fs::path& to, quint64& room)
{
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return errno;
    int err = 0;
    std::vector<char> buffer(1 << 20);
    off_t at = 0;
    while (at < source.size && err == 0) {
        // The next stretch of data; a file system that cannot tell holes
        // answers the whole rest as data.
        off_t data = ::lseek(source.fd, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end
        if (data < 0)
            data = at;
        off_t hole = ::lseek(source.fd, data, SEEK_HOLE);
        if (hole < 0 || hole > source.size)
            hole = source.size;
        for (off_t offset = data; offset < hole;) {
            const ssize_t got = ::pread(source.fd, buffer.data(),
                                        size_t(std::min<off_t>(hole - offset, off_t(buffer.size()))), offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                err = errno;
                break;
            }
            if (got == 0) {
                hole = source.size; // shorter than it was: the caller sees the change
                break;
            }
            if (!allZero(buffer.data(), size_t(got))) {
                if (quint64(got) > room) {
                    err = ENOSPC;
                    break;
                }
                room -= quint64(got);
                for (ssize_t done = 0; done < got;) {
                    const ssize_t put = ::pwrite(out, buffer.data() + done, size_t(got - done), offset + done);
                    if (put < 0 && errno == EINTR)
                        continue;
                    if (put <= 0) {
                        err = put < 0 ? errno : EIO;
                        break;
                    }
                    done += put;
                }
                if (err != 0)
                    break;
            }
            offset += got;
        }
        at = hole;
    }
    if (err == 0 && ::ftruncate(out, source.size) != 0)
        err = errno;
    if (::close(out) != 0 && err == 0)
        err = errno;
    return err;
}

// What the copies may take of the temporary folder's file system: its free
// space less a margin (a twentieth of it, at most 256 MiB), so that reading
// a library never fills the disk that others write to.
std::optional<quint64> roomFor(const fs::path& folder)
{
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) != 0)
        return std::nullopt;
    const quint64 unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    const quint64 total = quint64(vfs.f_blocks) * unit;
    const quint64 free = quint64(vfs.f_bavail) * unit;
    const quint64 margin = std::min<quint64>(total / 20, quint64(256) << 20);
    return free > margin ? free - margin : 0;
}

constexpr std::string_view kFolderPrefix = "maravex-sqlite-";

// The blocks a file holds on disk; 0 when there is none.
quint64 allocatedBytes(const fs::path& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? quint64(st.st_blocks) * 512 : 0;
}

// What one statement may print and answer: a few times what the database
// holds (a row of a library's table takes far more than 32 bytes on disk),
// and never less than a small library needs.
constexpr quint64 kMinOutputBytes = quint64(16) << 20;
constexpr quint64 kOutputBytesPerByte = 4;
constexpr qsizetype kMinOutputRows = 250000;
constexpr quint64 kBytesPerRow = 32;
// What the tool may take of memory for one statement: as much as it may
// print, and never less than its page cache and a small library's sort need.
constexpr quint64 kMinToolMemory = quint64(64) << 20;
// The tool reads a database at hundreds of megabytes a second; a view that
// loops without printing anything is caught by its time alone. Seconds for
// a small database, one more for every 5 MB it holds on disk.
constexpr std::chrono::milliseconds kMinToolTime{3000};
constexpr quint64 kToolBytesPerSecond = quint64(5) << 20;

std::chrono::milliseconds toolTime(quint64 onDisk, std::chrono::milliseconds most)
{
    const quint64 extra = std::min<quint64>(onDisk / (kToolBytesPerSecond / 1000), quint64(INT32_MAX));
    return std::min(most, kMinToolTime + std::chrono::milliseconds(qint64(extra)));
}

// Copies the database and its log into `folder`, and answers the copy's
// path. The copy is taken again when either file changed meanwhile, so the
// log never meets a database it was not written for. Copies that would need
// more than the room left in the folder are refused before a byte is written.
fs::path copyDatabase(const fs::path& database, const fs::path& folder, QString* error)
{
    const fs::path wal(database.native() + "-wal");
    const fs::path copy = folder / database.filename();
    const fs::path walCopy(copy.native() + "-wal");
    const auto refuse = [&](const QString& why) {
        fail(error, QStringLiteral("%1 could not be copied to read it: %2").arg(platform::pathText(database), why));
        return fs::path();
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        ::unlink(copy.c_str());
        ::unlink(walCopy.c_str());
        const FileState databaseBefore = stateOf(database);
        const FileState walBefore = stateOf(wal);
        QString refusal;
        SourceFile databaseFile, walFile;
        int err = openSource(database, databaseFile, &refusal);
        if (err == 0 && walBefore.exists)
            err = openSource(wal, walFile, &refusal);
        if (err == ENOENT && !stateOf(wal).exists && walBefore.exists)
            continue; // the log was folded into the database meanwhile
        if (err != 0)
            return refuse(refusal.isEmpty() ? platform::systemErrorString(err) : refusal);
        const quint64 needed = databaseFile.allocated + walFile.allocated;
        const std::optional<quint64> room = roomFor(folder);
        const auto noRoom = [&] {
            return refuse(QStringLiteral("it holds %1 bytes, and the temporary folder %2 has room for %3 only")
                              .arg(needed)
                              .arg(platform::pathText(folder.parent_path()))
                              .arg(room.value_or(0)));
        };
        if (room && needed > *room)
            return noRoom();
        quint64 left = room.value_or(std::numeric_limits<quint64>::max());
        err = copyBytes(databaseFile, copy, left);
        if (err == 0 && walFile.fd >= 0)
            err = copyBytes(walFile, walCopy, left);
        if (err == ENOSPC)
            return noRoom();
        if (err != 0)
            return refuse(platform::systemErrorString(err));
        if (stateOf(database) == databaseBefore && stateOf(wal) == walBefore)
            return copy;
    }
    fail(error, QStringLiteral("%1 kept changing while it was copied to read it").arg(platform::pathText(database)));
    return {};
}

} // namespace

KZSQLite::KZSQLite(fs::path tool, std::chrono::milliseconds timeout) : tool_(std::move(tool)), timeout_(timeout) {}

KZSQLite& KZSQLite::sharedControl()
{
    return shared().get();
}

void KZSQLite::removeStaleCopies()
{
    platform::removeStaleTemporaryFoldersOnce(kFolderPrefix);
}

void KZSQLite::setSharedControl(std::unique_ptr<KZSQLite> instance)
{
    shared().replace(std::move(instance));
}

std::optional<QList<QStringList>> KZSQLite::parseCSV(const QByteArray& output, qsizetype maxRecords,
                                                     bool* tooMany)
{
    if (tooMany)
        *tooMany = false;
    // Fields are split on the bytes and decoded one by one from the whole
    // output, so a character is never cut in two.
    QList<QStringList> records;
    QStringList record;
    QByteArray field;
    bool quoted = false;      // inside a quoted value
    bool fieldStarted = false; // something of the current record was read
    const qsizetype n = output.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = output.at(i);
        if (quoted) {
            if (c != '"') {
                field.append(c);
            } else if (i + 1 < n && output.at(i + 1) == '"') {
                field.append('"');
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            quoted = true;
            fieldStarted = true;
            break;
        case ',':
            record.append(QString::fromUtf8(field));
            field.clear();
            fieldStarted = true;
            break;
        case '\r':
            if (i + 1 < n && output.at(i + 1) == '\n')
                break; // the "\r\n" row end
            field.append(c);
            fieldStarted = true;
            break;
        case '\n':
            if (records.size() >= maxRecords) {
                if (tooMany)
                    *tooMany = true;
                return std::nullopt;
            }
            record.append(QString::fromUtf8(field));
            records.append(record);
            record.clear();
            field.clear();
            fieldStarted = false;
            break;
        default:
            field.append(c);
            fieldStarted = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (fieldStarted || !record.isEmpty()) { // a last row without its line end
        if (records.size() >= maxRecords) {
            if (tooMany)
                *tooMany = true;
            return std::nullopt;
        }
        record.append(QString::fromUtf8(field));
        records.append(record);
    }
    return records;
}

std::optional<KZSQLite::Rows> KZSQLite::dataFromSQLDatabase(const fs::path& database, const QString& sqlFormula,
                                                            const QString& fields, QString* error) const
{
    std::optional<std::vector<Rows>> answers = dataFromSQLDatabase(database, {{sqlFormula, fields}}, error);
    if (!answers)
        return std::nullopt;
    return std::move(answers->front());
}

std::optional<std::vector<KZSQLite::Rows>> KZSQLite::dataFromSQLDatabase(const fs::path& database,
                                                                         const std::vector<Query>& queries,
                                                                         QString* error) const
{
    // Copies that a killed run left are looked for at the first read of any
    // database, not only when another one needs a copy.
    removeStaleCopies();
    std::error_code ec;
    const fs::path absolute = database.empty() ? fs::path() : fs::absolute(database, ec);
    // Checked before the tool runs: even read-only, a database it cannot
    // find is an error we would rather name ourselves.
    if (absolute.empty() || ec || !fs::is_regular_file(absolute, ec)) {
        fail(error, QStringLiteral("no database file at %1").arg(platform::pathText(database)));
        return std::nullopt;
    }

    // The tool reads a private copy of a database in WAL mode: the files it
    // needs beside the database must never appear in the user's library.
    fs::path read = absolute;
    std::optional<platform::PrivateTemporaryFolder> folder;
    const fs::path real = fs::canonical(absolute, ec);
    // The tool would open a pipe at the rollback journal's place and wait for
    // a writer that never comes.
    const fs::path journal((ec ? absolute : real).native() + "-journal");
    if (struct stat st {}; ::lstat(journal.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fail(error, QStringLiteral("%1 is not read: %2 is not a regular file")
                        .arg(platform::pathText(database), platform::pathText(journal)));
        return std::nullopt;
    }
    if (!ec && needsPrivateCopy(real)) {
        folder.emplace(kFolderPrefix);
        if (folder->path().empty()) {
            fail(error, QStringLiteral("no private folder to read %1 in: %2")
                            .arg(platform::pathText(database), folder->problem()));
            return std::nullopt;
        }
        read = copyDatabase(real, folder->path(), error);
        if (read.empty())
            return std::nullopt;
    }

    // A database of a few kilobytes can still answer without end (a view
    // over an endless recursive query): what the tool may print, and the
    // rows taken from it, are bounded by what the database holds on disk.
    const quint64 onDisk = allocatedBytes(read) + allocatedBytes(fs::path(read.native() + "-wal"));
    OutputBound bound{std::max(kMinOutputBytes, onDisk * kOutputBytesPerByte),
                            std::max(kMinOutputRows, qsizetype(std::min<quint64>(onDisk / kBytesPerRow,
                                                                                 quint64(INT32_MAX)))),
                            std::max(kMinToolMemory, onDisk * kOutputBytesPerByte),
                            {},
                            toolTime(onDisk, timeout_)};
    bound.deadline = std::chrono::steady_clock::now() + bound.time;
    std::vector<Rows> answers;
    answers.reserve(queries.size());
    for (const Query& query : queries) {
        std::optional<Rows> rows = rowsOf(read, query, bound, error);
        if (!rows)
            return std::nullopt;
        answers.push_back(std::move(*rows));
    }
    return answers;
}

std::optional<KZSQLite::Rows> KZSQLite::rowsOf(const fs::path& read, const Query& query, const OutputBound& bound,
                                               QString* error) const
{
    const QString& sqlFormula = query.sqlFormula;
    const QString& fields = query.fields;
    const QStringList names = fields.split(QStringLiteral(", "));

    // The tool's own work is bounded as well: a sort over a view that never
    // ends would otherwise fill the temporary folder with its spill files.
    // Its temporary tables stay in memory, and its memory is bounded like
    // its output (the pragma's answer goes nowhere, not into the rows).
    const std::string heapLimit = "PRAGMA hard_heap_limit=" + std::to_string(bound.memory);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(bound.deadline
                                                                           - std::chrono::steady_clock::now());
    const platform::ProcessOutput run = platform::runProcess(
        tool_,
        {"-batch", "-readonly", "-init", "/dev/null", "-csv", "-cmd", ".output /dev/null", "-cmd",
         "PRAGMA temp_store=MEMORY", "-cmd", heapLimit, "-cmd", ".output stdout", read.native(),
         sqlFormula.toStdString()},
        std::max(left, std::chrono::milliseconds(1)), size_t(std::min<quint64>(bound.bytes, quint64(SIZE_MAX))));
    if (!run.started) {
        fail(error, QStringLiteral("%1 could not be run: %2").arg(platform::pathText(tool_), run.error));
        return std::nullopt;
    }
    if (run.timedOut) {
        fail(error, QStringLiteral("%1 did not finish in %2 s, the time a database of this size may take, "
                                   "and was stopped")
                        .arg(platform::pathText(tool_))
                        .arg(double(bound.time.count()) / 1000.0));
        return std::nullopt;
    }
    if (run.tooMuchOutput) {
        fail(error, QStringLiteral("%1 printed more than %2 bytes for a database of this size and was stopped")
                        .arg(platform::pathText(tool_))
                        .arg(bound.bytes));
        return std::nullopt;
    }
    if (!run.succeededQuietly()) {
        const QString said = QString::fromUtf8(run.standardError).trimmed();
        fail(error,
             QStringLiteral("%1 failed (exit status %2)%3")
                 .arg(platform::pathText(tool_))
                 .arg(run.exitCode)
                 .arg(said.isEmpty() ? QString() : QStringLiteral(": ") + said));
        return std::nullopt;
    }

    bool tooManyRows = false;
    const std::optional<QList<QStringList>> records = parseCSV(run.standardOutput, bound.rows, &tooManyRows);
    if (tooManyRows) {
        fail(error, QStringLiteral("%1 answered more than %2 rows for a database of this size")
                        .arg(platform::pathText(tool_))
                        .arg(bound.rows));
        return std::nullopt;
    }
    if (!records) {
        fail(error, QStringLiteral("%1 printed an unfinished quoted value").arg(platform::pathText(tool_)));
        return std::nullopt;
    }
    Rows rows;
    rows.reserve(records->size());
    for (const QStringList& record : *records) {
        if (record.size() != names.size()) {
            fail(error, QStringLiteral("a row of %1 values does not fit the %2 fields \"%3\"")
                            .arg(record.size())
                            .arg(names.size())
                            .arg(fields));
            return std::nullopt;
        }
        Row row;
        for (qsizetype i = 0; i < names.size(); ++i)
            row.insert(names.at(i), record.at(i));
        rows.append(std::move(row));
    }
    return rows;
}
