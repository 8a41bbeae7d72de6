#include "result/panes/ui/KZResultTabItemView.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "result/panes/KZResultTabsDelegate.h"
#include "result/panes/KZTabStrokes.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace {

constexpr int kSpinnerBars = 10;
// Ten bars 0.07 s apart: the bright bar goes round once every 0.7 s.
constexpr int kSpinnerStepMs = 70;

QFont titleFont()
{
    QFont font = QApplication::font();
    // The tab's geometry is in points of one pixel each; so is its title.
    font.setPixelSize(int(KZResultTabItemView::kTitlePointSize));
    return font;
}

} // namespace

KZResultTabItemView::KZResultTabItemView(const QRect& rect, const KZFileTypeLabelRef& label,
                                         KZResultTabsDelegate* delegate, QWidget* parent)
    : KZTabSuperview(rect, label, false, parent), delegate_(delegate), removable_(label && label->canBeRemoved())
{
    setLineWidth(kThinLineWidth);
    setMouseTracking(removable_);
    setAttribute(Qt::WA_Hover, removable_);
    layoutTab();
    fadeIn();

    QPointer<KZResultTabItemView> self(this);
    auto& center = platform::NotificationCenter::defaultCenter();
    // Posters know the tab as the QObject the strip hands out.
    const void* object = static_cast<const QObject*>(this);
    // Either may come from a worker; the widget is touched on the main thread
    // only, and the two hops keep their order.
    startObservation_ = center.addObserver(KZNotification::KZStartTabProgressIndicator, object,
                                           [self](const platform::Notification&) {
                                               platform::runOnMain([self] {
                                                   if (self)
                                                       self->manageSpinner();
                                               });
                                           });
    stopObservation_ = center.addObserver(KZNotification::KZStopProgressIndicator, object,
                                          [self](const platform::Notification&) {
                                              platform::runOnMain([self] {
                                                  if (self)
                                                      self->stopSpinner();
                                              });
                                          });
}

KZResultTabItemView::~KZResultTabItemView()
{
    // Before the members go: a post on a worker must not reach a half-gone tab.
    startObservation_.cancel();
    stopObservation_.cancel();
}

bool KZResultTabItemView::isRemoving() const
{
    return delegate_ && delegate_->isRemoving();
}

const void* KZResultTabItemView::notificationObject() const
{
    if (delegate_)
        return delegate_->notificationObject();
    return window();
}

void KZResultTabItemView::setSelected(bool selected)
{
    setIsSelected(selected);
}

void KZResultTabItemView::updateTabLayer()
{
    KZTabSuperview::updateTabLayer();
    updateTooltip();
}

void KZResultTabItemView::resizeEvent(QResizeEvent* event)
{
    KZTabSuperview::resizeEvent(event);
    layoutTab();
}

void KZResultTabItemView::layoutTab()
{
    const double w = width(), h = height();
    const KZTabStrokes::Layer outline = KZTabStrokes::tabOutline(w, h);
    QPainterPath body;
    body.addRect(QRectF(0, 0, w, h));
    QPainterPath stroke;
    for (const QLineF& line : KZTabStrokes::flipToQt(KZTabStrokes::layerSegments(outline), h)) {
        stroke.moveTo(line.p1());
        stroke.lineTo(line.p2());
    }
    stroke_ = stroke;
    setSavedPath(body);
    updateTooltip();
}

double KZResultTabItemView::titleWidth() const
{
    return std::max(0.0, width() - kTitleWidthOffset);
}

void KZResultTabItemView::updateTooltip()
{
    const auto label = fileTypeItem();
    const QString name = label ? label->name() : QString();
    const double needed = QFontMetricsF(titleFont()).horizontalAdvance(name);
    setToolTip(!name.isEmpty() && needed >= titleWidth() ? name : QString());
}

QRectF KZResultTabItemView::crossRect() const
{
    // (6, H/2 - 5, 9, 9) measured from the bottom.
    const double h = height();
    return QRectF(6, h - (h / 2 - 5) - 9, 9, 9);
}

QRectF KZResultTabItemView::spinnerRect() const
{
    // A 16-point disc whose right edge stays 4 points inside the tab.
    return QRectF(width() - 4 - 16, height() / 2 - 8, 16, 16);
}

bool KZResultTabItemView::xLayerPathContainsPoint(const QPointF& point) const
{
    return removable_ && crossRect().contains(point);
}

