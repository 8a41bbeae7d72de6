#include "ModelTestSupport.h"
#include "ResultCntrlFakes.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZMarkingRequest.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "ScriptedPresenter.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace modeltest;
using namespace resulttest;
namespace K = KZMarkingKey;
namespace fs = std::filesystem;
using namespace Qt::StringLiterals;

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

// Records the posts of one notification name for any object; a slow one
// takes its time over each, so that a result can be closed meanwhile.
class Counter {
public:
    explicit Counter(const QString& name, std::chrono::milliseconds delay = {})
        : subscription_(center().addObserver(name, {}, [this, delay](const platform::Notification& note) {
              entered = true;
              std::this_thread::sleep_for(delay);
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
    std::shared_ptr<KZFoundItemsCntrl> lastModel() const
    {
        return last().userInfo.value(u"foundItemsCntrl"_s).value<std::shared_ptr<KZFoundItemsCntrl>>();
    }
    std::atomic<bool> entered{false};

private:
    mutable std::mutex lock_;
    std::vector<platform::Notification> notes_;
    platform::Subscription subscription_;
};

ItemShape shape(qint64 group, qint16 label, quint64 type, double date = 1)
{
    return {.group = group, .label = label, .tag = type, .date = date};
}

const std::vector<ItemShape> kTwoTypes{shape(1, 0, 3, 1), shape(1, 1, 3, 2), shape(2, 0, 4, 1), shape(2, 1, 4, 2)};
const std::vector<ItemShape> kOneType{shape(1, 0, 3, 1), shape(1, 1, 3, 2)};

QVariantMap folderEntry(const fs::path& path, int label = 0)
{
    return {{u"url"_s, QVariant::fromValue(path)}, {u"locationLabelTag"_s, label}};
}

class ResultCntrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(nullptr);
        KZDefaultsRegistry::setupDefaultsPreferences();
        KZErrorDelegate::sharedControl().setPresenter(presenter);
    }
    void TearDown() override
    {
        cntrl.reset();
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
    }

    static QVariantMap infoFor(const std::vector<ItemShape>& shapes, bool deads = false)
    {
        QVariantMap fileTypes;
        for (const ItemShape& shape : shapes)
            fileTypes.insert(QString::number(shape.tag), QVariant());
        return {{u"KZResultFoundItems"_s, parcelOf(shapes)},
                {u"KZResultFoundItemsCount"_s, quint64(shapes.size())},
                {u"KZResultFoundFileTypes"_s, fileTypes},
                {u"KZResultSearchedForDeads"_s, deads},
                {u"KZResultCurrentLocationLabel"_s, QVariant::fromValue<qint16>(1)},
                {u"KZResultSearchStuffItem"_s, QVariant::fromValue(KZSearchStuff::searchStuff())}};
    }

    // Makes the controller of a result on the tabs `tags` and waits until its
    // model has built and marked the items.
    void makeResult(std::vector<quint64> tags = {0, 3, 4}, const std::vector<ItemShape>& shapes = kTwoTypes,
                    bool deads = false)
    {
        host.strip.tagsToCreate = std::move(tags);
        Counter started(KZNotification::startToShowItems);
        cntrl = std::make_unique<KZResultCntrl>(infoFor(shapes, deads), &host);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return started.count() == 1; }));
    }

    FakeTabCntrl& tab(quint64 tag) { return *host.made.at(tag); }
    KZFoundItemArray items() const { return cntrl->foundItemsCntrl()->allItems(); }
    KZFoundItemArray emptyFolders() const
    {
        return cntrl->foundItemsCntrl()->allEmptyFolders().value_or(KZFoundItemArray());
    }
    void postReady() { center().post(KZNotification::KZListsReadyToShow, static_cast<const void*>(cntrl.get())); }
    void postFromWindow(const QString& name, quint64 tag)
    {
        center().post(name, static_cast<const void*>(&host.windowObject), {{u"tag"_s, QVariant::fromValue(tag)}});
    }
    void followUpWith(const std::vector<ItemShape>& folders)
    {
        cntrl->setupEmptyFolders({{u"KZResultFoundItemsCount"_s, quint64(folders.size())},
                                  {u"KZResultFoundItems"_s, parcelOf(folders)},
                                  {u"KZResultIsEmptyFolders"_s, true}});
    }
    FakeHost host;
    std::shared_ptr<kztest::ScriptedPresenter> presenter = std::make_shared<kztest::ScriptedPresenter>();
    std::unique_ptr<KZResultCntrl> cntrl;
};

