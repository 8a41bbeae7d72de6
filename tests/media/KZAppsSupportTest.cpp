#include "media/KZAppsSupport.h"

#include "support/MediaFakes.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZErrorDelegate.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZNotificationNames.h"
#include "support/ScriptedPresenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using platform::ProcessEvent;
using Status = platform::ScriptResult::Status;

namespace {

const QString kPhotos = KZAppsSupport::photosIdentifier;
const QString kMusic = KZAppsSupport::iTunesIdentifier;

class Guard : public ::testing::Test {
protected:
    Guard()
    {
        KZErrorDelegate::sharedControl().setPresenter(presenter_);
        for (const QString& name : {u"appWasOpened"_qs, u"appWasClosed"_qs, KZNotification::stopSearchingDueError})
            subscriptions_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, platform::bundleIdentifier(), [this](const platform::Notification& note) {
                    std::lock_guard lock(mutex_);
                    posted_.push_back(note);
                }));
    }
    ~Guard() override
    {
        subscriptions_.clear();
        KZSetSearchInProgress(false);
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
    }
    std::vector<platform::Notification> posted()
    {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    QStringList alertTexts()
    {
        std::lock_guard lock(presenter_->mutex);
        QStringList texts;
        for (const auto& call : presenter_->calls)
            texts << call.alert.messageText;
        return texts;
    }
    static QString text(const char* key, const QString& name = {}, const char* table = "Errors")
    {
        return KZErrorDelegate::replaceContentOfString(
            platform::localizedString(QLatin1StringView(key), QLatin1StringView(table)), {name, name});
    }
    static QVariantMap photosOptions(bool closeFirst, bool closeAgain)
    {
        return {{KZAppsSupport::pathKey, u"/home/u/Pictures/Photos Library.photoslibrary"_qs},
                {KZAppsSupport::appNameKey, u"Photos"_qs},
                {KZAppsSupport::identifierKey, kPhotos},
                {KZAppsSupport::closeFirstKey, closeFirst},
                {KZAppsSupport::closeAgainKey, closeAgain}};
    }

    kztest::ScopedDefaults defaults_;
    kztest::FakeProcessWatcher watcher_;
    KZAppsSupport guard_{&watcher_};
    kztest::ScopedScriptRunner scripts_;
    kztest::RecordingScriptRunner*& runner_ = scripts_.runner;
    std::shared_ptr<kztest::ScriptedPresenter> presenter_ = std::make_shared<kztest::ScriptedPresenter>();
    std::mutex mutex_;
    std::vector<platform::Notification> posted_;
    std::vector<platform::Subscription> subscriptions_;
};

} // namespace

TEST_F(Guard, ReactsOnlyToTheApplicationOfALibraryAmongTheSources)
{
    guard_.appLaunched({ProcessEvent::Kind::Launched, kPhotos, u"Photos"_qs, 1});
    guard_.setiTunesIsInSource(true);
    guard_.appLaunched({ProcessEvent::Kind::Launched, kPhotos, u"Photos"_qs, 1});
    guard_.appLaunched({ProcessEvent::Kind::Launched, u"org.example.Other"_qs, u"Photos"_qs, 1});
    // An application whose name cannot be read is no match for anything.
    guard_.appTerminated({ProcessEvent::Kind::Terminated, QString(), QString(), 1});
    EXPECT_TRUE(alertTexts().isEmpty());
    EXPECT_TRUE(posted().empty());

    guard_.appTerminated({ProcessEvent::Kind::Terminated, kMusic, u"Music"_qs, 1});
    ASSERT_EQ(posted().size(), 1u);
    EXPECT_EQ(posted()[0].name, u"appWasClosed");
    EXPECT_EQ(posted()[0].userInfo.value(u"NSApplicationBundleIdentifier"_qs), kMusic);
    // The default answer of the scripted presenter is the first button.
    EXPECT_TRUE(posted()[0].userInfo.value(u"continue"_qs).toBool());
    EXPECT_EQ(alertTexts(), QStringList{text("app_closed_by_user_ask_to_continue", u"Music"_qs)});
    EXPECT_FALSE(guard_.alertIsShowed());
}

