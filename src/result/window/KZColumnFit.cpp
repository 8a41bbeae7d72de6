#include "result/window/KZColumnFit.h"

#include "result/model/KZColumnKeys.h"
#include "result/window/KZTableHeaderCntrl.h"

#include <algorithm>
#include <utility>

namespace KZColumnFit {

QList<int> resultListWidths(int available, bool locationShown, int checkWidth, int fullDateWidth)
{
    using namespace KZColumnKey;
    const auto& columns = KZTableHeaderCntrl::all();
    QList<int> widths(columns.size(), 0);
    int used = 0;
    for (int i = 0; i < columns.size(); ++i) {
        const KZResultColumn& column = columns.at(i);
        if (column.identifier == location_tag_col && !locationShown)
            continue;
        widths[i] = column.identifier == check_col ? checkWidth
                    : column.resizable             ? column.minWidth
                                                   : column.initialWidth;
        used += widths[i];
    }
    const int name = KZTableHeaderCntrl::indexOf(name_col);
    const int date = KZTableHeaderCntrl::indexOf(date_modified_col);
    const int size = KZTableHeaderCntrl::indexOf(size_col);
    const int kind = KZTableHeaderCntrl::indexOf(kind_col);
    // A long date without its time, the size and the kind whole come
    // before a wider name; the full date only after it.
    const std::pair<int, int> turns[] = {
        {date, 100}, {size, 80}, {kind, 160}, {name, 400}, {date, fullDateWidth}, {name, columns.at(name).maxWidth},
    };
    int left = available - used;
    for (const auto& [index, target] : turns) {
        if (left <= 0)
            break;
        const int wanted = std::min(target, columns.at(index).maxWidth) - widths[index];
        const int grow = std::clamp(wanted, 0, left);
        widths[index] += grow;
        left -= grow;
    }
    return widths;
}

} // namespace KZColumnFit