// ---- Start-up hand-shake ----------------------------------------------------------------------

TEST_F(ResultCntrlTest, TabsAreMadeInTagOrderAndEachListButTheMissingTracksIsAwaited)
{
    Counter ready(KZNotification::resultIsReady);
    makeResult({4, KZTag::missingTracks, 0, 3}, kTwoTypes, true);
    EXPECT_EQ(host.viewsAdded, (std::vector<quint64>{0, 3, 4, KZTag::missingTracks}));
    for (const auto& [tag, made] : host.made)
        EXPECT_TRUE(made->hidden) << tag;
    EXPECT_TRUE(tab(KZTag::missingTracks).info.contains(u"KZResultFoundDeads"_s));
    EXPECT_FALSE(tab(3).info.contains(u"KZResultFoundDeads"_s));
    EXPECT_EQ(tab(3).info.value(u"tab"_s).value<QObject*>(), host.strip.tabView(3));

    EXPECT_EQ(cntrl->listToCreate(), 3);
    postReady();
    postReady();
    EXPECT_EQ(ready.count(), 0);
    postReady();
    postReady();
    EXPECT_EQ(ready.count(), 1);
    EXPECT_EQ(ready.last().userInfo.value(u"resultCntrl"_s).value<KZResultCntrl*>(), cntrl.get());
}

TEST_F(ResultCntrlTest, ReportsFromManyThreadsGiveOneReady)
{
    Counter ready(KZNotification::resultIsReady);
    makeResult({0, 1, 2, 3, 4, 5, 6, 7});
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
                          {{u"foundItemsCntrl"_s, QVariant::fromValue(stranger)}});
            center().post(KZNotification::resultSetupDidTerminate, platform::bundleIdentifier());
            startedMeanwhile = started.count();
        });
    cntrl = std::make_unique<KZResultCntrl>(infoFor(kTwoTypes), &host);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return started.count() == 1; }));
    EXPECT_EQ(startedMeanwhile.load(), 0);
    EXPECT_EQ(started.lastModel(), cntrl->foundItemsCntrl());
}

TEST_F(ResultCntrlTest, AModelDoneAtOnceStillHandsItselfOver)
{
    // An empty result builds in no time, possibly before the constructor has
    // stored the model; the hand-shake must carry the model all the same.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        host.strip.tabs.clear();
        host.strip.tagsToCreate = {KZTag::missingTracks};
        Counter started(KZNotification::startToShowItems);
        Counter ready(KZNotification::resultIsReady);
        cntrl = std::make_unique<KZResultCntrl>(infoFor({}, true), &host);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return ready.count() == 1; }));
        EXPECT_EQ(cntrl->listToCreate(), 0); // the missing-tracks tab has no list to wait for
        ASSERT_TRUE(cntrl->foundItemsCntrl());
        EXPECT_EQ(started.lastModel(), cntrl->foundItemsCntrl());
        EXPECT_EQ(ready.lastModel(), cntrl->foundItemsCntrl());
        cntrl.reset();
    }
}

TEST_F(ResultCntrlTest, ClosingWaitsForTheSetUpBeingAnnounced)
{
    host.strip.tagsToCreate = {3, 4};
    Counter slow(KZNotification::startToShowItems, std::chrono::milliseconds(100));
    cntrl = std::make_unique<KZResultCntrl>(infoFor(kTwoTypes), &host);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return slow.entered.load(); }));
    // The announcement runs on the model's queue and reads the controller
    // after the post: the controller may only go once it is over.
    cntrl.reset();
    EXPECT_EQ(slow.count(), 1);
}

