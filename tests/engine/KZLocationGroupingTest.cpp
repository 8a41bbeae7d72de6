#include "engine/KZLocationGrouping.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <filesystem>

#include <cstdio>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct RecordingDelegate : KZLocationGroupingDelegate {
    int stopAfter = -1; // answers to nsWasStopped before it says yes
    int asked = 0;
    quint64 lastCount = 0;
    bool nsWasStopped() override { return stopAfter >= 0 && asked++ >= stopAfter; }
    void setAlreadyCheckedCount(quint64 count) override { lastCount = count; }
};

std::vector<std::string> keptNames(const kztest::TempDir& dir, const std::vector<KZLocationEntry>& entries,
                                   KZLocationGroupingDelegate* delegate = nullptr)
{
    std::vector<std::string> names;
    for (const size_t index : KZGroupItemsByLocation(entries, delegate))
        names.push_back(entries[index].path.lexically_relative(dir.path()).string());
    return names;
}

} // namespace

TEST(KZLocationGrouping, DropsItemsInsideListedFolders)
{
    kztest::TempDir dir;
    dir.write("A/x", "1");
    dir.write("A/deep/z", "1");
    dir.write("B/y", "1");
    fs::create_hard_link(dir / "B/y", dir / "B/link");
    fs::create_directory_symlink(dir / "A", dir / "viaLink");

    struct Case {
        const char* what;
        std::vector<KZLocationEntry> entries;
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {"folder and its file", {{dir / "A", true}, {dir / "A/x"}, {dir / "B/y"}}, {"B/y", "A"}},
        {"nested deeper", {{dir / "A/deep/z"}, {dir / "A", true}}, {"A"}},
        {"no folders: reversed", {{dir / "A/x"}, {dir / "B/y"}, {dir / "A/deep/z"}}, {"A/deep/z", "B/y", "A/x"}},
        {"same path twice", {{dir / "A", true}, {dir / "A", true}}, {"A", "A"}},
        {"hard links", {{dir / "B/y"}, {dir / "B/link"}}, {"B/link", "B/y"}},
        {"missing item left out", {{dir / "gone"}, {dir / "B/y"}}, {"B/y"}},
        {"a folder that is not marked as one", {{dir / "A"}, {dir / "A/x"}}, {"A/x", "A"}},
        // A file reached through a link to a listed folder lies in it.
        {"through a link", {{dir / "A", true}, {dir / "viaLink/x"}}, {"A"}},
        {"one element comes back as is", {{dir / "gone"}}, {"gone"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(keptNames(dir, c.entries), c.kept) << c.what;
}

TEST(KZLocationGrouping, AStopKeepsWhatWasGathered)
{
    kztest::TempDir dir;
    dir.write("A/x", "1");
    dir.write("B/y", "1");
    RecordingDelegate delegate;
    delegate.stopAfter = 1;
    EXPECT_EQ(keptNames(dir, {{dir / "A", true}, {dir / "A/x"}, {dir / "B/y"}}, &delegate),
              (std::vector<std::string>{"A"}));
    RecordingDelegate counting;
    keptNames(dir, {{dir / "A/x"}, {dir / "B/y"}}, &counting);
    EXPECT_EQ(counting.lastCount, 2u);
}

// The status line says "comparing" for every list gathered, folders or not;
// only a list with a folder runs the comparing step itself.
TEST(KZLocationGrouping, TellsItsStepsAndComparesOnlyWhenAFolderIsListed)
{
    kztest::TempDir dir;
    dir.write("A/x", "1");
    dir.write("B/y", "1");
    struct StepDelegate : KZLocationGroupingDelegate {
        std::vector<int> steps;
        QStringList texts;
        void groupingStepBegan(int step) override { steps.push_back(step); }
        void updateFieldInfoWithString(const QString& key) override { texts << key; }
    };
    const QStringList both{QStringLiteral("gathering_data"), QStringLiteral("comparing")};
    struct Case {
        const char* what;
        std::vector<KZLocationEntry> entries;
        std::vector<int> steps;
        QStringList texts;
    };
    const Case cases[] = {
        {"a folder among the items", {{dir / "A", true}, {dir / "A/x"}}, {2, 3}, both},
        {"files only", {{dir / "A/x"}, {dir / "B/y"}}, {2}, both},
        {"nothing could be examined", {{dir / "gone"}, {dir / "lost"}}, {2}, {QStringLiteral("gathering_data")}},
        {"one item is not grouped", {{dir / "A", true}}, {}, {}},
    };
    for (const Case& c : cases) {
        StepDelegate delegate;
        KZGroupItemsByLocation(c.entries, &delegate);
        EXPECT_EQ(delegate.steps, c.steps) << c.what;
        EXPECT_EQ(delegate.texts, c.texts) << c.what;
    }
}

// Inode numbers repeat from one disk to the next: a listed folder on one
// disk never takes in an item on another whose folder has its number.
TEST(KZLocationGrouping, AFolderOnAnotherDiskWithTheSameNumberTakesNothingIn)
{
    kztest::TempDir dir;
    const kztest::Isolated outcome = kztest::runWithPrivateMounts([&] {
        kztest::mountTmpfs(dir / "one");
        kztest::mountTmpfs(dir / "two");
        // Made in the same order on two fresh disks, the folders get the
        // same number where each disk counts its own.
        fs::create_directory(dir / "one/A");
        fs::create_directory(dir / "two/A");
        dir.write("two/A/x", "1");
        struct stat one {};
        struct stat two {};
        ASSERT_EQ(::lstat((dir / "one/A").c_str(), &one), 0);
        ASSERT_EQ(::lstat((dir / "two/A").c_str(), &two), 0);
        EXPECT_NE(one.st_dev, two.st_dev);
        if (one.st_ino != two.st_ino)
            std::printf("this kernel numbers both disks' inodes from one counter: nothing is shared\n");
        EXPECT_EQ(keptNames(dir, {{dir / "one/A", true}, {dir / "two/A/x"}}),
                  (std::vector<std::string>{"two/A/x", "one/A"}));
        // The same folder on its own disk still takes its file in.
        EXPECT_EQ(keptNames(dir, {{dir / "two/A", true}, {dir / "two/A/x"}}), (std::vector<std::string>{"two/A"}));
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "this machine gives no private mount namespace or refuses a tmpfs there";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
