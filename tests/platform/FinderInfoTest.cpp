#include "platform/ExtendedAttributes.h"
#include "platform/FinderInfo.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

FinderInfo fromBytes(std::initializer_list<uint8_t> head)
{
    FinderInfo info;
    std::copy(head.begin(), head.end(), info.bytes.begin());
    return info;
}

// Writes a user attribute or skips the test where the file system refuses.
#define SET_XATTR_OR_SKIP(path, value)                                                                   \
    do {                                                                                                 \
        int err_ = 0;                                                                                    \
        const auto r_ = setExtendedAttribute((path), kFinderInfoAttribute, (value), false, &err_);       \
        if (r_ == XattrResult::Refused)                                                                  \
            GTEST_SKIP() << "user extended attributes are refused here";                                 \
        ASSERT_EQ(r_, XattrResult::Ok) << err_;                                                          \
    } while (0)

} // namespace

TEST(FinderInfo, DecodesBigEndianFields)
{
    const FinderInfo info = fromBytes({'T', 'E', 'X', 'T', 't', 't', 'x', 't', 0xC4, 0x0C});
    EXPECT_EQ(info.fileType(), 0x54455854u);
    EXPECT_EQ(info.creator(), 0x74747874u);
    EXPECT_EQ(info.flags(), 0xC40Cu);
    EXPECT_TRUE(info.hasCustomIcon());
    EXPECT_TRUE(info.isInvisible());
    EXPECT_TRUE(info.isAliasFlag());
    EXPECT_EQ(info.labelColor(), 6);
}

TEST(FinderInfo, SettersKeepTheOtherBytes)
{
    FinderInfo info;
    for (size_t i = 0; i < info.bytes.size(); ++i)
        info.bytes[i] = uint8_t(0xA0 + i);
    const FinderInfo before = info;

    info.setLabelColor(3);
    EXPECT_EQ(info.labelColor(), 3);
    EXPECT_EQ(info.flags() & ~FinderInfo::kLabelMask, before.flags() & ~FinderInfo::kLabelMask);

    info.setLabelColor(9); // only the low three bits count
    EXPECT_EQ(info.labelColor(), 1);

    info.setFileType(osTypeFromString(u"JPEG"));
    info.setCreator(osTypeFromString(u"8BIM"));
    EXPECT_EQ(stringFromOSType(info.fileType()), QStringLiteral("JPEG"));
    EXPECT_EQ(stringFromOSType(info.creator()), QStringLiteral("8BIM"));
    for (size_t i = 10; i < info.bytes.size(); ++i)
        EXPECT_EQ(info.bytes[i], before.bytes[i]) << i;
}

TEST(FinderInfo, FourCharacterCodes)
{
    struct Case {
        const char16_t* text;
        quint32 code;
        const char16_t* back;
    };
    const Case cases[] = {
        {u"TEXT", 0x54455854, u"TEXT"},
        {u"pdf", 0x70646620, u"pdf "},   // padded with a space
        {u"MP3 ", 0x4D503320, u"MP3 "},
        {u"", 0, u""},
        {u"ABCDE", 0x41424344, u"ABCD"}, // longer texts keep four characters
        {u"\u00E9t\u00E9!", 0xE974E921, u"\u00E9t\u00E9!"}, // Latin-1 survives
        {u"\u20ACxyz", 0x3F78797A, u"?xyz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(osTypeFromString(QString::fromUtf16(c.text)), c.code);
        EXPECT_EQ(stringFromOSType(c.code), QString::fromUtf16(c.back));
    }
    EXPECT_EQ(stringFromOSType(0x00414200), QStringLiteral("AB")); // NULs dropped
}

TEST(FinderInfo, ReadsAndWritesTheAttribute)
{
    kztest::TempDir dir;
    const auto file = dir.write("a.txt", "x");
    EXPECT_TRUE(readFinderInfo(file).isZero()); // absent = zero

    FinderInfo info = fromBytes({'T', 'E', 'X', 'T', 'R', '*', 'c', 'h'});
    info.setFlags(FinderInfo::kIsInvisible | FinderInfo::kHasCustomIcon);
    info.setLabelColor(2);
    QString error;
    if (!writeFinderInfo(file, info, &error)) {
        QByteArray probe;
        if (getExtendedAttribute(file, "user.probe", &probe) == XattrResult::Refused)
            GTEST_SKIP() << "user extended attributes are refused here";
        FAIL() << error.toStdString();
    }
    QByteArray raw;
    ASSERT_EQ(getExtendedAttribute(file, kFinderInfoAttribute, &raw), XattrResult::Ok);
    ASSERT_EQ(raw.size(), 32);
    EXPECT_EQ(uint8_t(raw[8]), 0x44); // big-endian flags
    EXPECT_EQ(uint8_t(raw[9]), 0x04);
    EXPECT_EQ(readFinderInfo(file), info);

    // Writing the empty record removes the attribute rather than storing zeros.
    EXPECT_TRUE(writeFinderInfo(file, FinderInfo{}));
    EXPECT_EQ(getExtendedAttribute(file, kFinderInfoAttribute, &raw), XattrResult::NotFound);
    EXPECT_TRUE(writeFinderInfo(file, FinderInfo{})); // and again: nothing to remove is fine
}

TEST(FinderInfo, ShortOrLongAttributes)
{
    kztest::TempDir dir;
    const auto shortOne = dir.write("short", "x");
    SET_XATTR_OR_SKIP(shortOne, QByteArray("\x00\x00\x00\x00\x00\x00\x00\x00\x40\x00", 10));
    EXPECT_TRUE(readFinderInfo(shortOne).isZero());

    const auto longOne = dir.write("long", "x");
    QByteArray value(40, '\0');
    value[8] = char(0x80);
    value[39] = 'z';
    SET_XATTR_OR_SKIP(longOne, value);
    EXPECT_TRUE(readFinderInfo(longOne).isAliasFlag());
}

TEST(FinderInfo, LinksAreReadThemselvesUnlessFollowed)
{
    kztest::TempDir dir;
    const auto target = dir.write("target", "x");
    const auto link = dir / "link";
    fs::create_symlink(target, link);
    FinderInfo info;
    info.setFlags(FinderInfo::kIsInvisible);
    SET_XATTR_OR_SKIP(target, QByteArray(reinterpret_cast<const char*>(info.bytes.data()), 32));

    EXPECT_FALSE(readFinderInfo(link).isInvisible());
    EXPECT_TRUE(readFinderInfo(link, true).isInvisible());
    EXPECT_TRUE(readFinderInfo(dir / "missing").isZero());
    EXPECT_TRUE(readFinderInfo(dir / "missing", true).isZero());
}
