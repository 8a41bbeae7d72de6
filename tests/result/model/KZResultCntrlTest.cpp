#include "MarkingTestSupport.h"
#include "ResultCntrlFakes.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "result/model/KZMarkingRequest.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace markingtest;
using namespace resulttest;
namespace K = KZMarkingKey;
namespace fs = std::filesystem;

namespace {

constexpr quint64 kDeads = static_cast<quint64>(KZTag::missingTracks);
constexpr quint64 kEmpty = static_cast<quint64>(KZTag::emptyFolders);

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

class CountingPresenter : public KZAlertPresenter {
public:
    std::atomic<int> shown{0};
    Answer runModal(const Alert&) override
    {
        ++shown;
        return {};
    }
    void beginSheet(const Alert&) override { ++shown; }
};

// Counts the posts of one notification name for any object.
class Counter {
public:
    explicit Counter(const QString& name)
        : subscription_(center().addObserver(name, {}, [this](const platform::Notification& note) {
              std::lock_guard guard(lock_);
              notes_.push_back(note);
          }))
    {
    }
    int count() const
    {
        std::lock_guard guard(lock_);
        return static_cast<int>(notes_.size());
    }
    platform::Notification last() const
    {
        std::lock_guard guard(lock_);
        return notes_.back();
    }

private:
    mutable std::mutex lock_;
    std::vector<platform::Notification> notes_;
    platform::Subscription subscription_;
};

class ResultCntrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(nullptr);
        KZDefaultsRegistry::setupDefaultsPreferences();
        presenter = std::make_shared<CountingPresenter>();
        KZErrorDelegate::sharedControl().setPresenter(presenter);
    }
    void TearDown() override
    {
        cntrl.reset();
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
    }

    // Makes the controller for a result of `shapes` on the tabs `tags`, and
    // waits until its model has built and marked the items.
    void makeResult(std::vector<quint64> tags, const std::vector<ItemShape>& shapes, bool deads = false,
                    qint16 types = 2)
    {
        host.strip.tagsToCreate = std::move(tags);
        const QVariantMap info = infoFor(shapes, deads, types);
        Counter started(KZNotification::startToShowItems);
        cntrl = std::make_unique<KZResultCntrl>(info, &host);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return started.count() == 1; }));
    }

    static QVariantMap infoFor(const std::vector<ItemShape>& shapes, bool deads = false, qint16 types = 2)
    {
        QVariantMap fileTypes;
        for (qint16 i = 0; i < types; ++i)
            fileTypes.insert(QString::number(3 + i), QVariant());
        auto request = KZSearchStuff::searchStuff();
        const QVariantMap info{{QStringLiteral("KZResultFoundItems"), parcelOf(shapes)},
                               {QStringLiteral("KZResultFoundItemsCount"), quint64(shapes.size())},
                               {QStringLiteral("KZResultFoundFileTypes"), fileTypes},
                               {QStringLiteral("KZResultSearchedForDeads"), deads},
                               {QStringLiteral("KZResultCurrentLocationLabel"), QVariant::fromValue<qint16>(1)},
                               {QStringLiteral("KZResultIsRestoreOfSaved"), false},
                               {QStringLiteral("KZResultSearchStuffItem"), QVariant::fromValue(request)},
                               {QStringLiteral("KZResultIsSavedItemsToRestore"), QVariantMap()}};
        return info;
    }

    FakeTabCntrl& tab(quint64 tag) { return *host.made.at(tag); }
    void postReady() { center().post(KZNotification::KZListsReadyToShow, static_cast<const void*>(cntrl.get())); }
    QVariantMap markRequest(int rule, int check, quint64 owner, quint64 tag) const
    {
        return {{K::menuItemTag, rule},
                {K::checkBtnState, check},
                {K::ownerTag, QVariant::fromValue(owner)},
                {K::itemsToManageTag, QVariant::fromValue(tag)}};
    }

    FakeHost host;
    std::shared_ptr<CountingPresenter> presenter;
    std::unique_ptr<KZResultCntrl> cntrl;
};

ItemShape shape(qint64 group, qint16 label, quint64 type, double date = 1)
{
    ItemShape s;
    s.group = group;
    s.label = label;
    s.type = type;
    s.date = date;
    return s;
}

