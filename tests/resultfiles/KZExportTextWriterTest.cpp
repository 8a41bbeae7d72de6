#include "resultfiles/KZExportTextWriter.h"

#include <gtest/gtest.h>

namespace {

KZExportTextWriter::Texts texts()
{
    KZExportTextWriter::Texts t;
    t.sourcesLegend = QStringLiteral("Sources:");
    t.groupIDColumn = QStringLiteral("Group");
    t.markedItem = QStringLiteral("Marked");
    t.exportSourceTitle = QStringLiteral("Source");
    t.pathColumn = QStringLiteral("Folder");
    t.yes = QStringLiteral("yes");
    t.no = QStringLiteral("no");
    t.exportedCount = QStringLiteral("Exported items:");
    t.exportedSize = QStringLiteral("Exported size:");
    t.sourceLabel = [](qint16 tag) { return QStringLiteral("S%1").arg(tag); };
    t.formatNumber = [](qint64 v) { return QString::number(v); };
    t.formatSize = [](quint64 v) { return QStringLiteral("%1 B").arg(v); };
    return t;
}

class Rows : public KZExportRowSource {
public:
    explicit Rows(std::vector<KZExportRow> rows) : rows_(std::move(rows)) {}
    qsizetype count() const override { return qsizetype(rows_.size()); }
    bool isMarked(qsizetype i) const override { return rows_[size_t(i)].isMarked; }
    KZExportRow row(qsizetype i) const override { return rows_[size_t(i)]; }

private:
    std::vector<KZExportRow> rows_;
};

KZExportRow row(qint64 group, const char* name, quint64 size, bool marked, qint16 label = -1)
{
    KZExportRow r;
    r.groupID = group;
    r.name = QString::fromUtf8(name);
    r.formattedDateModified = QStringLiteral("1 Jan 2026");
    r.size = size;
    r.kind = QStringLiteral("Text");
    r.isMarked = marked;
    r.locationLabelTag = label;
    r.folder = "/home/u/docs";
    return r;
}

std::vector<KZExportColumn> allColumns()
{
    return {{QStringLiteral("check_col"), QStringLiteral("✓"), false},
            {QStringLiteral("name_col"), QStringLiteral("Name"), false},
            {QStringLiteral("size_col"), QStringLiteral("Size"), false},
            {QStringLiteral("location_tag_col"), QStringLiteral("Loc"), false}};
}

std::string exportText(const KZExportDocument& document, const std::vector<KZExportRow>& rows, int stopAfter = -1,
                       KZExportTextWriter* writerOut = nullptr)
{
    KZExportTextWriter local(texts());
    KZExportTextWriter& writer = writerOut ? *writerOut : local;
    QByteArray out;
    int looked = 0;
    const bool ok = writer.write(
        document, Rows(rows), [&out](const QByteArray& bytes) { out += bytes; return true; },
        [&] { return stopAfter >= 0 && ++looked >= stopAfter; });
    EXPECT_TRUE(ok);
    return out.toStdString();
}

} // namespace

TEST(KZExportTextWriter, OneSourceHasNoLegendAndEveryLineEndsWithTabLineFeed)
{
    KZExportDocument doc{QStringLiteral("Duplicates"), {{-1, "/home/u"}}, allColumns(), false};
    EXPECT_EQ(exportText(doc, {row(1, "a.txt", 10, false), row(1, "b.txt", 10, true)}),
              "Duplicates\n"
              "Group\tMarked\tName\tSize\tSource\tFolder\t\n"
              "1\tno\ta.txt\t10 B\tS-1\t/home/u/docs/\t\n"
              "1\tyes\tb.txt\t10 B\tS-1\t/home/u/docs/\t\n"
              "Exported items: 2\n"
              "Exported size: 20 B\n");
}

