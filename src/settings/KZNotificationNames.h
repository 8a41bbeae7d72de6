#pragma once

#include <QString>

// Names of the notifications that travel between subsystems. Kept in one
// place so that a poster and its observers can never spell a name apart.
namespace KZNotification {

// Posted with the bundle identifier by the labels preference pane around a
// rewrite of "file_type_labels": label models stop observing the defaults
// until "addObservers" arrives.
inline const QString removeObservers = QStringLiteral("removeObservers");
inline const QString addObservers = QStringLiteral("addObservers");
// A label model's look changed; the object is the model.
inline const QString updateTabsUserDefault = QStringLiteral("updateTabsUserDefault");
// A label's name or colours changed; the object is the label's tag (a number).
inline const QString updateOtherSourceListInfo = QStringLiteral("updateOtherSourceListInfo");

// The engine's search ended; the object is the controller that started it
// (a pointer), the userInfo the result-info map.
inline const QString searchDidTerminate = QStringLiteral("searchDidTerminate");
// A long comparison runs after the scan; the object is the progress
// controller, userInfo {"show": bool, "whichInfo": text}.
inline const QString updateOtherFoldersInfo = QStringLiteral("updateOtherFoldersInfo");

} // namespace KZNotification
