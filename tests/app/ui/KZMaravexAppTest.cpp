#include "app/ui/KZMaravexApp.h"

#include "app/KZCrashReporter.h"
#include "app/KZNewSearchRouting.h"
#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZQuitPolicy.h"
#include "preferences/KZPreferencesWindowOpen.h"
#include "preferences/ui/KZPreferencesWindow.h"
#include "preferences/ui/KZSubscribe.h"
#include "preferences/ui/KZWelcomeCntrl.h"
#include "app/search/ui/KZMusicLibraryReadingSheet.h"
#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindowCntrl.h"
#include "app/search/KZMusicLibraryReading.h"
#include "media/KZiTunesSupport.h"
#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "app/KZUpdater.h"
#include "preferences/KZURLOpener.h"
#include "preferences/ui/KZUnsentMailDialog.h"

#include "app/ui/LaunchedProgram.h"

#include "ManualClock.h"
#include "support/HeldMusicReader.h"
#include "support/LibraryFixtures.h"
#include "ShortAnimations.h"
#include "TestSupport.h"

#include "platform/Bookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/OpenedFiles.h"
#include "platform/Paths.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"
#include "removal/KZUndoFile.h"
#include "removal/ui/KZRestoreWindowCntrl.h"
#include "result/window/ui/KZResultWindowCntrl.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "services/KZDesktopOpener.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZMenuSet.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class ScriptedPresenter : public KZAlertPresenter {
public:
    Answer runModal(const Alert& alert) override
    {
        questions.push_back(alert.messageText);
        details.push_back(alert.informativeText);
        return {answer, false, false};
    }
    void beginSheet(const Alert&) override {}
    qint64 answer = FirstButton;
    QStringList questions;
    QStringList details;
};

// Empties the test's own Trash; with `removed`, puts one removal there, as
// Restore Removed Items finds it.
void trashHolding(kztest::TempDir& dir, bool removed)
{
    std::error_code ec;
    fs::remove_all(platform::homeTrashDirectory(), ec);
    if (!removed)
        return;
    KZPersistentUndoRecord record;
    record.oldPosition = dir.write("removed.txt", "x");
    record.currPosition = *platform::moveToTrash(record.oldPosition);
    record.bookmark = platform::createBookmark(record.currPosition);
    ASSERT_TRUE(KZUndoFile::write(platform::homeTrashDirectory(), {}, {record}, KZUndoFile::nowSinceReferenceDate()));
}

class KZMaravexAppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir / "defaults.plist"));
        // The flips between windows are checked for where they end, not frames.
        KZTransitionMath::setDurationFactor(0.05);
        KZSetURLOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        presenter = std::make_shared<ScriptedPresenter>();
        KZErrorDelegate::sharedControl().setPresenter(presenter);
    }
    void TearDown() override
    {
        app.reset();
        QApplication::closeAllWindows();
        KZErrorDelegate::sharedControl().setPresenter(nullptr);
        KZSetURLOpener({});
        KZTransitionMath::setDurationFactor(1.0);
        platform::UserDefaults::setStandard(nullptr);
    }

    void launch()
    {
        app = kztest::launchProgram(dir / "state");
        settle();
    }
    static void settle() { kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(20)); }
    static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }
    // A saved result of two equal files in `tree`, the copy marked.
    fs::path savedResultOfATree() const
    {
        const fs::path a = dir.write("tree/a.txt", std::string(3000, 'a'));
        const fs::path b = dir.write("tree/copy/a.txt", std::string(3000, 'a'));
        KZSavedResult saved;
        for (const fs::path& path : {a, b}) {
            KZSavedItem record;
            record.alias = platform::createBookmark(path);
            record.groupId = 1;
            record.countOfItemsInGroup = 2;
            record.isMarked = path == b;
            record.fileTypeTag = 7;
            saved.items.push_back(record);
        }
        KZSavedSource source;
        source.alias = platform::createBookmark(dir / "tree");
        source.wasSearched = true;
        saved.sources = {source};
        const fs::path file = dir / "result.maravex";
        std::ofstream(file, std::ios::binary) << KZSavedResultFormat::encode(saved).toStdString();
        return file;
    }
    // A later start of the program handing `paths` over; answers its role.
    platform::OpenedFiles::Role handOver(const std::vector<fs::path>& paths)
    {
        std::atomic<bool> done{false};
        auto role = platform::OpenedFiles::Role::Alone;
        std::thread later([&] {
            platform::OpenedFiles start(dir / "maravex.socket");
            role = start.start(paths, kztest::kPatienceMs);
            done = true;
        });
        kztest::processEventsUntil([&] { return done.load(); });
        later.join();
        return role;
    }
    std::vector<fs::path> sourcePaths() const
    {
        std::vector<fs::path> paths;
        for (const KZSourceItemRef& source : app->windowCntrl()->searchView()->sourcesCntrl().sources())
            paths.push_back(source->path());
        return paths;
    }
    bool searchWindowShown() const { return app->window() && app->window()->isVisible(); }
    // Each address handed to the desktop is kept and none opens, as where
    // no mail program is set up.
    void withoutAMailProgram()
    {
        KZSetURLOpener([this](const QUrl& url) {
            opened.push_back(url);
            return false;
        });
    }
    // The messages given to send by hand, on screen.
    static QList<KZUnsentMailDialog*> unsentMailsShown()
    {
        QList<KZUnsentMailDialog*> shown;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<KZUnsentMailDialog*>(widget); dialog && dialog->isVisible())
                shown << dialog;
        return shown;
    }
    QAction* menuItem(const char* name) const { return app->appMenu()->findChild<QAction*>(QString::fromLatin1(name)); }

    // Waits of seconds pass when a test advances this clock.
    kztest::ScopedManualClock clock;
    kztest::ShortAnimations shortAnimations;
    kztest::TempDir dir;
    std::vector<QUrl> opened;
    std::shared_ptr<ScriptedPresenter> presenter;
    std::unique_ptr<KZMaravexApp> app;
};

TEST_F(KZMaravexAppTest, FirstRunGreetsAndTheSearchWindowFollowsTheWelcome)
{
    launch();
    ASSERT_NE(app->welcome(), nullptr);
    EXPECT_TRUE(app->welcome()->window()->isVisible());
    EXPECT_FALSE(searchWindowShown());

    app->welcome()->window()->close();
    settle();
    EXPECT_TRUE(searchWindowShown());
    EXPECT_EQ(app->welcome(), nullptr);
    EXPECT_FALSE(defaults().boolForKey(KZDefaultsKey::is_first_run));
    defaults().reload(); // written to the file, as the next run reads it
    EXPECT_FALSE(defaults().boolForKey(KZDefaultsKey::is_first_run));
}

