#include "preferences/ui/KZAboutTextView.h"

#include "preferences/ui/KZAboutClickForwarding.h"

#include <QAbstractButton>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextCharFormat>

KZAboutTextView::KZAboutTextView(QWidget* parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFrameStyle(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("background: transparent;"));
    viewport()->setCursor(Qt::PointingHandCursor);
}

void KZAboutTextView::setCredits(const QString& html)
{
    setHtml(html);
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    QTextCharFormat white;
    white.setForeground(Qt::white);
    all.mergeCharFormat(white);
}

void KZAboutTextView::mousePressEvent(QMouseEvent* event)
{
    KZAboutClickForwarding::press(splash_);
    event->accept();
}

void KZAboutTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        KZAboutClickForwarding::drag(splash_, viewport(), event->globalPosition());
    event->accept();
}

void KZAboutTextView::mouseReleaseEvent(QMouseEvent* event)
{
    KZAboutClickForwarding::release(splash_, viewport(), event->globalPosition());
    event->accept();
}

void KZAboutTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press like any other.
    mousePressEvent(event);
}
