#include "removal/KZUndoFile.h"

#include "platform/Clock.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/Trash.h"

#include <QDateTime>
#include <QDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace fs = std::filesystem;

namespace KZUndoFile {

namespace {
constexpr double referenceDateUnixSeconds = 978307200.0;
constexpr int nameAttempts = 1000;
// A rewrite's temporary file, in the trash folder beside files/ and info/.
constexpr const char* temporaryPrefix = ".Maravex4-rewrite_";
// What the writes of earlier versions left inside files/ when killed:
// "." + the undo file's name + ".tmp-XXXXXX".
constexpr const char* oldTemporaryMark = ".tmp-";
// A temporary file younger than this may belong to a rewrite under way.
constexpr int staleTemporaryAgeSeconds = 10;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// The Trash is writable by any program of the user: a pipe there would hang
// a read for ever, and a link would lead a rewrite outside the Trash.
bool isRegularFile(const fs::path& file)
{
    const auto st = platform::statPath(file, false);
    return st && st->isRegular();
}

// Text when the bytes are UTF-8, which every reader of the file takes; else
// the bytes themselves, which text would replace.
QVariant pathValue(const fs::path& path)
{
    const std::string& bytes = path.native();
    const QString text = QString::fromStdString(bytes);
    if (text.toStdString() == bytes)
        return text;
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

std::optional<std::string> pathBytes(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString().toStdString();
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray().toStdString();
    return std::nullopt;
}
} // namespace

double nowSinceReferenceDate()
{
    return platform::Clock::shared().sinceEpoch() - referenceDateUnixSeconds;
}

QString fileNameFor(double seconds)
{
    return namePrefix + QString::number(seconds, 'f', 6);
}

double secondsOfFileName(const QString& name)
{
    if (name.size() <= namePrefix.size())
        return 0;
    const QByteArray text = name.mid(namePrefix.size()).toUtf8();
    // Only the leading number counts; strtod would also take "inf" or hex.
    qsizetype end = 0;
    while (end < text.size() && (QChar::fromLatin1(text[end]).isDigit() || text[end] == '.' || (end == 0 && text[end] == '-')))
        ++end;
    if (end == 0)
        return 0;
    return std::strtod(text.left(end).constData(), nullptr);
}

bool isCleanAbsolutePath(const std::string& path)
{
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return false;
    size_t start = 1;
    for (;;) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part(path.data() + start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (end == path.size())
            return true;
        start = end + 1;
    }
}

std::optional<fs::path> write(const fs::path& trashDir, const QVariantList& rootData,
                              const std::vector<KZPersistentUndoRecord>& records, double seconds, QString* error,
                              const std::function<void(const std::string&)>& beforeCreate)
{
    if (records.empty())
        return std::nullopt;
    QVariantList items;
    for (const auto& record : records) {
        QVariantMap entry;
        entry.insert(QStringLiteral("currPosition"), record.bookmark);
        entry.insert(QStringLiteral("oldPosition"), pathValue(record.oldPosition));
        entry.insert(QStringLiteral("aliasWasCreated"), record.aliasWasCreated);
        if (record.isiTunesItem)
            entry.insert(QStringLiteral("isiTunesItem"), true);
        items << entry;
    }
    const QVariantMap root{{QStringLiteral("rootData"), rootData}, {QStringLiteral("undoItems"), items}};
    QString why;
    const QByteArray data = platform::PropertyList::toData(root, platform::PropertyList::Format::Xml, &why);
    if (data.isEmpty()) {
        setError(error, why);
        return std::nullopt;
    }

    const fs::path files = platform::trashFilesFolder(trashDir);
    std::error_code ec;
    fs::create_directories(files, ec);
    fs::create_directories(platform::trashInfoFolder(trashDir), ec);
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        // A clash means another removal wrote in the same instant: the next
        // millisecond is as true a date and keeps both files.
        const std::string name = fileNameFor(seconds + attempt * 0.001).toStdString();
        const fs::path target = files / name;
        int err = 0;
        const fs::path original = platform::pathFromText(QDir::homePath()) / name;
        if (!platform::createTrashInfo(trashDir, name, original, &why, &err)) {
            if (err == EEXIST)
                continue;
            setError(error, why);
            return std::nullopt;
        }
        if (beforeCreate)
            beforeCreate(name);
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            const int openErr = errno;
            fs::remove(platform::trashInfoPath(trashDir, name), ec);
            if (openErr == EEXIST)
                continue;
            setError(error, platform::systemErrorString(openErr));
            return std::nullopt;
        }
        const bool written = platform::writeAll(fd, data.constData(), size_t(data.size())) && ::fsync(fd) == 0;
        const int writeErr = errno;
        ::close(fd);
        if (!written) {
            // Only what this call created goes away again.
            fs::remove(target, ec);
            fs::remove(platform::trashInfoPath(trashDir, name), ec);
            setError(error, platform::systemErrorString(writeErr));
            return std::nullopt;
        }
        return target;
    }
    setError(error, platform::systemErrorString(EEXIST));
    return std::nullopt;
}