TEST_F(KZMaravexAppTest, LaterRunsOpenTheSearchWindowAndAWelcomeFromHelpChangesNothing)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    EXPECT_EQ(app->welcome(), nullptr);
    EXPECT_TRUE(searchWindowShown());

    const std::string before = kztest::readFile(dir / "defaults.plist");
    menuItem("welcome")->trigger();
    ASSERT_NE(app->welcome(), nullptr);
    app->welcome()->startUsingBtn()->click();
    settle();
    EXPECT_EQ(app->welcome(), nullptr);
    EXPECT_TRUE(searchWindowShown());
    EXPECT_EQ(kztest::readFile(dir / "defaults.plist"), before);
}

TEST_F(KZMaravexAppTest, TheWelcomeNewsletterButtonOpensTheNewsletterWindow)
{
    launch();
    app->welcome()->subscribeAction();
    settle();
    EXPECT_EQ(app->welcome(), nullptr);
    ASSERT_NE(app->subscribe(), nullptr);
    EXPECT_TRUE(app->subscribe()->window()->isVisible());
    EXPECT_TRUE(searchWindowShown()); // the first welcome still leads on
    app->subscribe()->window()->close();
    settle();
    EXPECT_EQ(app->subscribe(), nullptr);
}

// First start, Next to the last page and Subscribe, with the mouse: the
// Welcome hands over to the search window and the Newsletter window the
// user asked for comes up in front of it, with the keyboard. The same from
// a Welcome opened over the search window later.
TEST_F(KZMaravexAppTest, TheNewsletterAskedForInTheWelcomeComesToTheFront)
{
    launch();
    for (const bool firstStart : {true, false}) {
        SCOPED_TRACE(firstStart);
        if (!firstStart)
            menuItem("welcome")->trigger();
        KZWelcomeCntrl* welcome = app->welcome();
        ASSERT_NE(welcome, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(welcome->window(), kztest::kPatienceMs));
        for (int page = 2; page <= 5; ++page) {
            QTest::mouseClick(welcome->nextBtn(), Qt::LeftButton);
            ASSERT_TRUE(kztest::processEventsUntil([&] { return !welcome->isSliding(); }));
        }
        ASSERT_TRUE(welcome->subscribeBtn()->isVisible());
        QTest::mouseClick(welcome->subscribeBtn(), Qt::LeftButton);
        settle();
        EXPECT_EQ(app->welcome(), nullptr);
        ASSERT_NE(app->subscribe(), nullptr);
        QWidget* newsletter = app->subscribe()->window();
        EXPECT_TRUE(searchWindowShown());
        EXPECT_TRUE(QTest::qWaitForWindowActive(newsletter, kztest::kPatienceMs));
        EXPECT_EQ(QApplication::activeWindow(), newsletter);
        newsletter->close();
        settle();
        EXPECT_EQ(app->subscribe(), nullptr);
    }
}

TEST_F(KZMaravexAppTest, MenuItemsWaitWhileTheAboutWindowIsOpen)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    menuItem("about")->trigger();
    ASSERT_TRUE(app->aboutIsOpened());
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    for (const char* name : {"about", "newsletter", "checkUpdate", "openSaved", "quickLook", "welcome", "contact"})
        EXPECT_FALSE(menuItem(name)->isEnabled()) << name;

    app->about()->closeAction();
    settle();
    EXPECT_FALSE(app->aboutIsOpened());
    EXPECT_EQ(app->about(), nullptr);
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    EXPECT_TRUE(menuItem("about")->isEnabled());
}

TEST_F(KZMaravexAppTest, MenuTagsReachTheirWindowsAndTheUpdateItemOpensTheDownloadPage)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    struct Case {
        const char* name;
        int tag;
    } const cases[] = {{"about", KZMaravexApp::AboutTag},
                       {"newsletter", KZMaravexApp::NewsletterTag},
                       {"checkUpdate", KZMaravexApp::UpdateTag},
                       {"welcome", KZMaravexApp::WelcomeTag}};
    for (const Case& c : cases)
        EXPECT_EQ(menuItem(c.name)->data().toInt(), c.tag) << c.name;

    menuItem("checkUpdate")->trigger();
    settle();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], KZUpdater::downloadPage());
    menuItem("newsletter")->trigger();
    EXPECT_NE(app->subscribe(), nullptr);

    // Edit item 13000 opens the window of removals still in the Trash.
    ASSERT_NO_FATAL_FAILURE(trashHolding(dir, true));
    KZMenuSet::shared().refresh();
    ASSERT_NE(menuItem("restore"), nullptr);
    EXPECT_EQ(menuItem("restore")->data().toInt(), KZMaravexApp::RestoreTag);
    menuItem("restore")->trigger();
    settle();
    bool restoreShown = false;
    for (QWidget* top : QApplication::topLevelWidgets())
        restoreShown = restoreShown || (top->inherits("KZRestoreWindowCntrl") && top->isVisible());
    EXPECT_TRUE(restoreShown);
}

TEST_F(KZMaravexAppTest, ARunThatDidNotEndCleanlyIsOfferedItsLog)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    {
        KZCrashReporter earlier(dir / "state");
        earlier.checkForNewCrashes(); // and never ends cleanly
    }
    launch();
    ASSERT_EQ(presenter->questions.size(), 1u);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(fs::exists(opened[0].toLocalFile().toStdString()));

    app->applicationWillTerminate();
    app.reset();
    presenter->questions.clear();
    launch(); // the clean end leaves nothing to report
    EXPECT_TRUE(presenter->questions.isEmpty());
}

// Damaged settings start afresh and would greet the user as on a first run;
// the user hears why, with where the old file went, and only once.
TEST_F(KZMaravexAppTest, DamagedSettingsAreSaidOnceAfterTheyStartAfresh)
{
    dir.write("settings/defaults.plist", "<?xml version=\"1.0\"?><plist><dict><key>");
    platform::UserDefaults::setStandard(std::make_unique<platform::UserDefaults>(dir / "settings" / "defaults.plist"));
    launch();
    ASSERT_EQ(presenter->questions.size(), 1u);
    const QString told = presenter->questions.front();
    EXPECT_TRUE(told.contains(QStringLiteral("defaults.plist.damaged-"))) << told.toStdString();

    app->applicationWillTerminate();
    app.reset();
    launch();
    EXPECT_EQ(presenter->questions.size(), 1u);
}

