#include "services/ui/KZMenuSet.h"

#include "platform/StringTable.h"
#include "services/ui/KZFocusRing.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <optional>
#include <string>

namespace {

const char* const kRoleProperty = "kzMenuRole";
const char* const kAttachedProperty = "kzMenuSetAttached";

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

std::pair<int, int> keyOf(KZMenuSet::Menu menu, int tag)
{
    return {int(menu), tag};
}

// A menu's role from its name, or from its title for menus that have none.
std::optional<KZMenuSet::Menu> roleOfMenu(const QMenu* menu)
{
    static const std::pair<const char*, KZMenuSet::Menu> names[] = {{"file", KZMenuSet::File},
                                                                    {"edit", KZMenuSet::Edit},
                                                                    {"view", KZMenuSet::View},
                                                                    {"result", KZMenuSet::Result},
                                                                    {"help", KZMenuSet::Help}};
    const QString object = menu->objectName().toLower();
    QString title = menu->title();
    title.remove(QLatin1Char('&'));
    title = title.trimmed().toLower();
    for (const auto& [name, role] : names) {
        const QString plain = QString::fromLatin1(name);
        if (object == plain + QStringLiteral("menu") || title == plain ||
            title == text((std::string("menu_") + name).c_str()).remove(QLatin1Char('&')).toLower())
            return role;
    }
    return std::nullopt;
}

// A window of the program that takes the shortcuts: not a menu, tooltip,
// overlay or dialog.
bool takesShortcuts(const QWidget* window)
{
    if (!window->isWindow() || window->parentWidget())
        return false;
    switch (window->windowType()) {
    case Qt::Window:
        break;
    default:
        return false;
    }
    return !window->windowFlags().testFlag(Qt::WindowTransparentForInput) &&
           !window->testAttribute(Qt::WA_TransparentForMouseEvents);
}

// The platform's key bindings of the command a shared item stands for.
QList<QKeySequence> bindingsOf(const QAction* shared)
{
    static const std::pair<int, QKeySequence::StandardKey> standard[] = {
        {KZMenuSet::CloseTag, QKeySequence::Close}, {KZMenuSet::UndoTag, QKeySequence::Undo},
        {KZMenuSet::RedoTag, QKeySequence::Redo}};
    QList<QKeySequence> keys{shared->shortcut()};
    const KZMenuSet::Menu menu = KZMenuSet::menuOf(shared);
    if (menu == KZMenuSet::File || menu == KZMenuSet::Edit) {
        for (const auto& [tag, key] : standard)
            if (shared->data().toInt() == tag)
                keys += QKeySequence::keyBindings(key);
    }
    return keys;
}

// The window's own action does what the shared item does: it holds the
// shared key, or another binding of the same standard command.
bool sameKeys(const QAction* own, const QAction* shared)
{
    if (shared->shortcut().isEmpty())
        return false;
    const QList<QKeySequence> keys = bindingsOf(shared);
    for (const QKeySequence& key : own->shortcuts())
        if (!key.isEmpty() && keys.contains(key))
            return true;
    return false;
}

void collectActions(const QList<QAction*>& actions, QList<QAction*>& out)
{
    for (QAction* action : actions) {
        out.append(action);
        if (action->menu())
            collectActions(action->menu()->actions(), out);
    }
}

QIcon menuButtonIcon(int side)
{
    QPixmap pixmap(side * 2, side * 2);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 60));
    // Three short bars: the usual sign of a menu.
    const double w = side * 0.5;
    const double x = (side - w) / 2.0;
    const double bar = std::max(1.2, side / 11.0);
    for (int i = -1; i <= 1; ++i)
        p.drawRoundedRect(QRectF(x, side / 2.0 + i * side * 0.2 - bar / 2, w, bar), bar / 2, bar / 2);
    return QIcon(pixmap);
}

} // namespace

KZMenuSet& KZMenuSet::shared()
{
    // Made on first use, after the application object; it lives until exit.
    static auto* set = new KZMenuSet();
    return *set;
}

KZMenuSet::KZMenuSet() : QObject(qApp)
{
    build();
    if (qApp)
        qApp->installEventFilter(this);
}

QAction* KZMenuSet::addItem(Menu role, Menu menu, int tag, const char* name, const char* textKey,
                            const QKeySequence& keys)
{
    QMenu* into = submenus_.at(int(role));
    QAction* action = into->addAction(text(textKey));
    action->setParent(popup_);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(tag);
    action->setProperty(kRoleProperty, int(menu));
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        shortcutItems_.push_back(action);
    }
    items_[keyOf(menu, tag)] = action;
    connect(action, &QAction::triggered, this, [this, menu, tag] {
        auto found = handlers_.find(keyOf(menu, tag));
        if (found != handlers_.end() && found->second.live()) {
            // A copy: the handler may replace itself.
            const Handler handler = found->second.handler;
            handler();
        } else {
            QApplication::beep();
        }
    });
    return action;
}