TEST_F(ResultCntrlTest, ClosingWaitsForTheReadyAnnouncementInProgress)
{
    makeResult({3}, kOneType);
    Counter slow(KZNotification::resultIsReady, std::chrono::milliseconds(100));
    const void* object = cntrl.get();
    std::thread lists([object] { center().post(KZNotification::KZListsReadyToShow, object); });
    EXPECT_TRUE(kztest::waitUntil([&] { return slow.entered.load(); }));
    cntrl.reset();
    EXPECT_EQ(slow.count(), 1);
    lists.join();
}

// ---- Tabs shown, added and removed --------------------------------------------------------------

TEST_F(ResultCntrlTest, SelectingATabHidesTheVisibleOthers)
{
    makeResult();
    tab(0).hidden = false;
    Counter willHide(KZNotification::superviewWillHide);
    postFromWindow(KZNotification::showViewWithSelection, 4);
    EXPECT_EQ(willHide.count(), 1);
    EXPECT_EQ(willHide.last().object.pointer(), tab(0).resultView());
    EXPECT_TRUE(tab(0).hidden);
    EXPECT_TRUE(tab(3).hidden);
    EXPECT_FALSE(tab(4).hidden);
    EXPECT_EQ(host.currentTab, 4u);
}

TEST_F(ResultCntrlTest, ASingleTabIsShownWhateverTagIsAsked)
{
    makeResult({3}, kOneType);
    postFromWindow(KZNotification::showViewWithSelection, 99);
    EXPECT_FALSE(tab(3).hidden);
    EXPECT_EQ(host.currentTab, 3u);
}

TEST_F(ResultCntrlTest, ABuiltInLabelComingBackBringsItsExtensions)
{
    makeResult({0, 1, 4});
    Counter changed(KZNotification::fileTypeExtensionsDidChange);
    const qint16 before = cntrl->foundItemsCntrl()->fileTypesFoundCount();
    host.strip.addTab(3);
    postFromWindow(KZNotification::createNewAddedFileType, 3);
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), before + 1);
    EXPECT_EQ(tab(3).info.value(u"KZResultIsEmptyFolders"_s), QVariant(false));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed.last().object, platform::NotificationObject::number(3));
    EXPECT_TRUE(changed.last().userInfo.contains(u"labels_extension"_s));

    // A user's label has no factory extensions to bring back.
    host.strip.addTab(9);
    postFromWindow(KZNotification::createNewAddedFileType, 9);
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), before + 2);
}

TEST_F(ResultCntrlTest, RemovingAFileTypeTabMovesItsItems)
{
    makeResult({0, 1, 3, 4});
    postFromWindow(KZNotification::deleteRemovedFiletype, 3);
    EXPECT_FALSE(cntrl->itemsTypeCntrl(3));
    EXPECT_EQ(host.viewsRemoved, std::vector<quint64>{3});
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), 1);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return tab(1).filesListUpdates == 1; }));
    for (const KZFoundItemRef& item : items())
        EXPECT_NE(item->fileTypeTag(), 3u);
}

// ---- Marking requests ------------------------------------------------------------------------------

