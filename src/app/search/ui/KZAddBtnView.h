#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

class QObject;

// The plus sign of the search window: the hover zoom, the press states, and
// the hand-shake with the open panel ("addSourcesAction" out, the first
// "sourcesDidAdd" back, or the button's own after 3 s).
class KZAddBtnView : public QWidget {
    Q_OBJECT
public:
    explicit KZAddBtnView(QWidget* parent = nullptr);
    ~KZAddBtnView() override;

    // Places the large button in the middle of `view`.
    void install(QWidget* view);
    QRect originalRect() const { return originalRect_; }

    double increaseCrossBy() const { return increaseCrossBy_; }
    int zoomAnimsDone() const { return zoomAnimsDone_; }
    int lineWidth() const { return lineWidth_; }
    bool isAddingSources() const { return isAddingSources_; }
    bool firstItemsWasAdded() const { return firstItemsWasAdded_; }
    bool mouseIsHoverAddBtn() const { return mouseIsHoverAddBtn_; }
    bool mouseIsDownAddBtn() const { return mouseIsDownAddBtn_; }
    bool mouseIsDownAndOutAddBtn() const { return mouseIsDownAndOutAddBtn_; }
    int beeps() const { return beeps_; }
    const QTimer& zoomTimer() const { return zoomTimer_; }

    void setCrossComponentColor(double grey) { crossComponentColor_ = grey; update(); }
    void setCrossYIntermediate(double y) { crossYIntermediate_ = y; }
    double crossYIntermediate() const { return crossYIntermediate_; }
    void setItemsAddedViaDialogPanel(bool value) { itemsAddedViaDialogPanel_ = value; }
    void setIsResetting(bool value) { isResetting_ = value; }
    bool isResetting() const { return isResetting_; }
    void setMovePlusSignIsAnimating(bool value) { movePlusSignIsAnimating_ = value; }
    void setWasActiveWhenEntered(bool value) { wasActiveWhenEntered_ = value; }

    // One step of the move between the large and the small form; `p` from
    // 0 to 1. The y origin is counted from the parent's bottom.
    void setupForFirstAddedItem(bool first, double p);
    // The y-up origin of the present frame in the parent.
    double yUpOrigin() const;

    // Return and Enter open the panel while the window has no sources.
    bool performKeyEquivalent(int key);
    void callPanel();
    void installZoomAnimation(bool grow);

    // The hover area in the button's coordinates; empty while adding.
    QRect hoverRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void pointerEntered();
    void pointerExited();
    void zoomTick();
    void didAddSources();
    void beep();

    std::unique_ptr<QObject> observer_;
    QRect originalRect_;
    QTimer zoomTimer_;
    // Which pending panel the fallback belongs to; a new panel or an answer
    // makes the one already waiting void.
    quint64 addingTicket_ = 0;
    bool growing_ = false;
    double increaseCrossBy_ = 1.0;
    int zoomAnimsDone_ = 0;
    bool mouseIsHoverAddBtn_ = false;
    bool mouseIsDownAddBtn_ = false;
    bool mouseIsDownAndOutAddBtn_ = false;
    bool pointerInside_ = false;
    double crossComponentColor_ = 0.0;
    double crossYIntermediate_ = 0.0;
    bool firstItemsWasAdded_ = false;
    bool itemsAddedViaDialogPanel_ = false;
    bool wasActiveWhenEntered_ = false;
    bool isResetting_ = false;
    bool isAddingSources_ = false;
    int lineWidth_ = 4;
    bool movePlusSignIsAnimating_ = false;
    int beeps_ = 0;
};