TEST_F(KZMaravexAppTest, HandedFoldersBecomeSourcesAndSavedResultsSayTheyCannotOpenYet)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    KZSearchView* view = app->windowCntrl()->searchView();
    ASSERT_NE(view, nullptr);
    const fs::path photos = dir / "photos";
    fs::create_directories(photos);
    const fs::path file = dir / "notes.txt";
    std::ofstream(file) << "text";

    // A file among the folders is passed over, and said so.
    app->openFiles({file, photos});
    EXPECT_TRUE(kztest::processEventsUntil([&] { return view->sourcesCntrl().sources().size() == 1; }));
    EXPECT_TRUE(app->foldersToAdd().empty());
    ASSERT_EQ(presenter->questions.size(), 1);
    EXPECT_TRUE(presenter->questions.first().contains(platform::pathText(file)));
    presenter->questions.clear();

    // A saved result: the other paths are ignored and the user is told.
    const fs::path saved = dir / "result.maravex";
    std::ofstream(saved) << "saved";
    const fs::path more = dir / "more";
    fs::create_directories(more);
    app->openFiles({saved, more});
    // Right after launch the opening waits for the search window to settle.
    settle();
    clock->advance(4.9);
    settle();
    EXPECT_TRUE(presenter->questions.isEmpty());
    clock->advance(0.1);
    EXPECT_TRUE(kztest::processEventsUntil([&] { return !presenter->questions.isEmpty(); }));
    settle();
    // The search window was reset to take the result; the folder that came
    // with it was not added.
    EXPECT_TRUE(view->sourcesCntrl().sources().empty());
    EXPECT_FALSE(app->routing().openURL().has_value());
}

// A link to a folder handed over is that folder, at the first start and at a
// later one, with or without the slash that completion writes; what is not a
// folder (a photo library, a saved search, a missing path) is named, with
// why, in one alert per hand-over.
TEST_F(KZMaravexAppTest, HandedLinksToFoldersAreTakenAndWhatIsNotTakenIsSaid)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    KZSearchView* view = app->windowCntrl()->searchView();
    ASSERT_NE(view, nullptr);
    const fs::path music = dir.mkdir("tree/Music");
    const fs::path projects = dir.mkdir("data/projects");
    const fs::path work = dir.mkdir("data/work");
    fs::create_directory_symlink(projects, dir / "tree/Projects");
    fs::create_directory_symlink("../data/work", dir / "tree/Work");
    const fs::path library = dir.mkdir("tree/Family.photoslibrary");
    const fs::path smart = dir.write("tree/Recent.savedSearch", "<plist/>");
    const auto sourcePaths = [&] {
        std::vector<fs::path> paths;
        for (const KZSourceItemRef& source : view->sourcesCntrl().sources())
            paths.push_back(source->path());
        return paths;
    };

    // The first start, as main() hands over its arguments.
    std::string program = "maravex", link = (dir / "tree/Projects").string(), plain = music.string();
    char* argv[] = {program.data(), link.data(), plain.data(), nullptr};
    app->openFiles(platform::OpenedFiles::argumentPaths(3, argv));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return sourcePaths().size() == 2; })) << sourcePaths().size();
    EXPECT_EQ(sourcePaths(), (std::vector<fs::path>{projects, music}));
    EXPECT_EQ(view->sourcesCntrl().sources().front()->chosenPath(), dir / "tree/Projects");
    settle();
    EXPECT_TRUE(presenter->questions.isEmpty()) << presenter->questions.join(u'|').toStdString();

    // A later start hands over a link with its slash, a library and a saved
    // search: the folder is added, the others are named once.
    platform::OpenedFiles running(dir / "maravex.socket");
    ASSERT_EQ(running.start({}), platform::OpenedFiles::Role::Primary);
    running.setHandler([this](const std::vector<fs::path>& paths) { app->openFiles(paths); });
    const std::vector<fs::path> handed{(dir / "tree/Work").string() + "/", library, smart, dir / "tree/gone"};
    std::atomic<bool> done{false};
    auto role = platform::OpenedFiles::Role::Alone;
    std::thread later([&] {
        platform::OpenedFiles second(dir / "maravex.socket");
        role = second.start(handed, kztest::kPatienceMs);
        done = true;
    });
    kztest::processEventsUntil([&] { return done.load(); }, kztest::kPatience);
    later.join();
    ASSERT_EQ(role, platform::OpenedFiles::Role::HandedOver);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return sourcePaths().size() == 3; }));
    EXPECT_EQ(sourcePaths().back(), work);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !presenter->questions.isEmpty(); }));
    settle();
    ASSERT_EQ(presenter->questions.size(), 1);
    const QString said = presenter->questions.first();
    for (const fs::path& path : {library, smart, dir / "tree/gone"})
        EXPECT_TRUE(said.contains(platform::pathText(path))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("tree/Work"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("photo library"))) << said.toStdString();
}

// Folders handed by later starts while another window is in front: each
// start is confirmed, and every folder arrives, in the order handed. Behind
// Preferences the search window comes to the front and takes it at once;
// behind a window that waits for an answer (modal) nothing moves until it
// has been answered.
TEST_F(KZMaravexAppTest, FoldersHandedWhileAnotherWindowIsInFrontArriveInOrder)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    KZSearchView* view = app->windowCntrl()->searchView();
    ASSERT_NE(view, nullptr);
    const fs::path first = dir.mkdir("handed/First");
    const fs::path second = dir.mkdir("handed/Second");
    const fs::path third = dir.mkdir("handed/Third");
    const auto sourcePaths = [&] {
        std::vector<fs::path> paths;
        for (const KZSourceItemRef& source : view->sourcesCntrl().sources())
            paths.push_back(source->path());
        return paths;
    };
    platform::OpenedFiles running(dir / "maravex.socket");
    ASSERT_EQ(running.start({}), platform::OpenedFiles::Role::Primary);
    running.setHandler([this](const std::vector<fs::path>& paths) { app->openFiles(paths); });
    const auto handOver = [&](const fs::path& folder) {
        std::atomic<bool> done{false};
        auto role = platform::OpenedFiles::Role::Alone;
        std::thread later([&] {
            platform::OpenedFiles start(dir / "maravex.socket");
            role = start.start({folder}, kztest::kPatienceMs);
            done = true;
        });
        kztest::processEventsUntil([&] { return done.load(); }, kztest::kPatience);
        later.join();
        return role;
    };
    const auto closePreferences = qScopeGuard([] { KZPreferencesWindow::destroyShared(); });

    KZPreferencesWindow::showShared();
    QWidget* preferences = KZPreferencesWindow::sharedWindow();
    ASSERT_NE(preferences, nullptr);
    preferences->activateWindow();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return QApplication::activeWindow() == preferences; }));
    EXPECT_EQ(handOver(first), platform::OpenedFiles::Role::HandedOver);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return sourcePaths().size() == 1; })) << sourcePaths().size();
    EXPECT_EQ(sourcePaths(), std::vector<fs::path>{first});
    EXPECT_EQ(QApplication::activeWindow(), app->window());
    EXPECT_TRUE(preferences->isVisible());

    // A window that waits for an answer stays in front of both hand-overs.
    QWidget question;
    question.setWindowModality(Qt::ApplicationModal);
    question.show();
    question.activateWindow();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return QApplication::activeWindow() == &question; }));
    EXPECT_EQ(handOver(second), platform::OpenedFiles::Role::HandedOver);
    EXPECT_EQ(handOver(third), platform::OpenedFiles::Role::HandedOver);
    settle();
    EXPECT_EQ(sourcePaths(), std::vector<fs::path>{first}) << "nothing behind the question";
    EXPECT_EQ(QApplication::activeWindow(), &question);
    question.close();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return sourcePaths().size() == 3; })) << sourcePaths().size();
    EXPECT_EQ(sourcePaths(), (std::vector<fs::path>{first, second, third}));
    EXPECT_TRUE(app->foldersToAdd().empty());
    settle();
    EXPECT_TRUE(presenter->questions.isEmpty()) << presenter->questions.join(u'|').toStdString();
}

