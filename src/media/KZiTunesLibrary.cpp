#include "media/KZiTunesLibrary.h"

#include "platform/FileOps.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/XmlPropertyListValues.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZPlistValue.h"

#include <QIODevice>
#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

namespace fs = std::filesystem;

namespace {

QString textValue(const QVariantMap& map, const char* key)
{
    const QVariant value = map.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString(QLatin1String(""));
}

// A count (milliseconds, a bit rate, a number); a negative one, one out of
// range (1e30, infinity) or one of another type reads as 0, never as an
// integer that the conversion would make up.
quint64 numberValue(const QVariantMap& map, const char* key)
{
    return KZPlistValue::unsigned64Value(map, QLatin1String(key));
}

QString fileText(const fs::path& file)
{
    return QStringLiteral("“%1”").arg(platform::pathText(file));
}

QString noTracks(const fs::path& file)
{
    return QStringLiteral("%1: no \"Tracks\" in the file: not a music library export").arg(fileText(file));
}

// Empty, not null: as the dictionary reading gives a text that is missing.
QString emptyText()
{
    return QString(QLatin1String(""));
}

// What a track's dictionary says, each value as textValue() and
// numberValue() would read it from the dictionary.
struct TrackValues {
    QString kind = emptyText(), persistentID = emptyText(), location = emptyText();
    QString name = emptyText(), artist = emptyText(), album = emptyText(), genre = emptyText();
    quint64 totalTime = 0, bitRate = 0, number = 0;
    bool hasNumber = false;
};

// A key of the tracks' dictionary as the export writes it: the track's
// number in decimal, without leading zeros.
std::optional<quint64> keyNumber(const QString& key)
{
    if (key.isEmpty() || key.size() > 20 || (key.size() > 1 && key.front() == u'0'))
        return std::nullopt;
    for (const QChar c : key)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    bool ok = false;
    const quint64 n = key.toULongLong(&ok);
    return ok ? std::optional<quint64>(n) : std::nullopt;
}

// Whether key a comes before key b as texts, the order of a dictionary's keys.
bool keyTextBefore(quint64 a, quint64 b)
{
    char x[24];
    char y[24];
    const std::string_view xText(x, size_t(std::to_chars(x, x + sizeof x, a).ptr - x));
    const std::string_view yText(y, size_t(std::to_chars(y, y + sizeof y, b).ptr - y));
    return xText < yText;
}

// Reads an export in the form the music application writes it, element by
// element, straight into tracks: no tree of the file is built, and what is
// not a track's field (playlists, the other keys of a track) is checked and
// passed over. Whatever falls outside that form, however slightly, is left
// to the property-list reader (otherForm()), so that a file is never read
// two ways: other roots, comments, processing instructions, CDATA, a
// DOCTYPE declaring anything, attributes on any element but the list's own,
// an encoding other than UTF-8, text between
// elements, elements it does not know, numbers, dates and base64 in forms
// other than the plain ones or written with references, nesting deeper than
// playlists have, "Tracks" or "Music Folder" twice, tracks' keys that are
// not their numbers.
class StreamedExport {
public:
    StreamedExport(platform::xmlplist::StreamedFile* file, quint64 size)
        : tokens_(file), xml_(tokens_.xml()), budget_(3 * size + (quint64(32) << 20))
    {
    }

    // The most bytes a text the reader keeps may take in the file: a
    // track's name, artist, album, genre, kind or identity, its location
    // (a file URL of a path of at most PATH_MAX bytes, escaped), a key. Real
    // ones take from a few bytes to a few hundred; a long comment, which
    // may take megabytes, is passed over, never kept.
    static constexpr quint64 kMaxKeptTextBytes = quint64(4) << 20;

    bool otherForm() const { return other_; }
    bool overBudget() const { return overBudget_; }
    // Where a text longer than any the reader keeps begins; nullopt when
    // none was met.
    std::optional<QString> longTextAt() const { return longTextAt_; }
    bool sawTracks() const { return sawTracks_; }
    // What of the file is of another form: "line 12: a comment".
    QString otherFormReason() const
    {
        return reason_.isEmpty() ? platform::xmlplist::notPlainAt(xml_) : reason_;
    }

