#include "services/ui/KZFocusRing.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace KZFocusRing {

QColor colour(const QWidget* widget)
{
    // Some widgets make the highlight transparent to paint their own rows:
    // full alpha would make that black, so the colour comes from the nearest
    // enclosing widget, or the application, that still has one.
    for (const QWidget* holder = widget; holder; holder = holder->parentWidget()) {
        const QColor highlight = holder->palette().color(QPalette::Active, QPalette::Highlight);
        if (highlight.alpha() != 0)
            return QColor(highlight.red(), highlight.green(), highlight.blue());
    }
    const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    if (highlight.alpha() != 0)
        return QColor(highlight.red(), highlight.green(), highlight.blue());
    return QColor(48, 140, 198);
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
        // A closing menu gives the focus back to the control that had it
        // before, which only the keyboard can have brought there.
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason ||
            reason == Qt::PopupFocusReason)
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

const char* const kRingName = "focusRing";

// Over the control, above its own children (a scroll area's viewport and
// bars), transparent to the mouse; painted only while the control has the
// focus.
class RingOverlay : public QWidget {
public:
    RingOverlay(QWidget* control, qreal radius) : QWidget(control), control_(control), radius_(radius)
    {
        setObjectName(QString::fromLatin1(kRingName));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != control_)
            return false;
        switch (event->type()) {
        case QEvent::FocusIn:
            setGeometry(control_->rect());
            raise();
            show();
            break;
        case QEvent::FocusOut:
            hide();
            break;
        case QEvent::Resize:
            setGeometry(control_->rect());
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        paint(painter, QRectF(rect()), radius_, control_);
    }

private:
    QWidget* control_;
    qreal radius_;
};

} // namespace

void showWhileFocused(QWidget* control, qreal radius)
{
    if (control && !control->findChild<QWidget*>(QString::fromLatin1(kRingName), Qt::FindDirectChildrenOnly))
        new RingOverlay(control, radius);
}

bool isShownOn(const QWidget* control)
{
    const auto* ring =
        control ? control->findChild<QWidget*>(QString::fromLatin1(kRingName), Qt::FindDirectChildrenOnly) : nullptr;
    return ring && !ring->isHidden();
}

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
