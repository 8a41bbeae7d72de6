// Folders handed to the running program while Preferences or About stands in
// front of the result window: the real program, a real search, and later
// starts that hand their folders over through the program's socket.

#include "app/ui/LaunchedProgram.h"

#include "app/KZNewSearchRouting.h"
#include "app/ui/KZOpenSavedResult.h"

#include "platform/Bookmark.h"
#include "platform/OpenedFiles.h"
#include "platform/StringTable.h"
#include "preferences/ui/KZAboutWindow.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZMenuSet.h"

#include <QApplication>
#include <QPointer>
#include <QScopeGuard>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

// A later start of the program, on its own thread: it blocks until the
// running program, on this thread, has taken its paths.
bool handOver(const fs::path& socket, const std::vector<fs::path>& paths)
{
    std::atomic<bool> done{false};
    auto role = platform::OpenedFiles::Role::Alone;
    std::thread later([&] {
        platform::OpenedFiles second(socket);
        role = second.start(paths, kztest::kPatienceMs);
        done = true;
    });
    kztest::processEventsUntil([&] { return done.load(); });
    later.join();
    return role == platform::OpenedFiles::Role::HandedOver;
}

// What a window manager does while Preferences or About stands beside the
// main windows: when a main window goes, the front returns to `keeper`, and
// a window that takes no focus (a transition's overlay) never has it. The
// window a transition shows at its end asks for the front, and gets it only
// after the transition has ended. The offscreen platform alone would hand
// the front to every window it shows, at once.
class WindowManager : public QObject {
public:
    WindowManager(QWidget* keeper, std::vector<QWidget*> mainWindows)
        : keeper_(keeper), mainWindows_(mainWindows.begin(), mainWindows.end())
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!keeper_ || !keeper_->isVisible() || !watched->isWidgetType())
            return false;
        auto* window = static_cast<QWidget*>(watched);
        if (!window->isWindow())
            return false;
        const bool mainWindowGoes = event->type() == QEvent::Hide &&
            std::find(mainWindows_.begin(), mainWindows_.end(), window) != mainWindows_.end();
        const bool takesNoFocus = event->type() == QEvent::WindowActivate &&
            window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus);
        if (mainWindowGoes || takesNoFocus)
            keeper_->activateWindow();
        return false;
    }

private:
    QPointer<QWidget> keeper_;
    std::vector<QPointer<QWidget>> mainWindows_;
};

class HandOverBehindWindows : public kztest::LaunchedProgramTest {
protected:
    // The program answers later starts through its socket.
    void launch()
    {
        ASSERT_EQ(running.start({}), platform::OpenedFiles::Role::Primary);
        running.setHandler([this](const std::vector<fs::path>& paths) { app->openFiles(paths); });
        LaunchedProgramTest::launch();
    }

    std::vector<fs::path> sources() const
    {
        std::vector<fs::path> paths;
        for (const KZSourceItemRef& source : app->windowCntrl()->searchView()->sourcesCntrl().sources())
            paths.push_back(source->path());
        return paths;
    }

    int questionsAsked() const
    {
        return alerts.presenter->count(platform::localizedString(QStringLiteral("search_again")));
    }

    platform::OpenedFiles running{dir / "maravex.socket"};
};

// Behind Preferences (opened with its keys) the result window walks back
// through the progress window's question, and the folder joins the sources
// of the search. Behind About, the question answered Cancel keeps the
// result and drops the folder: New Search later brings it back nowhere.
TEST_F(HandOverBehindWindows, AFolderBehindPreferencesOrAboutGoesThroughTheQuestionOnce)
{
    const std::vector<fs::path> folders = twoFoldersOfCopies();
    const fs::path more = tree.mkdir("more");
    const fs::path other = tree.mkdir("other");
    ASSERT_NO_FATAL_FAILURE(launch());
    const kztest::SettleTransitionsOnExit settle;
    app->windowCntrl()->addFolders(folders);
    KZResultWindowCntrl* shown = nullptr;
    ASSERT_NO_FATAL_FAILURE(searchAndShowTheResult(&shown));
    // A window that a new search lets go may be deleted at any moment after
    // it has turned away: it is looked at only while it still exists.
    QPointer<KZResultWindowCntrl> result = shown;
    QPointer<QWidget> progress = app->windowCntrl()->progressCntrl()->window();
    const auto onScreen = [](QWidget* window) { return window && window->isVisible(); };

    // Preferences over the result window.
    QTest::keyClick(result, Qt::Key_Comma, Qt::ControlModifier);
    QWidget* preferences = KZPreferencesWindow::sharedWindow();
    ASSERT_TRUE(preferences && QTest::qWaitForWindowActive(preferences, kztest::kPatienceMs));
    const WindowManager manager(preferences, {result, progress, app->window()});
    ASSERT_TRUE(handOver(dir / "maravex.socket", {more}));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return sources().size() == 3; }))
        << "questions " << questionsAsked() << ", result " << onScreen(result) << ", progress "
        << onScreen(progress) << ", search " << app->window()->isVisible();
    EXPECT_EQ(sources(), (std::vector<fs::path>{folders[0], folders[1], more}));
    EXPECT_EQ(questionsAsked(), 1);
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_FALSE(onScreen(result));
    EXPECT_FALSE(onScreen(progress));
    EXPECT_TRUE(preferences->isVisible()) << "Preferences stays open";
    EXPECT_FALSE(app->routing().waitsForFront() || app->routing().waitsForResult() ||
                 app->routing().waitsForProgress() || app->routing().waitsForReady());
    KZPreferencesWindow::destroyShared();

    // About over the next result; the question answered Cancel.
    ASSERT_NO_FATAL_FAILURE(searchAndShowTheResult(&shown));
    result = shown;
    progress = app->windowCntrl()->progressCntrl()->window();
    KZMenuSet::shared().item(KZMenuSet::App, KZMenuSet::AboutTag)->trigger();
    ASSERT_TRUE(app->about());
    QWidget* about = app->about()->window();
    ASSERT_TRUE(about && QTest::qWaitForWindowActive(about, kztest::kPatienceMs));
    const WindowManager aboutManager(about, {result, progress, app->window()});
    alerts.presenter->answers = {KZErrorDelegate::SecondButton};
    ASSERT_TRUE(handOver(dir / "maravex.socket", {other}));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return questionsAsked() == 2; }))
        << "result " << onScreen(result) << ", progress " << onScreen(progress);
    ASSERT_TRUE(kztest::settleWindowTransitions());
    QCoreApplication::processEvents();
    EXPECT_TRUE(onScreen(progress)) << "the search's result is kept";
    EXPECT_FALSE(app->window()->isVisible());
    EXPECT_TRUE(app->foldersToAdd().empty());
    EXPECT_FALSE(app->routing().waitsForReady());

    // New Search from the progress window, agreed: the sources are cleared
    // and the declined folder does not come back.
    about->close();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !app->about(); }));
    progress->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(progress, kztest::kPatienceMs));
    const searchtest::PostCounter resets(KZNotification::readyToStartToOpenFile);
    QTest::keyClick(progress, Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return resets.count == 1 && app->window()->isVisible(); }))
        << "questions " << questionsAsked();
    EXPECT_EQ(questionsAsked(), 3);
    EXPECT_FALSE(onScreen(progress));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(sources().empty()) << sources().size() << " sources";
    EXPECT_TRUE(app->foldersToAdd().empty());
}