const std::vector<ItemShape> kTwoTypes{shape(1, 0, 3, 1), shape(1, 1, 3, 2), shape(2, 0, 4, 1), shape(2, 1, 4, 2)};

// ---- Start-up hand-shake ----------------------------------------------------------------------

TEST_F(ResultCntrlTest, DeadTracksAndTwoTypesNeedTwoListsBeforeReady)
{
    Counter ready(KZNotification::resultIsReady);
    makeResult({3, 4, kDeads}, kTwoTypes, true);
    EXPECT_EQ(cntrl->listToCreate(), 2);
    postReady();
    EXPECT_EQ(ready.count(), 0);
    postReady();
    EXPECT_EQ(ready.count(), 1);
    postReady();
    EXPECT_EQ(ready.count(), 1);
    EXPECT_EQ(ready.last().userInfo.value(QStringLiteral("resultCntrl")).value<KZResultCntrl*>(), cntrl.get());
}

TEST_F(ResultCntrlTest, ReportsFromManyThreadsGiveOneReady)
{
    Counter ready(KZNotification::resultIsReady);
    makeResult({0, 1, 2, 3, 4, 5, 6, 7}, kTwoTypes);
    ASSERT_EQ(cntrl->listToCreate(), 8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([this] {
            for (int j = 0; j < 3; ++j)
                postReady();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(ready.count(), 1);
    EXPECT_EQ(cntrl->listToCreate(), 0);
}

TEST_F(ResultCntrlTest, MissingTracksAloneIsReadyWithoutLists)
{
    Counter ready(KZNotification::resultIsReady);
    makeResult({kDeads}, {shape(1, 0, 3), shape(1, 1, 3)}, true);
    EXPECT_EQ(cntrl->listToCreate(), 0);
    EXPECT_EQ(ready.count(), 1);
}

TEST_F(ResultCntrlTest, OnlyItsOwnModelStartsTheHandShake)
{
    host.strip.tagsToCreate = {3};
    const auto stranger = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    Counter started(KZNotification::startToShowItems);
    std::atomic<int> startedMeanwhile{-1};
    std::atomic<bool> posting{false};
    // Registered first, so it sees this result's post before the controller
    // does: another result finishes right then, and a post without a model.
    platform::Subscription interloper = center().addObserver(
        KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(), [&](const platform::Notification&) {
            if (posting.exchange(true))
                return;
            center().post(KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(),
                          {{QStringLiteral("foundItemsCntrl"), QVariant::fromValue(stranger)}});
            center().post(KZNotification::resultSetupDidTerminate, platform::bundleIdentifier());
            startedMeanwhile = started.count();
        });
    cntrl = std::make_unique<KZResultCntrl>(infoFor(kTwoTypes), &host);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return started.count() == 1; }));
    EXPECT_EQ(startedMeanwhile.load(), 0);
    EXPECT_EQ(started.last().userInfo.value(QStringLiteral("foundItemsCntrl")).value<std::shared_ptr<KZFoundItemsCntrl>>(),
              cntrl->foundItemsCntrl());
}

TEST_F(ResultCntrlTest, AModelDoneAtOnceStillHandsItselfOver)
{
    // An empty result builds in no time, possibly before the constructor has
    // stored the model; the hand-shake must carry the model all the same.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        host.strip.tabs.clear();
        host.strip.tagsToCreate = {kDeads};
        Counter started(KZNotification::startToShowItems);
        Counter ready(KZNotification::resultIsReady);
        cntrl = std::make_unique<KZResultCntrl>(infoFor({}, true), &host);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return ready.count() == 1; }));
        const auto model = [](const platform::Notification& note) {
            return note.userInfo.value(QStringLiteral("foundItemsCntrl")).value<std::shared_ptr<KZFoundItemsCntrl>>();
        };
        ASSERT_TRUE(cntrl->foundItemsCntrl());
        EXPECT_EQ(model(started.last()), cntrl->foundItemsCntrl());
        EXPECT_EQ(model(ready.last()), cntrl->foundItemsCntrl());
        cntrl.reset();
    }
}