    QString musicFolder = emptyText();
    std::vector<KZiTunesTrack> tracks;
    // The number each kept track is ordered by, and its key.
    std::vector<std::pair<quint64, quint64>> order;
    // The key of every entry of the tracks' dictionary, kept or not.
    std::vector<quint64> keys;

    bool read()
    {
        if (!start(u"plist") || !start(u"dict"))
            return false;
        bool sawFolder = false;
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                break;
            if (token != QXmlStreamReader::StartElement || xml_.qualifiedName() != u"key")
                return giveUp();
            const std::optional<QString> key = text();
            if (!key || next() != QXmlStreamReader::StartElement)
                return giveUp();
            // A repeated key keeps one of its values in the property-list
            // reader; such a file is left to it.
            if (*key == u"Tracks") {
                if (std::exchange(sawTracks_, true))
                    return giveUp(QStringLiteral("\u201CTracks\u201D a second time"));
                if (xml_.qualifiedName() == u"dict") {
                    if (!trackEntries())
                        return false;
                    continue;
                }
            } else if (*key == u"Music Folder") {
                if (std::exchange(sawFolder, true))
                    return giveUp(QStringLiteral("\u201CMusic Folder\u201D a second time"));
                std::optional<QString> folder = textOf(2);
                if (!folder)
                    return false;
                musicFolder = std::move(*folder);
                continue;
            }
            if (!skip(2))
                return false;
        }
        if (next() != QXmlStreamReader::EndElement || next() != QXmlStreamReader::EndDocument || xml_.hasError())
            return giveUp();
        return true;
    }

private:
    // Nesting within the root dictionary: a playlist's items, an item, a
    // value of an item and a few levels within it.
    static constexpr int kMaxLevel = 8;

    bool giveUp(const QString& why = {})
    {
        if (!other_)
            reason_ = why.isEmpty() ? platform::xmlplist::notPlainAt(xml_)
                                    : QStringLiteral("line %1: %2").arg(xml_.lineNumber()).arg(why);
        other_ = true;
        return false;
    }

    // The next element's start or end, or the document's end; anything else
    // between them, but white space, makes the file one of the other form.
    QXmlStreamReader::TokenType next()
    {
        passing();
        const QXmlStreamReader::TokenType token = platform::xmlplist::nextPlainToken(tokens_);
        if (token == QXmlStreamReader::Invalid)
            stopped();
        return token;
    }

    // What the tokens read next may hold, for what is passed over: the
    // XML reader's copy of it, two bytes a character, out of what the
    // budget has left.
    void passing()
    {
        textLimited_ = false;
        tokens_.setLimit(spent_ < budget_ ? (budget_ - spent_) / 2 : 0);
    }

    // ... and for a text that is kept: that copy and the reader's own, and
    // no longer than any such text may be.
    void keeping()
    {
        const quint64 room = spent_ < budget_ ? (budget_ - spent_) / 4 : 0;
        textLimited_ = kMaxKeptTextBytes <= room;
        tokens_.setLimit(std::min(kMaxKeptTextBytes, room));
    }

    // A token stopped for its length: a kept text longer than any may be,
    // or over the budget.
    void stopped()
    {
        if (!tokens_.tooLong())
            return;
        if (textLimited_)
            longTextAt_ = tokens_.tooLongAt();
        else
            overBudget_ = true;
        giveUp(textLimited_ ? QStringLiteral("a text longer than %1 bytes").arg(kMaxKeptTextBytes)
                            : QStringLiteral("more than an export of its size may hold"));
    }

    // The next token of a value's content.
    QXmlStreamReader::TokenType readNext()
    {
        const QXmlStreamReader::TokenType token = tokens_.readNext();
        if (token == QXmlStreamReader::Invalid)
            stopped();
        return token;
    }

    bool start(QStringView name)
    {
        if (next() == QXmlStreamReader::StartElement && xml_.qualifiedName() == name)
            return true;
        return giveUp();
    }

