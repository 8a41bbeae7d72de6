#include "services/KZFilesUtilities.h"

#include "support/TestSupport.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/Trash.h"
#include "services/KZStopSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <optional>
#include <fcntl.h>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const KZFilesUtilities& files() { return KZFilesUtilities::sharedControl(); }

// Stops once it has been asked `answersBeforeStop` times.
class CountingStop : public KZStopSource {
public:
    explicit CountingStop(int answersBeforeStop) : left_(answersBeforeStop) {}
    bool wasStopped() const override { return left_.fetch_sub(1) <= 0; }

private:
    mutable std::atomic<int> left_;
};

struct Measured {
    ItemSizeInfo sizes;
    ItemCountInfo counts;
};

Measured measure(const fs::path& folder, const KZStopSource* stop = nullptr)
{
    Measured m;
    m.sizes = files().iterateFolderForSize(folder, stop, &m.counts, true);
    return m;
}

TEST(KZFolderSize, FinderSettingsFilesAreLeftOutOnlyByTheScanMeasurement)
{
    kztest::TempDir dir;
    dir.write("ten.bin", "0123456789");
    dir.write(".DS_Store", "123456");

    const Measured scan = measure(dir.path());
    EXPECT_EQ(scan.sizes.totalFileSize, 10u);
    EXPECT_EQ(scan.sizes.fileSize, 10u);
    EXPECT_EQ(scan.counts.filesAndPackages, 1u);
    EXPECT_EQ(scan.counts.folders, 0u);

    quint64 items = 0;
    ItemSizeInfo plain = files().iterateFolderForSize(dir.path(), &items);
    EXPECT_EQ(items, 2u);
    EXPECT_EQ(plain.totalFileSize, 16u);

    dir.mkdir("Sub");
    items = 0;
    plain = files().iterateFolderForSize(dir.path(), &items);
    EXPECT_EQ(items, 3u);
    EXPECT_EQ(plain.fileSize, 16u); // a folder adds no size of its own
}

