#pragma once

#include <QString>

// Names of the notifications around a tab's lists and views, beside the
// shared ones of settings/KZNotificationNames.h.
namespace KZNotification {

// Per tab, object the tab's tag as a number.
inline const QString updateInfo = QStringLiteral("updateInfo");
inline const QString sourceSelectionDidChange = QStringLiteral("sourceSelectionDidChange");
inline const QString expandItems = QStringLiteral("expandItems");
inline const QString sortList = QStringLiteral("sortList");
// Object the tab's result view.
inline const QString superviewDidHide = QStringLiteral("superviewDidHide");
inline const QString superviewDidUnhide = QStringLiteral("superviewDidUnhide");
// Object the bundle identifier.
inline const QString showByGroup = QStringLiteral("showByGroup");
inline const QString removeButtonDidClick = QStringLiteral("removeButtonDidClick");
inline const QString searchInFoundList = QStringLiteral("searchInFoundList");
inline const QString remotionFailed = QStringLiteral("remotionFailed");
inline const QString removePanelDidClose = QStringLiteral("removePanelDidClose");
inline const QString switchPositionSplitView = QStringLiteral("switchPositionSplitView");
// Object the found-items model: {"removedItems", "isMoveToTrash"}.
inline const QString itemsDidRemove = QStringLiteral("itemsDidRemove");
// Object the bundle identifier: {"removedItems": the found items an undo put
// back at their places}.
inline const QString itemsWereRestored = QStringLiteral("itemsWereRestored");
// Object the list model that asked for the export.
inline const QString exportingDidFinish = QStringLiteral("exportingDidFinish");
// Object the tab's outline view.
inline const QString splitViewDidCollapse = QStringLiteral("splitViewDidCollapse");
inline const QString splitViewDidUncollapse = QStringLiteral("splitViewDidUncollapse");

} // namespace KZNotification
