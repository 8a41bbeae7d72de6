#pragma once

#include "result/panes/KZTabClickTracker.h"
#include "result/panes/ui/KZTabSuperview.h"

#include <QPointer>

class KZResultTabsDelegate;
class QTimer;

// One tab of the result window's row of file-type tabs: an outline open at
// the bottom, the label's name in the middle, a close cross at the left end
// that shows while the pointer is over a removable tab, and a spinner at the
// right end while the tab's content is being built.
//
// It reports a finished click to its window with a notification and changes
// nothing else itself: "updateTabSelection" for a click on the body of an
// unselected tab, "removeTab" for a click on the cross. The strip decides.
//
// The spinner is started by a click or by "KZStartTabProgressIndicator" and
// stopped by "KZStopProgressIndicator" (object: this tab, from any thread).
// A tab has at most one spinner: any number of starts and one stop leave
// none running.
class KZResultTabItemView : public KZTabSuperview {
    Q_OBJECT
public:
    static constexpr double kTitleWidthOffset = 39.0;
    static constexpr double kTitlePointSize = 13.0;

    KZResultTabItemView(const QRect& rect, const KZFileTypeLabelRef& label, KZResultTabsDelegate* delegate,
                        QWidget* parent = nullptr);
    ~KZResultTabItemView() override;

    void setSelected(bool selected);
    void updateTabLayer() override;

    // The cross's box and the spinner's disc, in this view's coordinates.
    QRectF crossRect() const;
    QRectF spinnerRect() const;
    bool xLayerPathContainsPoint(const QPointF& point) const;
    bool crossVisible() const { return crossVisible_; }
    bool crossPressed() const { return tracker_.crossPressed(); }
    // The width the title has; a longer name is cut and shown as tooltip.
    double titleWidth() const;

    bool isSpinning() const;
    void manageSpinner();
    void stopSpinner();

    bool isRemoving() const;
    const void* notificationObject() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintContents(QPainter& painter) override;
    QPainterPath strokePath() const override { return stroke_; }
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    KZTabClickTracker::Hit hitAt(const QPointF& point) const;
    KZTabClickTracker::Context context() const;
    void layoutTab();
    void updateTooltip();
    void showRemoveLayer(bool show);
    void syncPressedLook();
    void post(const QString& name);

    KZResultTabsDelegate* delegate_;
    bool removable_ = false;
    bool crossVisible_ = false;
    bool bodyLookPressed_ = false;
    KZTabClickTracker tracker_;
    QPainterPath stroke_;
    QTimer* spinnerTimer_ = nullptr;
    int spinnerPhase_ = 0;
    platform::Subscription startObservation_;
    platform::Subscription stopObservation_;
};
