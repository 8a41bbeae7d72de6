#pragma once

#include "platform/Subscription.h"
#include "result/model/KZResultWindowHost.h"
#include "result/panes/KZResultTabsDelegate.h"
#include "resultfiles/KZSavedResultFormat.h"

#include <QMainWindow>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class KZResultCntrl;
class KZResultOutlineCntrl;
class KZResultTabsView;
class KZFoundListCntrl;
class KZListMarkingCntrl;
class KZWorkspace;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolBar;
class QToolButton;
class QUndoStack;
class QWidget;

// The window of one result: the row of file-type tabs over the tab shown,
// the selection summary and the remove button under it, the grouping and
// preview-position switches, the close guard, the removal state and the
// undo of removals. It owns the result's controller and shows itself when
// the progress window hands over ("showWindowWithTag"). Main thread only.
class KZResultWindowCntrl : public QMainWindow, public KZResultWindowHost, public KZResultTabsDelegate {
    Q_OBJECT
public:
    // The missing-tracks tab's tracks for a save; none without that tab.
    std::optional<std::vector<KZSavedDeadTrack>> deadTracksToSave() const;
    // What the window asks of the user and the rest of the program; tests
    // replace them.
    struct Services {
        // The close question: true to close. Empty: the shared question
        // with its don't-ask-again key.
        std::function<bool()> askToClose;
        // Told once the window refused to close during a removal.
        std::function<void()> refuseCloseWhileRemoving;
        std::function<void()> beep;
        // Puts back the items of a removal from its undo record.
        // Takes back one removal; the value is what "registerRemovedUndo"
        // carried as its "undoDict", handed on untouched.
        std::function<void(const QVariant& undoDict)> undoMove;
        std::function<bool()> aboutIsOpened;
        // The sources of the follow-up search for folders a removal emptied.
        std::function<std::vector<KZSourceItemRef>(const QVariantList& folders)> emptyFoldersSources;
        // Brings the window on screen; empty: at once, without a transition.
        std::function<void(QWidget* window)> present;
        // What shows and opens files; empty: the desktop's.
        std::function<KZWorkspace*()> workspace;
        // Takes the window back to the window its result came from, from
        // which the result can be shown again; empty: a beep.
        std::function<void()> goBack;
    };

    explicit KZResultWindowCntrl(Services services = {}, QWidget* parent = nullptr);
    ~KZResultWindowCntrl() override;

    // `info` is the result-info map of a finished search.
    void initializeResultWithInfo(const QVariantMap& info);
    // Selects the tab and brings the window up.
    void showWindowWithTabTag(quint64 tag);

    KZResultCntrl* resultCntrl() const { return resultCntrl_.get(); }
    KZResultTabsView* tabsStrip() const { return tabsView_; }
    quint64 currSelectedTabTag() const { return currSelectedTabTag_; }
    bool windowIsActive() const { return windowIsActive_; }
    bool isRemovingProcessActive() const { return isRemovingProcessActive_; }
    // Whether a removal still holds the program: true from Start until the
    // panel shows its final card with nothing left moving; the window itself
    // stays closed to the user until the panel closes.
    bool removalRefusesQuit() const;
    QPushButton* removeBtn() const { return removeBtn_; }
    QLabel* selectionInfoFld() const { return selectionInfoFld_; }
    QToolBar* toolBar() const { return toolBar_; }
    // The back-to-search button at the toolbar's start.
    QToolButton* goBackBtn() const { return goBackBtn_; }
    // The back button: the preview panel closes with the window, which then
    // goes back to the search window by the program's Search Again.
    void searchAgainAction();
    QToolButton* toggleViewByGroupBtn() const { return toggleViewByGroupBtn_; }
    QToolButton* switchPreviewViewBtn() const { return switchPreviewViewBtn_; }
    QLineEdit* findFld() const { return findFld_; }
    // The find field's Return: the tab on screen selects the next item whose
    // name holds the text ("searchInFoundList").
    void searchFieldAction();
    QUndoStack* undoStack() const { return undoStack_; }
    // Drops the marking steps before a removal starts; removal steps stay.
    void purgeMarkingUndo();
    QMenu* fileMenu() const { return fileMenu_; }
    QMenu* editMenu() const { return editMenu_; }
    QMenu* viewMenu() const { return viewMenu_; }
    QAction* quickLookItem() const { return quickLookItem_; }
    QAction* groupingItem() const { return groupingItem_; }
    QAction* previewItem() const { return previewItem_; }
    // The View menu's tab cycling (tag 1), expand all (4) and collapse all
    // (5); the last two act on the tab on screen.
    QAction* viewItem(int tag) const;
    // Show in Folder, Open (File menu) and Mark (Edit menu), tags 100-102:
    // they act on the selection of the tab on screen.
    QAction* listCommandItem(int tag) const;
    // The outline of a tab, when it has one.
    KZResultOutlineCntrl* outlineOfTab(quint64 tag) const;