void KZMenuSet::build()
{
    popup_ = new QMenu();
    popup_->setObjectName(QStringLiteral("appMenu"));
    const std::pair<Menu, const char*> menus[] = {
        {File, "menu_file"}, {Edit, "menu_edit"}, {View, "menu_view"}, {Result, "menu_result"}, {Help, "menu_help"}};
    static const char* const names[] = {"fileMenu", "editMenu", "viewMenu", "resultMenu", "helpMenu"};
    for (const auto& [role, key] : menus) {
        QMenu* menu = popup_->addMenu(text(key));
        menu->setObjectName(QString::fromLatin1(names[role]));
        submenus_[role] = menu;
        watch(role, menu);
    }
    connect(popup_, &QMenu::aboutToShow, this, [this] {
        refresh();
        if (willShow_ && willShowContext_)
            for (const auto& [role, menu] : submenus_)
                willShow_(Menu(role), menu);
    });

    addItem(File, File, NewSearchTag, "newSearch", "menu_new_search", QKeySequence(Qt::CTRL | Qt::Key_N));
    addItem(File, File, SearchAgainTag, "searchAgain", "menu_search_again", {});
    addItem(File, File, OpenSavedTag, "openSaved", "menu_open_saved", QKeySequence(Qt::CTRL | Qt::Key_O));
    addItem(File, File, SaveTag, "save", "menu_save", QKeySequence(Qt::CTRL | Qt::Key_S));
    submenus_[File]->addSeparator();
    addItem(File, File, QuickLookTag, "quickLook", "quick_look", QKeySequence(Qt::CTRL | Qt::Key_Y));
    submenus_[File]->addSeparator();
    addItem(File, File, CloseTag, "close", "menu_close", QKeySequence(Qt::CTRL | Qt::Key_W));
    // No desktop here has an application menu: its items go where a Linux
    // user looks for them, Quit at the end of File, Preferences at the end
    // of Edit, and the rest under Help.
    submenus_[File]->addSeparator();
    addItem(File, App, QuitTag, "quit", "menu_quit", QKeySequence(Qt::CTRL | Qt::Key_Q));

    addItem(Edit, Edit, UndoTag, "undo", "menu_undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
    addItem(Edit, Edit, RedoTag, "redo", "menu_redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    submenus_[Edit]->addSeparator();
    addItem(Edit, Edit, RestoreTag, "restore", "menu_restore", {});
    submenus_[Edit]->addSeparator();
    addItem(Edit, App, PreferencesTag, "preferences", "menu_preferences", QKeySequence(Qt::CTRL | Qt::Key_Comma));

    addItem(Result, Result, RemoveTag, "resultRemove", "menu_result_remove", {});
    addItem(Result, Result, ExportTag, "resultExport", "menu_result_export", {});
    submenus_[Result]->addSeparator();
    addItem(Result, Result, MarkTag, "resultMark", "unmark_unmark_item", {});

    addItem(Help, App, AboutTag, "about", "menu_about", {});
    addItem(Help, Help, WelcomeTag, "welcome", "menu_welcome", {});
    addItem(Help, Help, ManualTag, "manual", "menu_manual", {});
    submenus_[Help]->addSeparator();
    addItem(Help, App, UpdateTag, "checkUpdate", "check_update", {});
    submenus_[Help]->addSeparator();
    addItem(Help, App, TellFriendTag, "tellFriend", "menu_tell_friend", {});
    addItem(Help, App, NewsletterTag, "newsletter", "menu_newsletter", {});
    addItem(Help, Help, MoreProductsTag, "moreProducts", "menu_more_products", {});
    addItem(Help, Help, ContactTag, "contact", "menu_contact", {});
    refresh();
}

void KZMenuSet::watch(Menu role, QMenu* menu)
{
    connect(menu, &QMenu::aboutToShow, this, [this, role, menu] { willShow(role, menu); });
}

void KZMenuSet::willShow(Menu role, QMenu* menu)
{
    refresh();
    if (willShow_ && willShowContext_)
        willShow_(role, menu);
}

void KZMenuSet::setHandler(Menu menu, int tag, Handler handler, QObject* context)
{
    KZMenuSet& set = shared();
    Entry& entry = set.handlers_[keyOf(menu, tag)];
    entry.handler = std::move(handler);
    entry.context = context;
    entry.hasContext = context != nullptr;
    // Only this item: the others are checked as their menu opens or a
    // shortcut comes, and a check may ask the disk.
    if (auto item = set.items_.find(keyOf(menu, tag)); item != set.items_.end())
        set.refreshItem(item->first, item->second);
}

bool KZMenuSet::hasHandler(Menu menu, int tag)
{
    const KZMenuSet& set = shared();
    auto found = set.handlers_.find(keyOf(menu, tag));
    return found != set.handlers_.end() && found->second.live();
}

void KZMenuSet::setValidator(std::function<bool(const QAction*)> validator, QObject* context)
{
    KZMenuSet& set = shared();
    set.validator_ = std::move(validator);
    set.validatorContext_ = context;
    set.refresh();
}

void KZMenuSet::setMenuWillShow(std::function<void(Menu, QMenu*)> hook, QObject* context)
{
    KZMenuSet& set = shared();
    set.willShow_ = std::move(hook);
    set.willShowContext_ = context;
}

QAction* KZMenuSet::item(Menu menu, int tag) const
{
    auto found = items_.find(keyOf(menu, tag));
    return found == items_.end() ? nullptr : found->second;
}

KZMenuSet::Menu KZMenuSet::menuOf(const QAction* action)
{
    const QVariant role = action ? action->property(kRoleProperty) : QVariant();
    return role.isValid() ? Menu(role.toInt()) : Result;
}

QMenu* KZMenuSet::submenu(Menu menu) const
{
    auto found = submenus_.find(int(menu));
    return found == submenus_.end() ? nullptr : found->second;
}

void KZMenuSet::refreshItem(const std::pair<int, int>& key, QAction* action)
{
    auto found = handlers_.find(key);
    const bool handled = found != handlers_.end() && found->second.live();
    action->setEnabled(handled && (!validator_ || !validatorContext_ || validator_(action)));
}

void KZMenuSet::refresh()
{
    for (const auto& [key, action] : items_)
        refreshItem(key, action);
    // A menu with nothing in it (View, whose items are the result
    // window's own) stays out of the round windows' menu: greyed, it would
    // only promise something that is never there.
    for (const auto& [role, menu] : submenus_) {
        menu->menuAction()->setEnabled(!menu->actions().isEmpty());
        menu->menuAction()->setVisible(!menu->actions().isEmpty());
    }
}

void KZMenuSet::refreshShortcutItems()
{
    // Only what a key can reach: an item without keys is checked when its
    // menu opens, and a check may ask the disk.
    for (const auto& [key, action] : items_)
        if (!action->shortcut().isEmpty())
            refreshItem(key, action);
}

void KZMenuSet::installInto(QMenuBar* bar)
{
    if (!bar)
        return;
    QWidget* window = bar->window();
    QList<QAction*> own;
    collectActions(bar->actions(), own);
    // The window's own item stands in for the shared one, and answers the
    // shared key too (Close is Ctrl+F4 before Ctrl+W here).
    auto windowUses = [&own](const QAction* shared) {
        for (QAction* action : own) {
            if (!sameKeys(action, shared))
                continue;
            if (!action->shortcuts().contains(shared->shortcut()))
                action->setShortcuts(action->shortcuts() << shared->shortcut());
            return true;
        }
        return false;
    };

    // The window's own menus by role.
    std::map<int, QMenu*> found;
    for (QAction* top : bar->actions()) {
        if (QMenu* menu = top->menu())
            if (auto role = roleOfMenu(menu); role && !found.count(*role))
                found[*role] = menu;
    }
    QAction* before = nullptr;
    // From the last role to the first, so each new menu goes in front of
    // the next one.
    for (int role = Help; role >= File; --role) {
        QMenu* menu = nullptr;
        if (auto it = found.find(role); it != found.end()) {
            menu = it->second;
        } else {
            menu = new QMenu(submenus_.at(role)->title(), bar);
            menu->setObjectName(submenus_.at(role)->objectName());
            if (before)
                bar->insertMenu(before, menu);
            else
                bar->addMenu(menu);
        }
        before = menu->menuAction();
        watch(Menu(role), menu);

        const QList<QAction*> sharedItems = submenus_.at(role)->actions();
        QList<QAction*> take;
        for (QAction* shared : sharedItems) {
            if (shared->isSeparator() || !windowUses(shared))
                take.append(shared);
        }
        if (role == File) {
            // New Search … Save above the window's own items, Close below
            // them and Quit last.
            QAction* first = menu->actions().value(0);
            QList<QAction*> top;
            QList<QAction*> bottom;
            QAction* quit = nullptr;
            for (QAction* shared : take) {
                if (shared->isSeparator())
                    continue;
                if (shared->property(kRoleProperty).toInt() == App && shared->data().toInt() == QuitTag)
                    quit = shared;
                else if (shared->data().toInt() == QuickLookTag || shared->data().toInt() == CloseTag)
                    bottom.append(shared);
                else
                    top.append(shared);
            }
            menu->insertActions(first, top);
            if (first)
                menu->insertSeparator(first);
            auto separate = [menu] {
                if (!menu->actions().isEmpty() && !menu->actions().constLast()->isSeparator())
                    menu->addSeparator();
            };
            if (!bottom.isEmpty()) {
                separate();
                menu->addActions(bottom);
            }
            if (quit) {
                separate();
                menu->addAction(quit);
            }
        } else {
            // Shared items after the window's own, without a separator at
            // either end.
            bool any = false;
            for (QAction* shared : take)
                any = any || !shared->isSeparator();
            if (!any) {
                menu->menuAction()->setEnabled(!menu->actions().isEmpty());
                continue;
            }
            if (!menu->actions().isEmpty())
                menu->addSeparator();
            QAction* last = nullptr;
            for (QAction* shared : take) {
                if (shared->isSeparator()) {
                    if (last && !last->isSeparator())
                        last = menu->addSeparator();
                } else {
                    menu->addAction(shared);
                    last = shared;
                }
            }
        }
        menu->menuAction()->setEnabled(!menu->actions().isEmpty());
    }
    if (window)
        window->setProperty(kAttachedProperty, true);
    refresh();
}

void KZMenuSet::attachShortcuts(QWidget* window)
{
    if (!window || window->property(kAttachedProperty).toBool())
        return;
    window->setProperty(kAttachedProperty, true);
    // A window's own shortcut wins: two actions on one key would make Qt
    // run neither.
    const QList<QAction*> own = window->findChildren<QAction*>() + window->actions();
    for (QAction* shared : shortcutItems_) {
        bool taken = false;
        for (const QAction* action : own)
            taken = taken || (action != shared && action->shortcuts().contains(shared->shortcut()));
        if (!taken)
            window->addAction(shared);
    }
}

QToolButton* KZMenuSet::makeMenuButton(QWidget* parent, int side)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("menuButton"));
    // In the Tab chain, where Space opens it; a click leaves the focus where
    // it was, as on the round windows' other controls.
    button->setFocusPolicy(Qt::TabFocus);
    KZFocusRing::onlyFromTheKeyboard(button);
    button->setToolTip(text("menu_button_tip"));
    button->setFixedSize(side, side);
    button->setIcon(menuButtonIcon(side));
    button->setIconSize(QSize(side, side));
    button->setStyleSheet(QStringLiteral("QToolButton { background: rgb(232,232,232); border: 1px solid rgba(0,0,0,80);"
                                         " border-radius: %1px; padding: 0; }"
                                         "QToolButton:hover { background: rgb(250,250,250); }"
                                         "QToolButton:pressed { background: rgb(200,200,200); }"
                                         "QToolButton:focus { border: 2px solid %2; }")
                              .arg(side / 2)
                              .arg(KZFocusRing::colour(button).name()));
    connect(button, &QToolButton::clicked, this, [this, button] { openPopupAt(button, nullptr); });
    // The window has no menu bar: the Alt letters of the menus' titles open
    // them from this button, as a menu bar's would.
    for (const auto& [role, menu] : submenus_) {
        const QKeySequence letter = QKeySequence::mnemonic(menu->title());
        if (letter.isEmpty())
            continue;
        auto* shortcut = new QShortcut(letter, button);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, button, menu = menu] {
            if (menu->menuAction()->isVisible())
                openPopupAt(button, menu);
        });
    }
    return button;
}