std::optional<Contents> read(const fs::path& file, QString* error)
{
    if (!isRegularFile(file)) {
        setError(error, QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    // About a kilobyte for each item a removal put in the Trash, read at
    // some four times its size: room for the undo file of a removal of over
    // a hundred thousand items, and no more than the program may take to
    // read one (a file in the Trash may be anyone's).
    constexpr quint64 kMaxUndoFileSize = quint64(128) * 1024 * 1024;
    const auto root = platform::PropertyList::readDictionary(file, error, platform::PropertyList::Links::Refuse,
                                                             kMaxUndoFileSize);
    if (!root)
        return std::nullopt;
    Contents contents;
    const QVariant rootData = root->value(QStringLiteral("rootData"));
    if (rootData.typeId() == QMetaType::QVariantList)
        for (const QVariant& v : rootData.toList())
            if (v.typeId() == QMetaType::QByteArray)
                contents.rootData << v;
    const QVariant items = root->value(QStringLiteral("undoItems"));
    if (items.isValid() && items.typeId() != QMetaType::QVariantList) {
        setError(error, QStringLiteral("undoItems is not an array"));
        return std::nullopt;
    }
    const QVariantList list = items.toList();
    contents.entries.reserve(size_t(list.size()));
    // Entries that are not dictionaries and equal the one before share its
    // wrapping: a file of many tiny values costs no map for each.
    QVariantMap lastUnreadable;
    for (const QVariant& v : list) {
        Entry entry;
        if (v.typeId() != QMetaType::QVariantMap) {
            // Kept as it was: written back, never used.
            if (lastUnreadable.isEmpty() || lastUnreadable.first() != v)
                lastUnreadable = QVariantMap{{QStringLiteral("unreadable"), v}};
            entry.raw = lastUnreadable;
            contents.entries.push_back(std::move(entry));
            continue;
        }
        entry.raw = v.toMap();
        const QVariant curr = entry.raw.value(QStringLiteral("currPosition"));
        const QVariant old = entry.raw.value(QStringLiteral("oldPosition"));
        const QVariant alias = entry.raw.value(QStringLiteral("aliasWasCreated"));
        const QVariant itunes = entry.raw.value(QStringLiteral("isiTunesItem"));
        const bool boolsOk = (!alias.isValid() || alias.typeId() == QMetaType::Bool)
                             && (!itunes.isValid() || itunes.typeId() == QMetaType::Bool);
        const std::optional<std::string> oldBytes = pathBytes(old);
        entry.valid = curr.typeId() == QMetaType::QByteArray && !curr.toByteArray().isEmpty() && oldBytes
                      && isCleanAbsolutePath(*oldBytes) && boolsOk;
        if (entry.valid) {
            entry.currPosition = curr.toByteArray();
            entry.oldPosition = fs::path(*oldBytes);
            entry.aliasWasCreated = alias.toBool();
            entry.isiTunesItem = itunes.toBool();
        }
        contents.entries.push_back(std::move(entry));
    }
    return contents;
}

namespace {

// Written whole and flushed, then renamed over `file`: a kill at any moment
// leaves either the old file or the new one in files/, and at worst a stray
// temporary file where no listing looks.
bool replaceFile(const fs::path& file, const QByteArray& data, QString* error,
                 const std::function<void(const fs::path&)>& beforeReplace)
{
    const auto trash = platform::trashOfTrashedItem(file);
    const fs::path folder = trash ? *trash : file.parent_path();
    std::string temporary = (folder / (std::string(temporaryPrefix) + "XXXXXX")).native();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // 0600, as the undo file itself
    if (fd < 0) {
        setError(error, platform::systemErrorString(errno));
        return false;
    }
    const bool written = platform::writeAll(fd, data.constData(), size_t(data.size())) && ::fsync(fd) == 0;
    const int writeErr = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.c_str());
        setError(error, platform::systemErrorString(writeErr));
        return false;
    }
    if (beforeReplace)
        beforeReplace(fs::path(temporary));
    // Our own undo file, checked to be a regular file just before: the one
    // place where a rename may replace.
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int renameErr = errno;
        ::unlink(temporary.c_str());
        setError(error, platform::systemErrorString(renameErr));
        return false;
    }
    if (const int dir = platform::openFolderAt(AT_FDCWD, file.parent_path().c_str()); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool isOldEnoughToBeStale(const fs::path& file)
{
    const auto st = platform::statPath(file, false);
    const auto now = static_cast<time_t>(platform::Clock::shared().sinceEpoch());
    return st && st->isRegular() && now - st->modified.tv_sec >= staleTemporaryAgeSeconds;
}

} // namespace

bool rewrite(const fs::path& file, const QVariantList& rootData, const std::vector<Entry>& keep, QString* error,
             const std::function<void(const fs::path&)>& beforeReplace)
{
    std::error_code ec;
    if (!isRegularFile(file)) {
        setError(error, QStringLiteral("not a regular file"));
        return false;
    }
    if (keep.empty()) {
        removeTrashInfoOf(file);
        if (!fs::remove(file, ec) && ec) {
            setError(error, QString::fromStdString(ec.message()));
            return false;
        }
        return true;
    }
    QVariantList items;
    for (const auto& entry : keep) {
        const auto it = entry.raw.find(QStringLiteral("unreadable"));
        items << (entry.raw.size() == 1 && it != entry.raw.end() ? it.value() : QVariant(entry.raw));
    }
    const QVariantMap root{{QStringLiteral("rootData"), rootData}, {QStringLiteral("undoItems"), items}};
    QString why;
    const QByteArray data = platform::PropertyList::toData(root, platform::PropertyList::Format::Xml, &why);
    if (data.isEmpty()) {
        setError(error, why);
        return false;
    }
    return replaceFile(file, data, error, beforeReplace);
}

bool isUndoFileName(const std::string& name)
{
    const std::string prefix = namePrefix.toStdString();
    if (!name.starts_with(prefix))
        return false;
    // Nothing at all reads as the reference date itself; anything else must
    // be the moment's number and nothing after it.
    const std::string_view number = std::string_view(name).substr(prefix.size());
    size_t at = 0;
    if (at < number.size() && number[at] == '-')
        ++at;
    const size_t digits = at;
    while (at < number.size() && number[at] >= '0' && number[at] <= '9')
        ++at;
    if (at == digits)
        return number.empty();
    if (at < number.size() && number[at] == '.')
        ++at;
    while (at < number.size() && number[at] >= '0' && number[at] <= '9')
        ++at;
    return at == number.size();
}

std::vector<fs::path> list(const fs::path& trashDir)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(platform::trashFilesFolder(trashDir), ec), end; !ec && it != end; it.increment(ec))
        if (isUndoFileName(it->path().filename().native()) && isRegularFile(it->path()))
            found.push_back(it->path());
    return found;
}

int removeStaleTemporaries(const fs::path& trashDir)
{
    std::vector<fs::path> stale;
    std::error_code ec;
    for (fs::directory_iterator it(trashDir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().native().starts_with(temporaryPrefix))
            stale.push_back(it->path());
    const std::string oldPrefix = "." + namePrefix.toStdString();
    for (fs::directory_iterator it(platform::trashFilesFolder(trashDir), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().native();
        // No .trashinfo was ever made for these: they are not the user's.
        if (name.starts_with(oldPrefix) && name.find(oldTemporaryMark) != std::string::npos
            && !platform::statPath(platform::trashInfoPath(trashDir, name), false))
            stale.push_back(it->path());
    }
    int removed = 0;
    for (const fs::path& file : stale)
        if (isOldEnoughToBeStale(file) && ::unlink(file.c_str()) == 0)
            ++removed;
    return removed;
}

bool removeTrashInfoOf(const fs::path& trashedItem)
{
    const auto trash = platform::trashOfTrashedItem(trashedItem);
    if (!trash)
        return false;
    std::error_code ec;
    return fs::remove(platform::trashInfoPath(*trash, trashedItem.filename().native()), ec);
}

} // namespace KZUndoFile