TEST_F(ResultCntrlTest, ClosingWaitsForTheSetUpBeingAnnounced)
{
    host.strip.tagsToCreate = {3, 4};
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    platform::Subscription slow =
        center().addObserver(KZNotification::startToShowItems, {}, [&](const platform::Notification&) {
            entered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            finished = true;
        });
    cntrl = std::make_unique<KZResultCntrl>(infoFor(kTwoTypes), &host);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return entered.load(); }));
    // The announcement runs on the model's queue and reads the controller
    // after the post: the controller may only go once it is over.
    cntrl.reset();
    EXPECT_TRUE(finished.load());
}

TEST_F(ResultCntrlTest, ClosingWaitsForTheReadyAnnouncementInProgress)
{
    makeResult({3}, {shape(1, 0, 3), shape(1, 1, 3)}, false, 1);
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    platform::Subscription slow =
        center().addObserver(KZNotification::resultIsReady, {}, [&](const platform::Notification&) {
            entered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            finished = true;
        });
    const void* object = cntrl.get();
    std::thread lists([object] { center().post(KZNotification::KZListsReadyToShow, object); });
    while (!entered.load())
        std::this_thread::yield();
    cntrl.reset();
    EXPECT_TRUE(finished.load());
    lists.join();
}

TEST_F(ResultCntrlTest, TabsAreMadeInTagOrderAndStartHidden)
{
    makeResult({4, kDeads, 0, 3}, kTwoTypes, true);
    EXPECT_EQ(host.viewsAdded, (std::vector<quint64>{0, 3, 4, kDeads}));
    for (const auto& [tag, made] : host.made)
        EXPECT_TRUE(made->hidden) << tag;
    EXPECT_TRUE(tab(kDeads).info.contains(QStringLiteral("KZResultFoundDeads")));
    EXPECT_FALSE(tab(3).info.contains(QStringLiteral("KZResultFoundDeads")));
    EXPECT_EQ(tab(3).info.value(QStringLiteral("tab")).value<QObject*>(), host.strip.tabView(3));
}

// ---- Tab selection ------------------------------------------------------------------------------

TEST_F(ResultCntrlTest, ASingleTabIsShownWhateverTagIsAsked)
{
    makeResult({3}, {shape(1, 0, 3), shape(1, 1, 3)}, false, 1);
    center().post(KZNotification::showViewWithSelection, static_cast<const void*>(&host.windowObject),
                  {{QStringLiteral("tag"), 99}});
    EXPECT_FALSE(tab(3).hidden);
    EXPECT_EQ(host.currentTab, 3u);
}

TEST_F(ResultCntrlTest, SelectingATabHidesTheVisibleOthers)
{
    makeResult({0, 3, 4}, kTwoTypes);
    tab(0).hidden = false;
    Counter willHide(KZNotification::superviewWillHide);
    center().post(KZNotification::showViewWithSelection, static_cast<const void*>(&host.windowObject),
                  {{QStringLiteral("tag"), 4}});
    EXPECT_EQ(willHide.count(), 1);
    EXPECT_EQ(willHide.last().object.pointer(), tab(0).resultView());
    EXPECT_TRUE(tab(0).hidden);
    EXPECT_TRUE(tab(3).hidden);
    EXPECT_FALSE(tab(4).hidden);
    EXPECT_EQ(host.currentTab, 4u);
}

// ---- Tabs added and removed ------------------------------------------------------------------------

TEST_F(ResultCntrlTest, ABuiltInLabelComingBackBringsItsExtensions)
{
    makeResult({0, 1, 4}, kTwoTypes);
    Counter changed(KZNotification::fileTypeExtensionsDidChange);
    const qint16 before = cntrl->foundItemsCntrl()->fileTypesFoundCount();

    host.strip.addTab(3);
    center().post(KZNotification::createNewAddedFileType, static_cast<const void*>(&host.windowObject),
                  {{QStringLiteral("tag"), 3}});
    ASSERT_TRUE(host.made.count(3));
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), before + 1);
    EXPECT_EQ(tab(3).info.value(QStringLiteral("KZResultIsEmptyFolders")), QVariant(false));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed.last().object, platform::NotificationObject::number(3));
    EXPECT_TRUE(changed.last().userInfo.contains(QStringLiteral("labels_extension")));

    // A user's label has no factory extensions to bring back.
    host.strip.addTab(9);
    center().post(KZNotification::createNewAddedFileType, static_cast<const void*>(&host.windowObject),
                  {{QStringLiteral("tag"), 9}});
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), before + 2);
}

