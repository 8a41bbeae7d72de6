#include "services/ui/KZMenuSet.h"

#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWidget>

#include <QSet>

#include <gtest/gtest.h>

#include <memory>

namespace {

KZMenuSet& set()
{
    return KZMenuSet::shared();
}

QStringList titles(const QMenuBar* bar)
{
    QStringList out;
    for (const QAction* action : bar->actions())
        out << action->text().remove(QLatin1Char('&'));
    return out;
}

QStringList names(const QMenu* menu)
{
    QStringList out;
    for (const QAction* action : menu->actions())
        out << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
    return out;
}

TEST(KZMenuSetTest, AnItemIsChoosableOnlyWhileAFeatureHandlesIt)
{
    // The set is shared: an item a case before enabled stays so until the
    // next look, which comes first here.
    set().refresh();
    QAction* preferences = set().item(KZMenuSet::App, KZMenuSet::PreferencesTag);
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(preferences->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(preferences->data().toInt(), 4);
    EXPECT_FALSE(preferences->isEnabled());

    int opened = 0;
    {
        QObject owner;
        KZMenuSet::setHandler(KZMenuSet::App, KZMenuSet::PreferencesTag, [&] { ++opened; }, &owner);
        EXPECT_TRUE(preferences->isEnabled());
        preferences->trigger();
        EXPECT_EQ(opened, 1);
        // The same tag in another menu is another item.
        EXPECT_FALSE(KZMenuSet::hasHandler(KZMenuSet::Help, KZMenuSet::PreferencesTag));
    }
    // The handler's owner is gone: the item is disabled again at the next look.
    set().refresh();
    EXPECT_FALSE(preferences->isEnabled());
    preferences->trigger();
    EXPECT_EQ(opened, 1);

    // Open and Save carry their shortcuts before anything handles them.
    EXPECT_EQ(set().item(KZMenuSet::File, KZMenuSet::OpenSavedTag)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(set().item(KZMenuSet::File, KZMenuSet::SaveTag)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_FALSE(set().item(KZMenuSet::File, KZMenuSet::SaveTag)->isEnabled());
}

// A window sets its handlers on every selection change, and a check may read
// the disk: a new handler has its own item checked, not the whole set.
TEST(KZMenuSetTest, ANewHandlerChecksOnlyItsOwnItem)
{
    QObject owner;
    QList<const QAction*> asked;
    KZMenuSet::setValidator([&asked](const QAction* item) {
        asked << item;
        return true;
    }, &owner);
    KZMenuSet::setHandler(KZMenuSet::Edit, KZMenuSet::RestoreTag, [] { }, &owner);
    KZMenuSet::setHandler(KZMenuSet::App, KZMenuSet::QuitTag, [] { }, &owner);
    asked.clear();
    KZMenuSet::setHandler(KZMenuSet::App, KZMenuSet::QuitTag, [] { }, &owner);
    QAction* quit = set().item(KZMenuSet::App, KZMenuSet::QuitTag);
    EXPECT_EQ(asked, QList<const QAction*>{quit});
    EXPECT_TRUE(quit->isEnabled());
    // An opening menu checks them all.
    set().refresh();
    EXPECT_TRUE(asked.contains(set().item(KZMenuSet::Edit, KZMenuSet::RestoreTag)));
}

TEST(KZMenuSetTest, AWindowsMenuBarGetsTheWholeSetAroundItsOwnItems)
{
    QMainWindow window;
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("&File"));
    QAction* quickLook = file->addAction(QStringLiteral("Quick Look"));
    quickLook->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    file->addSeparator();
    QAction* close = file->addAction(QStringLiteral("Close"));
    close->setShortcut(QKeySequence::Close);
    QMenu* edit = window.menuBar()->addMenu(QStringLiteral("&Edit"));
    QAction* undo = edit->addAction(QStringLiteral("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    window.menuBar()->addMenu(QStringLiteral("&View"))->addAction(QStringLiteral("Group"));

    set().installInto(window.menuBar());

    EXPECT_EQ(titles(window.menuBar()),
              (QStringList{QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("View"),
                           QStringLiteral("Result"), QStringLiteral("Help")}));
    // Each menu opens with Alt and a letter of its own, the shared ones too.
    QSet<QChar> letters;
    for (const QAction* top : window.menuBar()->actions()) {
        const QString title = top->text();
        const qsizetype amp = title.indexOf(QLatin1Char('&'));
        ASSERT_TRUE(amp >= 0 && amp + 1 < title.size()) << title.toStdString() << " has no Alt letter";
        EXPECT_FALSE(letters.contains(title.at(amp + 1).toLower())) << title.toStdString();
        letters.insert(title.at(amp + 1).toLower());
    }
    // The shared items around the window's own; its Close and Quick Look
    // keep their keys, so the shared ones stay out.
    EXPECT_EQ(names(file).mid(0, 5), (QStringList{QStringLiteral("newSearch"), QStringLiteral("searchAgain"),
                                                  QStringLiteral("openSaved"), QStringLiteral("save"),
                                                  QStringLiteral("-")}));
    EXPECT_TRUE(file->actions().contains(quickLook));
    EXPECT_TRUE(file->actions().contains(close));
    EXPECT_FALSE(file->actions().contains(set().item(KZMenuSet::File, KZMenuSet::CloseTag)));
    // Its Close answers the program's Close key as well as its own binding.
    EXPECT_TRUE(close->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_W)));
    EXPECT_FALSE(edit->actions().contains(set().item(KZMenuSet::Edit, KZMenuSet::UndoTag)));

    // No key is claimed twice in one window.
    QList<QKeySequence> keys;
    const QList<QAction*> all = window.findChildren<QAction*>() + window.menuBar()->actions();
    QList<QAction*> inMenus;
    for (QAction* top : window.menuBar()->actions())
        if (top->menu())
            inMenus += top->menu()->actions();
    for (const QAction* action : inMenus) {
        if (action->shortcut().isEmpty())
            continue;
        for (const QKeySequence& key : action->shortcuts()) {
            EXPECT_FALSE(keys.contains(key)) << key.toString().toStdString();
            keys << key;
        }
    }

    QMenu* help = window.menuBar()->actions().constLast()->menu();
    ASSERT_NE(help, nullptr);
    for (const char* name : {"about", "welcome", "checkUpdate"})
        EXPECT_TRUE(names(help).contains(QString::fromLatin1(name))) << name;
    // Quit ends File below the window's own Close, Preferences ends Edit.
    const QList<QAction*> fileItems = file->actions();
    ASSERT_GE(fileItems.size(), 3);
    EXPECT_EQ(fileItems.at(fileItems.size() - 3), close);
    EXPECT_TRUE(fileItems.at(fileItems.size() - 2)->isSeparator());
    EXPECT_EQ(fileItems.constLast(), set().item(KZMenuSet::App, KZMenuSet::QuitTag));
    EXPECT_EQ(edit->actions().constLast(), set().item(KZMenuSet::App, KZMenuSet::PreferencesTag));
    EXPECT_TRUE(edit->actions().contains(set().item(KZMenuSet::Edit, KZMenuSet::RestoreTag)));
}

TEST(KZMenuSetTest, QuitEndsFileAndPreferencesEndsEditWithTheirTagsAndKeys)
{
    QMenu* file = set().submenu(KZMenuSet::File);
    QMenu* edit = set().submenu(KZMenuSet::Edit);
    QMenu* help = set().submenu(KZMenuSet::Help);
    QAction* quit = set().item(KZMenuSet::App, KZMenuSet::QuitTag);
    QAction* preferences = set().item(KZMenuSet::App, KZMenuSet::PreferencesTag);
    QAction* restore = set().item(KZMenuSet::Edit, KZMenuSet::RestoreTag);
    ASSERT_TRUE(quit && preferences && restore);

    EXPECT_EQ(file->actions().constLast(), quit);
    EXPECT_TRUE(file->actions().at(file->actions().size() - 2)->isSeparator());
    EXPECT_EQ(edit->actions().constLast(), preferences);
    EXPECT_TRUE(edit->actions().contains(restore));
    for (const char* name : {"quit", "preferences", "restore"})
        EXPECT_FALSE(names(help).contains(QString::fromLatin1(name))) << name;
    EXPECT_EQ(names(help).value(0), QStringLiteral("about"));

    // The role keeps the tag apart from File's and Edit's own items.
    EXPECT_EQ(KZMenuSet::menuOf(quit), KZMenuSet::App);
    EXPECT_EQ(quit->data().toInt(), KZMenuSet::QuitTag);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(KZMenuSet::menuOf(preferences), KZMenuSet::App);
    EXPECT_EQ(preferences->data().toInt(), KZMenuSet::PreferencesTag);
    EXPECT_EQ(preferences->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(KZMenuSet::menuOf(restore), KZMenuSet::Edit);
}

TEST(KZMenuSetTest, ShortcutsWorkInAWindowWithoutAMenuBarAndFollowTheStateOfNow)
{
    QObject owner;
    bool allowed = false;
    int newSearches = 0;
    int preferences = 0;
    KZMenuSet::setHandler(KZMenuSet::File, KZMenuSet::NewSearchTag, [&] { ++newSearches; }, &owner);
    KZMenuSet::setHandler(KZMenuSet::App, KZMenuSet::PreferencesTag, [&] { ++preferences; }, &owner);
    KZMenuSet::setValidator(
        [&](const QAction* item) { return item->data().toInt() != KZMenuSet::NewSearchTag || allowed; }, &owner);

    QWidget window;
    window.resize(200, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(preferences, 1);
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(newSearches, 0);
    // Enabled since the last menu showed: the key sees it without a menu.
    allowed = true;
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(newSearches, 1);
}

} // namespace