    // The text of the element just started, which must hold nothing else.
    std::optional<QString> text()
    {
        keeping();
        QString text;
        for (;;) {
            switch (readNext()) {
            case QXmlStreamReader::Characters:
                if (xml_.isCDATA()) {
                    giveUp();
                    return std::nullopt;
                }
                // The copy is paid for before it is made.
                if (spent_ + 2 * quint64(text.size() + xml_.text().size()) > budget_) {
                    overBudget_ = true;
                    giveUp();
                    return std::nullopt;
                }
                text += xml_.text();
                continue;
            case QXmlStreamReader::EndElement:
                return text;
            default:
                giveUp();
                return std::nullopt;
            }
        }
    }

    // text() for a text that is passed over: never held.
    bool passText()
    {
        passing();
        for (;;) {
            switch (readNext()) {
            case QXmlStreamReader::Characters:
                if (xml_.isCDATA())
                    return giveUp();
                continue;
            case QXmlStreamReader::EndElement:
                return true;
            default:
                return giveUp();
            }
        }
    }

    // Checks data that is passed over as base64() would read it, without
    // holding it.
    bool passData()
    {
        passing();
        platform::xmlplist::Base64Check check;
        for (;;) {
            switch (readNext()) {
            case QXmlStreamReader::Characters:
                if (xml_.isCDATA() || !check.add(xml_.text()))
                    return giveUp();
                continue;
            case QXmlStreamReader::EndElement:
                return check.finish() || giveUp();
            default:
                return giveUp();
            }
        }
    }

    bool spend(quint64 bytes)
    {
        spent_ += bytes;
        if (spent_ <= budget_)
            return true;
        overBudget_ = true;
        return giveUp();
    }