TEST_F(Guard, ASecondLaunchWhileTheQuestionIsOnScreenAsksNothing)
{
    guard_.setPhotosIsInSource(true);
    presenter_->script = [this](const KZAlertPresenter::Alert&) {
        guard_.appLaunched({ProcessEvent::Kind::Launched, kPhotos, u"Photos"_qs, 2});
        return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton};
    };
    guard_.appLaunched({ProcessEvent::Kind::Launched, kPhotos, u"Photos"_qs, 1});
    EXPECT_EQ(presenter_->shown(), 1u);
    ASSERT_EQ(posted().size(), 1u);
    EXPECT_EQ(posted()[0].name, u"appWasOpened");
    EXPECT_FALSE(posted()[0].userInfo.value(u"continue"_qs).toBool());
}

TEST_F(Guard, TheWatchAsksOffTheWatchersThread)
{
    guard_.setPhotosIsInSource(true);
    guard_.addObservers();
    guard_.addObservers();
    EXPECT_EQ(watcher_.observerCount(), 1u);
    std::thread launcher([this] { watcher_.launch(kPhotos); });
    launcher.join(); // the watcher's thread is free long before the question is answered
    EXPECT_TRUE(kztest::processEventsUntil([this] { return !posted().empty(); }));
    guard_.waitForWatchReactions();
    EXPECT_EQ(presenter_->shown(), 1u);
    EXPECT_TRUE(presenter_->calls[0].onMainThread);
    guard_.removeObservers();
    EXPECT_EQ(watcher_.observerCount(), 0u);
}

TEST_F(Guard, ALaunchDuringASearchStopsItAndEndsTheWatch)
{
    guard_.setPhotosIsInSource(true);
    guard_.addObservers();
    KZSetSearchInProgress(true);
    guard_.appLaunched({ProcessEvent::Kind::Launched, kPhotos, u"Photos"_qs, 1});
    ASSERT_EQ(posted().size(), 1u);
    EXPECT_EQ(posted()[0].name, KZNotification::stopSearchingDueError);
    EXPECT_EQ(alertTexts(), QStringList{text("app_opened_by_user", u"Photos"_qs)});
    EXPECT_FALSE(guard_.isObserving());
    EXPECT_FALSE(guard_.alertIsShowed());
}

TEST_F(Guard, TheManageQuestionIsAskedOncePerApplicationAndRun)
{
    presenter_->script = [](const KZAlertPresenter::Alert&) { return KZAlertPresenter::Answer{KZAlertPresenter::SecondButton}; };
    EXPECT_FALSE(guard_.askToManageAppWithIndentifier(kPhotos, photosOptions(true, true)));
    // Refused: no flag, and the question comes again.
    EXPECT_FALSE(guard_.managePhotosWasAsked());
    EXPECT_FALSE(guard_.photosIsInSource());
    presenter_->script = [](const KZAlertPresenter::Alert&) { return KZAlertPresenter::Answer{}; };
    EXPECT_TRUE(guard_.askToManageAppWithIndentifier(kPhotos, photosOptions(true, true)));
    EXPECT_TRUE(guard_.managePhotosWasAsked());
    EXPECT_TRUE(guard_.photosIsInSource());
    EXPECT_EQ(presenter_->shown(), 2u);
    EXPECT_TRUE(runner_->recorded().isEmpty()); // the caller manages after the first answer

    // Allowed once: managed at once, with no question.
    runner_->onOpen = [this] { watcher_.launch(kPhotos); };
    EXPECT_TRUE(guard_.askToManageAppWithIndentifier(kPhotos, photosOptions(false, false)));
    EXPECT_EQ(presenter_->shown(), 2u);
    EXPECT_EQ(runner_->opened.size(), 1);
    EXPECT_FALSE(guard_.manageiTunesWasAsked());
}

TEST_F(Guard, AStoredAllowSkipsTheQuestion)
{
    defaults_->setValue(u"ask_close_iTunes"_qs, true);
    EXPECT_TRUE(guard_.askToManageAppWithIndentifier(kMusic, {}));
    EXPECT_EQ(presenter_->shown(), 0u);
    EXPECT_TRUE(guard_.manageiTunesWasAsked());
    EXPECT_TRUE(guard_.iTunesIsInSource());
}

