#pragma once

#include <QFrame>
#include <QPainterPath>
#include <QPointer>
#include <QRect>

namespace platform {

// A bubble with an arrow that stands next to an anchor and closes on a click
// outside it, on Escape, or when it is asked to show again while it is open.
// The content is any widget; the popover sizes itself to the content's hint.
class Popover : public QFrame {
    Q_OBJECT
public:
    // The side of the anchor the popover stands on; its arrow points back
    // at the anchor. Left is the anchor's minimum-x side, Right its maximum-x.
    enum class Edge { Below, Above, Left, Right };

    explicit Popover(QWidget* parent = nullptr);
    ~Popover() override;

    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return content_; }

    // Opens next to `anchorRect` (in `anchor`'s coordinates), on the
    // preferred side when the screen has room there, else on the opposite
    // side; it is kept inside the screen's available area.
    void showRelativeTo(QWidget* anchor, const QRect& anchorRect, Edge preferred = Edge::Below);
    // Closes when shown, else opens: the same request twice closes it.
    void toggleRelativeTo(QWidget* anchor, const QRect& anchorRect, Edge preferred = Edge::Below);

    // Where the popover goes for an anchor at `anchorGlobal` on a screen
    // whose usable area is `available`: the frame, the side it took and
    // where along that side its arrow stands (x from the frame's left for
    // Below and Above, y from its top for Left and Right).
    static QRect placement(const QRect& anchorGlobal, const QSize& size, const QRect& available, Edge preferred,
                           Edge* taken = nullptr, int* arrowAt = nullptr);
    Edge edge() const { return edge_; }

    static constexpr int arrowHeight = 10;

Q_SIGNALS:
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QPainterPath bubblePath() const;
    void updateShape();
    void setMarginsFor(Edge edge);

    QPointer<QWidget> content_;
    Edge edge_ = Edge::Below;
    int arrowAt_ = 0;
};

} // namespace platform