    // Checks the value whose element has just started, `level` deep, and
    // passes over it.
    bool skip(int level)
    {
        const QStringView name = xml_.qualifiedName();
        if (name == u"string")
            return passText();
        if (name == u"data")
            return passData();
        if (name == u"true" || name == u"false")
            return readNext() == QXmlStreamReader::EndElement || giveUp();
        if (name == u"integer" || name == u"real" || name == u"date") {
            const int kind = name == u"integer" ? 0 : name == u"real" ? 1 : 2;
            const std::optional<QString> s = text();
            if (!s)
                return false;
            const bool plain = kind == 0 ? bool(platform::xmlplist::integer(*s))
                : kind == 1              ? bool(platform::xmlplist::real(*s))
                                         : bool(platform::xmlplist::date(*s));
            return plain || giveUp();
        }
        if ((name != u"array" && name != u"dict") || level > kMaxLevel)
            return giveUp();
        const bool isDict = name == u"dict";
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                return true;
            if (token != QXmlStreamReader::StartElement)
                return giveUp();
            if (isDict) {
                if (xml_.qualifiedName() != u"key" || !passText())
                    return giveUp();
                if (next() != QXmlStreamReader::StartElement)
                    return giveUp();
            }
            if (!skip(level + 1))
                return false;
        }
    }

    // A text field: the text of a string, empty for a value of another type.
    std::optional<QString> textOf(int level)
    {
        if (xml_.qualifiedName() == u"string")
            return text();
        if (!skip(level))
            return std::nullopt;
        return emptyText();
    }

    // A count: a negative one, one out of range or one of another type
    // reads as 0, as KZPlistValue::unsigned64Value reads it.
    std::optional<quint64> numberOf(int level)
    {
        const QStringView name = xml_.qualifiedName();
        if (name == u"true" || name == u"false") {
            const quint64 yes = name == u"true" ? 1 : 0;
            if (readNext() != QXmlStreamReader::EndElement) {
                giveUp();
                return std::nullopt;
            }
            return yes;
        }
        if (name == u"integer" || name == u"real") {
            const bool isInteger = name == u"integer";
            const std::optional<QString> s = text();
            if (!s)
                return std::nullopt;
            if (isInteger) {
                if (const std::optional<qint64> n = platform::xmlplist::integer(*s))
                    return *n < 0 ? 0 : quint64(*n);
            } else if (const std::optional<double> d = platform::xmlplist::real(*s)) {
                return !std::isfinite(*d) || *d < 0.0 || *d >= 1.8e19 ? 0 : quint64(*d);
            }
            giveUp();
            return std::nullopt;
        }
        if (!skip(level))
            return std::nullopt;
        return 0;
    }

    bool trackEntries()
    {
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                return true;
            if (token != QXmlStreamReader::StartElement || xml_.qualifiedName() != u"key")
                return giveUp();
            const std::optional<QString> key = text();
            if (!key)
                return false;
            const std::optional<quint64> number = keyNumber(*key);
            if (!number)
                return giveUp(QStringLiteral("a track's key that is not its number (\u201C%1\u201D)").arg(key->left(40)));
            // The key and its share of the list's room as it grows.
            if (next() != QXmlStreamReader::StartElement)
                return giveUp();
            if (!spend(3 * sizeof(quint64)))
                return false;
            keys.push_back(*number);
            if (xml_.qualifiedName() == u"dict" ? !track(*number) : !skip(3))
                return false;
        }
    }

    bool track(quint64 key)
    {
        TrackValues v;
        for (;;) {
            const auto token = next();
            if (token == QXmlStreamReader::EndElement)
                break;
            if (token != QXmlStreamReader::StartElement || xml_.qualifiedName() != u"key")
                return giveUp();
            const std::optional<QString> name = text();
            if (!name || next() != QXmlStreamReader::StartElement)
                return giveUp();
            // A key given twice keeps its last value, as in a dictionary.
            QString* textField = *name == u"Track Type" ? &v.kind
                : *name == u"Persistent ID"             ? &v.persistentID
                : *name == u"Location"                  ? &v.location
                : *name == u"Name"                      ? &v.name
                : *name == u"Artist"                    ? &v.artist
                : *name == u"Album"                     ? &v.album
                : *name == u"Genre"                     ? &v.genre
                                                        : nullptr;
            quint64* numberField = *name == u"Total Time" ? &v.totalTime
                : *name == u"Bit Rate"                    ? &v.bitRate
                : *name == u"Track ID"                    ? &v.number
                                                          : nullptr;
            if (textField) {
                std::optional<QString> value = textOf(4);
                if (!value)
                    return false;
                *textField = std::move(*value);
            } else if (numberField) {
                const std::optional<quint64> value = numberOf(4);
                if (!value)
                    return false;
                *numberField = *value;
                v.hasNumber = v.hasNumber || numberField == &v.number;
            } else if (!skip(4)) {
                return false;
            }
        }
        // The URL and remote kinds stream from elsewhere: no file of ours.
        if (v.kind == QStringLiteral("URL") || v.kind == QStringLiteral("Remote"))
            return true;
        bool ok = false;
        const quint64 persistentID = v.persistentID.toULongLong(&ok, 16);
        if (!ok)
            return true; // without its identity a track cannot be referred to
        KZiTunesTrack track;
        track.url = KZFilesUtilities::pathOfLocalFileURL(v.location);
        if (track.url.empty())
            return true;
        track.trackID = KZiTunesLibrary::trackIDWithPersistentID(persistentID);
        track.songName = std::move(v.name);
        track.artist = std::move(v.artist);
        track.album = std::move(v.album);
        track.genre = std::move(v.genre);
        track.totalTime = v.totalTime;
        track.bitRate = quint32(std::min<quint64>(v.bitRate, UINT32_MAX));
        // The track, its place in the order and in the index by identity,
        // each with its share of its list's room as it grows, and its texts.
        constexpr quint64 kTrackCost =
            3 * (sizeof(KZiTunesTrack) + sizeof(std::pair<quint64, quint64>)) + sizeof(quint32) + 96;
        quint64 cost = kTrackCost + quint64(track.url.native().size());
        for (const QString* t : {&track.trackID, &track.songName, &track.artist, &track.album, &track.genre})
            cost += t->isEmpty() ? 0 : 32 + 2 * quint64(t->size());
        if (!spend(cost))
            return false;
        tracks.push_back(std::move(track));
        order.emplace_back(v.hasNumber ? v.number : key, key);
        return true;
    }

    platform::xmlplist::TokenStream tokens_;
    QXmlStreamReader& xml_;
    quint64 budget_;
    quint64 spent_ = 0;
    bool other_ = false;
    bool overBudget_ = false;
    bool sawTracks_ = false;
    QString reason_;
    // Whether the limit on the tokens is that of a kept text, not the
    // budget's.
    bool textLimited_ = false;
    std::optional<QString> longTextAt_;
};

} // namespace

