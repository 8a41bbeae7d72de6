#include "engine/KZItemAttributes.h"
#include "platform/DirectoryListing.h"
#include "platform/FinderInfo.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>

namespace fs = std::filesystem;

namespace {

// A small tree with one item of every kind the scan tells apart.
class KZItemAttributesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.write("plain.txt", "0123456789");
        dir.write(".dotfile", "x");
        dir.mkdir("folder");
        dir.write("Thing.app/Contents/Info.plist", "<plist/>");
        dir.mkdir("Notes.rtfd");
        dir.mkdir("data.lproj");
        fs::create_symlink("plain.txt", dir / "link-to-file");
        fs::create_symlink("folder", dir / "link-to-folder");
        dir.write(nonUtf8Name, "abc");
    }

    // Writes a Finder information record, or skips the test where the file
    // system refuses user attributes.
    void writeFinderInfoOrSkip(const fs::path& path, const platform::FinderInfo& info)
    {
        QString error;
        if (!platform::writeFinderInfo(path, info, &error))
            GTEST_SKIP() << "no user extended attributes here: " << error.toStdString();
    }

    kztest::TempDir dir;
    const std::string nonUtf8Name = std::string("caf\xE9-\xFF.bin");
};

struct Expect {
    bool directory, package, alias, hidden;
    bool hasSize;
};

TEST_F(KZItemAttributesTest, EachKindOfItemIsToldApart)
{
    const std::map<std::string, Expect> table = {
        {"plain.txt", {false, false, false, false, true}},
        {".dotfile", {false, false, false, true, true}},
        {"folder", {true, false, false, false, false}},
        {"Thing.app", {true, true, false, false, false}},
        {"Notes.rtfd", {true, true, false, false, false}},
        {"data.lproj", {true, false, false, false, false}},
        {"link-to-file", {false, false, true, false, true}},
        {"link-to-folder", {false, false, true, false, true}}, // a link is never followed
    };
    for (const auto& [name, e] : table) {
        SCOPED_TRACE(name);
        const KZItemAttributes a = KZItemAttributes::read(dir / name);
        ASSERT_TRUE(a.exists());
        EXPECT_EQ(a.isDirectory(), e.directory);
        EXPECT_EQ(a.isPackage(), e.package);
        EXPECT_EQ(a.isAlias(), e.alias);
        EXPECT_EQ(a.isHidden(), e.hidden);
        EXPECT_EQ(a.totalFileSize().has_value(), e.hasSize);
        EXPECT_FALSE(a.isLocked());
        EXPECT_FALSE(a.objectID().isNull());
    }
    EXPECT_EQ(KZItemAttributes::read(dir / "plain.txt").totalFileSize(), 10u);
}

TEST_F(KZItemAttributesTest, ListingEntriesAnswerAsFreshReads)
{
    int seen = 0;
    ASSERT_TRUE(platform::listDirectory(dir.path(), [&](const platform::DirEntry& entry) {
        SCOPED_TRACE(entry.name);
        const KZItemAttributes listed = KZItemAttributes::fromEntry(dir.path(), entry);
        const KZItemAttributes fresh = KZItemAttributes::read(dir / entry.name);
        EXPECT_EQ(listed.path(), dir / entry.name);
        EXPECT_EQ(listed.fileName(), fresh.fileName());
        EXPECT_EQ(listed.isDirectory(), fresh.isDirectory());
        EXPECT_EQ(listed.isPackage(), fresh.isPackage());
        EXPECT_EQ(listed.isAlias(), fresh.isAlias());
        EXPECT_EQ(listed.isHidden(), fresh.isHidden());
        EXPECT_EQ(listed.totalFileSize(), fresh.totalFileSize());
        EXPECT_EQ(listed.objectID(), fresh.objectID());
        ++seen;
        return true;
    }));
    EXPECT_EQ(seen, 9);
}

TEST_F(KZItemAttributesTest, NonUtf8NameKeepsItsBytes)
{
    const KZItemAttributes a = KZItemAttributes::read(dir / nonUtf8Name);
    ASSERT_TRUE(a.exists());
    EXPECT_EQ(a.path().filename().native(), nonUtf8Name);
    ASSERT_TRUE(a.fileName().has_value());
    EXPECT_FALSE(a.fileName()->isEmpty());
    EXPECT_EQ(a.totalFileSize(), 3u);
}

