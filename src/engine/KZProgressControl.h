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
    virtual void setIsSearching(bool searching) = 0;

    virtual void setFoundSize(quint64 size) = 0;
    virtual void setFoundCount(quint64 count) = 0;
    virtual void setCheckedCount(quint64 count) = 0;
    virtual void setItemsToCheckCount(quint64 count) = 0;
    // Music-library tracks whose file is gone, listed because the user asked
    // for them: a result of its own, with or without duplicates. Told once,
    // before the search stops searching.
    virtual void setMissingTracksCount(quint64) {}

    // What only a window shows. A progress controller without a window (the
    // empty-folder follow-up, the command-line tool) keeps these no-ops.
    virtual void prepareToSearchForFoldersContent() {}
    virtual void allowsShowResult() {}
    // A null title keeps the previous one.
    virtual void setMainInfoTitle(const QString&) {}
    virtual void showDeterminateProgress() {}
    virtual void showFolderView(bool) {}
    virtual void initializeFoldersProgressWithTotValue(quint64) {}
    virtual void setFolderSizeValue(quint64) {}
    virtual void addCurrFoldersValue(quint64) {}

    // Counts the item under its file-type tag for fileTypes().
    virtual void setFoundItemFileType(const KZSearchItemInfo&) {}
    // The duplicates counted by setFoundItemFileType(), read once when a
    // search ends: the tag as decimal text -> KZFileTypeLabelRef.
    virtual QVariantMap fileTypes() const { return {}; }
};
