#pragma once

#include "services/KZStopSource.h"

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

class KZSearchItemInfo;

// What the engine asks of the search progress window. The engine's threads
// call the counter setters directly; implementations keep the last values
// under their own lock and show them on their own clock, and never call back
// into the engine while holding that lock.
class KZProgressControl : public KZStopSource {
public:
    ~KZProgressControl() override = default;

    // {"isEmptiedFolders": bool, "showInterface": bool}
    virtual void prepareToSearch(const QVariantMap& options) = 0;
    virtual void prepareToSearchForFoldersContent() = 0;
    virtual void allowsShowResult() = 0;

    virtual void setFoundSize(quint64 size) = 0;
    virtual void setFoundCount(quint64 count) = 0;
    virtual void setCheckedCount(quint64 count) = 0;
    virtual void setItemsToCheckCount(quint64 count) = 0;
    // Counts the item under its file-type tag.
    virtual void setFoundItemFileType(const KZSearchItemInfo& item) = 0;

    // A null title keeps the previous one.
    virtual void setMainInfoTitle(const QString& title) = 0;
    virtual void setIsSearching(bool searching) = 0;
    virtual void showDeterminateProgress() = 0;
    virtual void showFolderView(bool show) = 0;

    virtual void initializeFoldersProgressWithTotValue(quint64 total) = 0;
    virtual void setFolderSizeValue(quint64 size) = 0;
    virtual void addCurrFoldersValue(quint64 value) = 0;

    // The duplicates counted by setFoundItemFileType(), read once when a
    // search ends: the tag as decimal text -> KZFileTypeLabelRef.
    virtual QVariantMap fileTypes() const { return {}; }
};