// A start with no private place for its socket runs alone: the user is told
// once, after the first window, that a later start will run beside it.
TEST_F(KZMaravexAppTest, AStartThatRunsAloneSaysSoOnce)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    const fs::path open = dir.mkdir("open");
    fs::permissions(open, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    platform::OpenedFiles alone(open / "maravex.socket");
    ASSERT_EQ(alone.start({}), platform::OpenedFiles::Role::Alone);
    launch();
    app->tellRunningAlone(alone.aloneReason());
    EXPECT_TRUE(presenter->questions.isEmpty()) << "not before the window is up";
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !presenter->questions.isEmpty(); }));
    settle();
    ASSERT_EQ(presenter->questions.size(), 1);
    EXPECT_TRUE(presenter->questions.first().contains(QStringLiteral("second program")));
    EXPECT_TRUE(presenter->questions.first().contains(platform::pathText(open))) << presenter->questions.first().toStdString();
}

// What a file manager does with a saved result: it starts the program again
// with the file, and that start hands it to the running program.
TEST_F(KZMaravexAppTest, ASavedResultHandedByALaterStartOpensInTheResultWindow)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    const fs::path file = savedResultOfATree();

    platform::OpenedFiles running(dir / "maravex.socket");
    ASSERT_EQ(running.start({}), platform::OpenedFiles::Role::Primary);
    running.setHandler([this](const std::vector<fs::path>& paths) { app->openFiles(paths); });
    std::atomic<bool> done{false};
    auto role = platform::OpenedFiles::Role::Alone;
    std::thread later([&] {
        platform::OpenedFiles second(dir / "maravex.socket");
        role = second.start({file}, kztest::kPatienceMs);
        done = true;
    });
    kztest::processEventsUntil([&] { return done.load(); }, kztest::kPatience);
    later.join();
    ASSERT_EQ(role, platform::OpenedFiles::Role::HandedOver);

    // Right after launch the opening waits for the search window to settle.
    clock->advance(5.0);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(presenter->questions.isEmpty());
    ASSERT_EQ(app->windowCntrl()->searchView()->sourcesCntrl().sources().size(), 1u);
    EXPECT_EQ(app->windowCntrl()->searchView()->sourcesCntrl().sources().front()->path(), dir / "tree");
}

// `maravex RESULT.maravex`, then, while the saved result waits for the
// search window to settle, `maravex FOLDER`: the folder is held until the
// result has opened, then asks of it as over any result and joins its
// sources, rather than landing in the search window the opening replaces.
TEST_F(KZMaravexAppTest, AFolderHandedOverWhileASavedResultNamedAtStartWaitsForItsOpening)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    const fs::path file = savedResultOfATree();
    const fs::path more = dir.mkdir("more");
    platform::OpenedFiles running(dir / "maravex.socket");
    ASSERT_EQ(running.start({file}), platform::OpenedFiles::Role::Primary);
    launch();
    running.setHandler([this](const std::vector<fs::path>& paths) { app->openFiles(paths); });
    app->openFiles({file}); // as main() hands its arguments over
    ASSERT_EQ(handOver({more}), platform::OpenedFiles::Role::HandedOver);
    settle();
    clock->advance(2.0);
    settle();
    EXPECT_TRUE(sourcePaths().empty()) << sourcePaths().size() << " sources before the opening";
    EXPECT_EQ(app->resultWindowCntrl(), nullptr);
    EXPECT_TRUE(presenter->questions.isEmpty());

    clock->advance(3.0);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return sourcePaths() == std::vector<fs::path>{dir / "tree", more}; }, std::chrono::seconds(30)))
        << sourcePaths().size() << " sources, questions: " << presenter->questions.join(u'|').toStdString();
    EXPECT_EQ(presenter->questions,
              QStringList{platform::localizedString(QStringLiteral("search_again"))});
    EXPECT_TRUE(kztest::processEventsUntil([&] { return searchWindowShown(); }));
    EXPECT_FALSE(app->routing().waitsForFront() || app->routing().isOpening() || app->routing().waitsForReady());
}

// A new user's first start with a saved result named: the Welcome comes
// first, and the result opens once Start Using has closed it, long after the
// launch's wait, as a later start's hand-over opens it.
TEST_F(KZMaravexAppTest, ASavedResultNamedAtTheFirstStartOpensOnceTheWelcomeCloses)
{
    const fs::path file = savedResultOfATree();
    launch();
    ASSERT_NE(app->welcome(), nullptr);
    const QPointer<QWidget> welcome = app->welcome()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(welcome, kztest::kPatienceMs));
    app->openFiles({file}); // as main() hands its arguments over
    settle();
    clock->advance(5.0);
    settle();
    clock->advance(10.0); // the user reads on
    settle();
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_FALSE(searchWindowShown());
    EXPECT_EQ(app->resultWindowCntrl(), nullptr);
    EXPECT_TRUE(app->routing().waitsForFront());

    welcome->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(welcome, kztest::kPatienceMs));
    QTest::keyClick(app->welcome()->startUsingBtn(), Qt::Key_Space);
    ASSERT_TRUE(kztest::processEventsUntil(
        [&] { return app->resultWindowCntrl() && app->resultWindowCntrl()->isVisible(); }));
    EXPECT_TRUE(!welcome || !welcome->isVisible());
    EXPECT_TRUE(presenter->questions.isEmpty()) << presenter->questions.join(u'|').toStdString();
    EXPECT_EQ(sourcePaths(), std::vector<fs::path>{dir / "tree"});
    EXPECT_FALSE(app->routing().waitsForFront() || app->routing().waitsToOpen());
}

