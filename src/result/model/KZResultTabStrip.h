#pragma once

#include "settings/KZFileTypeLabel.h"

#include <QList>
#include <QVariantMap>
#include <QtGlobal>

#include <map>

class QObject;

// What the result controller needs of the result window's strip of
// file-type tabs. The window implements it; tests use a fake.
class KZResultTabStrip {
public:
    virtual ~KZResultTabStrip() = default;

    // Tab tag -> the tab's file-type label, for every tab on the strip.
    virtual std::map<quint64, KZFileTypeLabelRef> fileTypes() const = 0;
    // The item view of a tab (the object of its spinner notifications and
    // the "tab" of its controller); null for a tag without a tab.
    virtual QObject* tabView(quint64 tag) const = 0;
    // The tab tags in the order the strip shows them.
    virtual QList<quint64> allOrderedTabsKeys() const = 0;
    virtual void selectTabWithTag(quint64 tag) = 0;
    // Takes a tab away without asking, another tab shown in its place.
    virtual void removeTabWithTag(quint64 tag) = 0;

    // Make the tabs of a result ("KZResultFoundFileTypes",
    // "KZResultFoundItemsCount", "KZResultFoundItemsSize",
    // "KZResultCheckedItemsCount", "KZResultSearchedForDeads",
    // "KZResultIsEmptyFolders", "KZResultFoundDeadsCount").
    virtual void createTabsWithTabInfo(const QVariantMap& tabInfo) = 0;
    virtual void createEmptyFoldersTab(const QVariantMap& tabInfo) = 0;
};
