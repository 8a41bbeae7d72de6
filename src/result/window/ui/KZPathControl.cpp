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
    ellipsisX_ = -1;
    if (path_.empty())
        return;
    // From the root down to the file.
    std::vector<std::filesystem::path> chain;
    for (std::filesystem::path p = path_; !p.empty(); p = p.parent_path()) {
        chain.insert(chain.begin(), p);
        if (p == p.parent_path())
            break;
    }
    const QFontMetrics metrics(font());
    const auto elementWidth = [&](const std::filesystem::path& p) {
        return kIconSide + kGap + metrics.horizontalAdvance(platform::elementText(p));
    };
    const int room = width();
    int whole = 0;
    for (const std::filesystem::path& p : chain)
        whole += elementWidth(p) + (whole > 0 ? kArrow : 0);

    // A path too long for the row loses its middle: the file and its folder
    // on the right, the folder the path starts from on the left when there
    // is room for it, then as many of the deeper folders as fit, and an
    // ellipsis for what is left out.
    const int leadingEllipsis = metrics.horizontalAdvance(QStringLiteral("… "));
    const int middleEllipsis = metrics.horizontalAdvance(QStringLiteral("…")) + kArrow;
    std::vector<size_t> shown;
    size_t headIndex = chain.size();
    bool elided = false;
    if (whole <= room) {
        for (size_t i = 0; i < chain.size(); ++i)
            shown.push_back(i);
    } else {
        elided = true;
        // The root itself says little; the folder under it names the place.
        const size_t head = chain.front() == chain.front().root_path() ? 1 : 0;
        size_t first = chain.size() - 1;
        int used = elementWidth(chain[first]);
        const auto fits = [&](size_t index, int reserve) {
            return used + kArrow + elementWidth(chain[index]) + reserve <= room;
        };
        if (first > 0 && fits(first - 1, leadingEllipsis)) {
            --first;
            used += kArrow + elementWidth(chain[first]);
        }
        if (head + 1 < first && used + elementWidth(chain[head]) + kArrow + middleEllipsis <= room) {
            headIndex = head;
            used += elementWidth(chain[head]) + kArrow;
        }
        const int reserve = headIndex < chain.size() ? middleEllipsis : leadingEllipsis;
        const size_t stop = headIndex < chain.size() ? headIndex + 1 : 0;
        while (first > stop && fits(first - 1, reserve)) {
            --first;
            used += kArrow + elementWidth(chain[first]);
        }
        if (headIndex < chain.size())
            shown.push_back(headIndex);
        for (size_t i = first; i < chain.size(); ++i)
            shown.push_back(i);
        // Nothing left out between the two ends after all.
        elided = first > stop;
    }

    int x = 0;
    for (size_t n = 0; n < shown.size(); ++n) {
        const std::filesystem::path& p = chain[shown[n]];
        if (elided && n == 0 && headIndex >= chain.size()) {
            ellipsisX_ = 0;
            x = leadingEllipsis;
        } else if (elided && n > 0 && shown[n - 1] == headIndex) {
            ellipsisX_ = x;
            x += middleEllipsis;
        }
        Element element{p, platform::elementText(p), QRect(x, 0, elementWidth(p), height())};
        // The file's own name may still be too long: it takes what is left,
        // and its name is shortened in the middle.
        if (element.rect.right() >= room)
            element.rect.setRight(std::max(room - 1, x));
        x = element.rect.right() + 1 + kArrow;
        elements_.push_back(std::move(element));
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

std::vector<std::pair<std::filesystem::path, QRect>> KZPathControl::shownElements() const
{
    ensureLaidOut();
    std::vector<std::pair<std::filesystem::path, QRect>> shown;
    for (const Element& element : elements_)
        shown.emplace_back(element.path, element.rect);
    return shown;
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
    // A small chevron between elements.
    const auto chevronAfter = [&](int right) {
        const double cx = right + kArrow / 2.0 + 1;
        const double cy = height() / 2.0;
        p.setPen(QPen(QColor(150, 155, 163), 1.2));
        p.drawLine(QPointF(cx - 2, cy - 3.5), QPointF(cx + 1.5, cy));
        p.drawLine(QPointF(cx + 1.5, cy), QPointF(cx - 2, cy + 3.5));
    };
    if (ellipsisX_ >= 0) {
        p.setPen(QColor(80, 86, 96));
        p.drawText(ellipsisX_, baseline, QStringLiteral("…"));
        // In the middle of the path it stands for folders between two others.
        if (ellipsisX_ > 0)
            chevronAfter(ellipsisX_ + metrics.horizontalAdvance(QStringLiteral("…")) - 1);
    }
    for (size_t i = 0; i < elements_.size(); ++i) {
        const Element& element = elements_[i];
        const bool last = i + 1 == elements_.size();
        const QImage icon = KZFileIcons::kindIconForName(element.title, !last, QSize(kIconSide, kIconSide) * devicePixelRatio());
        p.drawImage(QRect(element.rect.left(), (height() - kIconSide) / 2, kIconSide, kIconSide), icon);
        const QRect text(element.rect.left() + kIconSide + kGap, 0,
                         std::max(element.rect.width() - kIconSide - kGap, 0), height());
        p.setPen(last ? QColor(40, 44, 52) : QColor(80, 86, 96));
        p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft, metrics.elidedText(element.title, Qt::ElideMiddle, text.width()));
        if (!last)
            chevronAfter(element.rect.right());
    }
}
