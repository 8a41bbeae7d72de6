#pragma once

#include "result/model/KZShownList.h"
#include "result/window/KZMarkRequests.h"
#include "result/window/ui/KZGroupCellView.h"
#include "services/ui/KZWorkspace.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>

class KZFoundItemsOutlineView;
class KZGroupOptionsPopover;
class KZMarkInfoPopover;
class KZMarkMenuWidget;
class QMenu;
class QUndoStack;

// Marking from a tab's list: the check boxes of items and groups, the
// group's mark menu and options, the context menu with reveal, open and
// mark, and the double click. It watches the list's viewport, so the list
// itself knows nothing of it. Main thread only: the context menu's Mark
// asks its questions one item after the other as continuations.
class KZListMarkingCntrl : public QObject {
    Q_OBJECT
public:
    struct Settings {
        quint64 ownerTag = 0;
        QUndoStack* undoStack = nullptr;
        KZOutlineMarking::Hooks hooks;
        std::function<quint64()> currSelectedTag;
        std::function<bool(const KZFoundItemRef&)> isLastItemToMark;
        // Hands a group option to the result ("showMembersGroups").
        std::function<void(const QVariantMap&)> postShowMembers;
        std::function<bool()> aboutIsOpen;
        std::function<bool()> isRemoving;
        // The menu commands act only for the tab on screen.
        std::function<bool()> isSelectedTab;
        KZWorkspace* workspace = nullptr;
    };

    KZListMarkingCntrl(KZFoundItemsOutlineView* view, Settings settings);
    ~KZListMarkingCntrl() override;

    KZOutlineMarking& marking() { return *marking_; }
    KZMarkMenuWidget* markMenu() const { return markMenu_; }
    KZMarkInfoPopover* markInfoPopover() const { return markInfo_; }
    KZGroupOptionsPopover* optionsPopover() const { return options_; }
    QMenu* contextMenu() const { return contextMenu_; }
    // The group whose menu is open (drawn pressed).
    const KZFoundItemGroup* pressedGroup() const { return pressedGroup_; }

    // The group row's layout and state as painted.
    KZGroupCellView::State groupState(const KZListRow& row, int style) const;
    KZGroupRowLayout groupLayout(const QModelIndex& index) const;
    void paintGroup(QPainter* painter, const QRect& rect, const KZListRow& row, int style) const;
    // The part of a group row its controls are laid out in.
    QRect groupRowRect(const QRect& rowRect) const;
    // The check box of an item row, in viewport coordinates.
    QRect checkBoxRect(const QModelIndex& index) const;

    void prepareContextMenu(const QModelIndex& clicked);
    // For the window's menu items of the same tags, over the selection:
    // whether the command may be chosen, and the Mark item's title (empty:
    // keep the title).
    bool validateCommand(int tag, QString* title) const;
    // The window's menu item of that tag: the command over the selection.
    void runCommandOnSelection(int tag);
    void contextualMenuAction(int tag);
    void revealInFinder();
    void launchInFinder();
    // Toggles each item the menu acts on, in row order, one request each,
    // asking before a group's last unmarked member is marked.
    void contexualMenuMark();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool groupPress(const QModelIndex& index, const KZListRow& row, const QPoint& pos, Qt::MouseButton button);
    bool itemCheckPress(const QModelIndex& index, const KZListRow& row);
    void showMarkMenu(const QModelIndex& index, const KZListRow& row);
    std::optional<KZListRow> resolve(const QPersistentModelIndex& index, const KZListRow& pressed) const;
    std::optional<KZListRow> rowOfItem(const KZListRow& asked) const;
    // The menu's rows as they are now, used once; nullopt (with a beep)
    // when the clicked item has left the list.
    std::optional<QList<KZListRow>> rowsOfMenu();
    void confirmThenMark(const KZListRow& row, bool wasMarked, std::function<void()> next);
    void markNext(std::shared_ptr<QList<KZListRow>> rows);
    // The last-member question for a mark an undo held back.
    void askLastMember(const KZFoundItemRef& item, std::function<void(bool)> verdict);
    QModelIndex indexOfItem(const KZFoundItemRef& item) const;
    bool isLocationList() const;
    bool isMarkedList() const;
    void beep() const;

    QPointer<KZFoundItemsOutlineView> view_;
    Settings settings_;
    std::unique_ptr<KZOutlineMarking> marking_;
    KZGroupCellView groupCellView_;
    KZMarkMenuWidget* markMenu_ = nullptr;
    KZMarkInfoPopover* markInfo_ = nullptr;
    KZGroupOptionsPopover* options_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    // What the open context menu acts on: its items, and the clicked one.
    QList<KZListRow> menuRows_;
    std::optional<KZListRow> menuClicked_;
    const KZFoundItemGroup* pressedGroup_ = nullptr;
    QPersistentModelIndex menuIndex_;
    KZListRow menuRow_;
    qint64 menuRuleBefore_ = 0;
    bool contextMarkRunning_ = false;
};