TEST_F(ResultCntrlTest, MarkingAndRemovalUpdateTheTabsTheyChanged)
{
    makeResult();
    // Unmark tab 3 from its own row: only tabs 0 and 3 change.
    QVariantMap request = markRequest(1, 0, 3, 3);
    request.insert(K::menuItemTagToRestore, 2);
    center().post(KZNotification::markItemsByUserChoice, static_cast<const void*>(cntrl.get()), request);

    EXPECT_EQ(tab(3).configurationsSaved, 1);
    EXPECT_TRUE(tab(4).markedUpdates.empty());
    ASSERT_EQ(tab(3).markedUpdates.size(), 1u);
    ASSERT_EQ(tab(0).markedUpdates.size(), 1u);
    const KZMarkedInfoUpdate& update = tab(3).markedUpdates.front();
    EXPECT_FALSE(update.addValue);
    EXPECT_EQ(update.oldMenuItemTag.toInt(), 1);
    EXPECT_EQ(update.menuItemTagToRestore.toInt(), 2);
    EXPECT_EQ(update.firstTabTag.toULongLong(), 0u);
    EXPECT_EQ(update.locationTag.toLongLong(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(update.managedTags.first(), 3u);
    EXPECT_EQ(update.info->managedCount(), 1);
    EXPECT_EQ(presenter->shown(), 0u);

    const KZFoundItemArray marked = cntrl->foundItemsCntrl()->markedItemsWithOwnerTag(4, nullptr);
    ASSERT_EQ(marked.size(), 1);
    cntrl->prepareUpdateWithDictionary({{KZMarkingKey::removedItems, QVariant::fromValue(marked)}});
    EXPECT_EQ(items().size(), 3);
    EXPECT_EQ(tab(4).removedUpdates.size(), 1u);
    EXPECT_EQ(tab(0).removedUpdates.size(), 1u);
    EXPECT_TRUE(tab(3).removedUpdates.empty());
}

TEST_F(ResultCntrlTest, MarkingASingleTypeBesideMissingTracksReachesItsTab)
{
    makeResult({3, KZTag::missingTracks}, kOneType, true);
    cntrl->markItemsWithDictionary(markRequest(1, 0, 3, 3)); // unmark the tab
    ASSERT_EQ(tab(3).markedUpdates.size(), 1u);
    EXPECT_EQ(tab(3).markedUpdates.front().info->managedCount(), 1);
    EXPECT_TRUE(tab(KZTag::missingTracks).markedUpdates.empty());
    EXPECT_EQ(presenter->shown(), 0u);
}

TEST_F(ResultCntrlTest, AMarkingThatChangesNothingSaysSoAndOneWithoutOwnerBeeps)
{
    makeResult();
    // The default marking is in place already.
    cntrl->markItemsWithDictionary(markRequest(1, 1, 0, 0));
    EXPECT_EQ(presenter->shown(), 1u);
    // Not for a restore, nor on the empty-folders tab.
    cntrl->markItemsWithDictionary(markRequest(8, 1, 0, 0, QVariant::fromValue(KZMarkSnapshot())));
    cntrl->markItemsWithDictionary(markRequest(1, 1, KZTag::emptyFolders, KZTag::emptyFolders));
    EXPECT_EQ(presenter->shown(), 1u);

    const std::string before = marksOf(items());
    cntrl->markItemsWithDictionary({{K::menuItemTag, 7}, {K::checkBtnState, 1}});
    EXPECT_EQ(host.beeps, 1);
    EXPECT_EQ(marksOf(items()), before);
    EXPECT_EQ(presenter->shown(), 1u);
}

TEST_F(ResultCntrlTest, ByChosenFolderWaitsForTheChooser)
{
    kztest::TempDir dir;
    // The copy in A is the newer one: the default marking keeps it.
    makeResult({3}, {{.path = dir.write("A/x", "1"), .date = 5},
                     {.path = dir.write("B/x", "1"), .label = 1, .date = 1}});
    ASSERT_EQ(marksOf(items()), "01");
    center().post(KZNotification::markItemsByUserChoice, static_cast<const void*>(cntrl.get()),
                  markRequest(4, 1, 3, 3));
    ASSERT_EQ(host.chooserSettings.size(), 1u);
    EXPECT_EQ(host.chooserSettings.front().value(u"prompt"_s).toString(), u"ask_add_location"_s);
    EXPECT_EQ(host.chooserSettings.front().value(u"allowsMultipleSelection"_s), QVariant(false));

    // Cancelled: nothing changes and nothing is said.
    host.pendingAnswer(0, markRequest(4, 1, 3, 3));
    EXPECT_EQ(marksOf(items()), "01");
    EXPECT_EQ(presenter->shown(), 0u);
    EXPECT_TRUE(tab(3).markedUpdates.empty());

    QVariantMap chosen = markRequest(4, 1, 3, 3);
    chosen.insert(K::urls, QVariant::fromValue(QList<QUrl>{KZFilesUtilities::fileURLWithPath(dir / "A")}));
    host.pendingAnswer(1, chosen);
    EXPECT_EQ(marksOf(items()), "10");
    EXPECT_EQ(tab(3).markedUpdates.size(), 1u);
}

// ---- Empty-folders follow-up ----------------------------------------------------------------------------

TEST_F(ResultCntrlTest, ASecondFollowUpRefreshesTheTabAndRemovingTheTabDropsTheFolders)
{
    makeResult();
    Counter added(KZNotification::emptyFoldersWereAdded);
    followUpWith({shape(10, 0, 2)});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cntrl->itemsTypeCntrl(KZTag::emptyFolders) != nullptr; }));
    EXPECT_EQ(added.count(), 0);
    EXPECT_FALSE(tab(KZTag::emptyFolders).info.contains(u"KZResultIsEmptyFolders"_s));

    followUpWith({shape(11, 0, 2)});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return added.count() == 1; }));
    EXPECT_EQ(host.strip.emptyFoldersTabsMade, 1);
    EXPECT_EQ(added.last().object, platform::NotificationObject::number(static_cast<qint64>(KZTag::emptyFolders)));
    EXPECT_EQ(emptyFolders().size(), 2);
    // A search that found nothing changes nothing.
    followUpWith({});
    EXPECT_EQ(emptyFolders().size(), 2);

    postFromWindow(KZNotification::deleteRemovedFiletype, KZTag::emptyFolders);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->foundItemsCntrl()->allEmptyFolders().has_value(); }));
    EXPECT_EQ(cntrl->foundItemsCntrl()->fileTypesFoundCount(), 2);
}

