#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <functional>
#include <vector>

// A column of the exported list, in display order.
struct KZExportColumn {
    QString identifier;
    QString title;
    bool hidden = false;
};

struct KZExportSource {
    qint16 locationLabelTag = -1;
    std::filesystem::path path;
};

// What one exported row shows of an item.
struct KZExportRow {
    qint64 groupID = 0;
    QString name;
    // The name as the bytes of the item's location, when they are not UTF-8:
    // written instead of `name`, whose text would put U+FFFD in their place.
    QByteArray nameBytes;
    QString formattedDateModified;
    quint64 size = 0;
    QString kind;
    bool isMarked = false;
    qint16 locationLabelTag = -1;
    std::filesystem::path folder; // the folder that holds the item
};

// The items to export, read one at a time so memory does not grow with the list.
class KZExportRowSource {
public:
    virtual ~KZExportRowSource() = default;
    virtual qsizetype count() const = 0;
    virtual bool isMarked(qsizetype index) const = 0;
    virtual KZExportRow row(qsizetype index) const = 0;
};

struct KZExportDocument {
    QString title; // the chosen file name without its extension
    std::vector<KZExportSource> sources;
    std::vector<KZExportColumn> columns;
    bool onlyMarked = false;
};

// The export text: UTF-8, LF line ends, one TAB after every field. A title
// line, a legend of the sources when there are two or more, a header, one
// row per item (group first, the holding folder with a "/" last) and, when
// a row was written, a footer with the count and size of the rows.
//
// No field is quoted, so a field must never hold a TAB or a line end: every
// control character (U+0000 to U+001F, U+007F) in every field is written as
// "?", and every line has exactly one field per header field.
//
// Paths (the sources' and each row's folder) and names that are not UTF-8
// are written as their own bytes, so that they still name their files; only
// their control bytes become "?".
class KZExportTextWriter {
public:
    struct Texts {
        QString sourcesLegend;
        QString groupIDColumn;
        QString markedItem;
        QString exportSourceTitle;
        QString pathColumn;
        QString yes;
        QString no;
        QString exportedCount;
        QString exportedSize;
        std::function<QString(qint16)> sourceLabel;  // a location label's name
        std::function<QString(qint64)> formatNumber;
        std::function<QString(quint64)> formatSize;

        // The user's language and the shared number formatters.
        static Texts localized();
    };

    // Answers false when the bytes could not be written; the writer then stops.
    using Sink = std::function<bool(const QByteArray&)>;

    explicit KZExportTextWriter(Texts texts);

    // Writes the whole text. `stopped` is asked after each item (written or
    // skipped); once it answers true the rows end and the footer still counts
    // what was written. `managedCount` (optional) counts the items looked at,
    // for a progress display on another thread. False when the sink failed.
    bool write(const KZExportDocument& document, const KZExportRowSource& rows, const Sink& sink,
               const std::function<bool()>& stopped = {}, std::atomic<quint64>* managedCount = nullptr);

    quint64 rowsWritten() const { return rowsWritten_; }
    quint64 sizeWritten() const { return sizeWritten_; }

    // The field identifiers of a row and the header's titles, in order.
    static QStringList identifiersWithColumns(const std::vector<KZExportColumn>& columns);
    QStringList columnsNameWithColumns(const std::vector<KZExportColumn>& columns) const;
    // Every field but the path, which fieldWithIdentifier writes as bytes.
    QString valueWithIdentifier(const QString& identifier, const KZExportRow& row) const;

    // `text` with every control character replaced by "?".
    static QString cleaned(const QString& text);
    // The bytes of `path` with every control byte replaced by "?".
    static QByteArray cleanedPath(const std::filesystem::path& path);
    // `bytes` with every control byte replaced by "?".
    static QByteArray cleanedBytes(QByteArray bytes);

private:
    QByteArray fieldWithIdentifier(const QString& identifier, const KZExportRow& row) const;

    Texts texts_;
    quint64 rowsWritten_ = 0;
    quint64 sizeWritten_ = 0;
};
