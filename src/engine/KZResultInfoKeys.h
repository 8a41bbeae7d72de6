#pragma once

#include <QString>

// Keys of the result-info map that a finished search (or a reopened result
// file) hands to the result model. Written by the engine and read by the
// model and the windows: one spelling, so a reader can never miss an entry.
namespace KZResultKey {

inline const QString foundItems = QStringLiteral("KZResultFoundItems");
inline const QString foundItemsCount = QStringLiteral("KZResultFoundItemsCount");
inline const QString itemsToCheckCount = QStringLiteral("KZResultItemsToCheckCount");
inline const QString foundItemsSize = QStringLiteral("KZResultFoundItemsSize");
inline const QString checkedItemsCount = QStringLiteral("KZResultCheckedItemsCount");
inline const QString searchStuffItem = QStringLiteral("KZResultSearchStuffItem");
inline const QString foundFileTypes = QStringLiteral("KZResultFoundFileTypes");
inline const QString stoppedByUser = QStringLiteral("KZResultSearchWasStoppedByUser");
inline const QString currentLocationLabel = QStringLiteral("KZResultCurrentLocationLabel");
inline const QString searchedIniTunes = QStringLiteral("KZResultSearchedIniTunes");
inline const QString searchedInPhotos = QStringLiteral("KZResultSearchedInPhotos");
inline const QString photosLibraryPath = QStringLiteral("KZResultPhotosLibraryPath");
inline const QString photosDatabaseWasNotFound = QStringLiteral("KZPhotosDatabaseWasNotFound");
inline const QString isEmptyFolders = QStringLiteral("KZResultIsEmptyFolders");
inline const QString searchedForDeads = QStringLiteral("KZResultSearchedForDeads");
inline const QString searchedForFolders = QStringLiteral("KZResultSearchedForFolders");
inline const QString isRestoreOfSaved = QStringLiteral("KZResultIsRestoreOfSaved");
inline const QString isSavedItemsToRestore = QStringLiteral("KZResultIsSavedItemsToRestore");
inline const QString foundDeads = QStringLiteral("KZResultFoundDeads");
// What the search could not look at: files whose content could not be read
// and folders that could not be listed. Absent reads as zero. A result with
// either above zero may lack duplicates that are there.
inline const QString unreadableItemsCount = QStringLiteral("KZResultUnreadableItemsCount");
inline const QString unlistedFoldersCount = QStringLiteral("KZResultUnlistedFoldersCount");
// Sources that could not be searched at all (a damaged saved search), each
// as its name and the reason, a QStringList. Absent reads as empty.
inline const QString skippedSources = QStringLiteral("KZResultSkippedSources");
// Why a reopened result file holds nothing to show, as told to the user;
// absent: none of its items can be found any more.
inline const QString reopenLeftOut = QStringLiteral("KZResultReopenLeftOut");
// Added by the result model and the windows.
inline const QString searchSources = QStringLiteral("KZResultSearchSources");
inline const QString foundDeadsCount = QStringLiteral("KZResultFoundDeadsCount");
inline const QString installedTabsTags = QStringLiteral("KZResultInstalledTabsTags");

} // namespace KZResultKey