// An undo that puts items back into folders the follow-up found empty
// takes those folders off the tab; the tab goes with its last one. A folder
// that is itself put back is as empty as before.
TEST_F(ResultCntrlTest, FoldersAnUndoFillsAgainLeaveTheEmptyFoldersTab)
{
    makeResult();
    kztest::TempDir dir;
    const fs::path first = dir.mkdir("Trip"), second = dir.mkdir("Party");
    followUpWith({{.path = first, .group = 10, .tag = 2, .isDirectory = true},
                  {.path = second, .group = 11, .tag = 2, .isDirectory = true}});
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cntrl->itemsTypeCntrl(KZTag::emptyFolders) != nullptr; }));
    ASSERT_EQ(emptyFolders().size(), 2);
    Counter refreshed(KZNotification::emptyFoldersWereAdded);
    // Back on disk, as the undo leaves them.
    const auto restore = [&dir](const fs::path& path) {
        if (!fs::exists(path))
            dir.write(path.lexically_relative(dir.path()), "x");
        center().post(KZNotification::itemsWereRestored, platform::bundleIdentifier(),
                      {{u"removedItems"_s, QVariant::fromValue(KZFoundItemArray{modeltest::makeItem({.path = path})})}});
    };

    restore(second);
    restore(dir / "Trip elsewhere/beach.jpg");
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(emptyFolders().size(), 2);
    EXPECT_EQ(refreshed.count(), 0);

    restore(first / "beach.jpg");
    ASSERT_TRUE(kztest::processEventsUntil([&] { return refreshed.count() == 1; }));
    ASSERT_EQ(emptyFolders().size(), 1);
    EXPECT_EQ(emptyFolders().first()->url(), second);
    EXPECT_TRUE(host.strip.removedTabs.empty());

    restore(second / "Day 1/cake.jpg");
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !host.strip.removedTabs.empty(); }));
    EXPECT_EQ(host.strip.removedTabs, std::vector<quint64>{KZTag::emptyFolders});
    EXPECT_EQ(refreshed.count(), 1);
}

