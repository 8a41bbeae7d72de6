#include "app/search/ui/KZAddBtnView.h"

#include "app/search/KZSearchGeometry.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "services/ui/KZAnimationTiming.h"
#include "services/ui/KZFocusRing.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace G = KZSearchGeometry;

namespace {
constexpr double kAddingFallbackSeconds = 3.0;
constexpr double kGrowStepSeconds = 0.008;
constexpr double kShrinkStepSeconds = 0.01;
}

KZAddBtnView::KZAddBtnView(QWidget* parent) : QWidget(parent), observer_(std::make_unique<QObject>())
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    // One timer for both directions: a new zoom restarts it, so a grow and a
    // shrink can never run side by side.
    connect(&zoomTimer_, &QTimer::timeout, this, &KZAddBtnView::zoomTick);
    platform::NotificationCenter::defaultCenter().addObserver(
        observer_.get(), QStringLiteral("sourcesDidAdd"), platform::NotificationObject(platform::bundleIdentifier()),
        [this](const platform::Notification&) { didAddSources(); });
}

KZAddBtnView::~KZAddBtnView()
{
    platform::NotificationCenter::defaultCenter().removeObserver(observer_.get());
}

void KZAddBtnView::install(QWidget* view)
{
    setParent(view);
    crossComponentColor_ = 0.0;
    const int side = static_cast<int>(G::largeSide);
    originalRect_ = QRect(view->width() / 2 - side / 2, view->height() / 2 - side / 2, side, side);
    setGeometry(originalRect_);
    show();
}

double KZAddBtnView::yUpOrigin() const
{
    const int parentHeight = parentWidget() ? parentWidget()->height() : height();
    return parentHeight - y() - height();
}

void KZAddBtnView::setupForFirstAddedItem(bool first, double p)
{
    firstItemsWasAdded_ = first;
    const G::MoveKind kind = itemsAddedViaDialogPanel_ ? G::MoveKind::Panel
                             : isResetting_            ? G::MoveKind::Reset
                                                       : G::MoveKind::Drop;
    const int parentHeight = parentWidget() ? parentWidget()->height() : height();
    const QRectF current(x(), yUpOrigin(), width(), height());
    const QRectF frame = G::addButtonFrame(first, p, kind, crossYIntermediate_, current);
    setGeometry(qRound(frame.x()), qRound(parentHeight - frame.y() - frame.height()), qRound(frame.width()),
                qRound(frame.height()));
    if (p >= 1.0)
        movePlusSignIsAnimating_ = false;
    lineWidth_ = G::addButtonLineWidth(first, p);
    update();
}

QRect KZAddBtnView::hoverRect() const
{
    if (isAddingSources_)
        return {};
    return G::addButtonHoverRect(size(), firstItemsWasAdded_).toRect();
}

bool KZAddBtnView::performKeyEquivalent(int key)
{
    if (firstItemsWasAdded_ || (key != Qt::Key_Return && key != Qt::Key_Enter))
        return false;
    callPanel();
    return true;
}

void KZAddBtnView::callPanel()
{
    pointerInside_ = false;
    if (increaseCrossBy_ > 1.0)
        installZoomAnimation(false);
    isAddingSources_ = true;
    wasActiveWhenEntered_ = false;
    // A panel that never answers must not leave the button refusing clicks.
    platform::Clock::shared().runAfter(kAddingFallbackSeconds, this, [this, ticket = ++addingTicket_] {
        if (ticket != addingTicket_)
            return;
        platform::NotificationCenter::defaultCenter().post(QStringLiteral("sourcesDidAdd"),
                                                           platform::NotificationObject(platform::bundleIdentifier()));
    });
    // Posted last: a panel that answers at once ends the adding state here.
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("addSourcesAction"),
                                                       platform::NotificationObject(platform::bundleIdentifier()));
}

void KZAddBtnView::didAddSources()
{
    isAddingSources_ = false;
    ++addingTicket_;
}

void KZAddBtnView::installZoomAnimation(bool grow)
{
    if (grow && firstItemsWasAdded_)
        return;
    growing_ = grow;
    if (grow) {
        zoomAnimsDone_ = 0;
        zoomTimer_.start(KZAnimationTiming::milliseconds(kGrowStepSeconds));
    } else {
        // From where the sign stands now, so a half-grown sign never jumps
        // to full size before it shrinks.
        zoomAnimsDone_ = 0;
        for (int i = 0; i < G::zoomSteps; ++i)
            if (G::zoomTable()[static_cast<std::size_t>(i)] <= increaseCrossBy_ + 1e-9)
                zoomAnimsDone_ = i + 1;
        zoomTimer_.start(KZAnimationTiming::milliseconds(kShrinkStepSeconds));
    }
}

