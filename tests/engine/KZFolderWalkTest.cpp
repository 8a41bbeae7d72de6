// The folder walk on its own: how many folders it keeps open, how deep it
// goes, and what it does when the tree changes under it.

#include "EngineTestSupport.h"

#include "engine/KZFolderWalk.h"
#include "engine/KZItemReader.h"
#include "engine/KZObjectIDSet.h"
#include "engine/KZSourcePreparation.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace enginetest;

namespace {

std::size_t openDescriptors()
{
    std::size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

// Records what a walk hands on; `onFile` may change the tree mid-walk.
class RecordingWalk : public KZFolderWalk::Delegate {
public:
    explicit RecordingWalk(const KZSearchCriteria& criteria)
        : reader(criteria, {}, 0, nullptr, KZFilesUtilities::sharedControl())
    {
    }

    bool walkWasStopped() const override { return false; }
    bool readWalkedItem(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) override
    {
        return reader.setCurrVariables(item, label, attributes);
    }
    void walkedFile(KZSearchItemInfoRef item) override
    {
        mostOpen = std::max(mostOpen, openDescriptors());
        files.push_back(item->url());
        if (onFile)
            onFile(item->url());
    }
    void walkedFolder(KZSearchItemInfoRef item) override
    {
        mostOpen = std::max(mostOpen, openDescriptors());
        folders.push_back(item->url());
    }
    void folderNotListed(const fs::path& dir, int err) override { unlisted.emplace_back(dir, err); }
    void entryNotRead() override { ++notRead; }

    KZItemReader reader;
    std::function<void(const fs::path&)> onFile;
    std::vector<fs::path> files;
    std::vector<fs::path> folders;
    std::vector<std::pair<fs::path, int>> unlisted;
    int notRead = 0;
    std::size_t mostOpen = 0;
};

// A chain of `depth` folders named `name` below `top`, each made relative to
// its parent (the full path may pass what the system takes in one call), with
// a file named `file` every `every` levels and at the bottom. Answers the
// number of files.
int makeChain(const fs::path& top, int depth, const std::string& name, const char* file, int every)
{
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int files = 0;
    for (int level = 1; level <= depth && fd >= 0; ++level) {
        if (::mkdirat(fd, name.c_str(), 0755) != 0) {
            ::close(fd);
            return -1;
        }
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        if (fd >= 0 && (level % every == 0 || level == depth)) {
            const int out = ::openat(fd, file, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            files += out >= 0 && ::write(out, "bytes", 5) == 5 ? 1 : 0;
            if (out >= 0)
                ::close(out);
        }
    }
    if (fd < 0)
        return -1;
    ::close(fd);
    return files;
}

class KZFolderWalkTest : public ::testing::Test {
protected:
    void walk(RecordingWalk& delegate, const fs::path& root)
    {
        KZFolderWalk(criteria, delegate.reader, listed, delegate).walk(root, nullptr, 0);
    }

    KZSearchCriteria criteria;
    KZObjectIDSet listed;
    kztest::TempDir dir;
};

TEST_F(KZFolderWalkTest, DeepChainIsWalkedWithBoundedDescriptorsEachFolderAfterItsContents)
{
    constexpr int depth = 300; // far more than the open frames, and a path of 15,000 bytes
    const std::string name(49, 'f');
    const fs::path root = dir.mkdir("root");
    const int files = makeChain(root, depth, name, "file", 50);
    ASSERT_EQ(files, depth / 50);

    // The default budget of open folders, and the smaller one of a walk
    // beside several others.
    for (const std::size_t budget : {KZFolderWalk::kMaxOpenFolders, std::size_t(10)}) {
        SCOPED_TRACE(budget);
        RecordingWalk delegate(criteria);
        listed.clear();
        const std::size_t before = openDescriptors();
        KZFolderWalk(criteria, delegate.reader, listed, delegate, budget).walk(root, nullptr, 0);

        EXPECT_EQ(delegate.files.size(), std::size_t(files));
        ASSERT_EQ(delegate.folders.size(), std::size_t(depth));
        EXPECT_GT(delegate.folders.front().native().size(), std::size_t(PATH_MAX) * 3);
        for (std::size_t i = 1; i < delegate.folders.size(); ++i)
            ASSERT_EQ(delegate.folders[i], delegate.folders[i - 1].parent_path()) << "each folder after the one inside it";
        EXPECT_TRUE(delegate.unlisted.empty());
        // The open frames, the folder being listed below them and its listing.
        EXPECT_LE(delegate.mostOpen, before + budget + 2);
        EXPECT_EQ(openDescriptors(), before) << "every folder closed when the walk ends";
    }

    kztest::removeFolderChain(root, name);
}

// Two chains deeper than the open frames, side by side below `top`; the tree
// is changed when the walk reaches the bottom of the first one.
class KZFolderWalkMovedTest : public KZFolderWalkTest {
protected:
    static constexpr int kDepth = int(KZFolderWalk::kMaxOpenFolders) + 8;

    void SetUp() override
    {
        root = dir.mkdir("root");
        dir.mkdir("root/top");
        ASSERT_EQ(makeChain(dir / "root/top", 1, "x", "x-file", 1), 1);
        ASSERT_EQ(makeChain(dir / "root/top", 1, "y", "y-file", 1), 1);
        ASSERT_EQ(makeChain(dir / "root/top/x", kDepth, "n", "bottom", kDepth), 1);
        ASSERT_EQ(makeChain(dir / "root/top/y", kDepth, "n", "bottom", kDepth), 1);
    }

    // "x" or "y": the chain below root/top that `path` lies in.
    std::string chainOf(const fs::path& path) const
    {
        return path.lexically_relative(root / "top").begin()->native();
    }

    fs::path root;
};

TEST_F(KZFolderWalkMovedTest, AncestorRenamedWhileLetGoIsStillWalkedOnceByIdentity)
{
    RecordingWalk delegate(criteria);
    bool renamed = false;
    delegate.onFile = [&](const fs::path& file) {
        if (file.filename() == "bottom" && !renamed)
            renamed = ::rename((root / "top").c_str(), (root / "renamed").c_str()) == 0;
    };
    walk(delegate, root);

    ASSERT_TRUE(renamed);
    // Both chains whole, nothing twice, nothing left unlisted: the walk
    // climbed back into "top" by its identity, not by its old name.
    std::multiset<std::string> names;
    for (const fs::path& file : delegate.files)
        names.insert(file.filename().native());
    EXPECT_EQ(names, (std::multiset<std::string>{"bottom", "bottom", "x-file", "y-file"}));
    EXPECT_EQ(delegate.folders.size(), std::size_t(1 + 2 * (1 + kDepth)));
    EXPECT_EQ(std::set<fs::path>(delegate.folders.begin(), delegate.folders.end()).size(), delegate.folders.size());
    EXPECT_TRUE(delegate.unlisted.empty());
}

TEST_F(KZFolderWalkMovedTest, FolderMovedAwayAndItsParentReplacedLeavesTheRestUnlisted)
{
    dir.mkdir("outside");
    RecordingWalk delegate(criteria);
    std::string first;
    delegate.onFile = [&](const fs::path& file) {
        if (file.filename() != "bottom" || !first.empty())
            return;
        // The chain being walked leaves the tree, and a stranger takes the
        // place of the folder that held it.
        first = chainOf(file);
        ASSERT_EQ(::rename((root / "top" / first).c_str(), (dir / "outside" / first).c_str()), 0);
        ASSERT_EQ(::rename((root / "top").c_str(), (root / "old-top").c_str()), 0);
        dir.mkdir("root/top");
    };
    walk(delegate, root);

    ASSERT_FALSE(first.empty());
    const std::string other = first == "x" ? "y" : "x";
    // What was still to walk in the replaced folder cannot be reached safely:
    // it is reported, and nothing of it (nor of the stranger) is walked.
    ASSERT_EQ(delegate.unlisted.size(), 1u);
    EXPECT_EQ(delegate.unlisted[0].first, root / "top" / other);
    EXPECT_EQ(delegate.unlisted[0].second, ESTALE);
    for (const fs::path& file : delegate.files)
        EXPECT_EQ(chainOf(file), first) << file;
    EXPECT_EQ(delegate.files.size(), 2u);
}

} // namespace

// Another file system met on the way is walked unless it is one of the
// kernel's own: below "/" the walk passes over /proc, /sys and /dev, and
// hands on neither them nor anything inside them.
TEST_F(KZFolderWalkTest, TheKernelsOwnFileSystemsAreNotEntered)
{
    std::vector<fs::path> others;
    for (const fs::directory_entry& entry : fs::directory_iterator("/")) {
        const std::string name = entry.path().filename().native();
        if (name != "proc" && name != "sys" && name != "dev")
            others.push_back(entry.path());
    }
    RecordingWalk delegate(criteria);
    KZFolderWalk(criteria, delegate.reader, listed, delegate).walk("/", KZSourcePreparation::setupExcluded(others), 0);
    EXPECT_TRUE(delegate.files.empty()) << delegate.files.front();
    EXPECT_TRUE(delegate.folders.empty()) << delegate.folders.front();
    EXPECT_EQ(delegate.notRead, 0);
}