TEST_F(ResultCntrlTest, RemovingAFileTypeTabMovesItsItems)
{
    std::vector<ItemShape> shapes = kTwoTypes;
    for (ItemShape& s : shapes)
        s.path = fs::path("/nonexistent/marking") / ("file" + std::to_string(s.group) + std::to_string(s.label) + ".zzz");
    makeResult({0, 1, 3, 4}, shapes);
    center().post(KZNotification::deleteRemovedFiletype, static_cast<const void*>(&host.windowObject),
                  {{QStringLiteral("tag"), 3}});
    EXPECT_FALSE(cntrl->itemsTypeCntrl(3));
    EXPECT_EQ(host.viewsRemoved, std::vector<quint64>{3});
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), 1);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return tab(1).filesListUpdates == 1; }));
    for (const KZFoundItemRef& item : cntrl->foundItemsCntrl()->allItems())
        EXPECT_NE(item->fileTypeTag(), 3u);
}

TEST_F(ResultCntrlTest, RemovingTheEmptyFoldersTabDropsTheEmptyFolders)
{
    makeResult({0, 3, 4}, kTwoTypes);
    cntrl->setupEmptyFolders({{QStringLiteral("KZResultFoundItemsCount"), 1},
                              {QStringLiteral("KZResultFoundItems"), parcelOf({shape(9, 0, 2)})},
                              {QStringLiteral("KZResultIsEmptyFolders"), true}});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cntrl->itemsTypeCntrl(kEmpty) != nullptr; }));
    ASSERT_TRUE(cntrl->foundItemsCntrl()->allEmptyFolders().has_value());

    center().post(KZNotification::deleteRemovedFiletype, static_cast<const void*>(&host.windowObject),
                  {{QStringLiteral("tag"), QVariant::fromValue(kEmpty)}});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->foundItemsCntrl()->allEmptyFolders().has_value(); }));
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), 2);
}

// ---- Marking requests ------------------------------------------------------------------------------

TEST_F(ResultCntrlTest, MarkingUpdatesTheTabsItChanged)
{
    makeResult({0, 3, 4}, kTwoTypes);
    // Unmark tab 3 from its own row: only tabs 0 and 3 change.
    QVariantMap request = markRequest(1, 0, 3, 3);
    request.insert(K::menuItemTagToRestore, 2);
    center().post(KZNotification::markItemsByUserChoice, static_cast<const void*>(cntrl.get()), request);

    EXPECT_EQ(tab(3).configurationsSaved, 1);
    EXPECT_TRUE(tab(4).markedUpdates.empty());
    ASSERT_EQ(tab(3).markedUpdates.size(), 1u);
    ASSERT_EQ(tab(0).markedUpdates.size(), 1u);
    const QVariantMap update = tab(3).markedUpdates.front();
    EXPECT_EQ(update.value(QStringLiteral("addValue")), QVariant(false));
    EXPECT_EQ(update.value(QStringLiteral("oldMenuItamTag")).toInt(), 1);
    EXPECT_EQ(update.value(QStringLiteral("menuItemTagToRestore")).toInt(), 2);
    EXPECT_EQ(update.value(QStringLiteral("firstTabTag")).toULongLong(), 0u);
    EXPECT_EQ(update.value(QStringLiteral("locationTag")).toLongLong(), std::numeric_limits<qint64>::max());
    const auto managed = update.value(QStringLiteral("managedTags")).value<QList<quint64>>();
    EXPECT_EQ(managed.first(), 3u);
    EXPECT_EQ(update.value(QStringLiteral("info")).value<KZViewToUpdateRef>()->managedCount(), 1);
    EXPECT_EQ(presenter->shown.load(), 0);
}

TEST_F(ResultCntrlTest, MarkingASingleTypeBesideMissingTracksReachesItsTab)
{
    makeResult({3, kDeads}, {shape(1, 0, 3, 1), shape(1, 1, 3, 2)}, true, 1);
    cntrl->markItemsWithDictionary(markRequest(1, 0, 3, 3)); // unmark the tab
    ASSERT_EQ(tab(3).markedUpdates.size(), 1u);
    EXPECT_EQ(tab(3).markedUpdates.front().value(QStringLiteral("info")).value<KZViewToUpdateRef>()->managedCount(), 1);
    EXPECT_TRUE(tab(kDeads).markedUpdates.empty());
    EXPECT_EQ(presenter->shown.load(), 0);
}

