#include "app/progress/ui/KZSearchProgressView.h"

#include "services/ui/KZWindowBackgrounds.h"

#include <QPainter>
#include <QResizeEvent>

KZSearchProgressView::KZSearchProgressView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("progressMainView"));
    setAttribute(Qt::WA_TranslucentBackground);
}

void KZSearchProgressView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KZDrawRoundGradientBackground(painter);
}

void KZSearchProgressView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setMask(QRegion(QRect(2, 2, width() - 4, height() - 4), QRegion::Ellipse));
}
