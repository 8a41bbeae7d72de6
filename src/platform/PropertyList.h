#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <filesystem>
#include <optional>

namespace platform {

// Binary and XML property lists, converted to and from Qt values in one place.
//
// Mapping: dict <-> QVariantMap, array <-> QVariantList, string <-> QString,
// boolean <-> bool, integer <-> qint64 (quint64 above INT64_MAX), real <->
// double, date <-> QDateTime (UTC), data <-> QByteArray.
// On the way in QStringList, the other integer types and float are accepted
// too. Binary dates keep milliseconds, XML dates whole seconds, and so do
// dates more than about 68 years from 2001 in either format (years 1000 to
// 9999 can be written; any date can be read).
class PropertyList {
public:
    enum class Format { Xml, Binary };
    // Whether a symbolic link at the file's place is followed. Files in
    // folders other programs may write to (the Trash) are read and written
    // with Refuse: a link there never leads a read or a write elsewhere.
    enum class Links { Follow, Refuse };

    // What reading a list may cost beyond its own bytes, per byte of it
    // (with some room for a small list besides): a list that would cost
    // more (one of very many tiny values) is refused before it is built.
    // Binary lists are read by platform::readBinaryPropertyList, which
    // holds every list to this bound; an XML list's cost is told from its
    // values before libplist builds them.
    static constexpr quint64 kBoundedCost = 3;
    // For a kind whose real files hold many short values, read by libplist
    // at several times their size (a music library's export): only lists
    // far denser than any real one are refused.
    static constexpr quint64 kLibraryExportCost = 16;

    // Parses either format (detected from the content). A damaged, truncated or
    // empty input answers std::nullopt and a readable reason in `error`.
    static std::optional<QVariant> fromData(const QByteArray& data, QString* error = nullptr,
                                            quint64 extraPerByte = kBoundedCost);

    // Serialises `value`. Values with no property-list form (an invalid
    // QVariant, a custom type) answer an empty array and a reason in `error`.
    static QByteArray toData(const QVariant& value, Format format, QString* error = nullptr);

    // What readFile reads unless told otherwise, generous for the lists that
    // hold settings (preferences, criteria, saved searches: kilobytes).
    static constexpr quint64 kSettingsFileLimit = quint64(16) * 1024 * 1024;

    // Only a regular file is read; a pipe or a device is refused at once,
    // never waited on. Its first bytes are looked at before anything else
    // is read: a file that does not start like a property list, is larger
    // than `maxSize` or has holes is refused.
    static std::optional<QVariant> readFile(const std::filesystem::path& file, QString* error = nullptr,
                                            Links links = Links::Follow, quint64 maxSize = kSettingsFileLimit,
                                            quint64 extraPerByte = kBoundedCost);

    // readFile for files whose root must be a dictionary; any other root is
    // reported like a damaged file.
    static std::optional<QVariantMap> readDictionary(const std::filesystem::path& file,
                                                     QString* error = nullptr, Links links = Links::Follow,
                                                     quint64 maxSize = kSettingsFileLimit,
                                                     quint64 extraPerByte = kBoundedCost);

    // Written to a temporary file beside `file` and renamed over it, so a crash
    // never leaves a half-written file behind.
    static bool writeFile(const std::filesystem::path& file, const QVariant& value, Format format,
                          QString* error = nullptr, Links links = Links::Follow);

    // `value` in the types that reading it back would give (QStringList ->
    // QVariantList, int -> qint64, float -> double, dates in UTC), so a value
    // kept in memory compares equal to the same value after a save and a load.
    // std::nullopt when some part has no property-list form.
    static std::optional<QVariant> normalized(const QVariant& value, QString* error = nullptr);
};

} // namespace platform
