#include "result/window/ui/KZPathControl.h"

#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "services/ui/KZFileIcons.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

namespace {

constexpr int kIconSide = 14;
constexpr int kGap = 4;
constexpr int kArrow = 12;

} // namespace

KZPathControl::KZPathControl(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pathBtn"));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    setFont(small);
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("pathMenu"));
    const std::pair<int, const char*> items[] = {{revealTag, "reveal_in_file_manager"}, {openTag, "open_item"}};
    for (const auto& [tag, key] : items) {
        QAction* action = menu_->addAction(platform::localizedString(QString::fromLatin1(key)));
        action->setData(tag);
        connect(action, &QAction::triggered, this, [this, tag] { Q_EMIT menuItemChosen(tag); });
    }
}

void KZPathControl::setPath(const std::filesystem::path& path)
{
    path_ = path;
    clicked_ = path;
    layoutElements();
    update();
}

void KZPathControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutElements();
}

void KZPathControl::ensureLaidOut() const
{
    // A hidden control gets its resize only when shown; it may be asked first.
    if (laidWidth_ != width())
        const_cast<KZPathControl*>(this)->layoutElements();
}

void KZPathControl::layoutElements()
{
    laidWidth_ = width();
    elements_.clear();
    elided_ = false;
    if (path_.empty())
        return;
    std::vector<std::filesystem::path> chain;
    for (std::filesystem::path p = path_; !p.empty(); p = p.parent_path()) {
        chain.push_back(p);
        if (p == p.parent_path())
            break;
    }
    // From the file back toward the root, as long as the row has room; the
    // deepest folders tell the most.
    const QFontMetrics metrics(font());
    int used = 0;
    std::vector<Element> kept;
    for (const std::filesystem::path& p : chain) {
        const QString title = platform::elementText(p);
        const int textWidth = metrics.horizontalAdvance(title);
        const int width = kIconSide + kGap + textWidth + (kept.empty() ? 0 : kArrow);
        if (!kept.empty() && used + width > this->width()) {
            elided_ = true;
            break;
        }
        kept.push_back({p, title, QRect(0, 0, kIconSide + kGap + textWidth, height())});
        used += width;
    }
    int x = elided_ ? metrics.horizontalAdvance(QStringLiteral("… ")) : 0;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        it->rect.moveLeft(x);
        // The file's own name may still be too long: it takes what is left.
        if (it->rect.right() > width())
            it->rect.setRight(width() - 1);
        x = it->rect.right() + 1 + kArrow;
        elements_.push_back(*it);
    }
}

std::filesystem::path KZPathControl::elementAt(QPoint point) const
{
    ensureLaidOut();
    for (const Element& element : elements_)
        if (element.rect.contains(point))
            return element.path;
    return path_;
}

void KZPathControl::prepareMenuAt(QPoint point)
{
    clicked_ = elementAt(point);
}

void KZPathControl::contextMenuEvent(QContextMenuEvent* event)
{
    if (path_.empty())
        return;
    prepareMenuAt(event->pos());
    menu_->popup(event->globalPos());
}

void KZPathControl::paintEvent(QPaintEvent*)
{
    ensureLaidOut();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(font());
    const int baseline = (height() + metrics.ascent() - metrics.descent()) / 2;
    p.setPen(QColor(80, 86, 96));
    if (elided_)
        p.drawText(0, baseline, QStringLiteral("…"));
    for (size_t i = 0; i < elements_.size(); ++i) {
        const Element& element = elements_[i];
        const bool last = i + 1 == elements_.size();
        const QImage icon = KZFileIcons::kindIconForName(element.title, !last, QSize(kIconSide, kIconSide) * devicePixelRatio());
        p.drawImage(QRect(element.rect.left(), (height() - kIconSide) / 2, kIconSide, kIconSide), icon);
        const QRect text(element.rect.left() + kIconSide + kGap, 0, element.rect.width() - kIconSide - kGap, height());
        p.setPen(last ? QColor(40, 44, 52) : QColor(80, 86, 96));
        p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft, metrics.elidedText(element.title, Qt::ElideMiddle, text.width()));
        if (!last) {
            // A small chevron between elements.
            const double cx = element.rect.right() + kArrow / 2.0 + 1;
            const double cy = height() / 2.0;
            p.setPen(QPen(QColor(150, 155, 163), 1.2));
            p.drawLine(QPointF(cx - 2, cy - 3.5), QPointF(cx + 1.5, cy));
            p.drawLine(QPointF(cx + 1.5, cy), QPointF(cx - 2, cy + 3.5));
        }
    }
}
