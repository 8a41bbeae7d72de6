#include "media/KZSQLite.h"

#include "platform/ChildProcess.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
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

// Copies the bytes of `from` into a new file `to` that only we may read.
// Answers 0 or the errno of the failure; what is not a regular file (a link,
// a pipe that would block the open, a device that never ends) is refused
// with `refusal` said. Only the bytes the file had when it was opened are
// copied: one that grows meanwhile is caught as changed by the caller.
int copyBytes(const fs::path& from, const fs::path& to, QString* refusal)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) {
        const int err = errno;
        if (err == ELOOP)
            *refusal = QStringLiteral("%1 is a link, not a regular file").arg(platform::pathText(from));
        return err;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(in);
        *refusal = QStringLiteral("%1 is not a regular file").arg(platform::pathText(from));
        return EINVAL;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    std::vector<char> buffer(1 << 20);
    off_t left = st.st_size;
    while (left > 0) {
        const ssize_t got = ::read(in, buffer.data(), size_t(std::min<off_t>(left, off_t(buffer.size()))));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            err = errno;
            break;
        }
        if (got == 0)
            break;
        if (!platform::writeAll(out, buffer.data(), size_t(got))) {
            err = errno;
            break;
        }
        left -= got;
    }
    if (::close(out) != 0 && err == 0)
        err = errno;
    ::close(in);
    return err;
}

constexpr std::string_view kFolderPrefix = "maravex-sqlite-";

// The owner's process id in a private folder's name, or 0.
pid_t ownerOf(std::string_view name)
{
    if (!name.starts_with(kFolderPrefix))
        return 0;
    name.remove_prefix(kFolderPrefix.size());
    const size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || name.size() - dash - 1 != 6)
        return 0;
    pid_t pid = 0;
    for (const char c : name.substr(0, dash)) {
        if (c < '0' || c > '9' || pid > 99999999)
            return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Private folders that a run killed while it read left behind: ours (same
// user, a real folder, our name), whose process is gone, and which no reader
// holds locked (a process in another pid namespace may share the folder).
void removeStaleFolders(const fs::path& temporary)
{
    const int dir = platform::openFolderAt(AT_FDCWD, temporary.c_str(), platform::kFolderFollowLink);
    if (dir < 0)
        return;
    DIR* listing = ::fdopendir(dir);
    if (!listing) {
        ::close(dir);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing)) {
        const pid_t owner = ownerOf(entry->d_name);
        if (owner <= 0 || owner == ::getpid())
            continue;
        struct stat st {};
        if (::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)
            || st.st_uid != ::geteuid())
            continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        stale.emplace_back(entry->d_name);
    }
    for (const std::string& name : stale) {
        const int folder = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0)
            continue;
        if (::flock(folder, LOCK_EX | LOCK_NB) == 0)
            platform::removeTreeAt(dir, name);
        ::close(folder);
    }
    ::closedir(listing);
}

// A folder of our own under the temporary folder, removed with everything
// in it when the object goes.
class PrivateFolder {
public:
    PrivateFolder()
    {
        const fs::path temporary = fs::temp_directory_path(error_);
        if (error_)
            return;
        // A killed run's leftovers are looked for once per temporary folder
        // and process, not at every read of a library.
        {
            static std::mutex mutex;
            static std::set<std::string> cleaned;
            const std::lock_guard guard(mutex);
            if (cleaned.insert(temporary.native()).second)
                removeStaleFolders(temporary);
        }
        // Named after this process and locked while it lives, so that a
        // later run can tell a folder left by a killed one from a folder in use.
        std::string templ =
            (temporary / (std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX")).native();
        if (!::mkdtemp(templ.data())) {
            error_.assign(errno, std::generic_category());
            return;
        }
        path_ = templ;
        lock_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (lock_ >= 0)
            ::flock(lock_, LOCK_EX | LOCK_NB);
    }
    ~PrivateFolder()
    {
        if (!path_.empty())
            platform::removeTree(path_);
        if (lock_ >= 0)
            ::close(lock_);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const fs::path& path() const { return path_; }
    QString problem() const { return QString::fromStdString(error_.message()); }

private:
    fs::path path_;
    int lock_ = -1;
    std::error_code error_;
};

// Copies the database and its log into `folder`, and answers the copy's
// path. The copy is taken again when either file changed meanwhile, so the
// log never meets a database it was not written for.
fs::path copyDatabase(const fs::path& database, const fs::path& folder, QString* error)
{
    const fs::path wal(database.native() + "-wal");
    const fs::path copy = folder / database.filename();
    const fs::path walCopy(copy.native() + "-wal");
    for (int attempt = 0; attempt < 3; ++attempt) {
        ::unlink(copy.c_str());
        ::unlink(walCopy.c_str());
        const FileState databaseBefore = stateOf(database);
        const FileState walBefore = stateOf(wal);
        QString refusal;
        int err = copyBytes(database, copy, &refusal);
        if (err == 0 && walBefore.exists)
            err = copyBytes(wal, walCopy, &refusal);
        if (err == ENOENT && !stateOf(wal).exists && walBefore.exists)
            continue; // the log was folded into the database meanwhile
        if (err != 0) {
            fail(error, QStringLiteral("%1 could not be copied to read it: %2")
                            .arg(platform::pathText(database),
                                 refusal.isEmpty() ? platform::systemErrorString(err) : refusal));
            return {};
        }
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

void KZSQLite::setSharedControl(std::unique_ptr<KZSQLite> instance)
{
    shared().replace(std::move(instance));
}

std::optional<QList<QStringList>> KZSQLite::parseCSV(const QByteArray& output)
{
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
    std::optional<PrivateFolder> folder;
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
        folder.emplace();
        if (folder->path().empty()) {
            fail(error, QStringLiteral("no private folder to read %1 in: %2")
                            .arg(platform::pathText(database), folder->problem()));
            return std::nullopt;
        }
        read = copyDatabase(real, folder->path(), error);
        if (read.empty())
            return std::nullopt;
    }

    std::vector<Rows> answers;
    answers.reserve(queries.size());
    for (const Query& query : queries) {
        std::optional<Rows> rows = rowsOf(read, query, error);
        if (!rows)
            return std::nullopt;
        answers.push_back(std::move(*rows));
    }
    return answers;
}

std::optional<KZSQLite::Rows> KZSQLite::rowsOf(const fs::path& read, const Query& query, QString* error) const
{
    const QString& sqlFormula = query.sqlFormula;
    const QString& fields = query.fields;
    const QStringList names = fields.split(QStringLiteral(", "));

    const platform::ProcessOutput run = platform::runProcess(
        tool_, {"-batch", "-readonly", "-init", "/dev/null", "-csv", read.native(), sqlFormula.toStdString()},
        timeout_);
    if (!run.started) {
        fail(error, QStringLiteral("%1 could not be run: %2").arg(platform::pathText(tool_), run.error));
        return std::nullopt;
    }
    if (run.timedOut) {
        fail(error,
             QStringLiteral("%1 did not finish in %2 s and was stopped")
                 .arg(platform::pathText(tool_))
                 .arg(double(timeout_.count()) / 1000.0));
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

    const std::optional<QList<QStringList>> records = parseCSV(run.standardOutput);
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