TEST(KZExportTextWriter, SeveralSourcesGetALegendAndHiddenOrUnknownColumnsBehave)
{
    std::vector<KZExportColumn> columns = allColumns();
    columns[2].hidden = true; // size
    columns.push_back({QStringLiteral("custom_col"), QStringLiteral("Other"), false});
    KZExportDocument doc{QStringLiteral("Photos"),
                         {{0, "/a"}, {1, "/b"}},
                         columns,
                         false};
    EXPECT_EQ(exportText(doc, {row(-3, "ü.jpg", 5, true, 1)}),
              "Photos\n"
              "Sources:\n"
              "S0: /a\n"
              "S1: /b\n"
              "Group\tMarked\tName\tSource\tOther\tFolder\t\n"
              "-3\tyes\tü.jpg\tS1\t    \t/home/u/docs/\t\n"
              "Exported items: 1\n"
              "Exported size: 5 B\n");
}

TEST(KZExportTextWriter, OnlyMarkedWithNoneMarkedHasNoRowsAndNoFooter)
{
    KZExportDocument doc{QStringLiteral("T"), {}, {{QStringLiteral("name_col"), QStringLiteral("Name"), false}}, true};
    EXPECT_EQ(exportText(doc, {row(1, "a", 1, false), row(1, "b", 1, false)}), "T\nGroup\tName\tFolder\t\n");

    EXPECT_EQ(exportText(doc, {row(1, "a", 1, false), row(1, "b", 2, true)}),
              "T\nGroup\tName\tFolder\t\n1\tb\t/home/u/docs/\t\nExported items: 1\nExported size: 2 B\n");
}

TEST(KZExportTextWriter, StopEndsAfterTheItemInHandAndTheFooterCountsTheRowsWritten)
{
    KZExportDocument doc{QStringLiteral("T"), {}, {{QStringLiteral("name_col"), QStringLiteral("Name"), false}}, false};
    KZExportTextWriter writer(texts());
    EXPECT_EQ(exportText(doc, {row(1, "a", 1, true), row(1, "b", 2, false), row(2, "c", 4, true)}, 2, &writer),
              "T\nGroup\tName\tFolder\t\n"
              "1\ta\t/home/u/docs/\t\n"
              "1\tb\t/home/u/docs/\t\n"
              "Exported items: 2\nExported size: 3 B\n");
    EXPECT_EQ(writer.rowsWritten(), 2u);
}

TEST(KZExportTextWriter, ControlCharactersNeverSplitAFieldOrALine)
{
    std::vector<KZExportColumn> columns{{QStringLiteral("name_col"), QStringLiteral("Na\tme"), false},
                                        {QStringLiteral("kind_col"), QStringLiteral("Kind"), false}};
    KZExportDocument doc{QStringLiteral("My\texport\r\n"),
                         {{0, "/x\ny"}, {1, "/z"}},
                         columns,
                         false};
    KZExportRow r = row(7, "tab\there", 1, false);
    r.kind = QString::fromUtf8("cr\rlf\nnul") + QChar(0) + QChar(0x1f) + QChar(0x7f) + QStringLiteral("end");
    r.folder = "/odd\tfolder";
    const std::string text = exportText(doc, {r});
    EXPECT_EQ(text,
              "My?export??\n"
              "Sources:\n"
              "S0: /x?y\n"
              "S1: /z\n"
              "Group\tNa?me\tKind\tFolder\t\n"
              "7\ttab?here\tcr?lf?nul???end\t/odd?folder/\t\n"
              "Exported items: 1\nExported size: 1 B\n");
}

TEST(KZExportTextWriter, AFailingSinkEndsTheWrite)
{
    KZExportDocument doc{QStringLiteral("T"), {}, {}, false};
    KZExportTextWriter writer(texts());
    int calls = 0;
    const bool ok = writer.write(doc, Rows({row(1, "a", 1, true), row(1, "b", 1, true)}),
                                 [&calls](const QByteArray&) { return ++calls < 4; }); // title, header, one row
    EXPECT_FALSE(ok);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(writer.rowsWritten(), 1u);
}
