#include "platform/ExtendedAttributes.h"
#include "platform/FinderInfo.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

TEST(FinderInfo, SettersKeepTheOtherBytes)
{
    FinderInfo info;
    for (size_t i = 0; i < info.bytes.size(); ++i)
        info.bytes[i] = uint8_t(0xA0 + i);
    const FinderInfo before = info;
    info.setLabelColor(9); // only the low three bits count
    EXPECT_EQ(info.labelColor(), 1);
    EXPECT_EQ(info.flags() & ~FinderInfo::kLabelMask, before.flags() & ~FinderInfo::kLabelMask);
    info.setFileType(osTypeFromString(u"JPEG"));
    EXPECT_EQ(stringFromOSType(info.fileType()), QStringLiteral("JPEG"));
    EXPECT_EQ(info.creator(), before.creator());
    EXPECT_TRUE(std::equal(info.bytes.begin() + 10, info.bytes.end(), before.bytes.begin() + 10));
}

TEST(FinderInfo, FourCharacterCodes)
{
    const struct {
        const char16_t* text;
        quint32 code;
        const char16_t* back;
    } cases[] = {
        {u"pdf", 0x70646620, u"pdf "}, // padded with a space
        {u"", 0, u""},
        {u"ABCDE", 0x41424344, u"ABCD"},
        {u"\u00E9t\u00E9!", 0xE974E921, u"\u00E9t\u00E9!"}, // Latin-1 survives
        {u"\u20ACxyz", 0x3F78797A, u"?xyz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(osTypeFromString(QString::fromUtf16(c.text)), c.code) << c.code;
        EXPECT_EQ(stringFromOSType(c.code), QString::fromUtf16(c.back)) << c.code;
    }
    EXPECT_EQ(stringFromOSType(0x00414200), QStringLiteral("AB")); // NULs dropped
}

TEST(FinderInfo, TheAttributeOnDisk)
{
    kztest::TempDir dir;
    const auto file = dir.write("a.txt", "x");
    EXPECT_TRUE(readFinderInfo(file).isZero()); // absent = zero
    if (setExtendedAttribute(file, "user.probe", "1", false) == XattrResult::Refused)
        GTEST_SKIP() << "user extended attributes are refused here";

    FinderInfo info;
    info.setFlags(FinderInfo::kIsInvisible | FinderInfo::kHasCustomIcon);
    info.setLabelColor(2);
    QString error;
    ASSERT_TRUE(writeFinderInfo(file, info, &error)) << error.toStdString();
    QByteArray raw;
    ASSERT_EQ(getExtendedAttribute(file, kFinderInfoAttribute, &raw), XattrResult::Ok);
    EXPECT_EQ(raw.size(), 32);
    EXPECT_EQ(raw.mid(8, 2), QByteArray("\x44\x04")); // big-endian flags
    EXPECT_EQ(readFinderInfo(file), info);

    // A link is read itself unless followed.
    fs::create_symlink(file, dir / "link");
    EXPECT_TRUE(readFinderInfo(dir / "link").isZero());
    EXPECT_EQ(readFinderInfo(dir / "link", true), info);

    // Writing the empty record removes the attribute rather than storing zeros.
    EXPECT_TRUE(writeFinderInfo(file, FinderInfo{}));
    EXPECT_EQ(getExtendedAttribute(file, kFinderInfoAttribute, &raw), XattrResult::NotFound);
    EXPECT_TRUE(writeFinderInfo(file, FinderInfo{})); // nothing to remove is fine

    // Too short reads as zeros; longer is cut to its first 32 bytes.
    ASSERT_EQ(setExtendedAttribute(file, kFinderInfoAttribute, QByteArray(8, '\0') + QByteArray("\x40\x00", 2), false), XattrResult::Ok);
    EXPECT_TRUE(readFinderInfo(file).isZero());
    ASSERT_EQ(setExtendedAttribute(file, kFinderInfoAttribute, QByteArray(8, '\0') + '\x80' + QByteArray(31, 'z'), false),
              XattrResult::Ok);
    EXPECT_TRUE(readFinderInfo(file).isAliasFlag());
}
