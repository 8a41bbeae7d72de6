#include "preferences/ui/KZTokenDelegate.h"

#include "preferences/KZLimitationsList.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kChipPadding = 7;
constexpr int kChipGap = 4;
constexpr int kChipHeight = 18;
} // namespace

KZTokenDelegate::KZTokenDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void KZTokenDelegate::paintTokens(QPainter* painter, const QRect& rect, const QStringList& tokens, const QFont& font,
                                  const QString& placeholder)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setFont(font);
    const QFontMetrics metrics(font);
    const int height = std::min(kChipHeight, rect.height() - 2);
    const int top = rect.top() + (rect.height() - height) / 2;
    if (tokens.isEmpty()) {
        painter->setPen(QColor(0x9a, 0x9f, 0xa6));
        painter->drawText(rect.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(placeholder, Qt::ElideRight, rect.width() - 8));
        painter->restore();
        return;
    }
    const QString more = QStringLiteral("…");
    const int moreWidth = metrics.horizontalAdvance(more) + kChipGap;
    int x = rect.left() + 4;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const int width = metrics.horizontalAdvance(tokens.at(i)) + 2 * kChipPadding;
        const bool last = i == tokens.size() - 1;
        const int room = rect.right() - x - (last ? 0 : moreWidth);
        if (width > room) {
            painter->setPen(QColor(0x6b, 0x72, 0x7c));
            painter->drawText(QRect(x, rect.top(), rect.right() - x, rect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                              more);
            break;
        }
        const QRectF chip(x + 0.5, top + 0.5, width - 1, height - 1);
        QPainterPath path;
        path.addRoundedRect(chip, height / 2.0 - 1, height / 2.0 - 1);
        painter->setPen(QPen(QColor(0xa9, 0xc1, 0xee), 1));
        painter->setBrush(QColor(0xe3, 0xec, 0xfc));
        painter->drawPath(path);
        painter->setPen(QColor(0x1f, 0x3a, 0x66));
        painter->drawText(chip, Qt::AlignCenter, tokens.at(i));
        x += width + kChipGap;
    }
    painter->restore();
}

void KZTokenDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
    const QStringList tokens = KZLimitationsList::tokensOf(index.data(Qt::DisplayRole).toString());
    paintTokens(painter, option.rect, tokens, option.font, index.data(Qt::UserRole + 1).toString());
}

QSize KZTokenDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), kChipHeight + 8));
    return size;
}

QWidget* KZTokenDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    auto* editor = new QLineEdit(parent);
    editor->setObjectName(QStringLiteral("tokenEditor"));
    editor->setFrame(false);
    return editor;
}

void KZTokenDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* field = qobject_cast<QLineEdit*>(editor))
        field->setText(KZLimitationsList::tokensOf(index.data(Qt::DisplayRole).toString()).join(QStringLiteral(", ")));
}

void KZTokenDelegate::setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const
{
    if (auto* field = qobject_cast<QLineEdit*>(editor))
        Q_EMIT tokensEdited(index, field->text());
}

void KZTokenDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                           const QModelIndex&) const
{
    editor->setGeometry(option.rect);
}
