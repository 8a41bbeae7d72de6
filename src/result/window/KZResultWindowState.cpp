#include "result/window/KZResultWindowState.h"

#include "platform/StringTable.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZTags.h"

namespace KZResultWindowState {

QString removalUndoName(quint64 count, bool isTrashAction, quint64 copied)
{
    if (count == 0)
        return {};
    if (!isTrashAction && copied != 0) {
        if (copied < count)
            return platform::localizedString(QStringLiteral("move_copy_items"))
                .arg(KZNumberUtilities::sharedControl().numberToFormatString(double(count)));
        if (count == 1)
            return platform::localizedString(QStringLiteral("copy_one_item"));
        return platform::localizedString(QStringLiteral("copy_items"))
            .arg(KZNumberUtilities::sharedControl().numberToFormatString(double(count)));
    }
    if (count == 1)
        return platform::localizedString(isTrashAction ? QStringLiteral("trash_one_item") : QStringLiteral("move_one_item"));
    return platform::localizedString(isTrashAction ? QStringLiteral("trash_items") : QStringLiteral("move_items"))
        .arg(KZNumberUtilities::sharedControl().numberToFormatString(double(count)));
}

QString groupingItemTitle(bool shownByGroup)
{
    return platform::localizedString(shownByGroup ? QStringLiteral("ungroup_items") : QStringLiteral("group_items"));
}

QString previewItemTitle(bool previewBeside)
{
    return platform::localizedString(previewBeside ? QStringLiteral("preview_on_bottom")
                                                   : QStringLiteral("preview_on_right"));
}

bool toolbarItemEnabled(int tag, bool windowIsActive, bool isRemoving, quint64 tabTag)
{
    if (!windowIsActive || isRemoving)
        return false;
    if (tag == groupingToolbarTag)
        return tabTag != KZTag::missingTracks && tabTag != KZTag::emptyFolders;
    if (tag == previewToolbarTag)
        return tabTag != KZTag::missingTracks;
    return true;
}

} // namespace KZResultWindowState
