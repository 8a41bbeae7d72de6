#include "removal/KZUndoFile.h"

#include "platform/Clock.h"
#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/Trash.h"
#include "platform/XmlPropertyListValues.h"

#include <QDateTime>
#include <QDir>
#include <QIODevice>
#include <QRandomGenerator>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <utility>

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

QString tooLargeToWrite(qsizetype size)
{
    return QStringLiteral("the undo file would be too large to be read back (%1 bytes; at most %2)")
        .arg(size)
        .arg(kMaxUndoFileSize);
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
    // Only the leading number counts, not "inf" or hex.
    qsizetype end = 0;
    while (end < text.size() && (QChar::fromLatin1(text[end]).isDigit() || text[end] == '.' || (end == 0 && text[end] == '-')))
        ++end;
    // In any locale: strtod would stop at the '.' under one whose decimal
    // point is a comma.
    double seconds = 0;
    if (std::from_chars(text.constData(), text.constData() + end, seconds).ec != std::errc())
        return 0;
    return seconds;
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
                              const std::function<void(const std::string&)>& beforeCreate,
                              const std::function<void(const std::string&)>& beforeInfo)
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
        if (record.oldFolderAttributes)
            entry.insert(QStringLiteral("oldFolder"), record.oldFolderAttributes->toMap());
        items << entry;
    }
    const QVariantMap root{{QStringLiteral("rootData"), rootData}, {QStringLiteral("undoItems"), items}};
    QString why;
    const QByteArray data = platform::PropertyList::toData(root, platform::PropertyList::Format::Xml, &why);
    if (data.isEmpty()) {
        setError(error, why);
        return std::nullopt;
    }
    if (quint64(data.size()) > kMaxUndoFileSize) {
        setError(error, tooLargeToWrite(data.size()));
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
        if (beforeInfo)
            beforeInfo(name);
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

namespace {

// One entry of undoItems, checked; a value that is no dictionary is kept
// as it was (written back, never used). Entries that are not dictionaries
// and equal the one before share its wrapping: a file of many tiny values
// costs no map for each.
Entry entryOf(const QVariant& v, QVariantMap* lastUnreadable)
{
    Entry entry;
    if (v.typeId() != QMetaType::QVariantMap) {
        if (lastUnreadable->isEmpty() || lastUnreadable->first() != v)
            *lastUnreadable = QVariantMap{{QStringLiteral("unreadable"), v}};
        entry.raw = *lastUnreadable;
        return entry;
    }
    entry.raw = v.toMap();
    const QVariant curr = entry.raw.value(QStringLiteral("currPosition"));
    const QVariant old = entry.raw.value(QStringLiteral("oldPosition"));
    const QVariant alias = entry.raw.value(QStringLiteral("aliasWasCreated"));
    const QVariant itunes = entry.raw.value(QStringLiteral("isiTunesItem"));
    const bool boolsOk = (!alias.isValid() || alias.typeId() == QMetaType::Bool)
                         && (!itunes.isValid() || itunes.typeId() == QMetaType::Bool);
    const std::optional<std::string> oldBytes = pathBytes(old);
    // A path of PATH_MAX bytes or more is none the system takes.
    entry.valid = curr.typeId() == QMetaType::QByteArray && !curr.toByteArray().isEmpty() && oldBytes
                  && oldBytes->size() < PATH_MAX && isCleanAbsolutePath(*oldBytes) && boolsOk;
    if (entry.valid) {
        entry.currPosition = curr.toByteArray();
        entry.oldPosition = fs::path(*oldBytes);
        entry.aliasWasCreated = alias.toBool();
        entry.isiTunesItem = itunes.toBool();
        if (const QVariant folder = entry.raw.value(QStringLiteral("oldFolder"));
            folder.typeId() == QMetaType::QVariantMap)
            entry.oldFolder = platform::FolderAttributes::fromMap(folder.toMap());
    }
    return entry;
}

QVariantList rootDataOf(const QVariant& rootData)
{
    QVariantList kept;
    if (rootData.typeId() == QMetaType::QVariantList)
        for (const QVariant& v : rootData.toList())
            if (v.typeId() == QMetaType::QByteArray)
                kept << v;
    return kept;
}

QString fileText(const fs::path& file)
{
    return QStringLiteral("“%1”").arg(platform::pathText(file));
}

// Reads an undo file in the form the program writes it, element by element,
// into its contents: no tree of the whole file is ever built, each entry's
// values are made for that entry alone. Whatever falls outside that form,
// however slightly, is left to the property-list reader (otherForm()), so
// that a file is never read two ways: other roots, comments, processing
// instructions, CDATA, a DOCTYPE declaring anything, attributes on any
// element but the list's own, an encoding other than UTF-8, text between
// elements, elements it does not know, numbers, dates
// and base64 in forms other than the plain ones, nesting deeper than entries
// have.
class StreamedUndoFile {
public:
    StreamedUndoFile(platform::xmlplist::StreamedFile* file, quint64 size)
        : tokens_(file), xml_(tokens_.xml()), budget_(3 * size + (quint64(32) << 20))
    {
        tokens_.setLimit(kMaxValueBytes);
    }

    // The most bytes a value or the space between two may take in the
    // file: a bookmark or a folder's ACL of 64 KB in base64, with the line
    // breaks and indentation of its level, has room to spare; a path (at
    // most PATH_MAX bytes, each escaped in six) has more.
    static constexpr quint64 kMaxValueBytes = 256 * 1024;

    bool otherForm() const { return other_; }
    // Where a value longer than any the file may hold begins; nullopt when
    // none was met.
    std::optional<QString> longValueAt() const
    {
        return tokens_.tooLong() ? std::optional<QString>(tokens_.tooLongAt()) : std::nullopt;
    }
    bool overBudget() const { return overBudget_; }
    bool undoItemsNotArray() const { return undoItemsNotArray_; }
    // What of the file is of another form: "line 12: a comment".
    QString otherFormReason() const
    {
        return reason_.isEmpty() ? platform::xmlplist::notPlainAt(xml_) : reason_;
    }

    std::optional<Contents> read()
    {
        Contents contents;
        if (!start(u"plist") || !start(u"dict"))
            return std::nullopt;
        bool sawRootData = false;
        bool sawUndoItems = false;
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                break;
            if (token != QXmlStreamReader::StartElement || xml_.qualifiedName() != u"key")
                return giveUp();
            const std::optional<QString> key = text();
            if (!key || next() != QXmlStreamReader::StartElement)
                return giveUp();
            const bool isRootData = *key == u"rootData";
            const bool isUndoItems = *key == u"undoItems";
            // A repeated key keeps its last value in the property-list
            // reader; such a file is left to it.
            if ((isRootData && std::exchange(sawRootData, true)) || (isUndoItems && std::exchange(sawUndoItems, true)))
                return giveUp(QStringLiteral("\u201C%1\u201D a second time").arg(*key));
            if (isUndoItems && xml_.qualifiedName() == u"array") {
                if (!entries(&contents.entries))
                    return std::nullopt;
                continue;
            }
            std::optional<QVariant> value = this->value(2);
            if (!value)
                return std::nullopt;
            if (isRootData)
                contents.rootData = rootDataOf(*value);
            else if (isUndoItems)
                undoItemsNotArray_ = true;
        }
        if (next() != QXmlStreamReader::EndElement || next() != QXmlStreamReader::EndDocument || xml_.hasError())
            return giveUp();
        return contents;
    }

private:
    // Nesting within the root dictionary: undoItems, an entry, a value of
    // an entry and a few levels within it.
    static constexpr int kMaxLevel = 8;

    std::nullopt_t giveUp(const QString& why = {})
    {
        if (!other_)
            reason_ = why.isEmpty() ? platform::xmlplist::notPlainAt(xml_)
                                    : QStringLiteral("line %1: %2").arg(xml_.lineNumber()).arg(why);
        other_ = true;
        return std::nullopt;
    }

    // The next element's start or end, or the document's end; anything else
    // between them, but white space, makes the file one of the other form.
    QXmlStreamReader::TokenType next() { return platform::xmlplist::nextPlainToken(tokens_); }

    bool start(QStringView name)
    {
        if (next() == QXmlStreamReader::StartElement && xml_.qualifiedName() == name)
            return true;
        giveUp();
        return false;
    }

    // The text of the element just started, which must hold nothing else.
    std::optional<QString> text()
    {
        QString text;
        for (;;) {
            switch (tokens_.readNext()) {
            case QXmlStreamReader::Characters:
                if (xml_.isCDATA())
                    return giveUp();
                // The copy is paid for before it is made; the reader's own
                // is held to the values' limit.
                if (!fits(2 * quint64(text.size() + xml_.text().size())))
                    return std::nullopt;
                text += xml_.text();
                continue;
            case QXmlStreamReader::EndElement:
                return text;
            default:
                return giveUp();
            }
        }
    }

    // Whether `bytes` more, for a while, stay within the budget.
    bool fits(quint64 bytes)
    {
        if (spent_ + bytes <= budget_)
            return true;
        overBudget_ = true;
        other_ = true;
        return false;
    }

    bool spend(quint64 bytes)
    {
        spent_ += bytes;
        if (spent_ <= budget_)
            return true;
        overBudget_ = true;
        other_ = true;
        return false;
    }

    // The keys every entry has, one string for all of them.
    static QString sharedKey(const QString& key)
    {
        static const QString known[] = {QStringLiteral("currPosition"), QStringLiteral("oldPosition"),
                                        QStringLiteral("aliasWasCreated"), QStringLiteral("isiTunesItem"),
                                        QStringLiteral("oldFolder"),       QStringLiteral("owner"),
                                        QStringLiteral("group"),           QStringLiteral("mode")};
        for (const QString& k : known)
            if (k == key)
                return k;
        return key;
    }

    bool entries(std::vector<Entry>* entries)
    {
        QVariantMap lastUnreadable;
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                return true;
            if (token != QXmlStreamReader::StartElement) {
                giveUp();
                return false;
            }
            const std::optional<QVariant> v = value(3);
            // The entry and its share of the list's room as it grows.
            if (!v || !spend(2 * sizeof(Entry)))
                return false;
            entries->push_back(entryOf(*v, &lastUnreadable));
        }
    }

    // The value whose element has just started, `level` deep.
    std::optional<QVariant> value(int level)
    {
        // A node of a map or a list and a value's header, with the
        // allocator's share.
        constexpr quint64 kNodeCost = 96;
        if (!spend(kNodeCost))
            return std::nullopt;
        const QStringView name = xml_.qualifiedName();
        if (name == u"string") {
            std::optional<QString> s = text();
            if (!s || !spend(quint64(s->size()) * 2))
                return std::nullopt;
            return QVariant(std::move(*s));
        }
        if (name == u"data") {
            std::optional<QString> s = text();
            if (!s)
                return std::nullopt;
            std::optional<QByteArray> bytes = platform::xmlplist::base64(*s);
            if (!bytes || !spend(quint64(bytes->size())))
                return giveUp();
            return QVariant(std::move(*bytes));
        }
        if (name == u"true" || name == u"false") {
            const bool yes = name == u"true";
            if (tokens_.readNext() != QXmlStreamReader::EndElement)
                return giveUp();
            return QVariant(yes);
        }
        if (name == u"integer" || name == u"real" || name == u"date") {
            const QString kind = name.toString();
            const std::optional<QString> s = text();
            if (!s)
                return std::nullopt;
            std::optional<QVariant> v;
            if (kind == u"integer") {
                if (const auto n = platform::xmlplist::integer(*s))
                    v = QVariant(*n);
            } else if (kind == u"real") {
                if (const auto d = platform::xmlplist::real(*s))
                    v = QVariant(*d);
            } else if (const auto when = platform::xmlplist::date(*s)) {
                v = QVariant(*when);
            }
            if (!v)
                return giveUp();
            return v;
        }
        if ((name != u"array" && name != u"dict") || level > kMaxLevel)
            return giveUp();
        if (name == u"array") {
            QVariantList list;
            for (;;) {
                const auto token = next();
                if (token == QXmlStreamReader::EndElement)
                    return QVariant(std::move(list));
                if (token != QXmlStreamReader::StartElement)
                    return giveUp();
                std::optional<QVariant> item = value(level + 1);
                if (!item)
                    return std::nullopt;
                list.append(std::move(*item));
            }
        }
        QVariantMap map;
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                return QVariant(std::move(map));
            if (token != QXmlStreamReader::StartElement || xml_.qualifiedName() != u"key")
                return giveUp();
            const std::optional<QString> key = text();
            if (!key || !spend(quint64(key->size()) * 2))
                return std::nullopt;
            if (next() != QXmlStreamReader::StartElement)
                return giveUp();
            std::optional<QVariant> item = value(level + 1);
            if (!item)
                return std::nullopt;
            map.insert(sharedKey(*key), std::move(*item));
        }
    }

    platform::xmlplist::TokenStream tokens_;
    QXmlStreamReader& xml_;
    quint64 budget_;
    quint64 spent_ = 0;
    bool other_ = false;
    bool overBudget_ = false;
    bool undoItemsNotArray_ = false;
    QString reason_;
};

} // namespace

