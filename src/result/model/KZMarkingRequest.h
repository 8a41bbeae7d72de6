#pragma once

#include "result/model/KZFoundItem.h"
#include "result/model/KZViewToUpdate.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <memory>

// The keys of a marking request ("markItemsByUserChoice"), as the result
// window, the sources lists and the list models post it, and the types that
// travel in it.
namespace KZMarkingKey {

inline const QString checkBtnState = QStringLiteral("checkBtnState");
inline const QString menuItemTag = QStringLiteral("menuItemTag");
inline const QString itemsToManageTag = QStringLiteral("itemsToManageTag");
inline const QString ownerTag = QStringLiteral("ownerTag");
// A KZViewsToUpdateRef: what the marking changed, tab by tab.
inline const QString infoDict = QStringLiteral("infoDict");
// A KZFoundItemArray, or for rule 8 a KZMarkSnapshot.
inline const QString itemsToManage = QStringLiteral("itemsToManage");
// The folder of rule 4: file QUrls, std::filesystem::paths or path texts.
inline const QString urls = QStringLiteral("urls");
inline const QString locationTag = QStringLiteral("locationTag");
inline const QString itemSenderView = QStringLiteral("itemSenderView");
inline const QString menuItemTagToRestore = QStringLiteral("menuItemTagToRestore");
inline const QString oldMenuItemTag = QStringLiteral("oldMenuItemTag");
// The rule before this marking where a tab stores it for undo: a stored
// spelling, kept as it is.
inline const QString oldMenuItamTag = QStringLiteral("oldMenuItamTag");
// A removal's request: the items that left (a KZFoundItemArray).
inline const QString removedItems = QStringLiteral("removedItems");

inline const QString menu = QStringLiteral("menu");
// Entries of a restore request given as a list of maps.
inline const QString item = QStringLiteral("item");
inline const QString state = QStringLiteral("state");

} // namespace KZMarkingKey

// The rule numbers of a marking request: the tags of the mark menu.
namespace KZMarkRule {

inline constexpr int singleCheckBox = 0;
inline constexpr int byDefault = 1;
inline constexpr int oldest = 2;
inline constexpr int newest = 3;
inline constexpr int byChosenFolder = 4;
inline constexpr int random = 5;
inline constexpr int inLocation = 6;
inline constexpr int swap = 7;
inline constexpr int restore = 8;

} // namespace KZMarkRule

// The bookkeeping of one marking or removal, shared between the result
// controller that makes it and the model that fills it.
using KZViewsToUpdateRef = std::shared_ptr<KZViewsToUpdate>;

// One item's mark in an undo or redo snapshot.
struct KZMarkState {
    KZFoundItemRef item;
    bool state = false;
};
using KZMarkSnapshot = QList<KZMarkState>;

Q_DECLARE_METATYPE(KZViewsToUpdateRef)
Q_DECLARE_METATYPE(KZMarkState)