TEST_F(KZItemAttributesTest, VanishedItemAnswersNothing)
{
    const fs::path gone = dir / "gone.txt";
    const KZItemAttributes a = KZItemAttributes::read(gone);
    EXPECT_FALSE(a.exists());
    EXPECT_FALSE(a.fileName().has_value());
    EXPECT_TRUE(a.parentDirectory().empty());
    EXPECT_FALSE(a.isDirectory() || a.isPackage() || a.isAlias() || a.isHidden() || a.isLocked());
    EXPECT_FALSE(a.isApplication() || a.hasCustomIcon());
    EXPECT_FALSE(a.labelNumber().has_value());
    EXPECT_EQ(a.typeCode(), 0u);
    EXPECT_TRUE(a.objectID().isNull());

    int err = 0;
    EXPECT_TRUE(KZItemAttributes::pathWithURL(gone, &err).empty());
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(KZItemAttributes::pathWithURL(dir / "plain.txt"), dir / "plain.txt");
}

TEST_F(KZItemAttributesTest, ParentAndNameOfSpecialPaths)
{
    EXPECT_EQ(KZItemAttributes::parentDirectoryWithURL(dir / "folder"), dir.path());
    EXPECT_EQ(KZItemAttributes::parentDirectoryWithURL(dir.path() / "folder/"), dir.path());
    EXPECT_TRUE(KZItemAttributes::parentDirectoryWithURL("/").empty());
    EXPECT_EQ(KZItemAttributes::fileNameWithURL(dir.path() / "folder/"), QStringLiteral("folder"));
}

TEST_F(KZItemAttributesTest, ApplicationsAreAppPackages)
{
    EXPECT_TRUE(KZItemAttributes::isApplicationWithURL(dir / "Thing.app"));
    EXPECT_FALSE(KZItemAttributes::isApplicationWithURL(dir / "Notes.rtfd"));
    EXPECT_FALSE(KZItemAttributes::isApplicationWithURL(dir / "plain.txt"));
}

TEST_F(KZItemAttributesTest, FinderInformationGivesTypeFlagsAndLabel)
{
    const fs::path file = dir / "plain.txt";
    platform::FinderInfo info;
    info.setFileType(platform::osTypeFromString(u"TEXT"));
    info.setFlags(platform::FinderInfo::kHasCustomIcon | platform::FinderInfo::kIsInvisible
                  | platform::FinderInfo::kIsAlias);
    info.setLabelColor(3);
    writeFinderInfoOrSkip(file, info);

    const KZItemAttributes a = KZItemAttributes::read(file);
    EXPECT_EQ(a.typeCode(), 0x54455854u);
    EXPECT_TRUE(a.hasCustomIcon());
    EXPECT_TRUE(a.isHidden()) << "the invisible flag hides a name without a dot";
    EXPECT_TRUE(a.isAlias());
    EXPECT_EQ(a.labelNumber(), 3);
    EXPECT_TRUE(KZItemAttributes::hasCustomIcon(file));
}

TEST_F(KZItemAttributesTest, CustomIconIsReadFromTheBigEndianFlags)
{
    // Only byte 8 (the high byte of the flags) carries bit 0x0400: a reader
    // that took the flags in host order would miss it.
    const fs::path folder = dir / "folder";
    platform::FinderInfo info;
    info.bytes[8] = 0x04;
    writeFinderInfoOrSkip(folder, info);
    EXPECT_TRUE(KZItemAttributes::hasCustomIcon(folder));
    EXPECT_FALSE(KZItemAttributes::isHiddenWithURL(folder));

    platform::FinderInfo swapped;
    swapped.bytes[9] = 0x04;
    writeFinderInfoOrSkip(folder, swapped);
    EXPECT_FALSE(KZItemAttributes::hasCustomIcon(folder));
}

TEST_F(KZItemAttributesTest, ItemsWithoutFinderInformationHaveNoFlags)
{
    const KZItemAttributes a = KZItemAttributes::read(dir / "plain.txt");
    EXPECT_EQ(a.typeCode(), 0u);
    EXPECT_FALSE(a.hasCustomIcon());
    EXPECT_EQ(a.labelNumber(), 0);
}

} // namespace
