// Filing into a candidate tree on its own: who a duplicate joins, what the
// emptied tree hands on, and what is dropped before it meets anyone.

#include "EngineTestSupport.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZSecondPass.h"
#include "settings/KZSearchCriteria.h"

#include <gtest/gtest.h>

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

} // namespace