void KZResultTabItemView::paintContents(QPainter& painter)
{
    const auto label = fileTypeItem();
    const double w = width(), h = height();

    painter.setFont(titleFont());
    painter.setPen(textColor());
    const QFontMetricsF metrics(painter.font());
    const QString name = label ? label->name() : QString();
    const double available = titleWidth();
    const QRectF titleRect((w - available) / 2, 0, available, h);
    painter.drawText(titleRect, Qt::AlignCenter, metrics.elidedText(name, Qt::ElideRight, available));

    if (removable_ && crossVisible_) {
        const QRectF box = crossRect();
        QPen pen(newXLayerStrokeOnColor(), crossPressed() ? 2.0 : 1.0);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        painter.drawLine(box.topLeft() + QPointF(0.5, 0.5), box.bottomRight() - QPointF(0.5, 0.5));
        painter.drawLine(box.bottomLeft() + QPointF(0.5, -0.5), box.topRight() + QPointF(-0.5, 0.5));
    }

    if (isSpinning()) {
        const QRectF disc = spinnerRect();
        painter.setPen(Qt::NoPen);
        painter.setBrush(newMainOnColor());
        painter.drawEllipse(disc);
        const QColor bar = newXLayerStrokeOnColor();
        painter.save();
        painter.translate(disc.center());
        for (int i = 0; i < kSpinnerBars; ++i) {
            // The bar at the phase is brightest; the ones behind it fade out.
            const int age = (spinnerPhase_ - i + kSpinnerBars) % kSpinnerBars;
            QColor c = bar;
            c.setAlphaF(float(1.0 - double(age) / kSpinnerBars));
            painter.setBrush(c);
            painter.drawRoundedRect(QRectF(-1, 3, 2, 5), 1, 1);
            painter.rotate(360.0 / kSpinnerBars);
        }
        painter.restore();
    }
}

// ---- Spinner ---------------------------------------------------------------------------

bool KZResultTabItemView::isSpinning() const
{
    return spinnerTimer_ && spinnerTimer_->isActive();
}

void KZResultTabItemView::manageSpinner()
{
    if (!spinnerTimer_) {
        spinnerTimer_ = new QTimer(this);
        spinnerTimer_->setInterval(kSpinnerStepMs);
        connect(spinnerTimer_, &QTimer::timeout, this, [this] {
            spinnerPhase_ = (spinnerPhase_ + 1) % kSpinnerBars;
            update(spinnerRect().toAlignedRect());
        });
    }
    if (!spinnerTimer_->isActive())
        spinnerTimer_->start();
    update();
}

void KZResultTabItemView::stopSpinner()
{
    if (spinnerTimer_)
        spinnerTimer_->stop();
    update();
}

// ---- Mouse ----------------------------------------------------------------------------

KZTabClickTracker::Hit KZResultTabItemView::hitAt(const QPointF& point) const
{
    return {xLayerPathContainsPoint(point), pathContainsPoint(point)};
}

KZTabClickTracker::Context KZResultTabItemView::context() const
{
    return {isSelected(), isRemoving()};
}

void KZResultTabItemView::syncPressedLook()
{
    const bool pressed = tracker_.bodyPressed();
    if (pressed != bodyLookPressed_) {
        bodyLookPressed_ = pressed;
        if (pressed)
            drawTabHighlight();
        else
            removeTabHighlight();
    }
    update();
}

void KZResultTabItemView::mousePressEvent(QMouseEvent* event)
{
    // A press on a tab never drags the window, whatever its background does.
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    tracker_.press(hitAt(event->position()), context());
    syncPressedLook();
}

void KZResultTabItemView::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton) || !tracker_.tracking())
        return;
    tracker_.drag(hitAt(event->position()));
    syncPressedLook();
}

void KZResultTabItemView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF at = event->position();
    const KZTabClickTracker::Outcome outcome = tracker_.release(hitAt(at), context());
    syncPressedLook();
    if (!rect().contains(at.toPoint()))
        showRemoveLayer(false);
    switch (outcome) {
    case KZTabClickTracker::Outcome::Select:
        // The spinner shows at once; the selection, which rebuilds the tab's
        // content on this thread, waits one turn of the loop so the spinner is
        // on screen meanwhile and no event loop runs inside this handler.
        manageSpinner();
        post(KZNotification::updateTabSelection);
        break;
    case KZTabClickTracker::Outcome::Remove:
        // The question it leads to is modal: not from inside this handler.
        post(KZNotification::removeTab);
        break;
    case KZTabClickTracker::Outcome::None:
        break;
    }
}

void KZResultTabItemView::post(const QString& name)
{
    const auto label = fileTypeItem();
    if (!label)
        return;
    const quint64 tag = label->tag();
    const void* object = notificationObject();
    QTimer::singleShot(0, this, [name, tag, object] {
        platform::NotificationCenter::defaultCenter().post(name, object,
                                                           {{QStringLiteral("tag"), QVariant::fromValue(tag)}});
    });
}

void KZResultTabItemView::enterEvent(QEnterEvent* event)
{
    KZTabSuperview::enterEvent(event);
    if (removable_ && !isRemoving())
        showRemoveLayer(true);
}

void KZResultTabItemView::leaveEvent(QEvent* event)
{
    KZTabSuperview::leaveEvent(event);
    // While pressed the cross stays until the release.
    if (!tracker_.tracking())
        showRemoveLayer(false);
}

void KZResultTabItemView::showRemoveLayer(bool show)
{
    if (!removable_ || crossVisible_ == show)
        return;
    crossVisible_ = show;
    update();
}
