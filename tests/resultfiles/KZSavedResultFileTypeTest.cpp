// The desktop's file type of saved results, as installed from packaging/:
// a file manager hands a file of that type to Maravex only when the type
// describes the files the program really writes, and the desktop entry
// claims it.

#include "resultfiles/KZSavedResultFormat.h"

#include <QFile>
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
    QList<QPair<qint64, QByteArray>> magic; // offset, string
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
        else if (reader.name() == QLatin1String("glob"))
            type.globs << attr.value(QLatin1String("pattern")).toString();
        else if (reader.name() == QLatin1String("match") && attr.value(QLatin1String("type")) == QLatin1String("string"))
            type.magic.append({attr.value(QLatin1String("offset")).toLongLong(),
                               attr.value(QLatin1String("value")).toLatin1()});
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

    // By name: the extension the program saves under.
    EXPECT_EQ(type.globs, QStringList{QStringLiteral("*.") + KZSavedResultFormat::fileExtension()});

    // By content: a saved result, even an empty one, starts as the type says.
    const QByteArray saved = KZSavedResultFormat::encode(KZSavedResult{});
    ASSERT_FALSE(type.magic.isEmpty());
    for (const auto& [offset, value] : type.magic)
        EXPECT_EQ(saved.mid(offset, value.size()), value);

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