    // The switches of the toolbar and the View menu.
    void showByGroupAction();
    void switchPositionSplitView();
    // Recomputes the View menu's titles and enabling.
    void validateMenus();

    // File > Save… and the Result menu's Remove, Export… and Mark/Unmark in
    // the program's menu set: enabled while they apply to this window and
    // the tab on screen.
    void updateMenuSetHandlers();
    // Exports the tab on screen (Result > Export…).
    void exportAction();
    // File > Quick Look: opens the preview panel on the selection of the tab
    // on screen, or closes it.
    void quickLookAction();
    // Closes the preview panel where it stands, before the window leaves
    // the screen (New Search, Search Again, Close).
    void closeQLWindow();

    // The removal state: the remove button starts it, the panel's end or a
    // failure ends it.
    void removeAction();
    void disableViews(const QVariantMap& userInfo);
    void restoreAfterRemoveAction();
    void registerRemovedUndo(const QVariantMap& userInfo);
    // The widgets a removal disabled and will enable again.
    const QList<QPointer<QWidget>>& touchedViews() const { return touchedViews_; }

    // KZResultTabsDelegate
    const void* notificationObject() const override { return static_cast<const QObject*>(this); }
    bool isRemoving() const override { return isRemoving_; }
    bool isWindowVisible() const override { return isVisible(); }
    bool aboutIsOpened() const override;

    // KZResultWindowHost
    QObject* window() const override { return const_cast<KZResultWindowCntrl*>(this); }
    KZResultTabStrip* tabsView() const override;
    void setCurrSelectedTabTag(quint64 tag) override;
    void beep() override;
    std::unique_ptr<KZResultTabCntrl> createTabCntrl(const QVariantMap& info, KZResultCntrl& resultCntrl) override;
    void addResultView(KZResultTabCntrl& tab) override;
    void removeResultView(KZResultTabCntrl& tab) override;
    void askForDirectories(const QVariantMap& settings, DirectoriesAnswer answer) override;
    std::shared_ptr<KZResultSaving> createSaver() override;
    std::vector<KZSourceItemRef> emptyFoldersSourcesWithFolders(const QVariantList& folders) override;
    std::shared_ptr<KZProgressControl> createProgressWithoutInterface() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildChrome();
    void buildMenus();
    // The toolbar's controls follow the key state, the removal and the tab.
    void validateToolbarItems();
    void setViewsEnabled(QWidget* root, QWidget* exclude);
    KZListMarkingCntrl* shownListMarking() const;
    // The menu items a tab's controllers target, one set per tab.
    struct TabMenus;
    TabMenus* shownTabMenus() const;
    // Builds the parts a tab's controller is made with.
    class TabPartsFactory;
    void runViewItem(int tag);
    KZFoundListCntrl* shownFoundList() const;

    Services services_;
    QWidget* titleBand_ = nullptr;
    KZResultTabsView* tabsView_ = nullptr;
    QWidget* resultContainerView_ = nullptr;
    QLabel* selectionInfoFld_ = nullptr;
    QPushButton* removeBtn_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QToolButton* goBackBtn_ = nullptr;
    QToolButton* toggleViewByGroupBtn_ = nullptr;
    QToolButton* switchPreviewViewBtn_ = nullptr;
    QLineEdit* findFld_ = nullptr;
    QUndoStack* undoStack_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QAction* quickLookItem_ = nullptr;
    QAction* groupingItem_ = nullptr;
    QAction* previewItem_ = nullptr;
    std::map<int, QAction*> viewItems_;
    std::map<quint64, std::unique_ptr<TabMenus>> tabMenus_;
    std::map<int, QAction*> listCommandItems_;

    std::unique_ptr<KZResultCntrl> resultCntrl_;
    std::map<quint64, KZResultOutlineCntrl*> outlines_;
    quint64 currSelectedTabTag_ = 0;
    bool windowIsActive_ = false;
    bool isRemoving_ = false;
    bool isRemovingProcessActive_ = false;
    // The window is taking the preview panel away as it leaves the screen:
    // its rows offer the panel no place to close into.
    bool isLeaving_ = false;
    bool closeApproved_ = false;
    bool findHadFocus_ = false;
    QList<QPointer<QWidget>> touchedViews_;
    // What had the keyboard when the removal panel opened.
    QPointer<QWidget> focusBeforeRemoval_;
    std::vector<platform::Subscription> observations_;
    std::vector<platform::Subscription> removalObservations_;
};
