#pragma once

#include <functional>

#include "app/search/KZSourcesCntrl.h"
#include "services/ui/KZWindowDrag.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QToolButton;
class QVariantAnimation;
class KZAddBtnView;
class KZSourcesView;
class KZSearchWindowTextView;
class KZSourcePopoverCntrl;
class KZThemeImageSwitchButton;
class KZCSourceView;

// The search window's content: the add button and hints while empty; the
// tiles, the Start group and Reset once sources are there. Folders come by
// the add button's panel or by a drop.
//
// The change between the two layouts is a chain of fades and moves. Each
// step starts the next when it ends, and items that arrive while the chain
// runs wait in `chosenItems` until it reaches the laid-out state, so no step
// ever spins the event loop waiting for another.
class KZSearchView : public QWidget, public KZSourcesCntrlView {
    Q_OBJECT
public:
    enum class Phase {
        Empty,
        HintFadingOut,
        SourcesMoving,
        WaitingForDrop,
        SlidingIn,
        FadingInControls,
        LaidOut,
        FadingOutControls,
        Resetting,
        SourcesMovingBack,
        HintFadingIn,
    };

    static constexpr int viewSide = 509;

    explicit KZSearchView(QWidget* parent = nullptr);
    ~KZSearchView() override;

    KZSourcesCntrl& sourcesCntrl() { return sourcesCntrl_; }
    KZAddBtnView* addBtnView() const { return addBtnView_; }
    KZSourcesView* sourcesView() const { return sourcesView_; }
    KZSearchWindowTextView* upperTextView() const { return upperTextView_; }
    KZSearchWindowTextView* bottomTextView() const { return bottomTextView_; }
    QWidget* scanView() const { return scanView_; }
    QPushButton* startButton() const { return startButton_; }
    QPushButton* resetBtn() const { return resetBtn_; }
    QPushButton* closeBtn() const { return closeBtn_; }
    // Opens the program's menus (the round window has no menu bar).
    QToolButton* menuBtn() const { return menuBtn_; }
    KZThemeImageSwitchButton* toggleBtn() const { return toggleBtn_; }
    KZSourcePopoverCntrl* popoverCntrl() const { return popoverCntrl_; }
    Phase phase() const { return phase_; }
    bool isLaidOut() const { return phase_ == Phase::LaidOut; }
    bool dropHighlight() const { return dropHighlight_; }

    // Paths the user picked in the panel, or that the application opened.
    void animateAddedItems(const std::vector<std::filesystem::path>& paths) override;
    // Dropped paths.
    void animateDroppedItems(const std::vector<std::filesystem::path>& paths);
    // The sources of a reopened result, as they were saved: they are listed
    // at once, and an empty window lays itself out for them as for the
    // first added folders (tiles in their row, Start and Reset shown).
    void showSavedSources(const std::vector<KZSourceItemRef>& sources);
    // Back to the empty window (Reset, New Search, the last tile closed).
    void resetAction();
    // New Search: an empty window is ready at once; else the reset runs.
    void newSearch();

    // The paths of a drop that may become sources: readable folders not yet
    // listed, last first as they are checked, handed back in drop order.
    std::vector<std::filesystem::path> acceptablePaths(const QList<QUrl>& urls) const;

    // KZSourcesCntrlView
    void showCollection() override;
    void hideCollection() override;
    void addTiles(const std::vector<KZSourceTile>& tiles, bool animate) override;
    void removeTile(const KZSourceItemRef& source) override;
    void clearTiles() override;
    void resetSearchView() override;
    void setNeedsDisplay() override { update(); }

Q_SIGNALS:
    void startClicked();
    void closeClicked();
    void toggleChanged(int state);
    // The view is back to its empty state after a reset.
    void resetDidEnd();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    void layoutEmpty();
    void setPhase(Phase phase) { phase_ = phase; }
    void startFirstItemsAnimation(int count);
    void startHintFade(bool fadeIn, bool fast);
    void hintTick();
    void runSourcesMove(bool forward);
    void runSlideIn();
    void runReset();
    // Slides the tile row to `to` over half a second, fading the hints and
    // the add button with it (out when `reset`), then calls `done`.
    void slideSources(const QRect& to, bool reset, std::function<void()> done);
    void updateFadingObjects(double p, bool reset);
    void fadeControls(bool in);
    void fadeTick();
    void enterDrop(bool entering);
    void layoutCompleted();
    void handOverChosenItems();
    void postReady();
    void initializeVariables();
    void showPopoverForTile(KZCSourceView* tile);

    KZSourcesCntrl sourcesCntrl_;
    KZAddBtnView* addBtnView_ = nullptr;
    KZSourcesView* sourcesView_ = nullptr;
    KZSearchWindowTextView* upperTextView_ = nullptr;
    KZSearchWindowTextView* bottomTextView_ = nullptr;
    QWidget* scanView_ = nullptr;
    QPushButton* startButton_ = nullptr;
    KZThemeImageSwitchButton* toggleBtn_ = nullptr;
    QLabel* filesTxt_ = nullptr;
    QLabel* foldersTxt_ = nullptr;
    QPushButton* resetBtn_ = nullptr;
    QPushButton* closeBtn_ = nullptr;
    QToolButton* menuBtn_ = nullptr;
    KZSourcePopoverCntrl* popoverCntrl_ = nullptr;

    Phase phase_ = Phase::Empty;
    QTimer textFadeTimer_;
    double firedTimes_ = 0.0;
    bool hintFadeIn_ = false;
    QTimer fadeViewsTimer_;
    double fadeViewsFiredTimes_ = 0.0;
    bool fadeIn_ = false;
    QPointer<QVariantAnimation> animation_;
    std::vector<std::filesystem::path> chosenItems_;
    KZWindowDrag windowDrag_;
    bool dropPending_ = false;
    bool itemsAddedFromAddBtn_ = false;
    bool dropHighlight_ = false;
    bool refusedForLimit_ = false;
    int itemsToDropEntered_ = 0;
    int addedItems_ = 0;
};
