#include "result/window/KZSelectionSummary.h"

#include "platform/StringTable.h"
#include "services/KZNumberUtilities.h"

namespace KZSelectionSummary {

QString text(quint64 selectedGroups, quint64 selectedItems, quint64 itemsCount, quint64 groupsCount)
{
    const KZNumberUtilities& numbers = KZNumberUtilities::sharedControl();
    auto n = [&numbers](quint64 value) { return numbers.numberToFormatString(double(value)); };
    if (selectedGroups > 0 && selectedItems > 0)
        return platform::localizedString(QStringLiteral("selection_items_and_group_info"))
            .arg(n(selectedItems), n(itemsCount), n(selectedGroups), n(groupsCount));
    if (selectedItems > 0)
        return platform::localizedString(QStringLiteral("selection_info")).arg(n(selectedItems), n(itemsCount));
    if (selectedGroups > 0)
        return platform::localizedString(QStringLiteral("selection_group_info")).arg(n(selectedGroups), n(groupsCount));
    return {};
}

} // namespace KZSelectionSummary
