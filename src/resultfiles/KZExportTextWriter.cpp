#include "resultfiles/KZExportTextWriter.h"

#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "services/KZNumberUtilities.h"

namespace {

const QString kGroupColumn = QStringLiteral("dupe_group_col");
const QString kPathField = QStringLiteral("path");

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

} // namespace

KZExportTextWriter::Texts KZExportTextWriter::Texts::localized()
{
    Texts t;
    t.sourcesLegend = text("sources_legend");
    t.groupIDColumn = text("group_ID_column");
    t.markedItem = text("marked_item");
    t.exportSourceTitle = text("export_source_title");
    t.pathColumn = text("path_column");
    t.yes = text("yes");
    t.no = text("no");
    t.exportedCount = text("exported_count");
    t.exportedSize = text("exported_size");
    t.sourceLabel = [](qint16 tag) { return platform::localizedString(QStringLiteral("source_%1").arg(tag)); };
    t.formatNumber = [](qint64 value) {
        return KZNumberUtilities::sharedControl().numberToFormatString(double(value));
    };
    t.formatSize = [](quint64 bytes) { return KZNumberUtilities::sharedControl().sizeToFormatString(bytes, 4, true); };
    return t;
}

KZExportTextWriter::KZExportTextWriter(Texts texts)
    : texts_(std::move(texts))
{
    if (!texts_.sourceLabel)
        texts_.sourceLabel = [](qint16 tag) { return QString::number(tag); };
    if (!texts_.formatNumber)
        texts_.formatNumber = [](qint64 value) { return QString::number(value); };
    if (!texts_.formatSize)
        texts_.formatSize = [](quint64 bytes) { return QString::number(bytes); };
}

QString KZExportTextWriter::cleaned(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'?';
    }
    return out;
}

QStringList KZExportTextWriter::identifiersWithColumns(const std::vector<KZExportColumn>& columns)
{
    QStringList ids{kGroupColumn};
    for (const KZExportColumn& column : columns) {
        if (!column.hidden)
            ids.append(column.identifier);
    }
    ids.append(kPathField);
    return ids;
}

QStringList KZExportTextWriter::columnsNameWithColumns(const std::vector<KZExportColumn>& columns) const
{
    QStringList titles{texts_.groupIDColumn};
    for (const KZExportColumn& column : columns) {
        if (column.hidden)
            continue;
        if (column.identifier == QLatin1String("check_col"))
            titles.append(texts_.markedItem);
        else if (column.identifier == QLatin1String("location_tag_col"))
            titles.append(texts_.exportSourceTitle);
        else
            titles.append(column.title);
    }
    titles.append(texts_.pathColumn);
    return titles;
}

QString KZExportTextWriter::valueWithIdentifier(const QString& identifier, const KZExportRow& row) const
{
    if (identifier == kGroupColumn)
        return texts_.formatNumber(row.groupID);
    if (identifier == QLatin1String("name_col"))
        return row.name;
    if (identifier == QLatin1String("date_modified_col"))
        return row.formattedDateModified;
    if (identifier == QLatin1String("size_col"))
        return texts_.formatSize(row.size);
    if (identifier == QLatin1String("kind_col"))
        return row.kind;
    if (identifier == QLatin1String("check_col"))
        return row.isMarked ? texts_.yes : texts_.no;
    if (identifier == QLatin1String("location_tag_col"))
        return texts_.sourceLabel(row.locationLabelTag);
    return QStringLiteral("    ");
}

QByteArray KZExportTextWriter::cleanedPath(const std::filesystem::path& path)
{
    return cleanedBytes(QByteArray(path.native().data(), qsizetype(path.native().size())));
}

QByteArray KZExportTextWriter::cleanedBytes(QByteArray out)
{
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return out;
}

QByteArray KZExportTextWriter::fieldWithIdentifier(const QString& identifier, const KZExportRow& row) const
{
    // The folder's own bytes: its text would put U+FFFD where a byte is not
    // UTF-8, and the path would name no file.
    if (identifier == kPathField)
        return cleanedPath(row.folder) + '/';
    if (identifier == QLatin1String("name_col") && !row.nameBytes.isEmpty())
        return cleanedBytes(row.nameBytes);
    return cleaned(valueWithIdentifier(identifier, row)).toUtf8();
}

bool KZExportTextWriter::write(const KZExportDocument& document, const KZExportRowSource& rows, const Sink& sink,
                               const std::function<bool()>& stopped, std::atomic<quint64>* managedCount)
{
    rowsWritten_ = 0;
    sizeWritten_ = 0;
    const auto put = [&sink](const QString& textLine) { return sink((textLine + u'\n').toUtf8()); };

    if (!put(cleaned(document.title)))
        return false;
    if (document.sources.size() >= 2) {
        if (!put(cleaned(texts_.sourcesLegend)))
            return false;
        for (const KZExportSource& source : document.sources) {
            if (!sink((cleaned(texts_.sourceLabel(source.locationLabelTag)) + QStringLiteral(": ")).toUtf8()
                      + cleanedPath(source.path) + '\n'))
                return false;
        }
    }

    const QStringList ids = identifiersWithColumns(document.columns);
    QByteArray header;
    for (const QString& title : columnsNameWithColumns(document.columns))
        header += cleaned(title).toUtf8() + '\t';
    if (!sink(header + '\n'))
        return false;

    const qsizetype count = rows.count();
    for (qsizetype i = 0; i < count; ++i) {
        if (!document.onlyMarked || rows.isMarked(i)) {
            const KZExportRow row = rows.row(i);
            QByteArray line;
            for (const QString& id : ids)
                line += fieldWithIdentifier(id, row) + '\t';
            if (!sink(line + '\n'))
                return false;
            ++rowsWritten_;
            sizeWritten_ += row.size;
        }
        if (managedCount)
            managedCount->fetch_add(1, std::memory_order_relaxed);
        if (stopped && stopped())
            break;
    }

    if (rowsWritten_ == 0)
        return true;
    return put(cleaned(texts_.exportedCount) + u' ' + texts_.formatNumber(qint64(rowsWritten_)))
        && put(cleaned(texts_.exportedSize) + u' ' + texts_.formatSize(sizeWritten_));
}
