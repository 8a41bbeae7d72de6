#include "ManualClock.h"
#include "RemovalTestSupport.h"

#include "engine/KZAppSuppInfo.h"
#include "platform/NotificationCenter.h"
#include "removal/KZRemoveCntrl.h"
#include "result/model/KZListNotifications.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace removaltest;
using namespace Qt::StringLiterals;

namespace {

// Records every call in order; the controller only calls it on the GUI thread.
struct RecordingView : KZRemoveView {
    QStringList events;
    QString lastCounters;
    QString finalText;
    qint64 answer = 1000;
    int asked = 0;
    bool startEnabled = false;
    bool stopEnabled = true;
    bool offGuiThread = false;

    void note(const QString& e)
    {
        if (!platform::isMainThread())
            offGuiThread = true;
        events << e;
    }
    void setStatus(const QString&) override { note(u"status"_s); }
    void setCounters(const QString& count, const QString&) override { lastCounters = count; }
    void setProgress(double) override {}
    void setProgressDeterminate(bool) override {}
    void startSpinning() override {}
    void stopSpinning() override {}
    void setStartEnabled(bool enabled) override { startEnabled = enabled; }
    void setStopEnabled(bool enabled) override { stopEnabled = enabled; }
    void showProgressView() override { note(u"progress"_s); }
    void showSuccessfulView(const QString& text) override { finalText = text; note(u"final"_s); }
    void closePanel() override { note(u"close"_s); }
    void purgeMarkingUndo() override { note(u"purge"_s); }
    qint64 askReportEmptyFolders() override { ++asked; note(u"ask"_s); return answer; }
    void showErrors(const KZRemove&) override { note(u"errors"_s); }
    void showCompletionNotification(const QString&, const QString& body) override
    {
        notice = body;
        note(u"notification"_s);
    }
    QString notice;
};

struct PanelRun {
    kztest::ScopedManualClock clock;
    Fixture f;
    std::shared_ptr<RecordingView> view = std::make_shared<RecordingView>();
    std::shared_ptr<KZRemoveCntrl> cntrl;
    std::vector<QVariantList> handOffs;
    int removedPosts = 0;
    platform::Subscription removedObservation;
    KZFoundItemArray all;

