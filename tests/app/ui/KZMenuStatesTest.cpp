// The shared menus in the states of the windows: an item is enabled only
// where choosing it does something.

#include "app/ui/LaunchedProgram.h"

#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZMenuSet.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

// Counts the save panels asked for, and cancels each.
class CountedPanels : public KZFileDialogPresenter {
public:
    void present(const Request& request, Completion done) override
    {
        saves += request.mode == Mode::SaveFile;
        done({});
    }
    int saves = 0;
};

class MenuStates : public kztest::LaunchedProgramTest {
protected:
    // Every item of the shared menus, as its menu shows it now.
    std::map<std::string, bool> shared()
    {
        QMetaObject::invokeMethod(KZMenuSet::shared().popupMenu(), "aboutToShow");
        std::map<std::string, bool> items;
        for (QAction* sub : KZMenuSet::shared().popupMenu()->actions())
            if (QMenu* menu = sub->menu()) {
                QMetaObject::invokeMethod(menu, "aboutToShow");
                for (QAction* a : menu->actions())
                    if (!a->isSeparator())
                        items[a->objectName().toStdString()] = a->isEnabled();
            }
        return items;
    }
};

// Save, Quick Look and the Result menu act on the result window: enabled
// while it is on screen (Preferences in front of it included), disabled in
// the search window before any result and after New Search has taken the
// result window away, where they would have nothing to act on.
TEST_F(MenuStates, TheResultWindowsCommandsAreOfferedOnlyWhileItIsOnScreen)
{
    const std::vector<fs::path> folders = twoFoldersOfCopies();
    ASSERT_NO_FATAL_FAILURE(launch());
    const kztest::SettleTransitionsOnExit settle;
    const auto expect = [this](bool onScreen, const char* state) {
        SCOPED_TRACE(state);
        const std::map<std::string, bool> items = shared();
        for (const char* name : {"save", "resultRemove", "resultExport"})
            EXPECT_EQ(items.at(name), onScreen) << name;
        // Nothing is selected: there is nothing to preview or mark.
        for (const char* name : {"quickLook", "resultMark"})
            EXPECT_FALSE(items.at(name)) << name;
        // Each window's own commands stay.
        for (const char* name : {"openSaved", "close", "quit", "about", "newsletter"})
            EXPECT_TRUE(items.at(name)) << name;
    };
    expect(false, "search window before any result");

    app->windowCntrl()->addFolders(folders);
    KZResultWindowCntrl* result = nullptr;
    ASSERT_NO_FATAL_FAILURE(searchAndShowTheResult(&result));
    expect(true, "result window");
    KZPreferencesWindow::showShared();
    ASSERT_TRUE(QTest::qWaitForWindowActive(KZPreferencesWindow::sharedWindow(), kztest::kPatienceMs));
    expect(true, "Preferences in front of the result window");
    KZPreferencesWindow::destroyShared();

    result->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(result, kztest::kPatienceMs));
    app->newSearchAction();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return app->window()->isVisible() && !result->isVisible(); }));
    ASSERT_TRUE(kztest::settleWindowTransitions());
    expect(false, "search window after New Search");
    // Its shortcut asks for no file either.
    const auto panels = std::make_shared<CountedPanels>();
    const auto previous = KZFileDialogPresenter::setShared(panels);
    app->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window(), kztest::kPatienceMs));
    QTest::keyClick(app->window(), Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(panels->saves, 0);
    KZFileDialogPresenter::setShared(previous);
}

} // namespace
