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

// The found items of a result are built and marked; object the bundle
// identifier, no userInfo. Posted on the result model's queue.
inline const QString resultSetupDidTerminate = QStringLiteral("resultSetupDidTerminate");

// The hand-shake of a result, after "resultSetupDidTerminate": the lists may
// be built ("startToShowItems", {"foundItemsCntrl"}, object the bundle
// identifier); one tab's lists are built ("KZListsReadyToShow", object the
// result controller); every tab is ready ("resultIsReady", object the bundle
// identifier).
inline const QString startToShowItems = QStringLiteral("startToShowItems");
inline const QString KZListsReadyToShow = QStringLiteral("KZListsReadyToShow");
inline const QString resultIsReady = QStringLiteral("resultIsReady");
// The tab strip, object the result window: {"tag"} (an added tab also
// {"fileType", "tab"}).
inline const QString showViewWithSelection = QStringLiteral("showViewWithSelection");
inline const QString createNewAddedFileType = QStringLiteral("createNewAddedFileType");
inline const QString deleteRemovedFiletype = QStringLiteral("deleteRemovedFiletype");
// Asks the strip to select a tab, or (its close cross was clicked) to remove
// one; object the result window, {"tag"}.
inline const QString updateTabSelection = QStringLiteral("updateTabSelection");
inline const QString removeTab = QStringLiteral("removeTab");
// Marking requests and group options, object the result controller.
inline const QString markItemsByUserChoice = QStringLiteral("markItemsByUserChoice");
inline const QString showMembersGroups = QStringLiteral("showMembersGroups");
// A label's extensions changed; object the tab's tag as a number,
// {"tag", "labels_extension", "labels_type_array"}.
inline const QString fileTypeExtensionsDidChange = QStringLiteral("fileTypeExtensionsDidChange");
// A save of the result ended; object the result controller.
inline const QString savingDidFinish = QStringLiteral("savingDidFinish");
// A tab's view is about to be hidden; object that view.
inline const QString superviewWillHide = QStringLiteral("superviewWillHide");
// A tab's spinner; object the tab's item view.
inline const QString KZStartTabProgressIndicator = QStringLiteral("KZStartTabProgressIndicator");
inline const QString KZStopProgressIndicator = QStringLiteral("KZStopProgressIndicator");
// The empty-folders tab has new items; object the number 100000000002.
inline const QString emptyFoldersWereAdded = QStringLiteral("emptyFoldersWereAdded");

// The progress window. Object the bundle identifier unless said otherwise.
// An application guard stops the running search as failed.
inline const QString stopSearchingDueError = QStringLiteral("stopSearchingDueError");
// The final ring of file-type tabs has faded in.
inline const QString tabsAnimationDidEnd = QStringLiteral("tabsAnimationDidEnd");
// Open the result on a tab: {"tag", "fromWindow", "roundView"}.
inline const QString showWindowWithTag = QStringLiteral("showWindowWithTag");
// A ring tab was clicked after the search: {"tag"}.
inline const QString showResultWithTag = QStringLiteral("showResultWithTag");
// The user starts over; object the search view.
inline const QString resetButtonDidClick = QStringLiteral("resetButtonDidClick");
// The user declined to start over: {"isClosed": false}.
inline const QString newSearchProgressTerminated = QStringLiteral("newSearchProgressTerminated");
// Start over as if by the reset button; object the progress controller.
inline const QString newSearch = QStringLiteral("newSearch");
// The pointer entered a ring tab: {"fileTypeItem": KZFileTypeLabelRef}.
inline const QString updatefileTypeInfo = QStringLiteral("updatefileTypeInfo");
// The pointer left a ring tab: the information panel closes shortly.
inline const QString installRemotion = QStringLiteral("installRemotion");
// A ring tab rewrote its count and size.
inline const QString updatefileTypeCount = QStringLiteral("updatefileTypeCount");
// A file-type tab was removed from the result: {"tag", "size"}.
inline const QString removeFileTypeLabel = QStringLiteral("removeFileTypeLabel");

// The welcome, About and newsletter windows have closed; object the
// application delegate, no userInfo.
inline const QString welcomeDidClose = QStringLiteral("welcomeDidClose");
inline const QString aboutDidClose = QStringLiteral("aboutDidClose");
inline const QString newsletterDidClose = QStringLiteral("newsletterDidClose");
// The result's list selection changed; object the bundle identifier,
// {"fileName", "count"}.
inline const QString listSelectionDidChange = QStringLiteral("listSelectionDidChange");

// Window hand-overs. The routing handshakes carry the bundle identifier, as
// their headless posters cannot reach the application delegate.
// A flip ended; object the window now in front.
inline const QString flipAnimationDidEnd = QStringLiteral("flipAnimationDidEnd");
// The result window has zoomed open; object that window, {"direction": 0}.
inline const QString openAnimationDidTerminate = QStringLiteral("openAnimationDidTerminate");
// A result window has zoomed closed: {"direction": 1}.
inline const QString newSearchResultTerminated = QStringLiteral("newSearchResultTerminated");
// The search view is reset and may take folders, or a saved result.
inline const QString newSearchIsReady = QStringLiteral("newSearchIsReady");
inline const QString readyToStartToOpenFile = QStringLiteral("readyToStartToOpenFile");
// A saved result has been opened.
inline const QString openingDidFinish = QStringLiteral("openingDidFinish");

} // namespace KZNotification