TEST_F(ResultCntrlTest, AMarkingThatChangesNothingSaysSo)
{
    makeResult({0, 3, 4}, kTwoTypes);
    // The default marking is in place already.
    cntrl->markItemsWithDictionary(markRequest(1, 1, 0, 0));
    EXPECT_EQ(presenter->shown.load(), 1);
    // Not for a restore, nor on the empty-folders tab.
    QVariantMap restore = markRequest(8, 1, 0, 0);
    restore.insert(K::itemsToManage, QVariant::fromValue(KZMarkSnapshot()));
    cntrl->markItemsWithDictionary(restore);
    cntrl->markItemsWithDictionary(markRequest(1, 1, kEmpty, kEmpty));
    EXPECT_EQ(presenter->shown.load(), 1);
}

TEST_F(ResultCntrlTest, ARequestWithoutOwnerOnlyBeeps)
{
    makeResult({0, 3, 4}, kTwoTypes);
    const std::string before = marksOf(cntrl->foundItemsCntrl()->allItems());
    cntrl->markItemsWithDictionary({{K::menuItemTag, 7}, {K::checkBtnState, 1}});
    EXPECT_EQ(host.beeps, 1);
    EXPECT_EQ(marksOf(cntrl->foundItemsCntrl()->allItems()), before);
    EXPECT_EQ(presenter->shown.load(), 0);
}

TEST_F(ResultCntrlTest, ByChosenFolderWaitsForTheChooser)
{
    kztest::TempDir dir;
    std::vector<ItemShape> shapes{shape(1, 0, 3, 5), shape(1, 1, 3, 1)};
    shapes[0].path = dir.write("A/x", "1");
    shapes[1].path = dir.write("B/x", "1");
    makeResult({3}, shapes, false, 1);
    const std::string before = marksOf(cntrl->foundItemsCntrl()->allItems());
    ASSERT_EQ(before, "01");

    center().post(KZNotification::markItemsByUserChoice, static_cast<const void*>(cntrl.get()),
                  markRequest(4, 1, 3, 3));
    ASSERT_EQ(host.chooserSettings.size(), 1u);
    EXPECT_EQ(host.chooserSettings.front().value(QStringLiteral("prompt")).toString(), QStringLiteral("ask_add_location"));
    EXPECT_EQ(host.chooserSettings.front().value(QStringLiteral("allowsMultipleSelection")), QVariant(false));

    // Cancelled: nothing changes and nothing is said.
    host.pendingAnswer(0, markRequest(4, 1, 3, 3));
    EXPECT_EQ(marksOf(cntrl->foundItemsCntrl()->allItems()), before);
    EXPECT_EQ(presenter->shown.load(), 0);
    EXPECT_TRUE(tab(3).markedUpdates.empty());

    QVariantMap chosen = markRequest(4, 1, 3, 3);
    chosen.insert(K::urls, QVariant::fromValue(QList<QUrl>{KZFilesUtilities::fileURLWithPath(dir / "A")}));
    host.pendingAnswer(1, chosen);
    EXPECT_EQ(marksOf(cntrl->foundItemsCntrl()->allItems()), "10");
    EXPECT_EQ(tab(3).markedUpdates.size(), 1u);
}

// ---- After a removal ---------------------------------------------------------------------------------

TEST_F(ResultCntrlTest, ARemovalUpdatesTheTabsOfTheRemovedItems)
{
    makeResult({0, 3, 4}, kTwoTypes);
    const KZFoundItemArray marked = cntrl->foundItemsCntrl()->markedItemsWithOwnerTag(4, nullptr);
    ASSERT_EQ(marked.size(), 1);
    cntrl->prepareUpdateWithDictionary({{QStringLiteral("removedItems"), QVariant::fromValue(marked)}});
    EXPECT_EQ(cntrl->foundItemsCntrl()->allItems().size(), 3);
    EXPECT_EQ(tab(4).removedUpdates.size(), 1u);
    EXPECT_EQ(tab(0).removedUpdates.size(), 1u);
    EXPECT_TRUE(tab(3).removedUpdates.empty());
}

