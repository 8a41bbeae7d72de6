#include "result/window/ui/KZGroupCellView.h"

#include "result/window/ui/KZCounterCellView.h"
#include "services/ui/KZFileIcons.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

QFont sized(const QFont& base, int pixels)
{
    QFont font(base);
    font.setPixelSize(pixels);
    return font;
}

} // namespace

using KZCellFormatting::grey;

KZGroupCellView::KZGroupCellView(const QFont& base)
    : nameFont_(sized(base, 13)), infoFont_(sized(base, 11)), counterFont_(sized(base, 12))
{
}

QString KZGroupCellView::counterText(const KZFoundItemGroup& group) const
{
    return group.formattedMarkedCount() + QStringLiteral(" / ") + group.formattedCount();
}

KZGroupRowLayout KZGroupCellView::layout(const QRect& row, const KZFoundItemGroup& group, const State& state) const
{
    const int width = QFontMetrics(counterFont_).horizontalAdvance(counterText(group)) + 2;
    return KZGroupRowLayout::compute(row, width, state.markable, state.showOptions, state.columns);
}

void KZGroupCellView::paint(QPainter* painter, const QRect& row, KZFoundItemGroup& group, const State& state) const
{
    const KZGroupRowLayout l = layout(row, group, state);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // The group shows its first member's icon: its own, or its kind's.
    if (group.fileIcon().isNull() && !group.items().isEmpty() && group.items().first()) {
        KZFoundItem& first = *group.items().first();
        if (first.fileIcon().isNull())
            first.setFileIcon(KZFileIcons::kindIconForName(first.name(), first.isDirectory(), QSize(32, 32)));
        group.setFileIcon(first.fileIcon());
    }
    if (!group.fileIcon().isNull())
        painter->drawImage(l.icon, group.fileIcon());
    else
        painter->drawImage(l.icon, KZFileIcons::kindIconForName(QString(), false, QSize(32, 32)));

    painter->setFont(nameFont_);
    painter->setPen(KZCellFormatting::titleColour(state.style, false));
    painter->drawText(l.name, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(nameFont_).elidedText(group.name(), Qt::ElideRight, l.name.width()));
    painter->setFont(infoFont_);
    painter->setPen(KZCellFormatting::subTitleColour(state.style, false));
    painter->drawText(l.extraInfo, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(infoFont_).elidedText(group.extraInfoFormatted(!state.markable), Qt::ElideMiddle,
                                                         l.extraInfo.width()));

    if (l.hasCheck) {
        // The box only serves to clear the group: it is on, and usable,
        // while a member is marked.
        QStyleOptionButton box;
        box.rect = l.check;
        box.state = group.markedCount() > 0 ? (QStyle::State_On | QStyle::State_Enabled) : QStyle::State_Off;
        QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter);
    }

    KZCounterCellView::draw(painter, l.checkImage, l.arrow, state.pressed, state.removing);
    const double alpha = state.removing ? 0.5 : 1.0;

    const QColor tint = KZCellFormatting::tintColour(state.tint);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(tint.red(), tint.green(), tint.blue(), int(255 * alpha)));
    painter->drawEllipse(QRectF(l.checkImage.center().x() - 2.5, l.checkImage.center().y() - 2.5, 6, 6));

    // The counter keeps its colours whatever the row's style.
    painter->setFont(counterFont_);
    const QString marked = group.formattedMarkedCount();
    const int markedWidth = QFontMetrics(counterFont_).horizontalAdvance(marked);
    const QRect text = l.counterText.translated(0, state.pressed ? 1 : 0);
    painter->setPen(QColor(tint.red(), tint.green(), tint.blue(), int(255 * alpha)));
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, marked);
    painter->setPen(grey(0.2, alpha));
    painter->drawText(text.adjusted(markedWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      QStringLiteral(" / ") + group.formattedCount());

    // The marked list's pill ends in the same arrow, drawn as a picture:
    // its groups have no menu to open.
    QPainterPath arrow;
    const QPointF c = QRectF(l.arrow).center();
    arrow.moveTo(c.x() - 3.5, c.y() - 1.5);
    arrow.lineTo(c.x() + 3.5, c.y() - 1.5);
    arrow.lineTo(c.x(), c.y() + 2.5);
    arrow.closeSubpath();
    painter->setBrush(grey(l.hasCheck ? 0.3 : 0.62, alpha));
    painter->drawPath(arrow);

    if (l.hasOptions) {
        const QRectF o = QRectF(l.options).adjusted(1, 1, -1, -1);
        painter->setPen(QPen(grey(state.style == 1 ? 0.95 : 0.55, 1.0), 1.0));
        painter->setBrush(state.style == 1 ? QColor(255, 255, 255, 40) : grey(0.98, 1.0));
        painter->drawEllipse(o);
        painter->setPen(Qt::NoPen);
        painter->setBrush(grey(state.style == 1 ? 1.0 : 0.35, 1.0));
        for (int i = -1; i <= 1; ++i)
            painter->drawEllipse(QPointF(o.center().x() + i * 4.0, o.center().y()), 1.3, 1.3);
    }
    painter->restore();
}
