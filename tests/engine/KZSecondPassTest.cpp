// Filing into a candidate tree on its own: who a duplicate joins, what the
// emptied tree hands on, and what is dropped before it meets anyone.

#include "EngineTestSupport.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZCrc32.h"
#include "engine/KZSecondPass.h"
#include "settings/KZSearchCriteria.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

using namespace enginetest;

namespace {

// Keeps what the pass hands back; a duplicate makes its tree node a group's
// head, as the controller does.
class RecordingFiling : public KZSecondPass::Delegate {
public:
    bool passWasStopped() const override { return false; }
    void candidateDropped() override { ++dropped; }
    void contentUnreadable() override { ++unreadable; }
    qint16 compareFolderContent(TreeToCheck&, TreeToCheck&) override { return KZCompare::kNotComparable; }
    qint16 compareFoundFolders(TreeToCheck&, TreeToCheck&) override { return KZCompare::kSame; }
    void joinGroup(TreeToCheck& here, std::unique_ptr<TreeToCheck> node) override
    {
        here.inGroup = true;
        joined.emplace_back(here.item->url(), node->item->url());
    }
    void foundInTree(std::unique_ptr<TreeToCheck> node) override { found.push_back(node->item->url()); }

    int dropped = 0;
    int unreadable = 0;
    std::vector<std::pair<fs::path, fs::path>> joined; // (tree node, candidate)
    std::vector<fs::path> found;
};

std::unique_ptr<TreeToCheck> candidate(const char* name, quint64 size)
{
    auto info = item(fs::path("/files") / name, str(name));
    info->setTotSize(size);
    return TreeToCheck::create(std::move(info));
}

QVariantMap bySize(const char* which)
{
    return {{str("isSize"), true}, {str("sizeStruct"), QVariantMap{{str(which), true}}}};
}

// A pass over its own criteria, filing into a RecordingFiling.
struct Filing {
    explicit Filing(const QVariantMap& request) : criteria(request), pass(criteria, nullptr, readingIsTerminated, filed) {}
    const KZSearchCriteria criteria;
    const std::atomic<bool> readingIsTerminated{false};
    RecordingFiling filed;
    KZSecondPass pass;
};

void fileAll(KZSecondPass& pass)
{
    for (const auto& [name, size] : std::vector<std::pair<const char*, quint64>>{
             {"a5", 5}, {"b7", 7}, {"c5", 5}, {"d9", 9}, {"e5", 5}})
        pass.addNode(candidate(name, size), KZSecondPass::Tree::Main);
}

TEST(KZSecondPass, DuplicatesJoinTheFirstNodeAndOnlyGroupHeadsLeaveTheTree)
{
    Filing run(bySize("isSame"));
    RecordingFiling& filing = run.filed;
    KZSecondPass& pass = run.pass;
    fileAll(pass);

    using Pair = std::pair<fs::path, fs::path>;
    EXPECT_EQ(filing.joined, (std::vector<Pair>{{"/files/a5", "/files/c5"}, {"/files/a5", "/files/e5"}}));
    pass.emptyTree(KZSecondPass::Tree::Main);
    EXPECT_EQ(filing.found, (std::vector<fs::path>{"/files/a5"}));
    EXPECT_EQ(pass.mainTree(), nullptr);
    EXPECT_EQ(filing.dropped, 0);
}

TEST(KZSecondPass, UniqueSearchHandsOnTheNodesThatMetNoDuplicate)
{
    Filing run(bySize("isUnique"));
    RecordingFiling& filing = run.filed;
    fileAll(run.pass);
    run.pass.emptyTree(KZSecondPass::Tree::Main);

    std::sort(filing.found.begin(), filing.found.end());
    EXPECT_EQ(filing.found, (std::vector<fs::path>{"/files/b7", "/files/d9"}));
}

TEST(KZSecondPass, UnreadableCandidateIsCountedAndDroppedBeforeItMeetsAnyone)
{
    QVariantMap request = bySize("isSame");
    request.insert(str("isContent"), true);
    request.insert(str("contentStruct"), QVariantMap{{str("isData"), true}});
    Filing run(request);
    RecordingFiling& filing = run.filed;
    KZSecondPass& pass = run.pass;

    auto node = candidate("gone", 5);
    node->item->setIsContentUnreadable(true);
    pass.addNode(std::move(node), KZSecondPass::Tree::Main);

    EXPECT_EQ(filing.unreadable, 1);
    EXPECT_EQ(filing.dropped, 1);
    EXPECT_EQ(pass.mainTree(), nullptr);
}

TEST(KZSecondPass, GroupHeadWhoseFileFailsLeavesTheTreeAndOtherSizesStillMeet)
{
    // Two names of one file form a group without a read. When a later
    // candidate of that size needs the file's bytes and they cannot be
    // read, the head must not stand in the way of candidates of other
    // sizes: a copy filed after the failure still meets its original, and
    // the head is still handed on as found, its file opened once.
    kztest::TempDir dir;
    const fs::path head = dir.write("head", randomBytes(100, 1));
    const fs::path link = dir / "link";
    fs::create_hard_link(head, link);
    const fs::path other = dir.write("other", randomBytes(100, 2));
    const fs::path small = dir.write("small", randomBytes(50, 3));
    const fs::path copy = dir.write("copy", randomBytes(50, 3));

    QVariantMap request = bySize("isSame");
    request.insert(str("isContent"), true);
    request.insert(str("contentStruct"), QVariantMap{{str("isData"), true}});
    const KZSearchCriteria criteria(request);
    const std::atomic<bool> readingIsTerminated{false};
    ObservingReader reader;
    reader.refused = head;
    KZCrc32 crc32(nullptr, &reader);
    RecordingFiling filing;
    KZSecondPass pass(criteria, &crc32, readingIsTerminated, filing);

    for (const fs::path& path : {head, link, small, other, copy}) {
        auto info = item(path, QString::fromStdString(path.filename().native()));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        info->setTotSize(quint64(st.st_size));
        info->setIsRegularFile(true);
        info->setDevice(quint64(st.st_dev));
        info->setInode(quint64(st.st_ino));
        info->setLinkCount(quint64(st.st_nlink));
        pass.addNode(TreeToCheck::create(std::move(info)), KZSecondPass::Tree::Main);
    }
    using Pair = std::pair<fs::path, fs::path>;
    EXPECT_EQ(filing.joined, (std::vector<Pair>{{head, link}, {small, copy}}));
    EXPECT_EQ(filing.unreadable, 1);
    EXPECT_EQ(reader.attempts[head], 1);
    pass.emptyTree(KZSecondPass::Tree::Main);
    std::sort(filing.found.begin(), filing.found.end());
    EXPECT_EQ(filing.found, (std::vector<fs::path>{head, small}));
}

// Of one size, files are told from folders and packages before any read:
// nothing is read as a file that is not one, nothing is counted
// unreadable, and in every order of filing each package still meets its
// twin past the files of its size, and each file its own.
TEST(KZSecondPass, PackagesAndFoldersPassFilesOfTheirSizeUnreadAndStillMeetTheirTwins)
{
    kztest::TempDir dir;
    const std::string body = randomBytes(1000, 1);
    const fs::path file = dir.write("A/file", body);
    const fs::path copy = dir.write("B/file", body);
    const fs::path package = dir.write("A/Tool.app/Contents/tool", body).parent_path().parent_path();
    const fs::path twin = dir.write("B/Tool.app/Contents/tool", body).parent_path().parent_path();
    const fs::path other = dir.write("C/Other.app/Contents/tool", randomBytes(1000, 2)).parent_path().parent_path();
    const fs::path folder = dir.write("C/folder/tool", body).parent_path();

    QVariantMap request = bySize("isSame");
    request.insert(str("isContent"), true);
    request.insert(str("contentStruct"), QVariantMap{{str("isData"), true}});
    const KZSearchCriteria criteria(request);
    const std::atomic<bool> readingIsTerminated{false};
    std::vector<fs::path> order{file, copy, package, twin, other, folder};
    std::sort(order.begin(), order.end());
    do {
        ObservingReader reader;
        KZCrc32 crc32(nullptr, &reader);
        RecordingFiling filing;
        KZSecondPass pass(criteria, &crc32, readingIsTerminated, filing);
        for (const fs::path& path : order) {
            auto info = item(path, QString::fromStdString(path.filename().native()));
            info->setTotSize(1000);
            const bool isFile = path.filename() == "file";
            info->setIsRegularFile(isFile);
            info->setIsDirectory(!isFile);
            info->setIsPackage(path.extension() == ".app");
            pass.addNode(TreeToCheck::create(std::move(info)), KZSecondPass::Tree::Main);
        }
        std::set<std::set<fs::path>> met;
        for (const auto& [here, candidate] : filing.joined)
            met.insert({here, candidate});
        EXPECT_EQ(met, (std::set<std::set<fs::path>>{{file, copy}, {package, twin}}));
        EXPECT_EQ(filing.unreadable, 0);
        EXPECT_EQ(filing.dropped, 0);
        for (const fs::path& notFile : {package, twin, other, folder})
            EXPECT_EQ(reader.attempts[notFile], 0) << notFile << " read as a file";
        pass.emptyTree(KZSecondPass::Tree::Main);
        if (::testing::Test::HasFailure())
            break;
    } while (std::next_permutation(order.begin(), order.end()));
}

} // namespace
