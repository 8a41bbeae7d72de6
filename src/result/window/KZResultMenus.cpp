#include "result/window/KZResultMenus.h"

#include "platform/StringTable.h"

#include <algorithm>

namespace KZResultMenus {

QString markItemTitle(const KZFoundItemArray& items)
{
    if (items.isEmpty())
        return {};
    const auto marked = std::count_if(items.begin(), items.end(),
                                      [](const KZFoundItemRef& item) { return item && item->isMarked(); });
    QString key = QStringLiteral("mark_item");
    if (marked == items.size())
        key = QStringLiteral("unmark_item");
    else if (marked > 0)
        key = QStringLiteral("unmark_unmark_item");
    return platform::localizedString(key);
}

bool checkForSelectionWithTag(int tag, const KZFoundItemArray& items, bool aboutIsOpen)
{
    if (aboutIsOpen || items.isEmpty() || !items.first())
        return false;
    if (tag == openTag && items.first()->isDirectory() && !items.first()->isPackage())
        return false;
    return true;
}

} // namespace KZResultMenus