void KZMenuSet::openPopupAt(QWidget* button, QMenu* open)
{
    popup_->popup(button->mapToGlobal(QPoint(0, button->height() + 2)));
    if (!open)
        return;
    // Opened at once (the popup is up, so no hover delay), enabled as it
    // opens; its first item chosen, as a menu bar opens a menu from the
    // keyboard.
    popup_->setActiveAction(open->menuAction());
    for (QAction* action : open->actions()) {
        if (!action->isSeparator() && action->isVisible() && action->isEnabled()) {
            open->setActiveAction(action);
            break;
        }
    }
}

bool KZMenuSet::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Menus work out their enabling when they open; a shortcut must see
        // the state of now, before Qt looks the key up.
        if (static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier)
            refreshShortcutItems();
        break;
    case QEvent::KeyPress: {
        // Space chooses the highlighted item, as Return does and as menus
        // on the other desktops here do; this style would ignore it.
        auto* key = static_cast<QKeyEvent*>(event);
        auto* menu = qobject_cast<QMenu*>(watched);
        if (menu && key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && menu->activeAction() &&
            !menu->style()->styleHint(QStyle::SH_Menu_SpaceActivatesItem, nullptr, menu)) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QCoreApplication::sendEvent(menu, &enter);
            return true;
        }
        break;
    }
    case QEvent::Show:
        if (watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget != popup_ && takesShortcuts(widget))
                attachShortcuts(widget);
        }
        break;
    default:
        break;
    }
    return false;
}