// Folders named at the first start and handed over by later starts while the
// first Welcome is up wait for it, and all arrive, in order, when it closes.
TEST_F(KZMaravexAppTest, FoldersHandedDuringTheFirstWelcomeArriveWhenItCloses)
{
    const fs::path first = dir.mkdir("handed/First");
    const fs::path second = dir.mkdir("handed/Second");
    platform::OpenedFiles running(dir / "maravex.socket");
    ASSERT_EQ(running.start({}), platform::OpenedFiles::Role::Primary);
    launch();
    running.setHandler([this](const std::vector<fs::path>& paths) { app->openFiles(paths); });
    ASSERT_NE(app->welcome(), nullptr);
    const QPointer<QWidget> welcome = app->welcome()->window();
    app->openFiles({first});
    EXPECT_EQ(handOver({second}), platform::OpenedFiles::Role::HandedOver);
    settle();
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_FALSE(searchWindowShown());

    QTest::mouseClick(app->welcome()->startUsingBtn(), Qt::LeftButton);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return sourcePaths().size() == 2; })) << sourcePaths().size();
    EXPECT_EQ(sourcePaths(), (std::vector<fs::path>{first, second}));
    EXPECT_TRUE(app->foldersToAdd().empty());
    EXPECT_TRUE(presenter->questions.isEmpty()) << presenter->questions.join(u'|').toStdString();
}

// Many paths that are no folder are named in one alert of a few lines that
// says how many more there are.
TEST_F(KZMaravexAppTest, ManyPathsNotTakenAreSaidInAShortAlert)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    std::vector<fs::path> files;
    for (int i = 0; i < 40; ++i)
        files.push_back(dir.write("files/note " + std::to_string(i) + ".txt", "x"));
    app->openFiles(files);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !presenter->questions.isEmpty(); }));
    settle();
    ASSERT_EQ(presenter->questions.size(), 1);
    const QStringList lines = presenter->questions.first().split(u'\n');
    ASSERT_EQ(lines.size(), 1 + KZErrorDelegate::kListedNames + 1) << presenter->questions.first().toStdString();
    EXPECT_TRUE(lines.at(1).contains(platform::pathText(files.front())));
    EXPECT_EQ(lines.last(), QStringLiteral("…and 35 more"));
}

// Only the search window is open: Tab reaches its menu button, Space opens
// the menus there (Escape gives the focus back to the button), and the Alt
// letters of the menus' titles open each menu with its first item chosen,
// so that Return chooses it.
TEST_F(KZMaravexAppTest, TheSearchWindowsMenusAnswerTheKeyboard)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    QWidget* search = app->window();
    search->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(search, kztest::kPatienceMs));
    auto* button = search->findChild<QAbstractButton*>(QStringLiteral("menuButton"));
    ASSERT_NE(button, nullptr);
    for (int tab = 0; tab < 10 && QApplication::focusWidget() != button; ++tab)
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), button) << "Tab never reaches the menu button";
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Space);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return app->appMenu()->isVisible(); }));
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !app->appMenu()->isVisible(); }));
    // The closed menu gives the focus back to the button, with its ring, so
    // that Space opens the menus again and Tab goes on from there.
    EXPECT_EQ(QApplication::focusWidget(), button);
    EXPECT_TRUE(button->hasFocus());

    // From anywhere in the window: Alt+H, then Return on About.
    app->windowCntrl()->searchView()->setFocus();
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_H, Qt::AltModifier);
    QMenu* help = app->helpMenu();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return help->isVisible(); }));
    ASSERT_NE(help->activeAction(), nullptr);
    EXPECT_EQ(help->activeAction(), menuItem("about"));
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return app->about() != nullptr; }));
    EXPECT_FALSE(help->isVisible());
    app->about()->window()->close();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return app->about() == nullptr; }));

    struct Letter {
        Qt::Key key;
        QMenu* menu;
    } const letters[] = {{Qt::Key_F, app->fileMenu()},
                         {Qt::Key_E, KZMenuSet::shared().submenu(KZMenuSet::Edit)},
                         {Qt::Key_R, KZMenuSet::shared().submenu(KZMenuSet::Result)},
                         {Qt::Key_H, help}};
    for (const Letter& letter : letters) {
        SCOPED_TRACE(letter.menu->title().toStdString());
        search->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(search, kztest::kPatienceMs));
        QTest::keyClick(static_cast<QWidget*>(nullptr), letter.key, Qt::AltModifier);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return letter.menu->isVisible(); }));
        if (QAction* chosen = letter.menu->activeAction()) {
            EXPECT_TRUE(chosen->isEnabled()) << chosen->text().toStdString();
        }
        for (int level = 0; level < 2; ++level)
            QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return !app->appMenu()->isVisible(); }));
    }
}

TEST_F(KZMaravexAppTest, TheManualIsBuiltWithTheResourcesAndOpenedFromTheHelpMenu)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    const fs::path manual = platform::resourcePath("User Manual.pdf");
    ASSERT_FALSE(manual.empty()) << "the build writes the manual into the resources";
    std::ifstream in(manual, std::ios::binary);
    const std::string pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    std::size_t pages = 0;
    for (std::size_t at = pdf.find("/Type /Page"); at != std::string::npos; at = pdf.find("/Type /Page", at + 1))
        pages += pdf.compare(at, 12, "/Type /Pages") != 0;
    EXPECT_GE(pages, 5u) << "a manual of every window, not a stub";

    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    EXPECT_TRUE(menuItem("manual")->isEnabled());
    opened.clear();
    menuItem("manual")->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(platform::pathText(manual)));

    // Without the file the item offers nothing to open.
    kztest::TempDir elsewhere;
    platform::setResourceDirectory(elsewhere.path());
    const auto restore = qScopeGuard([] { platform::setResourceDirectory({}); });
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    EXPECT_FALSE(menuItem("manual")->isEnabled());
    opened.clear();
    app->helpMenuAction(KZMaravexApp::ManualTag);
    EXPECT_TRUE(opened.empty());
}

