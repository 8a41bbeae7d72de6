#pragma once

#include <QPixmap>
#include <QWidget>

#include <functional>

class QVariantAnimation;

// The window in which a transition is drawn: frameless, above every other
// window, never focused, transparent to input, and never a reason for the
// program to keep running. Where the display has no compositor its
// transparent parts would show black, so it paints a grab of the screen
// under it first.
class KZTransitionOverlay : public QWidget {
    Q_OBJECT
public:
    // Lets the display server repaint what a hidden window covered before
    // the backdrop is grabbed.
    static constexpr int kBackdropSettleMs = 60;
    // A window's picture with its layout settled, also when never shown.
    static QPixmap snapshotOf(QWidget* window);

    using Painter = std::function<void(QPainter&)>;

    explicit KZTransitionOverlay(const QRect& globalRect, Painter painter);

    // Takes the screen under the overlay as its backdrop, when the display
    // needs one. Call after the windows being replaced have been hidden.
    void grabBackdrop();
    bool hasBackdrop() const { return !backdrop_.isNull(); }

    // Whether overlays on this display paint a backdrop: on X11 without a
    // compositor translucency shows black; there is no portable way to ask
    // for the compositor, and a backdrop is harmless where one runs.
    static bool displayNeedsBackdrop();

    // Where a frame is held for a look (tests, screenshots), sets a started
    // animation to that frame and pauses it there. Pausing from a frame's
    // own update is not enough: on a loaded machine the first update can
    // already be the last, and the animation then ends under its pause.
    static void holdAtPause(QVariantAnimation* animation);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Painter painter_;
    QPixmap backdrop_;
    QPoint backdropOffset_;
};
