#pragma once

#include "platform/Subscription.h"

#include <QMainWindow>
#include <QPointer>

#include <vector>

class KZPreferencesLabelsCntrl;
class KZPreferencesLimitationsCntrl;
class QAction;
class QCheckBox;
class QComboBox;
class QPushButton;
class QStackedWidget;
class QToolBar;
class QVariantAnimation;

// The preferences window: a toolbar with General (tag 0), Limitations (1)
// and Labels (2) over the pane of the selected item. It is made on the first
// Preferences command and kept for the rest of the run; later commands show
// the same window with the pane the user left. The Limitations and Labels
// panes are made on the first toolbar click. When the pane changes, the
// window takes the pane's size and keeps its top-right corner. Main thread
// only.
class KZPreferencesWindow : public QMainWindow {
    Q_OBJECT
public:
    enum PaneTag { GeneralTag = 0, LimitationsTag = 1, LabelsTag = 2 };

    // The one window, made on first use.
    static KZPreferencesWindow* sharedWindow();
    // The Preferences command: makes the window when needed, shows it and
    // brings it to the front.
    static void showShared();
    // Drops the shared window (tests, and the end of the run).
    static void destroyShared();

    explicit KZPreferencesWindow(QObject* appDelegate = nullptr, QWidget* parent = nullptr);
    ~KZPreferencesWindow() override;

    // Shows the window, marking it open; `modal` runs it application-modal.
    void openWindowInModal(bool modal);

    // Brings the pane of `tag` to the front (the toolbar's action).
    void toolbarAction(int tag);
    // The pane `step` places after the one in front (before it for a
    // negative step), round from the last to the first.
    void cyclePanes(int step);
    int selectedTag() const { return selectedTag_; }
    // The window is still moving to a pane's frame.
    bool isChangingFrame() const { return !frameAnimation_.isNull(); }
    // The pane of a tag; the General pane for an unknown tag.
    QWidget* viewWithTag(int tag) const;
    // The frame (window geometry, decorations included) for the pane of
    // `tag`, from the window's current frame.
    QRect viewRectWithTag(int tag) const;

    void restoreValues();
    void restoreWarnings();
    void reduceTransparenceAction();

    QToolBar* toolbar() const { return toolbar_; }
    QAction* toolbarItem(int tag) const;
    QStackedWidget* mainTab() const { return mainTab_; }
    KZPreferencesLimitationsCntrl* limitsCntrl() const { return limitsCntrl_; }
    KZPreferencesLabelsCntrl* labelsCntrl() const { return labelsCntrl_; }
    QCheckBox* reduceTransparenceBox() const { return reduceBox_; }
    QComboBox* emptyFoldersPopup() const { return emptyFoldersPopup_; }
    QComboBox* imageContentPopup() const { return imageContentPopup_; }
    QComboBox* lastCopyPopup() const { return lastCopyPopup_; }
    QPushButton* restoreValuesBtn() const { return restoreValuesBtn_; }
    QPushButton* restoreWarningsBtn() const { return restoreWarningsBtn_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolbar();
    void addPaneKeys();
    QWidget* buildGeneralPane();
    void loadNibs();
    void readGeneralValues();
    void applyFrame(const QRect& frame, bool animated);
    QSize paneWindowSize(int tag) const;

    QPointer<QObject> appDelegate_;
    QToolBar* toolbar_ = nullptr;
    std::vector<QAction*> items_;
    QStackedWidget* mainTab_ = nullptr;
    QWidget* generalSuperView_ = nullptr;
    QWidget* limitsSuperView_ = nullptr;
    QWidget* labelsSuperView_ = nullptr;
    KZPreferencesLimitationsCntrl* limitsCntrl_ = nullptr;
    KZPreferencesLabelsCntrl* labelsCntrl_ = nullptr;
    QCheckBox* reduceBox_ = nullptr;
    QComboBox* emptyFoldersPopup_ = nullptr;
    QComboBox* imageContentPopup_ = nullptr;
    QComboBox* lastCopyPopup_ = nullptr;
    QPushButton* restoreValuesBtn_ = nullptr;
    QPushButton* restoreWarningsBtn_ = nullptr;
    QPointer<QVariantAnimation> frameAnimation_;
    int selectedTag_ = GeneralTag;
    bool placed_ = false;
    std::vector<platform::Subscription> observations_;
};