// ---- Empty-folders follow-up ----------------------------------------------------------------------------

TEST_F(ResultCntrlTest, ASecondFollowUpRefreshesTheExistingTab)
{
    makeResult({0, 3, 4}, kTwoTypes);
    Counter added(KZNotification::emptyFoldersWereAdded);
    auto followUp = [&](qint64 group) {
        cntrl->setupEmptyFolders({{QStringLiteral("KZResultFoundItemsCount"), 1},
                                  {QStringLiteral("KZResultFoundItems"), parcelOf({shape(group, 0, 2)})},
                                  {QStringLiteral("KZResultIsEmptyFolders"), true}});
    };
    followUp(10);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cntrl->itemsTypeCntrl(kEmpty) != nullptr; }));
    EXPECT_EQ(host.strip.emptyFoldersTabsMade, 1);
    EXPECT_EQ(added.count(), 0);
    EXPECT_FALSE(tab(kEmpty).info.contains(QStringLiteral("KZResultIsEmptyFolders")));

    followUp(11);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return added.count() == 1; }));
    EXPECT_EQ(host.strip.emptyFoldersTabsMade, 1);
    EXPECT_EQ(added.last().object, platform::NotificationObject::number(static_cast<qint64>(kEmpty)));
    EXPECT_EQ(cntrl->foundItemsCntrl()->allEmptyFolders()->size(), 2);

    // A search that found nothing changes nothing.
    cntrl->setupEmptyFolders({{QStringLiteral("KZResultFoundItemsCount"), 0}});
    EXPECT_EQ(cntrl->foundItemsCntrl()->allEmptyFolders()->size(), 2);
}

TEST_F(ResultCntrlTest, TheFollowUpSearchFindsTheEmptiedFolders)
{
    makeResult({0, 3, 4}, kTwoTypes);
    kztest::TempDir dir;
    const fs::path emptied = dir.mkdir("emptied");
    dir.write("kept/file", "data");
    cntrl->prepareToSearchForEmptyFolders(
        {QVariantMap{{QStringLiteral("url"), QVariant::fromValue(emptied)}, {QStringLiteral("locationLabelTag"), 1}},
         QVariantMap{{QStringLiteral("url"), QVariant::fromValue(dir / "kept")}, {QStringLiteral("locationLabelTag"), 0}},
         QVariantMap{{QStringLiteral("url"), QVariant::fromValue(dir / "gone")}, {QStringLiteral("locationLabelTag"), 0}}});
    EXPECT_TRUE(cntrl->searchCntrl());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cntrl->itemsTypeCntrl(kEmpty) != nullptr; },
                                           std::chrono::seconds(20)));
    const KZFoundItemArray folders = cntrl->foundItemsCntrl()->allEmptyFolders().value_or(KZFoundItemArray());
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(folders.first()->url(), emptied);
    EXPECT_TRUE(folders.first()->isMarked());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->searchCntrl(); }));
}

TEST_F(ResultCntrlTest, FollowUpsStartedOneAfterAnotherAreAllTakenIn)
{
    makeResult({0, 3, 4}, kTwoTypes);
    kztest::TempDir dir;
    const auto folder = [](const fs::path& path) {
        return QVariantMap{{QStringLiteral("url"), QVariant::fromValue(path)}, {QStringLiteral("locationLabelTag"), 0}};
    };
    dir.write("kept", "data"); // so that their parent is not empty itself
    std::set<fs::path> emptied;
    for (const char* name : {"one", "two", "three"}) {
        emptied.insert(dir.mkdir(name));
        cntrl->prepareToSearchForEmptyFolders({folder(dir / name)});
    }
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return cntrl->foundItemsCntrl()->allEmptyFolders().value_or(KZFoundItemArray()).size() == 3; },
        std::chrono::seconds(20)));
    std::set<fs::path> found;
    const KZFoundItemArray folders = cntrl->foundItemsCntrl()->allEmptyFolders().value_or(KZFoundItemArray());
    for (const KZFoundItemRef& item : folders)
        found.insert(item->url());
    EXPECT_EQ(found, emptied);
    // Every end has queued its tab work once the last search is let go.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->searchCntrl(); }));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(host.strip.emptyFoldersTabsMade, 1);
}