QString KZiTunesLibrary::trackIDWithPersistentID(quint64 persistentID)
{
    return QString::number(persistentID, 16);
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::fromFile(const fs::path& file, QString* error,
                                                                 const std::atomic<bool>* stop)
{
    bool otherForm = false;
    QString otherFormReason;
    if (auto library = streamed(file, &otherFormReason, &otherForm, stop); library || !otherForm) {
        if (error && !library)
            *error = otherFormReason;
        return library;
    }
    if (const auto st = platform::statPath(file, true); st && quint64(st->size) > kMaxOtherExportSize) {
        if (error)
            *error = QStringLiteral("Could not read %1: the file is not written as the music application writes "
                                    "its library export (%2), and a file written otherwise is read only up to "
                                    "%3 bytes (this one has %4)")
                         .arg(fileText(file), otherFormReason)
                         .arg(kMaxOtherExportSize)
                         .arg(quint64(st->size));
        return nullptr;
    }
    // The whole reading takes a few megabytes at once and cannot be stopped
    // within: it is not begun once a stop was asked for.
    if (stop && stop->load()) {
        if (error)
            *error = QStringLiteral("Could not read %1: %2")
                         .arg(fileText(file), platform::systemErrorString(ECANCELED));
        return nullptr;
    }
    return fromWholeList(file, error);
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::fromStream(const fs::path& file, QString* error,
                                                                   bool* otherForm)
{
    return streamed(file, error, otherForm, nullptr);
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::streamed(const fs::path& file, QString* error,
                                                                 bool* otherForm, const std::atomic<bool>* stop)
{
    *otherForm = false;
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    // Character references in texts and keys are decoded as the whole
    // reading decodes them; elsewhere they leave the file to that reading.
    const std::unique_ptr<platform::xmlplist::StreamedFile> opened = platform::xmlplist::StreamedFile::openToStream(
        file, {kMaxExportSize, QStringLiteral("a music library export"), true, false}, error, otherForm);
    if (!opened)
        return nullptr;
    platform::xmlplist::StreamedFile& device = *opened;
    device.setStop(stop);
    const quint64 size = device.fileSize();
    StreamedExport reader(&device, size);
    const bool read = reader.read();
    if (device.failure() != 0)
        return fail(
            QStringLiteral("Could not read %1: %2").arg(fileText(file), platform::systemErrorString(device.failure())));
    if (const std::optional<QString> at = reader.longTextAt(); at && size > kMaxOtherExportSize)
        return fail(QStringLiteral("Could not read %1: it holds a text longer than any a music library export "
                                   "holds (more than %2 bytes, starting at %3)")
                        .arg(fileText(file))
                        .arg(StreamedExport::kMaxKeptTextBytes)
                        .arg(*at));
    // Left to the whole reading, which holds the list to its own bound, when
    // that may take it.
    if (reader.overBudget() && size > kMaxOtherExportSize)
        return fail(QStringLiteral("Could not read %1: the music library export holds too many tracks for its "
                                   "size to be read")
                        .arg(fileText(file)));
    if (!read || reader.otherForm() || device.sawDisputedBytes()) {
        *otherForm = true;
        if (error)
            *error = device.sawDisputedBytes() ? device.disputedAt() : reader.otherFormReason();
        return nullptr;
    }
    if (!reader.sawTracks())
        return fail(noTracks(file));
    // Two entries under one key: the whole reading keeps one of them.
    std::sort(reader.keys.begin(), reader.keys.end());
    if (const auto twice = std::adjacent_find(reader.keys.begin(), reader.keys.end()); twice != reader.keys.end()) {
        *otherForm = true;
        if (error)
            *error = QStringLiteral("a track's key given twice (\u201C%1\u201D)").arg(*twice);
        return nullptr;
    }
    reader.keys = {};

    // By number, and tracks of one number in the order of their keys as
    // texts ("10" before "9"), as the dictionary lists them.
    const auto& order = reader.order;
    std::vector<quint32> position(order.size());
    std::iota(position.begin(), position.end(), quint32(0));
    std::sort(position.begin(), position.end(), [&order](quint32 a, quint32 b) {
        if (order[a].first != order[b].first)
            return order[a].first < order[b].first;
        return keyTextBefore(order[a].second, order[b].second);
    });
    reader.order = {};
    // Put in that order in place, one cycle of the permutation at a time:
    // no second list of the tracks.
    std::vector<KZiTunesTrack>& tracks = reader.tracks;
    for (size_t i = 0; i < position.size(); ++i) {
        if (position[i] == i)
            continue;
        KZiTunesTrack held = std::move(tracks[i]);
        size_t at = i;
        while (position[at] != i) {
            const size_t from = position[at];
            tracks[at] = std::move(tracks[from]);
            position[at] = quint32(at);
            at = from;
        }
        tracks[at] = std::move(held);
        position[at] = quint32(at);
    }
    return withTracks(file, KZFilesUtilities::pathOfLocalFileURL(reader.musicFolder), std::move(tracks));
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::fromWholeList(const fs::path& file, QString* error)
{
    QString reason;
    const std::optional<QVariantMap> root = platform::PropertyList::readDictionary(
        file, &reason, platform::PropertyList::Links::Follow, kMaxOtherExportSize,
        platform::PropertyList::kLibraryExportCost);
    if (!root) {
        if (error)
            *error = reason;
        return nullptr;
    }
    if (!root->contains(QStringLiteral("Tracks"))) {
        if (error)
            *error = noTracks(file);
        return nullptr;
    }
    return fromDictionary(*root, file);
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::fromDictionary(const QVariantMap& root, const fs::path& file)
{
    const QVariantMap tracks = root.value(QStringLiteral("Tracks")).toMap();
    std::vector<std::pair<quint64, KZiTunesTrack>> numbered;
    numbered.reserve(size_t(tracks.size()));
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it) {
        if (it->typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = it->toMap();
        // The URL and remote kinds stream from elsewhere: no file of ours.
        const QString kind = textValue(entry, "Track Type");
        if (kind == QStringLiteral("URL") || kind == QStringLiteral("Remote"))
            continue;
        bool ok = false;
        const quint64 persistentID = textValue(entry, "Persistent ID").toULongLong(&ok, 16);
        if (!ok)
            continue; // without its identity a track cannot be referred to
        KZiTunesTrack track;
        track.url = KZFilesUtilities::pathOfLocalFileURL(textValue(entry, "Location"));
        if (track.url.empty())
            continue;
        track.trackID = trackIDWithPersistentID(persistentID);
        track.songName = textValue(entry, "Name");
        track.artist = textValue(entry, "Artist");
        track.album = textValue(entry, "Album");
        track.genre = textValue(entry, "Genre");
        track.totalTime = numberValue(entry, "Total Time");
        track.bitRate = quint32(std::min<quint64>(numberValue(entry, "Bit Rate"), UINT32_MAX));
        const quint64 number = entry.contains(QStringLiteral("Track ID")) ? numberValue(entry, "Track ID")
                                                                          : it.key().toULongLong();
        numbered.emplace_back(number, std::move(track));
    }
    // The dictionary's keys are text ("10" before "9"); the export lists the
    // tracks by number.
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<KZiTunesTrack> ordered;
    ordered.reserve(numbered.size());
    for (auto& [number, track] : numbered)
        ordered.push_back(std::move(track));
    numbered = {};
    return withTracks(file, KZFilesUtilities::pathOfLocalFileURL(textValue(root, "Music Folder")),
                      std::move(ordered));
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesLibrary::withTracks(const fs::path& file, fs::path musicFolder,
                                                                   std::vector<KZiTunesTrack> tracks)
{
    auto library = std::make_shared<KZiTunesLibrary>();
    library->file_ = file;
    library->musicFolder_ = std::move(musicFolder);
    library->tracks_ = std::move(tracks);
    library->indexByID_.reserve(qsizetype(library->tracks_.size()));
    for (size_t i = 0; i < library->tracks_.size(); ++i)
        if (!library->indexByID_.contains(library->tracks_[i].trackID))
            library->indexByID_.insert(library->tracks_[i].trackID, i);
    return library;
}

const KZiTunesTrack* KZiTunesLibrary::trackWithID(const QString& trackID) const
{
    const auto found = indexByID_.constFind(trackID);
    return found == indexByID_.constEnd() ? nullptr : &tracks_[*found];
}