TEST(KZFolderSize, NamesThatAreMeasured)
{
    const struct {
        const char* name;
        bool measured;
    } cases[] = {
        {".", false}, {"..", false}, {".DS_Store", false}, {".DS_Store copy", false},
        {".DS_Stor", true}, {"DS_Store", true}, {"a.DS_Store", true}, {"", true}, {"file", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(files().cantBeCalculated(QString::fromLatin1(c.name)), c.measured) << c.name;
}

TEST(KZFolderSize, CountingOffLeavesTheRecordAlone)
{
    kztest::TempDir dir;
    dir.write("a/b.bin", "12345");
    ItemCountInfo counts{7, 9};
    const ItemSizeInfo sizes = files().iterateFolderForSize(dir.path(), nullptr, &counts, false);
    EXPECT_EQ(sizes.fileSize, 5u);
    EXPECT_EQ(counts.folders, 7u);
    EXPECT_EQ(counts.filesAndPackages, 9u);
    // Counting on without a record is no counting either.
    EXPECT_EQ(files().iterateFolderForSize(dir.path(), nullptr, nullptr, true).fileSize, 5u);
}

TEST(KZFolderSize, AStopBeforeTheStartMeasuresNothing)
{
    kztest::TempDir dir;
    dir.write("a.bin", "12345");
    CountingStop stop(0);
    const Measured m = measure(dir.path(), &stop);
    EXPECT_EQ(m.sizes.totalFileSize, 0u);
    EXPECT_EQ(m.sizes.fileSize, 0u);
    EXPECT_EQ(m.counts.filesAndPackages, 0u);
    EXPECT_EQ(m.counts.folders, 0u);
}

TEST(KZFolderSize, AStopDuringTheWalkKeepsWhatWasSummed)
{
    kztest::TempDir dir;
    for (int i = 0; i < 20; ++i)
        dir.write("f" + std::to_string(i), "x");

    const Measured all = measure(dir.path());
    ASSERT_EQ(all.sizes.fileSize, 20u);

    // Asked once on entry, then before and after each item: 1 + 2*3 answers
    // let exactly three items through.
    CountingStop stop(7);
    const Measured part = measure(dir.path(), &stop);
    EXPECT_EQ(part.sizes.fileSize, 3u);
    EXPECT_EQ(part.counts.filesAndPackages, 3u);
}

TEST(KZFolderSize, PackagesAreEnteredAndCountedAsOneItem)
{
    kztest::TempDir dir;
    dir.write("Tool.app/Contents/MacOS/tool", "12345");
    dir.write("Tool.app/Contents/Info.plist", "123");
    dir.write("Folder/x", "1");

    const Measured m = measure(dir.path());
    EXPECT_EQ(m.sizes.fileSize, 9u);
    EXPECT_EQ(m.counts.folders, 3u);          // Contents, MacOS, Folder
    EXPECT_EQ(m.counts.filesAndPackages, 4u); // Tool.app and three files

    quint64 items = 0;
    EXPECT_EQ(files().iterateFolderForSize(dir.path(), &items).fileSize, 9u);
    EXPECT_EQ(items, 7u);
}

TEST(KZFolderSize, LinksAreMeasuredThemselvesNeverFollowed)
{
    kztest::TempDir dir;
    kztest::TempDir outside;
    outside.write("big/data.bin", std::string(4096, 'x'));
    const fs::path target = outside / "big";
    fs::create_directory_symlink(target, dir / "link");

    const Measured m = measure(dir.path());
    EXPECT_EQ(m.counts.filesAndPackages, 1u);
    EXPECT_EQ(m.counts.folders, 0u);
    EXPECT_EQ(m.sizes.fileSize, target.native().size()); // the link's own length

    quint64 items = 0;
    files().iterateFolderForSize(dir.path(), &items);
    EXPECT_EQ(items, 1u);
}

TEST(KZFolderSize, NamesThatAreNotUtf8AreMeasured)
{
    kztest::TempDir dir;
    dir.write(std::string("caf") + char(0xE9), "1234");
    dir.write(std::string("\xFF\xFE/inner"), "12");

    const Measured m = measure(dir.path());
    EXPECT_EQ(m.sizes.fileSize, 6u);
    EXPECT_EQ(m.counts.filesAndPackages, 2u);
    EXPECT_EQ(m.counts.folders, 1u);
}

TEST(KZFolderSize, MissingOrEmptyFoldersMeasureZero)
{
    kztest::TempDir dir;
    quint64 items = 0;
    EXPECT_EQ(files().iterateFolderForSize(dir / "missing", &items).fileSize, 0u);
    EXPECT_EQ(files().iterateFolderForSize(fs::path(), &items).fileSize, 0u);
    EXPECT_EQ(items, 0u);
    const Measured m = measure(dir / "missing");
    EXPECT_EQ(m.sizes.fileSize, 0u);
    const auto file = dir.write("file", "123");
    EXPECT_EQ(measure(file).sizes.fileSize, 0u);
}

// Runs `check` where permissions bind: here, or for the super-user in a
// child that gave its privileges up. Answers 0 when every expectation held,
// 1 when one failed, and skips where privileges cannot be given up.
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

TEST(KZFolderSize, UnreadableFolderEndsOnlyTheScanMeasurement)
{
    kztest::TempDir dir;
    for (int i = 0; i < 10; ++i)
        dir.write("A" + std::to_string(i) + "/f", "1");
    const auto locked = dir.mkdir("Locked");
    dir.write("Locked/hidden", "1");
    ::chmod(dir.path().c_str(), 0755);
    fs::permissions(locked, fs::perms::none);

    const int outcome = runUnprivileged([&] {
        if (::access(locked.c_str(), R_OK) == 0)
            return false;
        // The plain measurement passes over the locked folder: every other
        // file is summed, and every item it could see is counted (ten
        // folders, ten files, the locked folder itself).
        quint64 items = 0;
        const ItemSizeInfo plain = files().iterateFolderForSize(dir.path(), &items);
        // The scan measurement ends at the locked folder and keeps what it
        // summed before it; it never sees the file inside.
        const Measured scan = measure(dir.path());
        return plain.fileSize == 10 && plain.totalFileSize == 10 && items == 21 && scan.sizes.fileSize < 10
            && scan.counts.filesAndPackages == scan.sizes.fileSize;
    });
    fs::permissions(locked, fs::perms::owner_all);
    if (outcome == 2)
        GTEST_SKIP() << "cannot give up root privileges here";
    EXPECT_EQ(outcome, 0);
}

// Leaves only `spare` free file descriptors for one scope, so that opening a
// folder deep in a tree fails as an unreadable folder would, also for the
// super-user. Free numbers below the highest open one are taken first, since
// the limit caps the numbers, not their count.
class FileLimit {
public:
    explicit FileLimit(int spare)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            if (fd > highest) {
                ::close(fd);
                break;
            }
            fillers_.push_back(fd);
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = rlim_t(highest + 1 + spare);
        ok_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~FileLimit()
    {
        ::setrlimit(RLIMIT_NOFILE, &saved_);
        for (int fd : fillers_)
            ::close(fd);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    std::vector<int> fillers_;
    bool ok_ = false;
};

TEST(KZFolderSize, TheFirstErrorEndsTheScanMeasurementOnly)
{
    // Two deep branches, a one-byte file on every level. Whichever branch is
    // walked first hits the limit: the scan measurement ends there, the
    // plain one passes over the failing folder and walks the other branch.
    kztest::TempDir dir;
    constexpr int depth = 120;
    for (const char* branch : {"A", "B"}) {
        fs::path level = dir / branch;
        for (int i = 0; i < depth; ++i) {
            fs::create_directories(level);
            std::FILE* f = std::fopen((level / "f").c_str(), "w");
            ASSERT_NE(f, nullptr);
            std::fputc('1', f);
            std::fclose(f);
            level /= "d";
        }
    }

    Measured scan;
    ItemSizeInfo plain;
    {
        FileLimit limit(12);
        if (!limit.ok())
            GTEST_SKIP() << "cannot lower the open-file limit";
        scan = measure(dir.path());
        plain = files().iterateFolderForSize(dir.path(), nullptr);
    }
    EXPECT_GT(scan.sizes.fileSize, 0u);
    EXPECT_LT(scan.sizes.fileSize, quint64(depth));
    EXPECT_GE(plain.fileSize, scan.sizes.fileSize + 5); // the second branch too
    EXPECT_LT(plain.fileSize, quint64(2 * depth));

    // With descriptors to spare the same tree is measured completely.
    EXPECT_EQ(measure(dir.path()).sizes.fileSize, quint64(2 * depth));
}

// ---- Trash ---------------------------------------------------------------------

TEST(KZTrashFolders, HomeTrashIsTheStartupTrash)
{
    const fs::path trash = files().startupTrashURL();
    ASSERT_FALSE(trash.empty());
    EXPECT_EQ(trash, platform::homeTrashDirectory() / "files");
    EXPECT_TRUE(fs::is_directory(trash));
    EXPECT_TRUE(fs::is_directory(trash.parent_path() / "info"));
    // Never the user's real Trash.
    EXPECT_EQ(trash.native().rfind(kztest::sandboxHome().native(), 0), 0u);
}

TEST(KZTrashFolders, ItemOnTheHomeDeviceGoesToTheHomeTrash)
{
    kztest::TempDir dir;
    const auto item = kztest::sandboxHome() / "item.txt";
    {
        std::FILE* f = std::fopen(item.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    EXPECT_EQ(files().trashURLForItemURL(item), platform::homeTrashDirectory() / "files");
    fs::remove(item);
    EXPECT_TRUE(files().trashURLForItemURL(fs::path()).empty());
}

// Puts XDG_DATA_HOME somewhere else for one scope.
class DataHome {
public:
    explicit DataHome(const char* value)
    {
        if (const char* old = std::getenv("XDG_DATA_HOME"))
            saved_ = old;
        ::setenv("XDG_DATA_HOME", value, 1);
    }
    ~DataHome()
    {
        if (saved_)
            ::setenv("XDG_DATA_HOME", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

private:
    std::optional<std::string> saved_;
};

TEST(KZTrashFolders, HomeTrashFollowsXdgDataHome)
{
    kztest::TempDir data;
    const auto item = kztest::sandboxHome() / "item-xdg.txt";
    std::fclose(std::fopen(item.c_str(), "w"));
    {
        DataHome moved(data.path().c_str());
        EXPECT_EQ(platform::homeTrashDirectory(), data / "Trash");
        EXPECT_EQ(files().startupTrashURL(), data / "Trash/files");
        EXPECT_TRUE(fs::is_directory(data / "Trash/info"));
        if (platform::statPath(data.path(), false)->device == platform::statPath(item, false)->device) {
            EXPECT_EQ(files().trashURLForItemURL(item), data / "Trash/files");
        }
    }
    {
        // Only an absolute XDG_DATA_HOME counts; otherwise HOME decides.
        DataHome relative("relative/share");
        EXPECT_EQ(platform::homeTrashDirectory(), kztest::sandboxHome() / ".local/share/Trash");
    }
    fs::remove(item);
}

TEST(KZTrashFolders, NoUsableTrashIsLogged)
{
    QStringList lines;
    platform::setLogSink([&lines](const QString& line) { lines << line; });
    // A missing item has no volume to hold a trash.
    kztest::TempDir dir;
    EXPECT_TRUE(files().trashURLForItemURL(dir / "missing").empty());
    platform::setLogSink({});
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("NSTrashDirectory error: ")));
}

// ---- Bookmarks -----------------------------------------------------------------

TEST(KZBookmarks, ResolveWhileTheItemIsThere)
{
    kztest::TempDir dir;
    const auto item = dir.write(std::string("caf") + char(0xE9), "x");
    const QByteArray data = platform::createBookmark(item);
    ASSERT_FALSE(data.isEmpty());
    EXPECT_EQ(files().urlWithDataAlias(data), item);

    fs::rename(item, dir / "renamed");
    EXPECT_EQ(files().urlWithDataAlias(data), dir / "renamed");

    fs::remove(dir / "renamed");
    EXPECT_TRUE(files().urlWithDataAlias(data).empty());
    EXPECT_TRUE(files().urlWithDataAlias(QByteArray("not a bookmark")).empty());
    EXPECT_TRUE(files().urlWithDataAlias(QByteArray()).empty());
}

} // namespace