TEST_F(ResultCntrlTest, NoFollowUpWhenEveryFolderIsGone)
{
    makeResult({0, 3, 4}, kTwoTypes);
    cntrl->prepareToSearchForEmptyFolders(
        {QVariantMap{{QStringLiteral("url"), QVariant::fromValue(fs::path("/nonexistent/marking/gone"))}}});
    EXPECT_FALSE(cntrl->searchCntrl());
}

// ---- Saving and the menu ----------------------------------------------------------------------------------

TEST_F(ResultCntrlTest, SavingRunsOnceAtATime)
{
    makeResult({0, 3, 4}, kTwoTypes);
    cntrl->saveAsAction();
    ASSERT_TRUE(cntrl->saveCntrl());
    EXPECT_EQ(host.saver->request.value(QStringLiteral("sender")).value<KZResultCntrl*>(), cntrl.get());
    EXPECT_TRUE(host.saver->request.contains(QStringLiteral("KZResultItemsToCheckCount")));
    host.saver->request.clear();
    cntrl->saveAsAction();
    EXPECT_TRUE(host.saver->request.isEmpty());

    center().post(KZNotification::savingDidFinish, static_cast<const void*>(cntrl.get()));
    EXPECT_FALSE(cntrl->saveCntrl());
    cntrl->saveAsAction();
    EXPECT_FALSE(host.saver->request.isEmpty());
}

TEST_F(ResultCntrlTest, SaveIsOfferedForAVisibleResultWithItems)
{
    makeResult({0, 3, 4}, kTwoTypes);
    EXPECT_TRUE(cntrl->validateMenuItem(4));
    EXPECT_TRUE(cntrl->validateMenuItem(-1));
    host.visible = false;
    EXPECT_FALSE(cntrl->validateMenuItem(4));
    EXPECT_TRUE(cntrl->validateMenuItem(-1));
    host.aboutOpen = true;
    EXPECT_FALSE(cntrl->validateMenuItem(-1));
}

// ---- Tags, label images and the thread budget --------------------------------------------------------------

TEST(ResultCntrlFunctions, LabelImagesExistForLabelsZeroToSeven)
{
    for (qint16 label : {qint16(-1), qint16(8), qint16(100)})
        EXPECT_TRUE(KZLabelImageForTag(label).isNull()) << label;
    for (qint16 label = 0; label < 8; ++label)
        EXPECT_FALSE(KZLabelImageForTag(label).isNull()) << label;
    EXPECT_NE(KZLabelImageForTag(0), KZLabelImageForTag(1));

    // A found item shows the image of its own location label, and none for a
    // search of one source.
    for (qint16 label : {qint16(-1), qint16(0), qint16(7), qint16(8)}) {
        ItemShape s;
        s.label = label;
        const KZFoundItemArray items = makeItems({s});
        EXPECT_EQ(items.first()->locationImage(), KZLabelImageForTag(label)) << label;
        EXPECT_EQ(items.first()->locationImage().isNull(), label < 0 || label > 7) << label;
    }
}

TEST(ResultCntrlFunctions, ThreadBudgetStaysUnderTheProcessLimit)
{
    struct Case {
        qint64 running;
        rlim_t limit;
        bool allowed;
    };
    for (const Case& c : {Case{0, 709, true}, Case{8, 709, true}, Case{9, 709, false}, Case{50, 709, false},
                          Case{0, 700, false}, Case{100000, RLIM_INFINITY, true}})
        EXPECT_EQ(KZCanStartNewThreadWithLimit(c.running, c.limit), c.allowed) << c.running << " of " << c.limit;
}

TEST(ResultCntrlFunctions, RunningThreadsNeverGoBelowZero)
{
    while (KZRunningThreadsCount() > 0)
        KZChangeRunningThreadsCount(false);
    KZChangeRunningThreadsCount(false);
    EXPECT_EQ(KZRunningThreadsCount(), 0);

    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] {
            for (int j = 0; j < 1000; ++j) {
                KZChangeRunningThreadsCount(true);
                KZChangeRunningThreadsCount(false);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(KZRunningThreadsCount(), 0);
}

} // namespace
