#include "services/KZFilesUtilities.h"

#include "support/TestSupport.h"
#include "platform/Log.h"
#include "platform/Trash.h"
#include "services/KZStopSource.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const KZFilesUtilities& files() { return KZFilesUtilities::sharedControl(); }

// Stops once it has been asked `answersBeforeStop` times.
struct CountingStop : KZStopSource {
    explicit CountingStop(int answersBeforeStop) : left(answersBeforeStop) {}
    bool wasStopped() const override { return left.fetch_sub(1) <= 0; }
    mutable std::atomic<int> left;
};

// The scan measurement as {total size, size, folders, files and packages}.
std::array<quint64, 4> scan(const fs::path& folder, const KZStopSource* stop = nullptr)
{
    ItemCountInfo counts{};
    const ItemSizeInfo sizes = files().iterateFolderForSize(folder, stop, &counts, true);
    return {sizes.totalFileSize, sizes.fileSize, counts.folders, counts.filesAndPackages};
}

// The plain measurement as {size, items}.
std::array<quint64, 2> plain(const fs::path& folder)
{
    quint64 items = 0;
    return {files().iterateFolderForSize(folder, &items).fileSize, items};
}

using Scan = std::array<quint64, 4>;
using Plain = std::array<quint64, 2>;

TEST(KZFolderSize, FinderSettingsFilesAreLeftOutOnlyByTheScanMeasurement)
{
    kztest::TempDir dir;
    dir.write("ten.bin", "0123456789");
    dir.write(".DS_Store", "123456");
    EXPECT_EQ(scan(dir.path()), (Scan{10, 10, 0, 1}));
    EXPECT_EQ(plain(dir.path()), (Plain{16, 2}));
    dir.mkdir("Sub");
    EXPECT_EQ(plain(dir.path()), (Plain{16, 3})); // a folder adds no size of its own

    const std::pair<const char*, bool> names[] = {
        {".", false},       {"..", false}, {".DS_Store", false}, {".DS_Store copy", false},
        {".DS_Stor", true}, {"DS_Store", true}, {"a.DS_Store", true}, {"", true},
    };
    for (const auto& [name, measured] : names)
        EXPECT_EQ(files().cantBeCalculated(QString::fromLatin1(name)), measured) << name;

    for (const fs::path& nothing : {dir / "missing", fs::path(), dir / "ten.bin"}) {
        EXPECT_EQ(plain(nothing), (Plain{0, 0})) << nothing;
        EXPECT_EQ(scan(nothing), (Scan{0, 0, 0, 0})) << nothing;
    }
}

TEST(KZFolderSize, PackagesLinksAndNamesThatAreNotUtf8)
{
    kztest::TempDir dir;
    kztest::TempDir outside;
    dir.write("Tool.app/Contents/MacOS/tool", "12345");
    dir.write("Tool.app/Contents/Info.plist", "123");
    dir.write(std::string("\xFF\xFE/caf") + char(0xE9), "1");
    const fs::path target = outside.write("big/data.bin", std::string(4096, 'x')).parent_path();
    fs::create_directory_symlink(target, dir / "link"); // measured itself, never followed
    const quint64 size = 9 + target.native().size();
    // Folders: Contents, MacOS, the odd one; items: Tool.app, three files, the link.
    EXPECT_EQ(scan(dir.path()), (Scan{size, size, 3, 5}));
    EXPECT_EQ(plain(dir.path()), (Plain{size, 8}));
}

TEST(KZFolderSize, StopsAndCountingOff)
{
    kztest::TempDir dir;
    for (int i = 0; i < 20; ++i)
        dir.write("f" + std::to_string(i), "x");
    CountingStop atOnce(0);
    EXPECT_EQ(scan(dir.path(), &atOnce), (Scan{0, 0, 0, 0}));
    // Asked once on entry, then before and after each item: 1 + 2*3 answers
    // let exactly three items through, and what was summed is kept.
    CountingStop later(7);
    EXPECT_EQ(scan(dir.path(), &later), (Scan{3, 3, 0, 3}));

    ItemCountInfo counts{7, 9};
    EXPECT_EQ(files().iterateFolderForSize(dir.path(), nullptr, &counts, false).fileSize, 20u);
    EXPECT_EQ(counts.folders, 7u);
    EXPECT_EQ(counts.filesAndPackages, 9u);
    EXPECT_EQ(files().iterateFolderForSize(dir.path(), nullptr, nullptr, true).fileSize, 20u);
}

// Runs `check` where permissions bind: tests run as root, so in a child that
// gave its privileges up. 0: every expectation held, 1: one failed, 2: skip.
int runUnprivileged(const std::function<bool()>& check)
{
    if (::geteuid() != 0)
        return check() ? 0 : 1;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(!(::setgid(65534) == 0 && ::setuid(65534) == 0) ? 2 : check() ? 0 : 1);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 1;
    return WEXITSTATUS(status);
}

TEST(KZFolderSize, UnreadableFolderEndsOnlyTheScanMeasurement)
{
    kztest::UserFolder dir;
    for (int i = 0; i < 10; ++i)
        dir.write("A" + std::to_string(i) + "/f", "1");
    const auto locked = dir.write("Locked/hidden", "1").parent_path();
    ::chmod(dir.path().c_str(), 0755);
    fs::permissions(locked, fs::perms::none);
    const int outcome = runUnprivileged([&] {
        // The plain measurement passes over the locked folder and counts
        // every item it can see (ten folders, ten files, the locked folder);
        // the scan measurement ends there, keeping what it summed before.
        const Scan partial = scan(dir.path());
        return ::access(locked.c_str(), R_OK) != 0 && plain(dir.path()) == Plain{10, 21} && partial[1] < 10
            && partial[3] == partial[1];
    });
    fs::permissions(locked, fs::perms::owner_all);
    if (outcome == 2)
        GTEST_SKIP() << "cannot give up root privileges here";
    EXPECT_EQ(outcome, 0);
}

// The freedesktop.org rules themselves are the platform layer's; here only
// how the file utilities ask for them.
TEST(KZTrashFolders, StartupAndItemTrashes)
{
    const fs::path homeTrash = platform::homeTrashDirectory() / "files";
    EXPECT_EQ(files().startupTrashURL(), homeTrash);
    EXPECT_EQ(homeTrash.native().rfind(kztest::sandboxHome().native(), 0), 0u); // never the real Trash
    const auto item = kztest::sandboxHome() / "item.txt";
    std::fclose(std::fopen(item.c_str(), "w"));
    EXPECT_EQ(files().trashURLForItemURL(item), homeTrash);
    fs::remove(item);

    QStringList lines;
    platform::setLogSink([&lines](const QString& line) { lines << line; });
    EXPECT_TRUE(files().trashURLForItemURL(item).empty()); // no volume to hold a trash
    platform::setLogSink({});
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("NSTrashDirectory error: ")));
}

} // namespace