// A desktop whose xdg-open has no program for a PDF: xdg-open starts, says
// so on standard error only and fails. The user hears of it in an alert, and
// the window is not held up while the opener runs.
TEST_F(KZMaravexAppTest, TheManualThatNoProgramOpensIsToldWithoutHoldingTheWindow)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    KZSetURLOpener({});
    kztest::TempDir bin;
    kztest::EnvGuard path("PATH");
    const fs::path script = bin / "xdg-open";
    // It fails only once the test lets it go, after the menu item returned.
    const fs::path letGo = bin / "let-go";
    const fs::path ended = bin / "ended";
    std::ofstream(script) << "#!/bin/sh\ni=0\nwhile [ ! -e '" << letGo.string() << "' ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done\n"
                          << "touch '" << ended.string() << "'\necho 'xdg-open: no method available for opening' >&2\nexit 3\n";
    fs::permissions(script, fs::perms::owner_all);
    ::setenv("PATH", (bin.path().string() + ":/usr/bin:/bin").c_str(), 1);

    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    ASSERT_TRUE(menuItem("manual")->isEnabled());
    menuItem("manual")->trigger();
    EXPECT_FALSE(fs::exists(ended)) << "the window waited for the opener";
    EXPECT_TRUE(presenter->questions.isEmpty());
    std::ofstream(letGo) << "";
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !presenter->questions.isEmpty(); }, kztest::kPatience));
    settle();
    ASSERT_EQ(presenter->questions.size(), 1);
    EXPECT_TRUE(presenter->questions.first().contains(QStringLiteral("User Manual.pdf")))
        << presenter->questions.first().toStdString();
    // The opener was there and ran: the alert says so, not that none was found.
    EXPECT_EQ(presenter->details.first(),
              platform::localizedString(QStringLiteral("address_unopened_ran_info"), QStringLiteral("Errors")));
    EXPECT_FALSE(presenter->details.first().contains(QStringLiteral("was found")));
}

TEST_F(KZMaravexAppTest, MenusCarryTheirTagsAndFollowTheFrontWindow)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    struct Case {
        const char* name;
        int tag;
        bool enabledOverEmptySearch;
    } const cases[] = {
        {"newSearch", KZMaravexApp::NewSearchTag, false}, {"searchAgain", KZMaravexApp::SearchAgainTag, false},
        // Saved results open over the search window; Quick Look belongs to a
        // result window.
        {"openSaved", KZMaravexApp::OpenSavedTag, true}, {"quickLook", KZMaravexApp::QuickLookTag, false},
        {"tellFriend", KZMaravexApp::TellFriendTag, true}, {"manual", KZMaravexApp::ManualTag, true},
        {"contact", KZMaravexApp::ContactTag, true},
    };
    app->window()->activateWindow();
    settle();
    const bool searchIsKey = QApplication::activeWindow() == app->window();
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(menuItem(c.name), nullptr);
        EXPECT_EQ(menuItem(c.name)->data().toInt(), c.tag);
        if (searchIsKey) {
            EXPECT_EQ(menuItem(c.name)->isEnabled(), c.enabledOverEmptySearch);
        }
    }

    // The Quick Look item names the selection, quoted when it is one item.
    QMetaObject::invokeMethod(app->fileMenu(), "aboutToShow");
    EXPECT_EQ(menuItem("quickLook")->text(), platform::localizedString(QStringLiteral("quick_look")));
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::listSelectionDidChange, platform::bundleIdentifier(),
        {{QStringLiteral("fileName"), QStringLiteral("a.jpg")}, {QStringLiteral("count"), 1}});
    QMetaObject::invokeMethod(app->fileMenu(), "aboutToShow");
    EXPECT_TRUE(menuItem("quickLook")->text().endsWith(QStringLiteral(" \"a.jpg\"")));
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::listSelectionDidChange, platform::bundleIdentifier(),
        {{QStringLiteral("fileName"), QStringLiteral("a.jpg")}, {QStringLiteral("count"), 2}});
    QMetaObject::invokeMethod(app->fileMenu(), "aboutToShow");
    EXPECT_TRUE(menuItem("quickLook")->text().endsWith(QStringLiteral(" a.jpg")));
    app->setQuickLookPanelIsVisible(true);
    QMetaObject::invokeMethod(app->fileMenu(), "aboutToShow");
    EXPECT_EQ(menuItem("quickLook")->text(), platform::localizedString(QStringLiteral("close_quick_look")));

    // The result window's own Quick Look item is titled the same way, and
    // its menu bar carries the whole set.
    {
        KZResultWindowCntrl result;
        QMetaObject::invokeMethod(result.fileMenu(), "aboutToShow");
        EXPECT_EQ(result.quickLookItem()->text(), platform::localizedString(QStringLiteral("close_quick_look")));
        app->setQuickLookPanelIsVisible(false);
        QMetaObject::invokeMethod(result.fileMenu(), "aboutToShow");
        EXPECT_TRUE(result.quickLookItem()->text().endsWith(QStringLiteral(" a.jpg")));
        EXPECT_TRUE(result.fileMenu()->actions().contains(menuItem("newSearch")));
        EXPECT_EQ(result.menuBar()->actions().size(), 5);
    }

    // The three contact items open one address.
    opened.clear();
    for (int tag : {4, 5, 6})
        app->helpMenuAction(tag);
    ASSERT_EQ(opened.size(), 3U);
    EXPECT_EQ(opened[0], opened[1]);
    EXPECT_EQ(opened[1], opened[2]);
}

TEST_F(KZMaravexAppTest, ClosingTheLastWindowBesidePreferencesClosesPreferencesToo)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    app->window()->hide();
    struct Case {
        const char* name;
        bool preferencesOpen;
        bool overlayShown;
        bool extraWindow;
        bool preferencesClosed;
    } const cases[] = {
        {"preferences and one window", true, false, false, true},
        {"an overlay does not count", true, true, false, true},
        {"another window remains", true, false, true, false},
        {"preferences not open", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget closing;
        QWidget preferences;
        QWidget extra;
        QWidget overlay(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowTransparentForInput);
        KZQuitPolicy::markAsOverlay(&overlay);
        closing.show();
        preferences.show();
        if (c.extraWindow)
            extra.show();
        if (c.overlayShown)
            overlay.show();
        KZSetPreferencesWindowOpen(c.preferencesOpen);
        app->closeAppWindow(&closing);
        EXPECT_FALSE(closing.isVisible());
        EXPECT_EQ(!preferences.isVisible(), c.preferencesClosed);
        KZSetPreferencesWindowOpen(false);
    }
}

