#include "result/window/KZGroupRowLayout.h"

#include "platform/StringTable.h"
#include "services/KZNumberUtilities.h"

#include <algorithm>

namespace {
constexpr int kIcon = 32;
constexpr int kCheck = 16;
constexpr int kCheckImage = 14;
constexpr int kArrow = 14;
constexpr int kOptions = 18;
constexpr int kMargin = 6;
// Room for the controls from the check box to the options button; a wider
// count pushes the arrow right into the spare part of it.
constexpr int kControls = 170;
} // namespace

KZGroupRowLayout KZGroupRowLayout::compute(const QRect& row, int counterTextWidth, bool markable, bool showOptions,
                                           const std::optional<Columns>& columns)
{
    KZGroupRowLayout l;
    l.hasCheck = markable;
    l.hasOptions = showOptions;
    const int midY = row.center().y();
    const int textWidth = std::max(0, counterTextWidth);
    const int pillWidth = kCheckImage + 2 + textWidth + kArrow;
    if (columns) {
        l.icon = QRect(columns->nameLeft + 2, midY - kIcon / 2, kIcon, kIcon);
        // A name column too narrow for the controls lends them the row.
        const int needed = kIcon + 60 + pillWidth + (showOptions ? kMargin + kOptions : 0) + kMargin;
        const int controlsRight = std::min(row.right(), std::max(columns->nameRight, l.icon.left() + needed));
        const int optionsLeft = controlsRight - kMargin - kOptions + 1;
        l.options = showOptions ? QRect(optionsLeft, midY - kOptions / 2, kOptions, kOptions) : QRect();
        const int pillRight = showOptions ? optionsLeft - kMargin : controlsRight - kMargin;
        l.check = markable ? QRect(columns->checkCentreX - kCheck / 2, midY - kCheck / 2, kCheck, kCheck) : QRect();
        l.checkImage = QRect(pillRight - pillWidth + 1, midY - 9, kCheckImage, 18);
    } else {
        l.icon = QRect(row.left() + 4, midY - kIcon / 2, kIcon, kIcon);
        const int optionsLeft = row.right() - kMargin - kOptions + 1;
        l.options = showOptions ? QRect(optionsLeft, midY - kOptions / 2, kOptions, kOptions) : QRect();
        const int controlsLeft = std::max(l.icon.right() + 60, optionsLeft - kControls);
        l.check = markable ? QRect(controlsLeft, midY - kCheck / 2, kCheck, kCheck) : QRect();
        const int pillLeft = markable ? l.check.right() + 1 + kMargin : controlsLeft;
        l.checkImage = QRect(pillLeft, midY - 9, kCheckImage, 18);
    }
    l.counterText = QRect(l.checkImage.right() + 1 + 2, midY - 8, textWidth, 16);
    l.arrow = QRect(l.counterText.right() + 1, l.checkImage.top(), kArrow, l.checkImage.height());
    l.pill = QRect(QPoint(l.checkImage.left(), l.checkImage.top()),
                   QPoint(l.arrow.right(), l.checkImage.bottom()));
    // Under the check box that precedes the pill; a check box in its own
    // column is far from it, so the menu then opens under the pill.
    l.menuAnchorX = columns ? l.pill.center().x() : l.check.right() + 1;

    const int textLeft = l.icon.right() + 1 + kMargin;
    // Beside the columns the check box is left of the icon: the name runs
    // up to the pill.
    const bool checkAfterName = markable && l.check.left() > l.icon.left();
    const int textRight = (checkAfterName ? l.check.left() : l.pill.left()) - kMargin;
    const int textWidthAvail = std::max(0, textRight - textLeft);
    l.name = QRect(textLeft, row.top() + 3, textWidthAvail, 18);
    l.extraInfo = QRect(textLeft, l.name.bottom() + 1, textWidthAvail, 15);
    return l;
}

KZGroupRowLayout::Part KZGroupRowLayout::hitTest(const QPoint& point) const
{
    if (hasCheck && check.adjusted(-2, -2, 2, 2).contains(point))
        return Part::Check;
    if (hasCheck && arrow.contains(point))
        return Part::Arrow;
    if (hasCheck && (counterText.contains(point) || checkImage.contains(point)))
        return Part::Counter;
    if (hasOptions && options.contains(point))
        return Part::Options;
    return Part::None;
}

QPoint KZGroupRowLayout::menuPoint(int menuWidth) const
{
    return {menuAnchorX - menuWidth / 2, arrow.bottom() + 1 + 4};
}

namespace KZGroupOptions {

int missingCount(const KZFoundItemGroup& group)
{
    if (group.items().isEmpty() || !group.items().first())
        return 0;
    const qint64 inResult = static_cast<quint16>(group.items().first()->countOfItemsInGroup());
    return static_cast<int>(std::max<qint64>(0, inResult - group.items().size()));
}

QString showMissingTitle(const KZFoundItemGroup& group)
{
    const int missing = missingCount(group);
    if (missing == 0)
        return platform::localizedString(QStringLiteral("show_present_members"));
    const QString key = missing == 1 ? QStringLiteral("show_count_missing_member_sing")
                                     : QStringLiteral("show_count_missing_members_plur");
    return platform::localizedString(key).arg(KZNumberUtilities::sharedControl().numberToFormatString(missing));
}

} // namespace KZGroupOptions
