#include "preferences/ui/KZAboutTextField.h"

#include "preferences/ui/KZAboutClickForwarding.h"

#include <QAbstractButton>
#include <QMouseEvent>

KZAboutTextField::KZAboutTextField(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
}

void KZAboutTextField::mousePressEvent(QMouseEvent* event)
{
    KZAboutClickForwarding::press(splash_);
    event->accept();
}

void KZAboutTextField::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        KZAboutClickForwarding::drag(splash_, this, event->globalPosition());
    event->accept();
}

void KZAboutTextField::mouseReleaseEvent(QMouseEvent* event)
{
    KZAboutClickForwarding::release(splash_, this, event->globalPosition());
    event->accept();
}