void KZAddBtnView::zoomTick()
{
    const auto& table = G::zoomTable();
    if (growing_) {
        if (zoomAnimsDone_ < G::zoomSteps - 1) {
            ++zoomAnimsDone_;
            increaseCrossBy_ = table[static_cast<std::size_t>(zoomAnimsDone_)];
            update();
        } else {
            zoomTimer_.stop();
        }
        return;
    }
    if (zoomAnimsDone_ - 1 >= 0) {
        --zoomAnimsDone_;
        increaseCrossBy_ = table[static_cast<std::size_t>(zoomAnimsDone_)];
        update();
    } else {
        zoomTimer_.stop();
    }
}

void KZAddBtnView::pointerEntered()
{
    if (movePlusSignIsAnimating_)
        return;
    wasActiveWhenEntered_ = window() && window()->isActiveWindow();
    if (!mouseIsDownAddBtn_) {
        mouseIsHoverAddBtn_ = true;
        installZoomAnimation(true);
    }
    if (mouseIsDownAndOutAddBtn_) {
        mouseIsHoverAddBtn_ = true;
        mouseIsDownAndOutAddBtn_ = false;
        update();
    }
}

void KZAddBtnView::pointerExited()
{
    if (movePlusSignIsAnimating_)
        return;
    if (!mouseIsDownAddBtn_) {
        installZoomAnimation(false);
    } else {
        mouseIsDownAndOutAddBtn_ = true;
        update();
    }
    mouseIsHoverAddBtn_ = false;
}

void KZAddBtnView::mouseMoveEvent(QMouseEvent* event)
{
    const QRect area = hoverRect();
    const bool inside = !area.isEmpty() && area.contains(event->position().toPoint());
    if (inside == pointerInside_)
        return;
    pointerInside_ = inside;
    if (inside)
        pointerEntered();
    else
        pointerExited();
}

void KZAddBtnView::leaveEvent(QEvent*)
{
    if (pointerInside_) {
        pointerInside_ = false;
        pointerExited();
    }
}

void KZAddBtnView::mousePressEvent(QMouseEvent* event)
{
    const QRect area = hoverRect();
    if (!area.isEmpty() && area.contains(event->position().toPoint())) {
        mouseIsDownAddBtn_ = true;
        update();
    } else {
        mouseIsHoverAddBtn_ = true;
    }
}

void KZAddBtnView::mouseReleaseEvent(QMouseEvent* event)
{
    mouseIsDownAddBtn_ = false;
    const QRect area = hoverRect();
    const bool over = rect().contains(event->position().toPoint()) &&
                      (mouseIsHoverAddBtn_ || (!area.isEmpty() && area.contains(event->position().toPoint())));
    if (isAddingSources_) {
        beep();
    } else if (over && !mouseIsDownAndOutAddBtn_) {
        callPanel();
    } else {
        installZoomAnimation(false);
    }
    mouseIsDownAndOutAddBtn_ = false;
    if (wasActiveWhenEntered_)
        wasActiveWhenEntered_ = false;
    update();
}

void KZAddBtnView::keyPressEvent(QKeyEvent* event)
{
    // Space presses it as it presses a button; Return and Enter go on to
    // the window, whose default they are.
    if (event->key() != Qt::Key_Space || event->isAutoRepeat() || event->modifiers() != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (isAddingSources_ || movePlusSignIsAnimating_)
        beep();
    else
        callPanel();
}

void KZAddBtnView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void KZAddBtnView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void KZAddBtnView::beep()
{
    ++beeps_;
    QApplication::beep();
}

void KZAddBtnView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double h = height();
    const bool small = qFuzzyCompare(h, G::smallSide);
    const bool pressedOn = mouseIsDownAddBtn_ && !mouseIsDownAndOutAddBtn_;
    painter.translate(h / 2.0, h / 2.0);
    painter.scale(increaseCrossBy_, increaseCrossBy_);
    const QPainterPath plus = G::plusSignPath(h);
    if (!pressedOn) {
        const QPointF offset = small ? QPointF(1.0, 1.0) : QPointF(2.0, 2.0);
        painter.setPen(QPen(QColor(0, 0, 0, small ? 153 : 77), lineWidth_ + (small ? 1.0 : 2.0), Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(plus.translated(offset / increaseCrossBy_));
    }
    double grey = crossComponentColor_;
    if (small && pressedOn)
        grey -= 0.3;
    grey = std::clamp(grey, 0.0, 1.0);
    const int level = qRound(grey * 255);
    painter.setPen(QPen(QColor(level, level, level), lineWidth_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(plus);
    if (hasFocus()) {
        painter.resetTransform();
        KZFocusRing::paint(painter, QRectF(rect()), h / 2.0, this);
    }
}
