#include "services/KZFilesUtilities.h"

#include "platform/FinderInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const KZFilesUtilities& f = KZFilesUtilities::sharedControl();

quint32 code(const char* four) { return platform::osTypeFromString(QString::fromLatin1(four)); }

qsizetype countOf(const QString& list) { return list.split(u',').size(); }
qsizetype countOf(const QStringList& list) { return list.size(); }
#define KZ_COUNT(getter, n) {#getter, countOf(f.getter()), n}

TEST(KZFileTypeTables, CountsAndOrders)
{
    const std::tuple<const char*, qsizetype, qsizetype> counts[] = {
        KZ_COUNT(imagesExtensions, 55), KZ_COUNT(imagesTypes, 30), KZ_COUNT(imagesForContentCheckTypes, 12),
        KZ_COUNT(musicExtensions, 23), KZ_COUNT(moviesExtensions, 23), KZ_COUNT(archiveExtensions, 22),
        KZ_COUNT(documentExtensions, 10), KZ_COUNT(arrayImagesExtensions, 14), KZ_COUNT(imagesOSTypesArray, 30),
        KZ_COUNT(imagesContentCheckExtensions, 16), KZ_COUNT(arrayMusicExtensions, 6), KZ_COUNT(musicOSTypesArray, 13),
        KZ_COUNT(arrayMoviesExtensions, 6), KZ_COUNT(moviesOSTypesArray, 10), KZ_COUNT(arrayArchiveExtensions, 6),
        KZ_COUNT(archiveOSTYpesArray, 20), KZ_COUNT(arrayDocumentExtensions, 3), KZ_COUNT(documentOSTypesArray, 6),
    };
    for (const auto& [name, count, expected] : counts)
        EXPECT_EQ(count, expected) << name;

    // The group forms hold the string forms' extensions, in order, except that
    // the image groups leave out "eps" and move "NEF" forward.
    EXPECT_EQ(f.arrayMusicExtensions().join(u','), f.musicExtensions());
    EXPECT_EQ(f.arrayDocumentExtensions().join(u','), f.documentExtensions());
    QStringList grouped = f.arrayImagesExtensions().join(u',').split(u',');
    QStringList flat = f.imagesExtensions().split(u',');
    flat.removeOne(QStringLiteral("eps"));
    EXPECT_NE(grouped, flat);
    std::sort(grouped.begin(), grouped.end());
    std::sort(flat.begin(), flat.end());
    EXPECT_EQ(grouped, flat);
}

TEST(KZFileTypeTables, QuotedCodesConvertInOrderWithRepeats)
{
    const auto codes = f.typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesTypes);
    ASSERT_EQ(codes.size(), 30u);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), code("GIF ")), 2);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), code("GIFf")), 2);
    EXPECT_EQ(codes.front(), 0x47494620u); // big-endian: 'G' is the high byte
    for (size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(codes[i], code(qPrintable(f.imagesOSTypesArray().at(qsizetype(i))))) << i;
    const auto content = f.typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesForContentCheckTypes);
    EXPECT_EQ(std::count(content.begin(), content.end(), 0u), 0);
    // An extension list is no code list: none of its pieces is 'XXXX'.
    const auto none = f.typesFormattedToCheckWithSelector(&KZFilesUtilities::documentExtensions);
    EXPECT_EQ(std::count(none.begin(), none.end(), 0u), 10);
}

TEST(KZFileTypeTables, KindTestsFollowTheirOwnListsCaseSensitively)
{
    // Type (nullptr: 0), extension (nullptr: none), then "ISC": image, sound, compressed.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {nullptr, "png", "I--"}, {nullptr, "PNG", "---"}, {nullptr, "eps", "I--"}, {nullptr, "JPG", "I--"},
        {"JPEG", "", "I--"}, {"8BPS", "txt", "I--"}, {"MooV", "whatever", "-S-"}, {"MooV", "", "-S-"},
        {nullptr, "", "---"}, {nullptr, "mp3", "-S-"}, {nullptr, "AIFF", "-S-"}, {nullptr, "Mp3", "---"},
        {nullptr, "m3u", "-S-"}, {nullptr, "midi", "---"}, // a music extension, but not a sound one
        {nullptr, "tar-gz", "--C"}, {nullptr, "TGZ", "---"}, {nullptr, "tgz", "--C"}, {"Gzip", "", "--C"},
        {"SITx", "doc", "--C"}, {"ZIP ", nullptr, "--C"},
    };
    for (const auto& [typeName, extension, kinds] : cases) {
        const quint32 type = typeName ? code(typeName) : 0;
        const QString ext = extension ? QString::fromLatin1(extension) : QString();
        const std::string seen = std::string(f.isImage(type, ext) ? "I" : "-")
            + (f.isSound(type, ext) ? "S" : "-") + (f.isCompressed(type, ext) ? "C" : "-");
        EXPECT_EQ(seen, kinds) << (typeName ? typeName : "0") << "/" << (extension ? extension : "nil");
    }
}

} // namespace
