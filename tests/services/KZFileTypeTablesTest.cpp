#include "services/KZFilesUtilities.h"

#include "platform/FinderInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const KZFilesUtilities& files() { return KZFilesUtilities::sharedControl(); }

quint32 code(const char* four) { return platform::osTypeFromString(QString::fromLatin1(four)); }

qsizetype pieces(const QString& list) { return list.split(QLatin1Char(',')).size(); }

struct StringListCase {
    const char* name;
    QString (KZFilesUtilities::*getter)() const;
    qsizetype count;
};

TEST(KZFileTypeTables, StringAndQuotedListsHaveTheirCounts)
{
    const StringListCase cases[] = {
        {"imagesExtensions", &KZFilesUtilities::imagesExtensions, 55},
        {"imagesTypes", &KZFilesUtilities::imagesTypes, 30},
        {"imagesForContentCheckTypes", &KZFilesUtilities::imagesForContentCheckTypes, 12},
        {"musicExtensions", &KZFilesUtilities::musicExtensions, 23},
        {"moviesExtensions", &KZFilesUtilities::moviesExtensions, 23},
        {"archiveExtensions", &KZFilesUtilities::archiveExtensions, 22},
        {"documentExtensions", &KZFilesUtilities::documentExtensions, 10},
    };
    for (const auto& c : cases) {
        const QString list = (files().*c.getter)();
        EXPECT_EQ(pieces(list), c.count) << c.name;
    }
}

struct ArrayCase {
    const char* name;
    QStringList (KZFilesUtilities::*getter)() const;
    qsizetype count;
};

TEST(KZFileTypeTables, ArraysHaveTheirCounts)
{
    const ArrayCase cases[] = {
        {"arrayImagesExtensions", &KZFilesUtilities::arrayImagesExtensions, 14},
        {"imagesOSTypesArray", &KZFilesUtilities::imagesOSTypesArray, 30},
        {"imagesContentCheckExtensions", &KZFilesUtilities::imagesContentCheckExtensions, 16},
        {"arrayMusicExtensions", &KZFilesUtilities::arrayMusicExtensions, 6},
        {"musicOSTypesArray", &KZFilesUtilities::musicOSTypesArray, 13},
        {"arrayMoviesExtensions", &KZFilesUtilities::arrayMoviesExtensions, 6},
        {"moviesOSTypesArray", &KZFilesUtilities::moviesOSTypesArray, 10},
        {"arrayArchiveExtensions", &KZFilesUtilities::arrayArchiveExtensions, 6},
        {"archiveOSTYpesArray", &KZFilesUtilities::archiveOSTYpesArray, 20},
        {"arrayDocumentExtensions", &KZFilesUtilities::arrayDocumentExtensions, 3},
        {"documentOSTypesArray", &KZFilesUtilities::documentOSTypesArray, 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ((files().*c.getter)().size(), c.count) << c.name;

    using ListGetter = QStringList (KZFilesUtilities::*)() const;
    for (const ListGetter getter : {&KZFilesUtilities::imagesOSTypesArray, &KZFilesUtilities::musicOSTypesArray,
                                    &KZFilesUtilities::moviesOSTypesArray, &KZFilesUtilities::archiveOSTYpesArray,
                                    &KZFilesUtilities::documentOSTypesArray}) {
        for (const QString& type : (files().*getter)())
            EXPECT_EQ(type.size(), 4) << qPrintable(type);
    }
}

TEST(KZFileTypeTables, GroupFormsHoldTheSameExtensionsAsTheStrings)
{
    const std::pair<QStringList (KZFilesUtilities::*)() const, QString (KZFilesUtilities::*)() const> same[] = {
        {&KZFilesUtilities::arrayMusicExtensions, &KZFilesUtilities::musicExtensions},
        {&KZFilesUtilities::arrayMoviesExtensions, &KZFilesUtilities::moviesExtensions},
        {&KZFilesUtilities::arrayArchiveExtensions, &KZFilesUtilities::archiveExtensions},
        {&KZFilesUtilities::arrayDocumentExtensions, &KZFilesUtilities::documentExtensions},
    };
    for (const auto& [groups, string] : same)
        EXPECT_EQ((files().*groups)().join(QLatin1Char(',')), (files().*string)());

    // The image groups leave out "eps" and move "NEF" forward.
    QStringList grouped = files().arrayImagesExtensions().join(QLatin1Char(',')).split(QLatin1Char(','));
    QStringList flat = files().imagesExtensions().split(QLatin1Char(','));
    flat.removeOne(QStringLiteral("eps"));
    EXPECT_EQ(grouped.size(), 54);
    EXPECT_NE(grouped, flat);
    std::sort(grouped.begin(), grouped.end());
    std::sort(flat.begin(), flat.end());
    EXPECT_EQ(grouped, flat);
}

TEST(KZFileTypeTables, QuotedCodesConvertInOrderWithRepeats)
{
    const auto codes = files().typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesTypes);
    ASSERT_EQ(codes.size(), 30u);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), code("GIF ")), 2);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), code("GIFf")), 2);
    EXPECT_EQ(codes.front(), 0x47494620u); // big-endian: 'G' is the high byte
    const QStringList unquoted = files().imagesOSTypesArray();
    for (size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(codes[i], code(qPrintable(unquoted[qsizetype(i)]))) << i;

    const auto content = files().typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesForContentCheckTypes);
    EXPECT_EQ(content.size(), 12u);
    EXPECT_EQ(std::count(content.begin(), content.end(), 0u), 0);

    // An extension list is no code list: none of its pieces is 'XXXX'.
    const auto none = files().typesFormattedToCheckWithSelector(&KZFilesUtilities::documentExtensions);
    EXPECT_EQ(none.size(), 10u);
    EXPECT_EQ(std::count(none.begin(), none.end(), 0u), 10);
}

struct KindCase {
    const char* type; // nullptr: no type (0)
    const char* extension;
    bool image, sound, compressed;
};

TEST(KZFileTypeTables, KindTestsFollowTheirOwnListsCaseSensitively)
{
    const KindCase cases[] = {
        {nullptr, "png", true, false, false},
        {nullptr, "PNG", false, false, false},
        {nullptr, "eps", true, false, false},
        {nullptr, "JPG", true, false, false},
        {"JPEG", "", true, false, false},
        {"8BPS", "txt", true, false, false},
        {"MooV", "whatever", false, true, false},
        {"MooV", "", false, true, false},
        {nullptr, "", false, false, false},
        {nullptr, "mp3", false, true, false},
        {nullptr, "AIFF", false, true, false},
        {nullptr, "Mp3", false, false, false},
        {nullptr, "m3u", false, true, false},
        {nullptr, "midi", false, false, false}, // a music extension, but not a sound one
        {nullptr, "tar-gz", false, false, true},
        {nullptr, "TGZ", false, false, false},
        {nullptr, "tgz", false, false, true},
        {"Gzip", "", false, false, true},
        {"SITx", "doc", false, false, true},
        {"ZIP ", nullptr, false, false, true},
    };
    for (const auto& c : cases) {
        const quint32 type = c.type ? code(c.type) : 0;
        const QString ext = c.extension ? QString::fromLatin1(c.extension) : QString();
        const std::string label = std::string(c.type ? c.type : "0") + "/" + (c.extension ? c.extension : "nil");
        EXPECT_EQ(files().isImage(type, ext), c.image) << label;
        EXPECT_EQ(files().isSound(type, ext), c.sound) << label;
        EXPECT_EQ(files().isCompressed(type, ext), c.compressed) << label;
    }
}

} // namespace