    explicit PanelRun(quint64 ownerTag = 1, std::vector<KZSourceItemRef> sources = {}, const std::string& dup = "dup")
    {
        emptyTrash();
        all = f.items({{"keep/a", 1}, {dup + "/a", 1}, {dup + "/b", 2}, {"keep/b", 2}}, "bytes");
        QVariantMap request{{u"itemsToRemove"_s, QVariant::fromValue(KZFoundItemArray{all[1], all[2]})},
                            {u"size"_s, QVariant::fromValue<quint64>(10)},
                            {u"areFiles"_s, true},
                            {u"isEmptyFolders"_s, false},
                            {u"KZResultSearchSources"_s, QVariant::fromValue(sources)},
                            {u"ownerTag"_s, QVariant::fromValue<quint64>(ownerTag)}};
        cntrl = KZRemoveCntrl::create(request, view);
        cntrl->resultItems = all;
        cntrl->setStartsClock(false);
        auto fileSystem = f.fs;
        cntrl->setEngineFactory([fileSystem](std::shared_ptr<KZRemovalPanel> panel) {
            return std::make_shared<KZRemove>(std::move(panel), fileSystem);
        });
        cntrl->setEmptyFoldersHandOff([this](const QVariantList& folders) { handOffs.push_back(folders); });
        removedObservation = platform::NotificationCenter::defaultCenter().addObserver(
            KZNotification::itemsDidRemove, {}, [this](const platform::Notification&) {
                ++removedPosts;
                view->note(u"itemsDidRemove"_s);
            });
    }
    // As the panel does when it goes away: closing lets the engine go, which
    // holds the controller in turn.
    ~PanelRun()
    {
        if (cntrl)
            cntrl->cancelAction();
        QCoreApplication::processEvents();
    }
    void setReport(int value) { f.defaults->setValue(KZDefaultsKey::report_empty_folders, value); }
    void startAndWaitForEngine()
    {
        cntrl->startAction({});
        ASSERT_TRUE(kztest::waitUntil([this] { return !cntrl->isWorking.load(); }));
    }
    // The items' volume is shared and the user agrees to delete them for
    // good; the question is asked on the GUI thread.
    void startAndWaitForPermanentDeletion()
    {
        f.fs->local = [](const fs::path&) { return std::optional<bool>(false); };
        f.alerts.presenter->script = [](const KZAlertPresenter::Alert&) {
            return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
        };
        cntrl->startAction({});
        ASSERT_TRUE(kztest::processEventsUntil([this] { return !cntrl->isWorking.load(); }, std::chrono::seconds(20)));
    }
    // Ticks as the clock would until it asks to stop, then runs what was queued.
    void tickToEnd()
    {
        for (int i = 0; i < 200; ++i) {
            clock->advance(0.2);
            if (cntrl->tick())
                break;
            KZRemoveCntrl::waitForGatherings();
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

TEST(KZRemoveCntrlRules, StartEnabledRule)
{
    struct Case {
        int tag;
        bool destination;
        bool onlyPhotos;
        bool enabled;
    };
    for (const Case& c : {Case{1, false, false, true}, Case{2, false, false, false}, Case{2, true, false, true},
                          Case{2, false, true, true}, Case{3, false, false, false}})
        EXPECT_EQ(KZRemoveStartEnabled(c.tag, c.destination, c.onlyPhotos), c.enabled) << c.tag << c.destination;

    auto photos = KZSourceItem::create(QVariantMap{});
    photos->setIsPhotosLib(true);
    auto folder = KZSourceItem::create(QVariantMap{});
    EXPECT_FALSE(KZRemoveSourcesAreOnlyPhotos({}));
    EXPECT_FALSE(KZRemoveSourcesAreOnlyPhotos({photos, folder}));
    EXPECT_TRUE(KZRemoveSourcesAreOnlyPhotos({photos, photos}));
}

TEST(KZRemoveCntrlRules, MoveViewWaitsForAFolderAndACancelledChoiceKeepsTheOldOne)
{
    PanelRun run;
    EXPECT_TRUE(run.view->startEnabled);
    run.cntrl->setStartTag(KZRemoveAction::move);
    EXPECT_FALSE(run.view->startEnabled);
    run.cntrl->startAction({}); // refused: nowhere to move to
    EXPECT_FALSE(run.cntrl->isWorking.load());
    EXPECT_FALSE(run.cntrl->engine());
    run.cntrl->setDestination("/tmp/x");
    EXPECT_TRUE(run.view->startEnabled);
    run.cntrl->setDestination({});
    EXPECT_EQ(run.cntrl->urlToMove, std::filesystem::path("/tmp/x"));
    EXPECT_TRUE(run.view->startEnabled);
}

TEST(KZRemoveCntrlRules, StartWaitsForAnAbsoluteFolderWhileAnyMarkedItemWouldMove)
{
    Fixture f;
    auto library = KZSourceItem::create(QVariantMap{});
    library->setIsPhotosLib(true);
    const KZFoundItemArray items = modeltest::makeItems(
        {{.path = f.dir.write("lib/p.jpg", "p"), .group = 1, .marked = true, .owner = KZAppSuppInfo::Photos},
         {.path = f.dir.write("loose/x", "x"), .group = 2, .marked = true}});
    for (const bool onlyLibraryItems : {true, false}) {
        const KZFoundItemArray marked = onlyLibraryItems ? KZFoundItemArray{items[0]} : items;
        auto view = std::make_shared<RecordingView>();
        auto cntrl = KZRemoveCntrl::create(
            {{u"itemsToRemove"_s, QVariant::fromValue(marked)},
             {u"KZResultSearchSources"_s, QVariant::fromValue(std::vector<KZSourceItemRef>{library})}},
            view);
        cntrl->setStartTag(KZRemoveAction::move);
        EXPECT_EQ(view->startEnabled, onlyLibraryItems);
        cntrl->setDestination("dest");
        EXPECT_EQ(view->startEnabled, onlyLibraryItems);
        EXPECT_TRUE(cntrl->urlToMove.empty());
        cntrl->urlToMove = "dest"; // as a tool might set it
        EXPECT_EQ(cntrl->startEnabled(), onlyLibraryItems);
        cntrl->setDestination(f.dir.mkdir("dest"));
        EXPECT_TRUE(view->startEnabled);
    }
}

TEST(KZRemoveCntrlRules, ProgressFigures)
{
    struct Case {
        quint64 totManage, managed, totCheck, checked, done, total;
        double percent;
    };
    for (const Case& c : {Case{0, 0, 8, 2, 2, 8, 25.0}, Case{4, 1, 8, 8, 1, 4, 25.0}, Case{0, 0, 0, 0, 0, 0, 0.0},
                          Case{0, 5, 0, 3, 3, 0, 0.0}}) {
        const auto figures = KZRemoveProgressOf(c.totManage, c.managed, c.totCheck, c.checked);
        EXPECT_EQ(figures.done, c.done);
        EXPECT_EQ(figures.total, c.total);
        EXPECT_DOUBLE_EQ(figures.percent, c.percent);
    }
}

TEST(KZRemoveCntrlRules, RepeatedFoldersKeepTheFirstLabel)
{
    const auto unique = KZRemoveUniqueFolders({{"/a", 3}, {"/b", 1}, {"/a/", 5}, {"/a", 7}, {"/b", 2}});
    ASSERT_EQ(unique.size(), 2u);
    EXPECT_EQ(unique[0].url, "/a");
    EXPECT_EQ(unique[0].locationLabelTag, 3);
    EXPECT_EQ(unique[1].locationLabelTag, 1);
}

TEST(KZRemoveCntrlRun, TrashRemovalAnnouncesOnceThenErrorsThenFinalCard)
{
    PanelRun run;
    run.setReport(1);
    run.startAndWaitForEngine();
    run.tickToEnd();
    // Later ticks of a clock that has not stopped yet announce nothing more.
    run.clock->advance(4000.0);
    run.cntrl->tick();
    QCoreApplication::processEvents();

    EXPECT_EQ(run.removedPosts, 1);
    EXPECT_FALSE(run.view->offGuiThread);
    const auto& e = run.view->events;
    ASSERT_TRUE(e.contains(u"itemsDidRemove"_s)) << e.join(u',').toStdString();
    EXPECT_LT(e.indexOf(u"purge"_s), e.indexOf(u"itemsDidRemove"_s));
    EXPECT_LT(e.indexOf(u"itemsDidRemove"_s), e.indexOf(u"errors"_s));
    EXPECT_LT(e.indexOf(u"errors"_s), e.indexOf(u"notification"_s));
    EXPECT_LT(e.indexOf(u"notification"_s), e.indexOf(u"final"_s));
    EXPECT_FALSE(e.contains(u"close"_s));
    EXPECT_FALSE(std::filesystem::exists(run.f.dir / "dup/a"));
    EXPECT_TRUE(std::filesystem::exists(run.f.dir / "keep/a"));
    EXPECT_EQ(run.view->lastCounters, u"2 / 2"_s);
    EXPECT_EQ(run.view->asked, 0);
    EXPECT_TRUE(run.handOffs.empty());
}

TEST(KZRemoveCntrlRun, NothingRemovedOrEmptyFoldersTabClosesInsteadOfTheFinalCard)
{
    for (const bool nothingRemoved : {true, false}) {
        PanelRun run(nothingRemoved ? 1 : 100000000002ULL);
        run.setReport(1);
        if (nothingRemoved)
            run.f.fs->before = [](const std::string& op, const fs::path&) { return op == "trash" ? EACCES : 0; };
        run.startAndWaitForEngine();
        run.tickToEnd();
        const auto& e = run.view->events;
        EXPECT_EQ(run.removedPosts, nothingRemoved ? 0 : 1) << nothingRemoved;
        EXPECT_FALSE(e.contains(u"final"_s)) << nothingRemoved;
        ASSERT_TRUE(e.contains(u"close"_s)) << nothingRemoved;
        EXPECT_LT(e.indexOf(u"notification"_s), e.indexOf(u"close"_s));
    }
}

TEST(KZRemoveCntrlRun, StopBeforeStartClosesAtOnce)
{
    PanelRun run;
    run.cntrl->stopAction();
    EXPECT_EQ(run.view->events, QStringList{u"close"_s});
    EXPECT_TRUE(run.cntrl->wasStopped.load());
}

TEST(KZRemoveCntrlRun, EmptyFolderFollowUpByPreference)
{
    struct Case {
        int preference;
        qint64 answer;
        int asked;
        bool handedOff;
    };
    for (const Case& c : {Case{0, 1000, 0, true}, Case{1, 1000, 0, false}, Case{2, 1000, 1, true},
                          Case{2, 1001, 1, false}}) {
        PanelRun run;
        run.setReport(c.preference);
        run.view->answer = c.answer;
        run.startAndWaitForEngine();
        // Asked before anything moved.
        EXPECT_EQ(run.view->asked, c.asked);
        if (c.asked) {
            EXPECT_LT(run.view->events.indexOf(u"ask"_s), run.view->events.indexOf(u"purge"_s));
        }
        run.tickToEnd();
        EXPECT_EQ(run.removedPosts, 1) << c.preference;
        ASSERT_EQ(run.handOffs.size(), c.handedOff ? 1u : 0u) << c.preference << " " << c.answer;
        EXPECT_TRUE(run.view->events.contains(u"final"_s));
        if (!c.handedOff)
            continue;
        // Both removed items lived in dup/: one folder to search.
        ASSERT_EQ(run.handOffs[0].size(), 1);
        EXPECT_EQ(run.handOffs[0][0].toMap().value(u"url"_s).value<std::filesystem::path>(), run.f.dir / "dup");
        EXPECT_TRUE(run.cntrl->emptyFoldersJobTerminated());
        EXPECT_FALSE(run.view->stopEnabled);
    }
}

TEST(KZRemoveCntrlRun, StoppedRemovalStillHandsOffWithoutWaiting)
{
    PanelRun run;
    run.setReport(0);
    run.startAndWaitForEngine();
    run.cntrl->wasStopped.store(true);
    // The tick that starts the gathering does not hold the panel back, and
    // the next one completes it.
    EXPECT_FALSE(run.cntrl->tick());
    EXPECT_FALSE(run.cntrl->isWorking.load());
    run.clock->advance(0.5);
    EXPECT_TRUE(run.cntrl->tick());
    QCoreApplication::processEvents();
    KZRemoveCntrl::waitForGatherings();
    QCoreApplication::processEvents();
    EXPECT_EQ(run.handOffs.size(), 1u);
    EXPECT_EQ(run.removedPosts, 1);
}

TEST(KZRemoveCntrlRun, GatheringKeepsThePanelAliveAfterItIsLetGo)
{
    PanelRun run;
    run.setReport(0);
    run.startAndWaitForEngine();
    std::weak_ptr<KZRemoveCntrl> weak = run.cntrl;
    EXPECT_FALSE(run.cntrl->tick());
    QCoreApplication::processEvents(); // starts the gathering
    run.cntrl->closeSession();
    run.cntrl.reset();
    KZRemoveCntrl::waitForGatherings();
    QCoreApplication::processEvents();
    EXPECT_EQ(run.handOffs.size(), 1u);
    QCoreApplication::processEvents();
}

TEST(KZRemoveCntrlRun, OwnClockAndTimerFallbackBothComplete)
{
    for (const bool refused : {false, true}) {
        PanelRun run;
        run.setReport(0);
        run.cntrl->setStartsClock(true);
        run.cntrl->setClockThreadRefused(refused);
        run.cntrl->startAction({});
        EXPECT_EQ(run.cntrl->clockRunsOnOwnThread(), !refused);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return run.view->events.contains(u"final"_s); }))
            << refused << run.view->events.join(u',').toStdString();
        EXPECT_EQ(run.removedPosts, 1);
        EXPECT_EQ(run.handOffs.size(), 1u);
        EXPECT_FALSE(run.view->offGuiThread);
        const auto& e = run.view->events;
        EXPECT_LT(e.indexOf(u"itemsDidRemove"_s), e.indexOf(u"errors"_s));
    }
}

} // namespace

