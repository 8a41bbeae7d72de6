// The desktop's file type of saved results, as installed from packaging/:
// a file manager hands a file of that type to Maravex only when the type
// describes the files the program really writes, and the desktop entry
// claims it. It must claim nothing more: the program opens a saved result by
// its exact extension alone, so any other file offered to it would be
// ignored without a word.

#include "resultfiles/KZSavedResultFormat.h"

#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

const QString kPackaging = QStringLiteral(KZ_SOURCE_DIR "/packaging/");

QByteArray contents(const QString& name)
{
    QFile file(kPackaging + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct FileType {
    QString name;
    QStringList globs;
    QStringList caseInsensitiveGlobs;
    int magicRules = 0;
};

FileType readFileType(const QByteArray& xml)
{
    FileType type;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attr = reader.attributes();
        if (reader.name() == QLatin1String("mime-type"))
            type.name = attr.value(QLatin1String("type")).toString();
        else if (reader.name() == QLatin1String("glob")) {
            const QString pattern = attr.value(QLatin1String("pattern")).toString();
            type.globs << pattern;
            if (attr.value(QLatin1String("case-sensitive")) != QLatin1String("true"))
                type.caseInsensitiveGlobs << pattern;
        } else if (reader.name() == QLatin1String("magic") || reader.name() == QLatin1String("match"))
            ++type.magicRules;
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return type;
}

} // namespace

TEST(SavedResultFileType, DescribesTheFilesTheProgramWritesAndTheDesktopEntryClaimsIt)
{
    const QByteArray xml = contents(QStringLiteral("maravex-result.xml"));
    ASSERT_FALSE(xml.isEmpty()) << "no file type is installed for saved results";
    const FileType type = readFileType(xml);
    ASSERT_FALSE(type.name.isEmpty());

    // By name alone, spelled exactly as the program saves and opens it: a
    // saved result's content starts like every binary property list
    // (Info.plist, .webloc, …), so a rule by content would claim those too.
    EXPECT_EQ(type.globs, QStringList{QStringLiteral("*.") + KZSavedResultFormat::fileExtension()});
    EXPECT_TRUE(type.caseInsensitiveGlobs.isEmpty()) << type.caseInsensitiveGlobs.join(u' ').toStdString();
    EXPECT_EQ(type.magicRules, 0);

    // The desktop entry takes folders and saved results, several at once.
    QStringList claimed;
    for (const QByteArray& line : contents(QStringLiteral("maravex.desktop")).split('\n')) {
        if (line.startsWith("MimeType="))
            claimed = QString::fromUtf8(line.mid(9)).split(u';', Qt::SkipEmptyParts);
        if (line.startsWith("Exec=")) {
            EXPECT_TRUE(line.contains("%F"));
        }
    }
    EXPECT_TRUE(claimed.contains(QStringLiteral("inode/directory")));
    EXPECT_TRUE(claimed.contains(type.name));
}

// The desktop's own tool reads the file as written: a misspelt attribute would
// silently make the name rule match any capitalisation again.
TEST(SavedResultFileType, TheDesktopsMimeToolTakesTheNameRuleAsCaseSensitive)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (tool.isEmpty())
        GTEST_SKIP() << "update-mime-database is not installed";
    kztest::TempDir dir;
    const std::filesystem::path packages = dir / "mime" / "packages";
    std::filesystem::create_directories(packages);
    std::filesystem::copy_file(KZ_SOURCE_DIR "/packaging/maravex-result.xml", packages / "maravex-result.xml");

    QProcess update;
    update.start(tool, {QString::fromStdString((dir / "mime").string())});
    ASSERT_TRUE(update.waitForFinished(60000));
    ASSERT_EQ(update.exitCode(), 0) << update.readAllStandardError().toStdString();

    QFile globs(QString::fromStdString((dir / "mime" / "globs2").string()));
    ASSERT_TRUE(globs.open(QIODevice::ReadOnly));
    const QByteArray table = globs.readAll();
    EXPECT_TRUE(table.contains("application/x-maravex-result:*.maravex:cs\n")) << table.toStdString();
    QFile magic(QString::fromStdString((dir / "mime" / "magic").string()));
    ASSERT_TRUE(magic.open(QIODevice::ReadOnly));
    EXPECT_FALSE(magic.readAll().contains("x-maravex-result"));
}
