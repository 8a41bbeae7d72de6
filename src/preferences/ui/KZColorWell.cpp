#include "preferences/ui/KZColorWell.h"

#include "services/ui/KZFocusRing.h"

#include <QColorDialog>
#include <QPainter>
#include <QPainterPath>

KZColorWell::KZColorWell(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    connect(this, &QAbstractButton::clicked, this, &KZColorWell::openPanel);
}

void KZColorWell::setColor(const QColor& color)
{
    if (color_ == color)
        return;
    color_ = color;
    update();
}

void KZColorWell::openPanel()
{
    auto* panel = new QColorDialog(color_, window());
    panel->setObjectName(QStringLiteral("colorPanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QColorDialog::colorSelected, this, [this](const QColor& picked) {
        if (picked.isValid())
            Q_EMIT colorPicked(picked);
    });
    panel->open();
}

void KZColorWell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath frame;
    frame.addRoundedRect(outer, 4, 4);
    painter.setPen(QPen(isDown() ? QColor(0x5a, 0x6a, 0x80) : QColor(0xa8, 0xae, 0xb6), 1));
    painter.setBrush(QColor(0xfb, 0xfb, 0xfb));
    painter.drawPath(frame);
    QPainterPath swatch;
    swatch.addRoundedRect(outer.adjusted(3, 3, -3, -3), 2, 2);
    painter.setPen(QPen(color_.darker(125), 0.8));
    painter.setBrush(isEnabled() ? color_ : QColor(0xd7, 0xd7, 0xd7));
    painter.drawPath(swatch);
    // Tab stops here and Space opens the panel: the well shows the focus.
    if (hasFocus())
        KZFocusRing::paint(painter, QRectF(rect()), 4, this);
}
