// Reading items that resist: immutable ("locked") items, folders the user
// may not read, and names that are not UTF-8, on a tree made for each test.
#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "platform/DirectoryListing.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sets the immutable flag for one scope, so that the tree can be removed
// afterwards; isSet() is false where the file system or privileges refuse.
class ImmutableFlag {
public:
    explicit ImmutableFlag(fs::path path) : path_(std::move(path)) { set_ = change(true); }
    ~ImmutableFlag()
    {
        if (set_)
            change(false);
    }
    bool isSet() const { return set_; }

private:
    bool change(bool on) const
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }

    fs::path path_;
    bool set_ = false;
};

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

class KZItemLockedAndUnreadableTest : public ::testing::Test {
protected:
    KZItemReader reader() const { return KZItemReader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl()); }

    KZSearchCriteria criteria;
    kztest::TempDir dir;
};

TEST_F(KZItemLockedAndUnreadableTest, ImmutableItemsReadAsLockedAlsoFromAListing)
{
    const fs::path file = dir.write("kept.txt", "12345");
    const fs::path folder = dir.mkdir("Kept folder");
    fs::create_symlink("kept.txt", dir / "link");
    const ImmutableFlag lockedFile(file);
    const ImmutableFlag lockedFolder(folder);
    if (!lockedFile.isSet() || !lockedFolder.isSet())
        GTEST_SKIP() << "the immutable flag cannot be set here";

    for (const fs::path& item : {file, folder}) {
        SCOPED_TRACE(item.native());
        auto info = KZSearchItemInfo::create(item);
        ASSERT_TRUE(reader().setCurrVariables(*info, 1));
        EXPECT_TRUE(info->isLocked());
        EXPECT_TRUE(KZItemAttributes::isLockedWithURL(item));
        EXPECT_TRUE(KZFilesUtilities::sharedControl().isLockedWithURL(item));
    }

    // The scan reads what its listing described; the flag must come with it.
    int seen = 0;
    ASSERT_TRUE(platform::listDirectory(dir.path(), [&](const platform::DirEntry& entry) {
        const KZItemAttributes listed = KZItemAttributes::fromEntry(dir.path(), entry);
        auto info = KZSearchItemInfo::create(listed.path());
        EXPECT_TRUE(reader().setCurrVariables(*info, 0, listed));
        EXPECT_EQ(info->isLocked(), entry.name != "link") << entry.name;
        ++seen;
        return true;
    }));
    EXPECT_EQ(seen, 3);
}

TEST_F(KZItemLockedAndUnreadableTest, NamesThatAreNotUtf8KeepTheirBytesAndSizes)
{
    const std::string name = std::string("\xFF\xFE-caf\xE9");
    const fs::path file = dir.write(name + ".bin", "123");
    dir.write(name + "/inner", "4567");
    criteria.setIsSameSize(true);
    criteria.setIsFolderCompareContent(true);
    criteria.setIsOnlyContent(true);

    auto fileInfo = KZSearchItemInfo::create(file);
    ASSERT_TRUE(reader().setCurrVariables(*fileInfo, 0));
    EXPECT_EQ(fileInfo->url().native(), file.native());
    EXPECT_EQ(fileInfo->totSize(), 3u);

    auto folderInfo = KZSearchItemInfo::create(dir / name);
    ASSERT_TRUE(reader().setCurrVariables(*folderInfo, 0));
    EXPECT_TRUE(folderInfo->isDirectory());
    EXPECT_EQ(folderInfo->totSize(), 4u);
    EXPECT_EQ(folderInfo->multiPurposeInfo(), 1u);
}

// A folder the user may not read is still a folder of the tree: it reads as
// one (it is not taken for empty), and what is inside it cannot be read and
// is not offered.
TEST_F(KZItemLockedAndUnreadableTest, UnreadableFolderReadsAsAFolderAndHidesItsItems)
{
    dir.write("Private/secret.txt", "123456");
    dir.write("Open/a.txt", "1");
    ::chmod(dir.path().c_str(), 0755);
    fs::permissions(dir / "Private", fs::perms::none);
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
        return folderRead && folder->isDirectory() && folder->totSize() == 0 && !r.checkForEmptyFolder(dir / "Private")
            && !insideRead && openRead && open->totSize() == 1 && open->multiPurposeInfo() == 1;
    });
    fs::permissions(dir / "Private", fs::perms::owner_all);
    if (outcome == 2)
        GTEST_SKIP() << "cannot give up root privileges here";
    EXPECT_EQ(outcome, 0);
}

} // namespace