TEST_F(ResultCntrlTest, TheFollowUpSearchFindsTheEmptiedFolders)
{
    makeResult();
    kztest::TempDir dir;
    cntrl->prepareToSearchForEmptyFolders({folderEntry(dir / "gone")});
    EXPECT_FALSE(cntrl->searchCntrl()); // no follow-up when every folder is gone

    const fs::path emptied = dir.mkdir("emptied");
    dir.write("kept/file", "data");
    cntrl->prepareToSearchForEmptyFolders(
        {folderEntry(emptied, 1), folderEntry(dir / "kept"), folderEntry(dir / "gone")});
    // The follow-up may already have ended and been let go on its own
    // thread: what it found shows that it ran.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return cntrl->itemsTypeCntrl(KZTag::emptyFolders) != nullptr; },
                                           std::chrono::seconds(20)));
    ASSERT_EQ(emptyFolders().size(), 1);
    EXPECT_EQ(emptyFolders().first()->url(), emptied);
    EXPECT_TRUE(emptyFolders().first()->isMarked());
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->searchCntrl(); }));
}

TEST_F(ResultCntrlTest, FollowUpsStartedOneAfterAnotherAreAllTakenIn)
{
    makeResult();
    kztest::TempDir dir;
    dir.write("kept", "data"); // so that their parent is not empty itself
    std::set<fs::path> emptied;
    for (const char* name : {"one", "two", "three"}) {
        emptied.insert(dir.mkdir(name));
        cntrl->prepareToSearchForEmptyFolders({folderEntry(dir / name)});
    }
    ASSERT_TRUE(kztest::processEventsUntil([&] { return emptyFolders().size() == 3; }, std::chrono::seconds(20)));
    std::set<fs::path> found;
    for (const KZFoundItemRef& item : emptyFolders())
        found.insert(item->url());
    EXPECT_EQ(found, emptied);
    // Every end has queued its tab work once the last search is let go.
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !cntrl->searchCntrl(); }));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return host.strip.emptyFoldersTabsMade >= 1; }));
    QCoreApplication::processEvents(); // a second tab would already be queued by now
    EXPECT_EQ(host.strip.emptyFoldersTabsMade, 1);
}

// ---- Saving and the menu ----------------------------------------------------------------------------------

TEST_F(ResultCntrlTest, SavingRunsOnceAtATime)
{
    makeResult();
    cntrl->saveAsAction();
    ASSERT_TRUE(cntrl->saveCntrl());
    EXPECT_EQ(host.saver->request.value(u"sender"_s).value<KZResultCntrl*>(), cntrl.get());
    EXPECT_TRUE(host.saver->request.contains(u"KZResultItemsToCheckCount"_s));
    host.saver->request.clear();
    cntrl->saveAsAction();
    EXPECT_TRUE(host.saver->request.isEmpty());
    center().post(KZNotification::savingDidFinish, static_cast<const void*>(cntrl.get()));
    EXPECT_FALSE(cntrl->saveCntrl());
    cntrl->saveAsAction();
    EXPECT_FALSE(host.saver->request.isEmpty());
}

// ---- Label images and the thread budget --------------------------------------------------------------

TEST(ResultCntrlFunctions, LabelImagesExistForLabelsZeroToSeven)
{
    for (qint16 label = -1; label <= 8; ++label) {
        EXPECT_EQ(KZLabelImageForTag(label).isNull(), label < 0 || label > 7) << label;
        // A found item shows the image of its own location label, and none
        // for a search of one source.
        EXPECT_EQ(makeItem({.label = label})->locationImage(), KZLabelImageForTag(label)) << label;
    }
    EXPECT_TRUE(KZLabelImageForTag(100).isNull());
    EXPECT_NE(KZLabelImageForTag(0), KZLabelImageForTag(1));
}

TEST(ResultCntrlFunctions, ThreadBudgetStaysUnderTheProcessLimit)
{
    struct Case { qint64 running; rlim_t limit; bool allowed; };
    // Under a limit of 700 or less two threads may still run, or a caller
    // waiting for a thread would wait for ever.
    for (const Case& c : {Case{0, 709, true}, Case{8, 709, true}, Case{9, 709, false}, Case{50, 709, false},
                          Case{0, 700, true}, Case{1, 700, true}, Case{2, 700, false}, Case{1, 64, true},
                          Case{2, 701, false}, Case{1, 0, true}, Case{100000, RLIM_INFINITY, true}})
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