TEST(KZRemoveCntrlRun, NoticeCountsOnlyWhatWasRemoved)
{
    struct Case {
        int failing; // items whose trash fails
        QString notice;
    };
    for (const Case& c : {Case{0, u"2 items moved to the Trash."_s}, Case{1, u"One item moved to the Trash."_s},
                          Case{2, u"No item was removed."_s}}) {
        PanelRun run;
        run.setReport(1);
        const int failing = c.failing;
        int seen = 0;
        run.f.fs->before = [&seen, failing](const std::string& op, const fs::path&) {
            return op == "trash" && seen++ < failing ? EACCES : 0;
        };
        run.startAndWaitForEngine();
        run.tickToEnd();
        EXPECT_EQ(run.view->notice, c.notice) << c.failing;
    }
}

TEST(KZRemoveCntrlRun, PermanentDeletionIsToldAsDeletedWithItsSize)
{
    PanelRun run;
    run.setReport(1);
    run.startAndWaitForPermanentDeletion();
    run.tickToEnd();
    EXPECT_FALSE(std::filesystem::exists(run.f.dir / "dup/a"));
    EXPECT_TRUE(std::filesystem::exists(run.f.dir / "keep/a"));
    EXPECT_EQ(run.view->notice, u"2 items deleted permanently."_s);
    EXPECT_TRUE(run.view->finalText.contains(u"deleted permanently"_s)) << run.view->finalText.toStdString();
    EXPECT_FALSE(run.view->finalText.contains(u"Trash"_s));
    EXPECT_EQ(run.cntrl->removedSize.load(), 10u);
    ASSERT_TRUE(run.cntrl->engine());
    EXPECT_EQ(run.cntrl->engine()->tally().deleted, 2u);
    EXPECT_EQ(run.cntrl->engine()->tally().deletedSize, 10u);
}

