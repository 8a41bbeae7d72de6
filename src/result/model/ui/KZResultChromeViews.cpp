#include "result/model/ui/KZResultChromeViews.h"

#include <QApplication>
#include <QChildEvent>
#include <QEnterEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

QColor rgb(double r, double g, double b, double a = 1.0)
{
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

} // namespace

// ---- Window backdrop ---------------------------------------------------------------------

KZResultWindowView::KZResultWindowView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void KZResultWindowView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QColor bottom = rgb(0.828, 0.851, 0.883, 0.3);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0.0, rgb(1, 1, 1));
    // Half way from white to the bottom colour, alpha included.
    gradient.setColorAt(0.5, rgb(0.914, 0.9255, 0.9415, 0.65));
    gradient.setColorAt(1.0, bottom);
    p.fillRect(rect(), gradient);
}

// ---- Sources pane separator -----------------------------------------------------------------

KZResultLeftView* KZResultLeftView::attach(QWidget* pane)
{
    return pane ? new KZResultLeftView(pane) : nullptr;
}

KZResultLeftView::KZResultLeftView(QWidget* pane) : QWidget(pane)
{
    setObjectName(QStringLiteral("sourcesSeparator"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    pane->installEventFilter(this);
    follow();
    show();
}

void KZResultLeftView::follow()
{
    QWidget* pane = parentWidget();
    // A two-point line on the pane's bottom edge: its inner half shows.
    setGeometry(0, pane->height() - 1, pane->width(), 1);
    raise();
}

bool KZResultLeftView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded))
        follow();
    return QWidget::eventFilter(watched, event);
}

void KZResultLeftView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), rgb(0.78, 0.78, 0.78));
}

// ---- List bar -----------------------------------------------------------------------------

KZResultListScopeBar::KZResultListScopeBar(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void KZResultListScopeBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), rgb(0.93, 0.93, 0.93));
    const QColor line = rgb(0.55, 0.55, 0.55);
    p.fillRect(0, 0, 1, height(), line);
    p.fillRect(width() - 1, 0, 1, height(), line);
}

// ---- Button container ------------------------------------------------------------------------

KZBtnSuperview::KZBtnSuperview(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
}

void KZBtnSuperview::pointerInside(bool inside)
{
    if (inside) {
        // Back after a press that left: the press counts again.
        mouseIsDownAndOut_ = false;
        mouseIsHover_ = true;
        return;
    }
    if (mouseIsDown_)
        mouseIsDownAndOut_ = true;
    mouseIsHover_ = false;
}

void KZBtnSuperview::enterEvent(QEnterEvent* event)
{
    pointerInside(true);
    QWidget::enterEvent(event);
}

void KZBtnSuperview::leaveEvent(QEvent* event)
{
    pointerInside(false);
    QWidget::leaveEvent(event);
}

void KZBtnSuperview::mousePressEvent(QMouseEvent* event)
{
    // A press can come before any enter (the pointer was already there).
    mouseIsHover_ = rect().contains(event->position().toPoint());
    if (mouseIsHover_)
        mouseIsDown_ = true;
    event->accept();
}

void KZBtnSuperview::mouseMoveEvent(QMouseEvent* event)
{
    // While a button is held the container keeps the pointer, so leaving
    // and coming back show here rather than as leave and enter.
    if (mouseIsDown_)
        pointerInside(rect().contains(event->position().toPoint()));
    event->accept();
}

void KZBtnSuperview::mouseReleaseEvent(QMouseEvent* event)
{
    const bool counts = mouseIsDown_ && rect().contains(event->position().toPoint());
    resetVariables();
    if (counts) {
        if (beep_)
            beep_();
        else
            QApplication::beep();
    }
    event->accept();
}

void KZBtnSuperview::childEvent(QChildEvent* event)
{
    if (event->added() && event->child()->isWidgetType())
        event->child()->installEventFilter(this);
    QWidget::childEvent(event);
}

bool KZBtnSuperview::eventFilter(QObject* watched, QEvent* event)
{
    auto* child = qobject_cast<QWidget*>(watched);
    const QEvent::Type type = event->type();
    if (!child || child->parentWidget() != this || child->isEnabled() ||
        (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease))
        return QWidget::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    QMouseEvent here(type, child->mapTo(this, mouse->position()), mouse->scenePosition(), mouse->globalPosition(),
                     mouse->button(), mouse->buttons(), mouse->modifiers());
    if (type == QEvent::MouseButtonPress)
        mousePressEvent(&here);
    else if (type == QEvent::MouseMove)
        mouseMoveEvent(&here);
    else
        mouseReleaseEvent(&here);
    return true;
}

void KZBtnSuperview::resetVariables()
{
    mouseIsDown_ = false;
    mouseIsDownAndOut_ = false;
}