std::optional<Contents> readWhole(const fs::path& file, QString* error)
{
    if (!isRegularFile(file)) {
        setError(error, QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    const auto root = platform::PropertyList::readDictionary(file, error, platform::PropertyList::Links::Refuse,
                                                             kMaxOtherUndoFileSize);
    if (!root)
        return std::nullopt;
    Contents contents;
    contents.rootData = rootDataOf(root->value(QStringLiteral("rootData")));
    const QVariant items = root->value(QStringLiteral("undoItems"));
    if (items.isValid() && items.typeId() != QMetaType::QVariantList) {
        setError(error, QStringLiteral("undoItems is not an array"));
        return std::nullopt;
    }
    const QVariantList list = items.toList();
    contents.entries.reserve(size_t(list.size()));
    QVariantMap lastUnreadable;
    for (const QVariant& v : list)
        contents.entries.push_back(entryOf(v, &lastUnreadable));
    return contents;
}

std::optional<Contents> readStreamed(const fs::path& file, QString* error, bool* otherForm)
{
    const std::unique_ptr<platform::xmlplist::StreamedFile> opened = platform::xmlplist::StreamedFile::openToStream(
        file, {kMaxUndoFileSize, QStringLiteral("an undo file"), false, true}, error, otherForm);
    if (!opened)
        return std::nullopt;
    platform::xmlplist::StreamedFile& device = *opened;
    const quint64 size = device.fileSize();
    StreamedUndoFile reader(&device, size);
    std::optional<Contents> contents = reader.read();
    if (device.failure() != 0) {
        setError(error,
                 QStringLiteral("Could not read %1: %2").arg(fileText(file), platform::systemErrorString(device.failure())));
        return std::nullopt;
    }
    // Refused before it was collected, whatever the size of the file: no
    // reading of it could use it.
    if (const std::optional<QString> at = reader.longValueAt()) {
        setError(error, QStringLiteral("Could not read %1: it holds a value longer than any an undo file holds "
                                       "(more than %2 bytes, starting at %3): it is damaged")
                            .arg(fileText(file))
                            .arg(StreamedUndoFile::kMaxValueBytes)
                            .arg(*at));
        return std::nullopt;
    }
    // Left to the whole reading, which holds the list to its own bound, when
    // that may take it.
    if (reader.overBudget() && size > kMaxOtherUndoFileSize) {
        setError(error, QStringLiteral("Could not read %1: the undo file holds too many values for its size to be "
                                       "read")
                            .arg(fileText(file)));
        return std::nullopt;
    }
    if (reader.otherForm() || device.sawDisputedBytes()) {
        *otherForm = true;
        setError(error, device.sawDisputedBytes() ? device.disputedAt() : reader.otherFormReason());
        return std::nullopt;
    }
    if (reader.undoItemsNotArray()) {
        setError(error, QStringLiteral("undoItems is not an array"));
        return std::nullopt;
    }
    return contents;
}

std::optional<Contents> read(const fs::path& file, QString* error)
{
    if (!isRegularFile(file)) {
        setError(error, QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    bool otherForm = false;
    QString otherFormReason;
    if (auto contents = readStreamed(file, &otherFormReason, &otherForm); contents || !otherForm) {
        if (!contents)
            setError(error, otherFormReason);
        return contents;
    }
    // Read whole, the other form costs some four times its size: only a
    // file of a removal of over a hundred thousand items is refused, and
    // none the program wrote.
    if (const auto st = platform::statPath(file, false); st && quint64(st->size) > kMaxOtherUndoFileSize) {
        setError(error, QStringLiteral("Could not read %1: the file is not written as the program writes its undo "
                                       "files (%2), and a file written otherwise is read only up to %3 bytes (this "
                                       "one has %4)")
                            .arg(fileText(file), otherFormReason)
                            .arg(kMaxOtherUndoFileSize)
                            .arg(quint64(st->size)));
        return std::nullopt;
    }
    return readWhole(file, error);
}

namespace {

// Written whole and flushed, then renamed over `file`: a kill at any moment
// leaves either the old file or the new one in files/, and at worst a stray
// temporary file where no listing looks.
bool replaceFile(const fs::path& file, const QByteArray& data, QString* error,
                 const std::function<void(const fs::path&)>& beforeReplace,
                 const std::function<void(const fs::path&)>& beforeTemporary)
{
    const auto trash = platform::trashOfTrashedItem(file);
    const fs::path folder = trash ? *trash : file.parent_path();
    // Named before it is made, so that whoever hears the name first can
    // say so where a recovery from a kill right after the creation reads.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < nameAttempts && fd < 0; ++attempt) {
        static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        std::string name = temporaryPrefix;
        for (int i = 0; i < 6; ++i)
            name += letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))];
        temporary = (folder / name).native();
        if (beforeTemporary)
            beforeTemporary(fs::path(temporary));
        // 0600, as the undo file itself.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST) {
            setError(error, platform::systemErrorString(errno));
            return false;
        }
    }
    if (fd < 0) {
        setError(error, platform::systemErrorString(EEXIST));
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
             const std::function<void(const fs::path&)>& beforeReplace,
             const std::function<void(const fs::path&)>& beforeTemporary)
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
    if (quint64(data.size()) > kMaxUndoFileSize) {
        setError(error, tooLargeToWrite(data.size()));
        return false;
    }
    return replaceFile(file, data, error, beforeReplace, beforeTemporary);
}

bool isTemporaryName(const std::string& name)
{
    return name.starts_with(temporaryPrefix) && name.size() > std::char_traits<char>::length(temporaryPrefix);
}

Entry entryFor(const QByteArray& currPosition, const fs::path& oldPosition)
{
    QVariantMap unreadable;
    return entryOf(QVariantMap{{QStringLiteral("currPosition"), currPosition},
                               {QStringLiteral("oldPosition"), pathValue(oldPosition)}},
                   &unreadable);
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