TEST_F(Guard, ManagingTheMusicApplicationOnlyMarksItsLibrary)
{
    guard_.manageAppWithDict({{KZAppsSupport::identifierKey, kMusic}, {KZAppsSupport::closeFirstKey, true}});
    EXPECT_TRUE(guard_.iTunesIsInSource());
    EXPECT_TRUE(runner_->recorded().isEmpty());
    EXPECT_TRUE(runner_->opened.isEmpty());
}

TEST_F(Guard, WithoutScriptsManagingWaitsForNothing)
{
    scripts_.usePlatformRunner();
    watcher_.running.insert(kPhotos); // a wait for the quit could only time out
    guard_.manageAppWithDict(photosOptions(true, true));
    EXPECT_EQ(watcher_.observeCalls.load(), 0);
    EXPECT_EQ(presenter_->shown(), 0u);
    EXPECT_TRUE(guard_.photosIsInSource());
}

// A question whose answer could not be carried out is not asked; it comes
// once the application can be reached.
TEST_F(Guard, WithoutScriptsTheManageQuestionIsNotAsked)
{
    guard_.setWaitLimit(std::chrono::milliseconds(200)); // a fault must not wait 90 s
    scripts_.usePlatformRunner();
    EXPECT_TRUE(guard_.askToManageAppWithIndentifier(kPhotos, photosOptions(true, true)));
    EXPECT_TRUE(guard_.askToManageAppWithIndentifier(kMusic, {}));
    EXPECT_EQ(presenter_->shown(), 0u);
    EXPECT_TRUE(guard_.photosIsInSource());
    EXPECT_TRUE(guard_.iTunesIsInSource());
    EXPECT_FALSE(guard_.managePhotosWasAsked());

    kztest::ScopedScriptRunner reachable;
    EXPECT_TRUE(guard_.askToManageAppWithIndentifier(kPhotos, photosOptions(true, true)));
    EXPECT_EQ(presenter_->shown(), 1u);
    EXPECT_TRUE(guard_.managePhotosWasAsked());
}

TEST_F(Guard, ManagingWaitsForTheApplicationThroughTheWatcher)
{
    watcher_.running.insert(kPhotos);
    runner_->onScript = [this](const QString& script) {
        if (script.endsWith(u" to quit"))
            std::thread([this] { watcher_.terminate(kPhotos); }).detach();
    };
    runner_->onOpen = [this] { std::thread([this] { watcher_.launch(kPhotos); }).detach(); };
    guard_.manageAppWithDict(photosOptions(true, true));
    EXPECT_EQ(runner_->recorded(), QStringList(2, u"tell application \"Photos\" to quit"_qs));
    EXPECT_EQ(runner_->opened, QStringList{u"Photos:/home/u/Pictures/Photos Library.photoslibrary"_qs});
    EXPECT_EQ(presenter_->shown(), 0u);
    EXPECT_TRUE(guard_.photosIsInSource());
    EXPECT_EQ(watcher_.observerCount(), 0u); // every wait ended its own subscription
}

TEST_F(Guard, AWaitPastItsDeadlineSaysSoAndManagingGoesOn)
{
    guard_.setWaitLimit(std::chrono::milliseconds(30));
    watcher_.running.insert(kPhotos); // never quits
    guard_.manageAppWithDict(photosOptions(true, false));
    EXPECT_EQ(runner_->opened.size(), 1);
    EXPECT_EQ(alertTexts(), (QStringList{text("supported_app_aborted_closing", u"Photos"_qs)}));
}

TEST_F(Guard, AnApplicationThatNeverStartsIsToldAndManagingGoesOn)
{
    guard_.setWaitLimit(std::chrono::milliseconds(30));
    // Opening the library starts nothing: the wait for the launch runs out.
    guard_.manageAppWithDict(photosOptions(false, true));
    EXPECT_EQ(runner_->opened.size(), 1);
    EXPECT_EQ(alertTexts(), (QStringList{text("supported_app_aborted_opening", u"Photos"_qs)}));
    // The quit that was asked for still follows, and the watch covers the
    // library again.
    EXPECT_EQ(runner_->recorded(), QStringList{u"tell application \"Photos\" to quit"_qs});
    EXPECT_TRUE(guard_.photosIsInSource());
}
