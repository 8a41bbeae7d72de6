// make-manual: renders the user manual's Markdown into the PDF that the Help
// menu opens.
//
//   make-manual SOURCE.md OUTPUT.pdf
//
// Runs at build time, on the offscreen platform, so a build machine needs no
// screen. The PDF is written beside its final name and renamed into place, so
// a failed run never leaves a half-written manual that the build would take
// for a finished one.

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include <cstdio>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "make-manual: %s\n", qPrintable(message));
    return 1;
}

// Markdown gives headings their sizes but no room around them; a manual read
// on paper needs air above each section and a little less below.
void spaceHeadings(QTextDocument& doc)
{
    QTextCursor cursor(&doc);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 0)
            continue;
        QTextBlockFormat format = block.blockFormat();
        format.setTopMargin(level == 1 ? 0 : (level == 2 ? 18 : 10));
        format.setBottomMargin(level <= 2 ? 8 : 4);
        if (level <= 2 && block != doc.begin())
            format.setPageBreakPolicy(level == 1 ? QTextFormat::PageBreak_AlwaysBefore
                                                 : QTextFormat::PageBreak_Auto);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}

// Markdown tables come without padding, their words touching the rules.
void padTables(QTextDocument& doc)
{
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        QTextTable* table = cursor.currentTable();
        if (!table || table->format().cellPadding() == 4)
            continue;
        QTextTableFormat format = table->format();
        format.setCellPadding(4);
        format.setCellSpacing(0);
        format.setBorder(1);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderBrush(QColor(150, 150, 150));
        format.setBorderCollapse(true);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        table->setFormat(format);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // No display is needed to lay out text; the offscreen platform still
    // finds the system's fonts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A build machine has no session: Qt's notes about the missing runtime
    // folder would read like a fault in the build's output.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtDebugMsg || type == QtInfoMsg || message.startsWith(QLatin1String("QStandardPaths:")))
            return;
        std::fprintf(stderr, "make-manual: %s\n", qPrintable(message));
    });
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 3)
        return fail(QStringLiteral("usage: make-manual SOURCE.md OUTPUT.pdf"));
    if (QFontDatabase::families().isEmpty())
        return fail(QStringLiteral("no fonts are installed: the manual would have no text"));

    QFile source(args.at(1));
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(args.at(1), source.errorString()));
    const QString markdown = QString::fromUtf8(source.readAll());

    const QString output = args.at(2);
    const QString partial = output + QStringLiteral(".part");
    QFile::remove(partial);
    {
        QPdfWriter writer(partial);
        writer.setTitle(QStringLiteral("Maravex User Manual"));
        writer.setCreator(QStringLiteral("Maravex"));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(20, 18, 20, 18), QPageLayout::Millimeter));

        QTextDocument doc;
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPointSizeF(10.5);
        doc.setDefaultFont(font);
        doc.setMarkdown(markdown);
        spaceHeadings(doc);
        padTables(doc);
        doc.print(&writer);
    }
    if (QFileInfo(partial).size() == 0) {
        QFile::remove(partial);
        return fail(QStringLiteral("nothing was written to %1").arg(partial));
    }
    QFile::remove(output);
    if (!QFile::rename(partial, output)) {
        QFile::remove(partial);
        return fail(QStringLiteral("cannot write %1").arg(output));
    }
    return 0;
}