TEST_F(KZMaravexAppTest, CloseReachesTheWindowsOwnCloseActionWhileItAsksForIt)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    int ownCloses = 0;
    app->restoreCloseMenuItem(false, [&] { ++ownCloses; });
    app->closeMenuItem()->trigger();
    EXPECT_EQ(ownCloses, 1);

    // Closing through the delegate hands Close back to the windows.
    QWidget other;
    other.show();
    app->closeAppWindow(&other);
    app->closeMenuItem()->trigger();
    EXPECT_EQ(ownCloses, 1);
}

TEST_F(KZMaravexAppTest, CloseActsOnTheActiveWindowAfterTheSearchWindowLostIt)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    QWidget* search = app->window();
    ASSERT_NE(search, nullptr);
    search->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(search, kztest::kPatienceMs));

    // Another window comes to the front: Close (and its key) act on it.
    QWidget other;
    other.resize(300, 200);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, kztest::kPatienceMs));
    QTest::keyClick(&other, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(other.isVisible());
    EXPECT_TRUE(search->isVisible());

    // Back in front, the search window closes through its own action again.
    other.show();
    search->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(search, kztest::kPatienceMs));
    app->closeMenuItem()->trigger();
    EXPECT_FALSE(search->isVisible());
    EXPECT_TRUE(other.isVisible());
}

TEST_F(KZMaravexAppTest, EveryShortcutOfTheMenusWorksInTheRoundWindowAndTheItemsShowInItsMenu)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    QWidget* search = app->window();
    search->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(search, kztest::kPatienceMs));
    QStringList keys;
    for (const QAction* action : search->actions())
        keys << action->shortcut().toString(QKeySequence::PortableText);
    for (const char* key : {"Ctrl+N", "Ctrl+O", "Ctrl+S", "Ctrl+W", "Ctrl+Z", "Ctrl+Q", "Ctrl+,"})
        EXPECT_TRUE(keys.contains(QString::fromLatin1(key))) << key;

    // The round window's menu button opens the whole set.
    auto* button = search->findChild<QAbstractButton*>(QStringLiteral("menuButton"));
    ASSERT_NE(button, nullptr);
    QStringList menus;
    for (const QAction* action : app->appMenu()->actions())
        menus << action->text();
    EXPECT_EQ(menus.size(), 5);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(kztest::processEventsUntil([&] { return app->appMenu()->isVisible(); }));
    app->appMenu()->hide();
}

TEST_F(KZMaravexAppTest, CheckForUpdatesGivesTheAddressWhenNothingOpensIt)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    KZSetURLOpener([](const QUrl&) { return false; });
    auto presenter2 = std::make_shared<ScriptedPresenter>();
    KZErrorDelegate::sharedControl().setPresenter(presenter2);
    menuItem("checkUpdate")->trigger();
    EXPECT_TRUE(kztest::processEventsUntil([&] { return !presenter2->questions.isEmpty(); }));
    ASSERT_EQ(presenter2->questions.size(), 1);
    EXPECT_TRUE(presenter2->questions.first().contains(KZUpdater::downloadPage().toString()));
}

TEST_F(KZMaravexAppTest, ListSelectionIsFollowedFromTheBundleIdentifierOnly)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    auto& center = platform::NotificationCenter::defaultCenter();
    struct Case {
        const char* what;
        platform::NotificationObject object;
        QVariantMap userInfo;
        QString name;
        quint64 count;
    } const cases[] = {
        {"one row", platform::bundleIdentifier(),
         {{QStringLiteral("fileName"), QStringLiteral("a.jpg")}, {QStringLiteral("count"), 1}}, QStringLiteral("a.jpg"), 1},
        {"other object", QStringLiteral("Other"),
         {{QStringLiteral("fileName"), QStringLiteral("b.jpg")}, {QStringLiteral("count"), 9}}, QStringLiteral("a.jpg"), 1},
        {"no userInfo", platform::bundleIdentifier(), {}, QString(), 0},
    };
    for (const Case& c : cases) {
        center.post(KZNotification::listSelectionDidChange, c.object, c.userInfo);
        EXPECT_EQ(app->selectedFileName(), c.name) << c.what;
        EXPECT_EQ(app->selectionCount(), c.count) << c.what;
    }
}

// Restore Removed Items is offered only while the Trash holds a removal to
// put back, and then opens the window that lists it.
TEST_F(KZMaravexAppTest, RestoreRemovedItemsIsOfferedOnlyWhileTheTrashHoldsARemoval)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    const auto restoreWindow = []() -> KZRestoreWindowCntrl* {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<KZRestoreWindowCntrl*>(top); window && window->isVisible())
                return window;
        return nullptr;
    };
    ASSERT_NO_FATAL_FAILURE(trashHolding(dir, false));
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    EXPECT_FALSE(menuItem("restore")->isEnabled());
    menuItem("restore")->trigger();
    settle();
    EXPECT_EQ(restoreWindow(), nullptr) << "no empty window";

    ASSERT_NO_FATAL_FAILURE(trashHolding(dir, true));
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    ASSERT_TRUE(menuItem("restore")->isEnabled());
    menuItem("restore")->trigger();
    settle();
    KZRestoreWindowCntrl* window = restoreWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->list()->topLevelItemCount(), 1);
    window->close();

    // The Trash emptied by hand: nothing is left to put back.
    ASSERT_NO_FATAL_FAILURE(trashHolding(dir, false));
    QMetaObject::invokeMethod(app->appMenu(), "aboutToShow");
    EXPECT_FALSE(menuItem("restore")->isEnabled());
}

