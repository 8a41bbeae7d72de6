#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <utility>
#include <vector>

class QAction;
class QKeySequence;
class QMenu;
class QMenuBar;
class QToolButton;
class QWidget;

// The program's menus, built once and shared by every window: the menu bar
// of a window that has one merges them with its own menus, the round windows
// open them from a right click or their menu button, and every other window
// of the program gets their shortcuts. Each item is one QAction, so its
// enabling and title are the same wherever it shows.
//
// An item is enabled only while a handler is registered for it (and the
// validator agrees): a feature joins the menus by registering its handler,
// for instance the preferences window:
//
//   KZMenuSet::setHandler(KZMenuSet::App, KZMenuSet::PreferencesTag, [] { ... });
//
// Main thread only.
class KZMenuSet : public QObject {
    Q_OBJECT
public:
    // Which menu an item belongs to; the application menu's items show in
    // File (Quit), Edit (Preferences) and Help, since no desktop here has an
    // application menu.
    enum Menu { File, Edit, View, Result, Help, App };

    // File.
    static constexpr int NewSearchTag = 0;
    static constexpr int SearchAgainTag = 1;
    static constexpr int QuickLookTag = 2;
    static constexpr int OpenSavedTag = 3;
    static constexpr int SaveTag = 4;
    static constexpr int CloseTag = -10;
    // Edit.
    static constexpr int UndoTag = -20;
    static constexpr int RedoTag = -21;
    static constexpr int RestoreTag = 13000;
    // Result: they act on the tab on screen.
    static constexpr int RemoveTag = 1;
    static constexpr int ExportTag = 2;
    static constexpr int MarkTag = 102;
    // Application menu.
    static constexpr int AboutTag = 1;
    static constexpr int TellFriendTag = 2;
    static constexpr int NewsletterTag = 3;
    static constexpr int PreferencesTag = 4;
    static constexpr int UpdateTag = 9;
    static constexpr int QuitTag = -30;
    // Help.
    static constexpr int ManualTag = 1;
    static constexpr int WelcomeTag = 2;
    static constexpr int MoreProductsTag = 3;
    static constexpr int ContactTag = 4;

    using Handler = std::function<void()>;

    static KZMenuSet& shared();

    // What choosing the item does; an empty handler disables the item again.
    // With a `context`, the handler ends when that object is destroyed.
    static void setHandler(Menu menu, int tag, Handler handler, QObject* context = nullptr);
    static bool hasHandler(Menu menu, int tag);
    // Rules every enabled item must also pass (the front window's state);
    // ends with `context`.
    static void setValidator(std::function<bool(const QAction*)> validator, QObject* context);
    // Called before a menu of the set opens, with its role (the File menu's
    // Quick Look title); ends with `context`.
    static void setMenuWillShow(std::function<void(Menu, QMenu*)> hook, QObject* context);

    // The item, wherever it shows.
    QAction* item(Menu menu, int tag) const;
    static Menu menuOf(const QAction* action);
    // The whole set in one menu (File, Edit, View, Result, Help submenus):
    // the round windows' right click and menu button.
    QMenu* popupMenu() const { return popup_; }
    QMenu* submenu(Menu menu) const;
    // Merges the set into a window's menu bar: the window's own File, Edit,
    // View and Result menus keep their items and get the shared ones around
    // them; a shared item whose shortcut the window already uses stays out.
    void installInto(QMenuBar* bar);
    // The shortcuts of the set in a window without a menu bar.
    void attachShortcuts(QWidget* window);
    // A small round button that opens the popup menu below itself: on a
    // click, on Space once Tab has reached it, and with the Alt letter of a
    // menu's title (that menu opened) while its window is active.
    QToolButton* makeMenuButton(QWidget* parent, int side);
    // Recomputes every item's enabling.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    KZMenuSet();
    void build();
    QAction* addItem(Menu role, Menu menu, int tag, const char* name, const char* textKey, const QKeySequence& keys);
    void willShow(Menu role, QMenu* menu);
    // The popup menu below `button`, with `open` (one of its menus) open.
    void openPopupAt(QWidget* button, QMenu* open);
    void refreshItem(const std::pair<int, int>& key, QAction* action);
    void refreshShortcutItems();
    void watch(Menu role, QMenu* menu);

    struct Entry {
        Handler handler;
        QPointer<QObject> context;
        bool hasContext = false;
        bool live() const { return handler && (!hasContext || context); }
    };
    std::map<std::pair<int, int>, Entry> handlers_;
    std::map<std::pair<int, int>, QAction*> items_;
    std::function<bool(const QAction*)> validator_;
    QPointer<QObject> validatorContext_;
    std::function<void(Menu, QMenu*)> willShow_;
    QPointer<QObject> willShowContext_;
    QMenu* popup_ = nullptr;
    std::map<int, QMenu*> submenus_;
    std::vector<QAction*> shortcutItems_;
};
