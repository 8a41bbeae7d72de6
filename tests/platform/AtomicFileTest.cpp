#include "platform/AtomicFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::writeFileAtomically;

namespace {

std::string contentOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything in `dir` except the names given: a failed write must not leave
// its temporary file behind.
std::vector<std::string> strayEntries(const fs::path& dir, const std::vector<std::string>& expected)
{
    std::vector<std::string> stray;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            stray.push_back(name);
    }
    return stray;
}

bool runningAsRoot() { return ::geteuid() == 0; }

TEST(AtomicFile, CreatesAndReplacesWithoutLeavingTemporaries)
{
    kztest::TempDir dir;
    const fs::path file = dir / "out.plist";

    QString error;
    ASSERT_TRUE(writeFileAtomically(file, QByteArrayLiteral("first"), &error)) << error.toStdString();
    EXPECT_EQ(contentOf(file), "first");
    EXPECT_TRUE(error.isEmpty());

    ASSERT_TRUE(writeFileAtomically(file, QByteArray(), &error));
    EXPECT_EQ(contentOf(file), "");
    ASSERT_TRUE(writeFileAtomically(file, QByteArray(100000, 'x'), &error));
    EXPECT_EQ(contentOf(file).size(), 100000u);
    EXPECT_TRUE(strayEntries(dir.path(), {"out.plist"}).empty());
}

TEST(AtomicFile, KeepsPermissionsOfTheFileItReplaces)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("keep", "old");
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(writeFileAtomically(file, QByteArrayLiteral("new")));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicFile, FollowsASymbolicLinkInsteadOfReplacingIt)
{
    kztest::TempDir dir;
    const fs::path real = dir.write("elsewhere/real.plist", "old");
    const fs::path link = dir / "link.plist";
    fs::create_symlink(real, link);

    ASSERT_TRUE(writeFileAtomically(link, QByteArrayLiteral("new")));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contentOf(real), "new");
}

TEST(AtomicFile, FailureNamesThePathAndTheReason)
{
    kztest::TempDir dir;
    const fs::path file = dir / "missing-folder" / "out.plist";
    QString error;
    EXPECT_FALSE(writeFileAtomically(file, QByteArrayLiteral("x"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing-folder/out.plist"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << error.toStdString();
    EXPECT_FALSE(fs::exists(file));
}

TEST(AtomicFile, FailureLeavesTheOldFileIntact)
{
    kztest::TempDir dir;

    // A folder in the way of the target: the rename fails after the data
    // was written.
    const fs::path folder = dir.mkdir("target");
    dir.write("target/inside", "keep me");
    QString error;
    EXPECT_FALSE(writeFileAtomically(folder, QByteArrayLiteral("x"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(contentOf(folder / "inside"), "keep me");
    EXPECT_TRUE(strayEntries(dir.path(), {"target"}).empty());

    if (!runningAsRoot()) {
        const fs::path locked = dir.write("ro/file", "old");
        ::chmod((dir / "ro").c_str(), 0555);
        EXPECT_FALSE(writeFileAtomically(locked, QByteArrayLiteral("new"), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("Permission denied"))) << error.toStdString();
        EXPECT_EQ(contentOf(locked), "old");
        ::chmod((dir / "ro").c_str(), 0755);
    }
}

TEST(AtomicFile, ShortWriteLeavesTheOldFileIntact)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("data", "old content");

    // A file-size limit makes write() fail part-way, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = writeFileAtomically(file, QByteArray(4096, 'n'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_TRUE(error.contains(QStringLiteral("data"))) << error.toStdString();
    EXPECT_EQ(contentOf(file), "old content");
    EXPECT_TRUE(strayEntries(dir.path(), {"data"}).empty());
}

} // namespace
