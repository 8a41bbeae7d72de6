#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "platform/DirectoryListing.h"
#include "platform/FinderInfo.h"
#include "platform/Paths.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <set>
#include <vector>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string nonUtf8Name = "caf\xE9-\xFF.bin";

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

    KZItemReader reader() const { return KZItemReader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl()); }

    KZSearchCriteria criteria;
    kztest::UserFolder dir;
};

TEST_F(KZItemAttributesTest, EachKindOfItemIsToldApartAlsoFromAListing)
{
    struct Expect {
        bool directory, package, application, alias, hidden;
        std::optional<quint64> size;
    };
    const std::map<std::string, Expect> table = {
        {"plain.txt", {false, false, false, false, false, 10}},
        {".dotfile", {false, false, false, false, true, 1}},
        {"folder", {true, false, false, false, false, {}}},
        {"Thing.app", {true, true, true, false, false, {}}},
        {"Notes.rtfd", {true, true, false, false, false, {}}},
        {"data.lproj", {true, false, false, false, false, {}}},
        {"link-to-file", {false, false, false, true, false, 9}},
        {"link-to-folder", {false, false, false, true, false, 6}}, // a link is never followed
        {nonUtf8Name, {false, false, false, false, false, 3}},
    };
    for (const auto& [name, e] : table) {
        SCOPED_TRACE(name);
        const KZItemAttributes a = KZItemAttributes::read(dir / name);
        ASSERT_TRUE(a.exists());
        EXPECT_EQ(a.path().filename().native(), name);
        EXPECT_EQ(std::make_tuple(a.isDirectory(), a.isPackage(), KZItemAttributes::isApplicationWithURL(dir / name),
                                  a.isAlias(), a.isHidden()),
                  std::make_tuple(e.directory, e.package, e.application, e.alias, e.hidden));
        EXPECT_EQ(a.totalFileSize(), e.size);
        EXPECT_FALSE(a.isLocked() || a.objectID().isNull() || a.fileName().value_or(QString()).isEmpty());
        // Without Finder information there are no flags.
        EXPECT_EQ(std::make_tuple(a.typeCode(), a.hasCustomIcon(), a.labelNumber()), std::make_tuple(0u, false, std::optional<int>(0)));
    }

    // The scan reads what its listing described: the same answers.
    const auto answers = [](const KZItemAttributes& a) {
        return std::make_tuple(a.path(), a.fileName(), a.isDirectory(), a.isPackage(), a.isAlias(), a.isHidden(),
                               a.totalFileSize(), a.objectID());
    };
    int seen = 0;
    ASSERT_TRUE(platform::listDirectory(dir.path(), [&](const platform::DirEntry& entry) {
        EXPECT_EQ(answers(KZItemAttributes::fromEntry(dir.path(), entry)), answers(KZItemAttributes::read(dir / entry.name)))
            << entry.name;
        ++seen;
        return true;
    }));
    EXPECT_EQ(seen, int(table.size()));
}

TEST_F(KZItemAttributesTest, VanishedItemAndSpecialPathsAnswerNothing)
{
    const fs::path gone = dir / "gone.txt";
    const KZItemAttributes a = KZItemAttributes::read(gone);
    EXPECT_FALSE(a.exists() || a.fileName() || a.labelNumber() || a.typeCode() || !a.objectID().isNull());
    EXPECT_TRUE(a.parentDirectory().empty());
    EXPECT_FALSE(a.isDirectory() || a.isPackage() || a.isAlias() || a.isHidden() || a.isLocked() || a.isApplication()
                 || a.hasCustomIcon());
    int err = 0;
    EXPECT_TRUE(KZItemAttributes::pathWithURL(gone, &err).empty());
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(KZItemAttributes::pathWithURL(dir / "plain.txt"), dir / "plain.txt");

    EXPECT_EQ(KZItemAttributes::parentDirectoryWithURL(dir / "folder"), dir.path());
    EXPECT_EQ(KZItemAttributes::parentDirectoryWithURL(dir.path() / "folder/"), dir.path());
    EXPECT_TRUE(KZItemAttributes::parentDirectoryWithURL("/").empty());
    EXPECT_EQ(KZItemAttributes::fileNameWithURL(dir.path() / "folder/"), QStringLiteral("folder"));
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

    // Read relative to the listed folder, as the scan does: the same record,
    // and none for the items without one.
    const platform::DirectoryHandle handle = platform::DirectoryHandle::open(dir.path());
    ASSERT_TRUE(handle.isValid());
    ASSERT_TRUE(handle.list([&](const platform::DirEntry& entry) {
        const KZItemAttributes listed = KZItemAttributes::fromEntry(dir.path(), entry, handle.fd());
        const KZItemAttributes byPath = KZItemAttributes::read(dir / entry.name);
        EXPECT_EQ(listed.finderInfo(), byPath.finderInfo()) << entry.name;
        return true;
    }));

    // Only byte 8 (the high byte of the flags) carries bit 0x0400: a reader
    // that took the flags in host order would miss it.
    const fs::path folder = dir / "folder";
    platform::FinderInfo bigEndian;
    bigEndian.bytes[8] = 0x04;
    writeFinderInfoOrSkip(folder, bigEndian);
    EXPECT_TRUE(KZItemAttributes::hasCustomIcon(folder));
    EXPECT_FALSE(KZItemAttributes::isHiddenWithURL(folder));
    platform::FinderInfo swapped;
    swapped.bytes[9] = 0x04;
    writeFinderInfoOrSkip(folder, swapped);
    EXPECT_FALSE(KZItemAttributes::hasCustomIcon(folder));
}