// A Help link goes to xdg-open, else to Qt's desktop services; when neither
// can open it, an alert gives the address instead of nothing happening.
TEST_F(KZMaravexAppTest, HelpLinksFallBackAndSayWhenNothingOpensThem)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    KZSetURLOpener({});
    std::vector<std::pair<QString, QUrl>> tried;
    bool xdgOpens = false;
    bool servicesOpen = true;
    const KZDesktopOpener::Launchers previous = KZDesktopOpener::setLaunchers(
        {[&](const QUrl& url) { return tried.emplace_back(QStringLiteral("xdg-open"), url), xdgOpens; },
         [&](const QUrl& url) { return tried.emplace_back(QStringLiteral("services"), url), servicesOpen; }});
    const auto restore = qScopeGuard([previous] { KZDesktopOpener::setLaunchers(previous); });
    const QUrl contact(platform::localizedString(QStringLiteral("contact")));
    const auto expect = [&](std::vector<std::pair<QString, QUrl>> order) {
        EXPECT_EQ(tried, order);
        tried.clear();
    };

    menuItem("contact")->trigger();
    settle();
    expect({{QStringLiteral("xdg-open"), contact}, {QStringLiteral("services"), contact}});
    EXPECT_TRUE(presenter->questions.isEmpty());

    // The contact address is a mail message: without a mail program the
    // user gets the address to write to, not an error about an address.
    servicesOpen = false;
    menuItem("contact")->trigger();
    settle();
    expect({{QStringLiteral("xdg-open"), contact}, {QStringLiteral("services"), contact}});
    EXPECT_TRUE(presenter->questions.isEmpty());
    const QList<KZUnsentMailDialog*> unsent = unsentMailsShown();
    ASSERT_EQ(unsent.size(), 1);
    EXPECT_EQ(unsent.first()->addressField()->text(), contact.path());
    unsent.first()->close();

    xdgOpens = true;
    menuItem("tellFriend")->trigger();
    settle();
    ASSERT_EQ(tried.size(), 1u);
    EXPECT_EQ(tried.front().first, QStringLiteral("xdg-open"));
    EXPECT_TRUE(presenter->questions.isEmpty());
}

// Quit while "Reading the music library…" shows, by Ctrl+Q on its sheet or
// File ▸ Quit: the reading stops as Stop stops it (nothing of it kept, no
// search) and the program ends.
TEST_F(KZMaravexAppTest, QuitWhileTheMusicLibraryIsReadStopsTheReadingAndEnds)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    const fs::path media = dir.mkdir("Music/Media");
    const fs::path library = dir / "Music/Library.xml";
    kztest::MusicLibraryBuilder(media).fileTrack(1, 1, media / "a.mp3", QStringLiteral("A")).write(library);
    defaults().setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(library.c_str()));
    dir.write("docs/a.txt", std::string(3000, 'a'));
    dir.write("docs/copy/a.txt", std::string(3000, 'a'));
    for (const bool byKeys : {true, false}) {
        SCOPED_TRACE(byKeys ? "Ctrl+Q" : "File > Quit");
        KZiTunesSupport::setSharedControl(nullptr);
        const auto forget = qScopeGuard([] { KZiTunesSupport::setSharedControl(nullptr); });
        launch();
        std::vector<int> exits;
        app->setExit([&](int code) { exits.push_back(code); });
        KZSearchWindowCntrl* search = app->windowCntrl();
        search->addFolders({dir / "docs"});
        KZSearchView* view = search->searchView();
        ASSERT_TRUE(kztest::processEventsUntil(
            [&] { return view->phase() == KZSearchView::Phase::LaidOut && view->startButton()->isVisible(); }));
        kztest::HeldMusicReader held;
        view->startButton()->click();
        ASSERT_TRUE(held.waitEntered());
        ASSERT_TRUE(kztest::processEventsUntil([&] {
            return search->musicLibraryReadingSheet() && search->musicLibraryReadingSheet()->isShown();
        }, std::chrono::seconds(10)));
        QWidget* sheet = search->musicLibraryReadingSheet()->controller()->window();
        if (byKeys) {
            sheet->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(sheet, kztest::kPatienceMs));
            QTest::keyClick(sheet, Qt::Key_Q, Qt::ControlModifier);
        } else {
            menuItem("quit")->trigger();
        }
        EXPECT_EQ(exits, std::vector<int>{0});
        ASSERT_TRUE(held.waitAllLeft());
        EXPECT_TRUE(held.sawStop());
        settle();
        EXPECT_FALSE(search->musicLibraryReading()->isRunning());
        EXPECT_EQ(search->musicLibraryReadingSheet(), nullptr);
        EXPECT_EQ(search->progressCntrl(), nullptr) << "no search started";
        EXPECT_TRUE(KZiTunesSupport::sharedControl().readingIsDue()) << "nothing of the reading is kept";
        app.reset();
        QApplication::closeAllWindows();
    }
}

// Tell a Friend and Contact Us without a mail program, chosen from the Help
// menu by a click, Return or Space: each road hands the message over once
// and gives it to send by hand.
TEST_F(KZMaravexAppTest, EveryRoadToAMailItemWithoutAMailProgramShowsTheMessage)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    withoutAMailProgram();
    QWidget* search = app->window();
    QMenu* help = app->helpMenu();
    enum class Road { Click, Return, Space };
    for (const char* name : {"tellFriend", "contact"}) {
        for (const Road road : {Road::Click, Road::Return, Road::Space}) {
            SCOPED_TRACE(std::string(name) + (road == Road::Click ? " click" : road == Road::Return ? " Return" : " Space"));
            opened.clear();
            search->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(search, kztest::kPatienceMs));
            QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_H, Qt::AltModifier);
            ASSERT_TRUE(kztest::processEventsUntil([&] { return help->isVisible(); }));
            QAction* item = menuItem(name);
            ASSERT_TRUE(item->isEnabled());
            help->setActiveAction(item);
            if (road == Road::Click)
                QTest::mouseClick(help, Qt::LeftButton, {}, help->actionGeometry(item).center());
            else
                QTest::keyClick(help, road == Road::Return ? Qt::Key_Return : Qt::Key_Space);
            ASSERT_TRUE(kztest::processEventsUntil([&] { return !app->appMenu()->isVisible(); }));
            settle();
            EXPECT_EQ(opened.size(), 1u);
            const QList<KZUnsentMailDialog*> unsent = unsentMailsShown();
            ASSERT_EQ(unsent.size(), 1);
            EXPECT_TRUE(presenter->questions.isEmpty());
            delete unsent.first();
        }
    }
}

// Tell a Friend without a mail program: its message, decoded whole, to copy.
TEST_F(KZMaravexAppTest, TellAFriendWithoutAMailProgramGivesTheMessageToCopy)
{
    defaults().setValue(KZDefaultsKey::is_first_run, false);
    launch();
    withoutAMailProgram();
    menuItem("tellFriend")->trigger();
    settle();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(presenter->questions.isEmpty());
    const QList<KZUnsentMailDialog*> shown = unsentMailsShown();
    ASSERT_FALSE(shown.isEmpty());
    KZUnsentMailDialog* unsent = shown.last();
    const QString text = platform::localizedString(QStringLiteral("tell_to_friend"));
    EXPECT_TRUE(unsent->addressField()->text().isEmpty());
    EXPECT_EQ(unsent->subjectField()->text(), QStringLiteral("Maravex"));
    EXPECT_EQ(unsent->textField()->toPlainText(), text.mid(text.indexOf(QStringLiteral("&body=")) + 6));
    unsent->close();
}

} // namespace