// The file panel as a user answers it: `file` chosen.
class ChosenFile : public KZFileDialogPresenter {
public:
    explicit ChosenFile(const fs::path& file) : file_(QString::fromStdString(file.string())) {}
    void present(const Request&, Completion done) override { done({true, {file_}, false}); }

private:
    QString file_;
};

// A folder handed over by a second start while File ▸ Open reads and checks
// a saved result, before "Open the saved result?" is asked: the result
// window stays put until that answer, as behind the question itself. The
// opening declined, the folder goes through the one question of its own
// walk back and joins the sources.
TEST_F(HandOverBehindWindows, AFolderHandedOverWhileASavedResultIsReadWaitsForItsQuestion)
{
    const std::vector<fs::path> folders = twoFoldersOfCopies();
    const fs::path more = tree.mkdir("more");
    KZSavedResult saved;
    for (const char* name : {"saved/one.txt", "saved/two.txt"}) {
        KZSavedItem item;
        item.alias = platform::createBookmark(tree.write(name, std::string(3000, 's')));
        item.groupId = 1;
        item.countOfItemsInGroup = 2;
        item.fileTypeTag = 7;
        saved.items.push_back(item);
    }
    KZSavedSource source;
    source.alias = platform::createBookmark(tree / "saved");
    source.wasSearched = true;
    saved.sources = {source};
    const fs::path file = dir / "saved.maravex";
    std::ofstream(file, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();

    ASSERT_NO_FATAL_FAILURE(launch());
    const kztest::SettleTransitionsOnExit settle;
    app->windowCntrl()->addFolders(folders);
    KZResultWindowCntrl* shown = nullptr;
    ASSERT_NO_FATAL_FAILURE(searchAndShowTheResult(&shown));
    QPointer<KZResultWindowCntrl> result = shown;

    // The reading hands the folder over, then takes its time, as a large
    // file does, while the windows run.
    std::atomic<bool> reading{false};
    std::atomic<bool> walkedWhileReading{false};
    std::atomic<bool> handedOver{false};
    const platform::Subscription walk = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::newSearchResultTerminated, platform::bundleIdentifier(),
        [&](const platform::Notification&) { walkedWhileReading = walkedWhileReading || reading; });
    KZOpenSavedResult::setReadingHook([&] {
        reading = true;
        platform::OpenedFiles second(dir / "maravex.socket");
        handedOver = second.start({more}, kztest::kPatienceMs) == platform::OpenedFiles::Role::HandedOver;
        for (int i = 0; i < 100 && !walkedWhileReading; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reading = false;
    });
    const auto unhook = qScopeGuard([] { KZOpenSavedResult::setReadingHook({}); });
    alerts.presenter->answers = {KZErrorDelegate::SecondButton};
    const auto previousPanel = KZFileDialogPresenter::setShared(std::make_shared<ChosenFile>(file));
    const auto panelBack = qScopeGuard([&] { KZFileDialogPresenter::setShared(previousPanel); });
    QTest::keyClick(result, Qt::Key_O, Qt::ControlModifier);

    ASSERT_TRUE(kztest::processEventsUntil([&] { return sources().size() == 3; }))
        << "questions " << alerts.presenter->shown.size();
    EXPECT_TRUE(handedOver);
    EXPECT_FALSE(walkedWhileReading) << "the result window walked back while the saved result was read";
    ASSERT_EQ(alerts.presenter->shown.size(), 2u);
    EXPECT_EQ(alerts.presenter->shown[0].messageText, platform::localizedString(QStringLiteral("ask_open_file")));
    EXPECT_EQ(questionsAsked(), 1);
    EXPECT_EQ(sources(), (std::vector<fs::path>{folders[0], folders[1], more}));
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_FALSE(result && result->isVisible());
    EXPECT_FALSE(app->routing().waitsForFront() || app->routing().waitsForResult() ||
                 app->routing().waitsForProgress() || app->routing().waitsForReady() || app->routing().waitsToOpen());
}

} // namespace
