#include "services/ui/KZFocusRing.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace KZFocusRing {

QColor colour(const QWidget* widget)
{
    QColor ring = widget ? widget->palette().color(QPalette::Active, QPalette::Highlight) : QColor(48, 140, 198);
    // Some widgets make the highlight transparent to paint their own rows.
    ring.setAlpha(255);
    return ring;
}

void paint(QPainter& painter, const QRectF& rect, qreal radius, const QWidget* widget, qreal width)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour(widget), width);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal inset = width / 2;
    painter.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.restore();
}

namespace {

class TabOnlyFocus : public QObject {
public:
    explicit TabOnlyFocus(QWidget* control) : QObject(control) { control->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::FocusIn)
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
            return false;
        auto* control = static_cast<QWidget*>(watched);
        for (QWidget* home = control->parentWidget(); home; home = home->parentWidget()) {
            if ((home->focusPolicy() & Qt::ClickFocus) && home->isVisible() && home->isEnabled()) {
                home->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
        return false;
    }
};

} // namespace

void onlyFromTheKeyboard(QWidget* control)
{
    if (control)
        new TabOnlyFocus(control);
}

QString pushButtonRule(const QWidget* widget, int radius)
{
    return QStringLiteral(" QPushButton:focus { border: 2px solid %1; border-radius: %2px; }")
        .arg(colour(widget).name())
        .arg(radius);
}

} // namespace KZFocusRing