TEST_F(KZItemAttributesTest, ListedItemsCopiedOutOfTheListingKeepTheirPath)
{
    // The scan puts a listed item's path together only when asked; a copy
    // or a moved-out item, kept after the listing and its folder's path have
    // gone, still knows where it is.
    dir.write("sub/.hidden.app/x", "");
    dir.write("sub/plain.txt", "text");
    std::vector<KZItemAttributes> kept;
    {
        const fs::path folder = dir / "sub"; // gone before the items are asked
        ASSERT_TRUE(platform::listDirectory(folder, [&](const platform::DirEntry& entry) {
            KZItemAttributes listed = KZItemAttributes::fromEntry(folder, entry);
            kept.push_back(listed);
            kept.push_back(std::move(listed));
            return true;
        }));
    }
    ASSERT_EQ(kept.size(), 4u);
    std::set<fs::path> paths;
    for (const KZItemAttributes& item : kept) {
        paths.insert(item.path());
        EXPECT_EQ(item.parentDirectory(), dir / "sub");
        EXPECT_EQ(item.isHidden(), item.name() == ".hidden.app") << item.name();
        EXPECT_EQ(item.fileName(), platform::pathText(item.name()));
    }
    EXPECT_EQ(paths, (std::set<fs::path>{dir / "sub/.hidden.app", dir / "sub/plain.txt"}));
}

TEST_F(KZItemAttributesTest, ImmutableItemsReadAsLockedAlsoFromAListing)
{
    const fs::path file = dir / "plain.txt";
    const fs::path folder = dir / "folder";
    struct Unlock {
        std::vector<fs::path> paths;
        ~Unlock()
        {
            for (const auto& p : paths)
                kztest::setImmutable(p, false);
        }
    } unlock{{file, folder}};
    if (!kztest::setImmutable(file, true) || !kztest::setImmutable(folder, true))
        GTEST_SKIP() << "the immutable flag cannot be set here";

    for (const fs::path& item : {file, folder}) {
        SCOPED_TRACE(item.native());
        auto info = KZSearchItemInfo::create(item);
        ASSERT_TRUE(reader().setCurrVariables(*info, 1));
        EXPECT_TRUE(info->isLocked());
        EXPECT_TRUE(KZItemAttributes::isLockedWithURL(item));
        EXPECT_TRUE(KZFilesUtilities::sharedControl().isLockedWithURL(item));
    }
    // The flag must come with what the listing described.
    ASSERT_TRUE(platform::listDirectory(dir.path(), [&](const platform::DirEntry& entry) {
        const KZItemAttributes listed = KZItemAttributes::fromEntry(dir.path(), entry);
        auto info = KZSearchItemInfo::create(listed.path());
        EXPECT_TRUE(reader().setCurrVariables(*info, 0, listed));
        EXPECT_EQ(info->isLocked(), entry.name == "plain.txt" || entry.name == "folder") << entry.name;
        return true;
    }));
}

// Runs `check` where permissions bind: here, or for the super-user in a child
// that gave its privileges up. 0 = held, 1 = failed, 2 = cannot give them up.
int runUnprivileged(const std::function<bool()>& check)
{
    if (::geteuid() != 0)
        return check() ? 0 : 1;
    const pid_t child = ::fork();
    if (child < 0)
        return 2;
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(!dropped ? 2 : check() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 1;
    return WEXITSTATUS(status);
}

// A folder the user may not read is still a folder of the tree: it reads as
// one (it is not taken for empty), and what is inside it cannot be read and
// is not offered.
TEST_F(KZItemAttributesTest, UnreadableFolderReadsAsAFolderAndHidesItsItems)
{
    dir.write("Private/secret.txt", "123456");
    dir.write("Open/a.txt", "1");
    dir.mkdir("Outer/Locked");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "Outer").c_str(), 0755);
    fs::permissions(dir / "Private", fs::perms::none);
    fs::permissions(dir / "Outer/Locked", fs::perms::none);
    criteria.setIsSameSize(true);
    criteria.setIsFolderCompareContent(true);
    criteria.setIsOnlyContent(true);
    criteria.setIsCompareContent(true);
    criteria.setIsSkipData(true);
    criteria.setSkipDataValue(0);

    const int outcome = runUnprivileged([&] {
        const KZItemReader r = reader();
        auto folder = KZSearchItemInfo::create(dir / "Private");
        const bool folderRead = r.setCurrVariables(*folder, 0);
        auto inside = KZSearchItemInfo::create(dir / "Private/secret.txt");
        const bool insideRead = r.setCurrVariables(*inside, 0);
        auto open = KZSearchItemInfo::create(dir / "Open");
        const bool openRead = r.setCurrVariables(*open, 0);
        criteria.setIsNestedEmptied(true); // a subfolder that cannot be listed is not empty either
        const bool outerEmpty = reader().checkForEmptyFolder(dir / "Outer");
        return !outerEmpty && folderRead && folder->isDirectory() && folder->totSize() == 0 && !r.checkForEmptyFolder(dir / "Private")
            && !insideRead && openRead && open->totSize() == 1 && open->multiPurposeInfo() == 1;
    });
    fs::permissions(dir / "Private", fs::perms::owner_all);
    fs::permissions(dir / "Outer/Locked", fs::perms::owner_all);
    if (outcome == 2)
        GTEST_SKIP() << "cannot give up root privileges here";
    EXPECT_EQ(outcome, 0);
}

} // namespace