TEST(KZRemoveCntrlRun, FoldersEmptiedByAPermanentDeletionAreSearchedAgain)
{
    PanelRun run;
    run.setReport(0);
    run.startAndWaitForPermanentDeletion();
    run.tickToEnd();
    ASSERT_EQ(run.cntrl->engine()->tally().deleted, 2u);
    EXPECT_TRUE(std::filesystem::is_empty(run.f.dir / "dup"));
    ASSERT_EQ(run.handOffs.size(), 1u);
    ASSERT_EQ(run.handOffs[0].size(), 1);
    EXPECT_EQ(run.handOffs[0][0].toMap().value(u"url"_s).value<std::filesystem::path>(), run.f.dir / "dup");
}

// A folder whose name is not UTF-8 is handed on as its bytes: its text would
// name another folder, or none, and the follow-up would miss it.
TEST(KZRemoveCntrlRun, AnEmptiedFolderWhoseNameIsNotUtf8IsHandedOnAsItsBytes)
{
    const std::string name = "dup\xE9\xFF";
    PanelRun run(1, {}, name);
    run.setReport(0);
    run.startAndWaitForPermanentDeletion();
    run.tickToEnd();
    ASSERT_EQ(run.cntrl->engine()->tally().deleted, 2u);
    ASSERT_TRUE(std::filesystem::is_empty(run.f.dir / name));
    ASSERT_EQ(run.handOffs.size(), 1u);
    ASSERT_EQ(run.handOffs[0].size(), 1);
    EXPECT_EQ(run.handOffs[0][0].toMap().value(u"url"_s).value<std::filesystem::path>(), run.f.dir / name);
}

TEST(KZRemoveCntrlRun, AFolderResultNeverAsksForLinks)
{
    for (const bool areFiles : {true, false}) {
        PanelRun run;
        run.setReport(1);
        run.cntrl->itemsArefiles = areFiles;
        run.cntrl->startAction({.hardLinks = true});
        EXPECT_EQ(run.cntrl->isCreateAlias, areFiles);
        ASSERT_TRUE(kztest::waitUntil([&run] { return !run.cntrl->isWorking.load(); }));
        run.tickToEnd();
    }
}
