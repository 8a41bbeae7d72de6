#include "TestSupport.h"

#include "removal/KZCopyIdentity.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Moves the modification time one second on, as an edit that keeps the size would.
void touchLater(const fs::path& path)
{
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += 1;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

TEST(KZCopyIdentity, AFileMatchesUntilItIsEditedOrReplaced)
{
    kztest::TempDir d;
    const fs::path file = d.write("copy.txt", "12345");
    const auto identity = KZCopyIdentity::capture(file);
    ASSERT_TRUE(identity);
    EXPECT_TRUE(identity->matches(file));

    touchLater(file);
    EXPECT_FALSE(identity->matches(file)) << "same size, later time";

    const auto edited = KZCopyIdentity::capture(file);
    ASSERT_TRUE(edited);
    std::ofstream(file, std::ios::app) << "6";
    EXPECT_FALSE(edited->matches(file)) << "grown in place";

    // Same name, same bytes, another file.
    const auto before = KZCopyIdentity::capture(file);
    ASSERT_TRUE(before);
    fs::remove(file);
    d.write("copy.txt", "123456");
    EXPECT_FALSE(before->matches(file));
    fs::remove(file);
    EXPECT_FALSE(before->matches(file)) << "gone";
    EXPECT_FALSE(KZCopyIdentity::capture(file));
    EXPECT_FALSE(KZCopyIdentity{}.matches(d.path())) << "an empty identity matches nothing";
}

TEST(KZCopyIdentity, AFolderMatchesOnlyWhileEveryEntryBelowItIsUnchanged)
{
    kztest::TempDir d;
    d.write("copy/a.txt", "a");
    d.write("copy/sub/b.txt", "b");
    const fs::path copy = d / "copy";
    const auto identity = KZCopyIdentity::capture(copy);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->nodes.size(), 4u);
    EXPECT_TRUE(identity->matches(copy));

    // Each change deep inside, put back afterwards where it can be.
    touchLater(copy / "sub/b.txt");
    EXPECT_FALSE(identity->matches(copy)) << "an entry edited deep inside";

    const auto withEdit = KZCopyIdentity::capture(copy);
    ASSERT_TRUE(withEdit);
    d.write("copy/sub/new.txt", "n");
    EXPECT_FALSE(withEdit->matches(copy)) << "a file added deep inside";

    // A folder the user made at the copy's place, with a file inside.
    const auto current = KZCopyIdentity::capture(copy);
    ASSERT_TRUE(current);
    fs::remove_all(copy);
    d.write("copy/a.txt", "a");
    EXPECT_FALSE(current->matches(copy));
}

TEST(KZCopyIdentity, ALinkIsDescribedItselfAndNeverFollowed)
{
    kztest::TempDir d;
    d.write("target/inside.txt", "t");
    fs::create_directory(d / "copy");
    fs::create_symlink(d / "target", d / "copy/link");
    const auto identity = KZCopyIdentity::capture(d / "copy");
    ASSERT_TRUE(identity);
    ASSERT_EQ(identity->nodes.size(), 2u) << "the link, not what it points at";
    EXPECT_EQ(identity->nodes[1].type, mode_t(S_IFLNK));
    // A change behind the link is no change of the copy.
    d.write("target/more.txt", "m");
    EXPECT_TRUE(identity->matches(d / "copy"));

    // A copy that was a folder and is now a link to an identical folder.
    const auto folder = KZCopyIdentity::capture(d / "target");
    ASSERT_TRUE(folder);
    fs::rename(d / "target", d / "elsewhere");
    fs::create_symlink(d / "elsewhere", d / "target");
    EXPECT_FALSE(folder->matches(d / "target"));
}

TEST(KZCopyIdentity, AFolderThatCannotBeReadWholeIsNotDescribed)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    kztest::TempDir d;
    d.write("copy/closed/x.txt", "x");
    fs::permissions(d / "copy/closed", fs::perms::none);
    EXPECT_FALSE(KZCopyIdentity::capture(d / "copy"));
    fs::permissions(d / "copy/closed", fs::perms::owner_all);
}
