#pragma once

#include "settings/KZFileTypeLabel.h"

#include <QString>

#include <map>

// The file types counted so far, in tag order. A copy taken under the
// counters' lock: the labels are shared, the table is not.
using KZFileTypeSnapshot = std::map<quint64, KZFileTypeLabelRef>;

// What the progress controller's core asks of its window. Every call comes
// on the GUI thread; a controller without a window has no display at all.
class KZSearchProgressDisplay {
public:
    enum class Field { itemsToCheck, checked, itemsFound, sizeFound };

    virtual ~KZSearchProgressDisplay() = default;

    // Stop shown, title opaque, result and reset hidden, close disabled; ring
    // emptied; progress indeterminate; captions and values back to "0".
    virtual void resetForNewSearch() = 0;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;

    virtual void setFieldText(Field field, const QString& text) = 0;
    // The title field: a phase title or the stall text.
    virtual void setTitleText(const QString& text) = 0;
    virtual void setFolderCaptions() = 0;

    virtual void startIndeterminateAnimation() = 0;
    virtual void setDeterminate() = 0;
    virtual void setPercentage(double percent) = 0;
    virtual void stopProgressAnimation() = 0;

    virtual void showFolderView(bool show) = 0;
    virtual void initializeForNewFolder() = 0;
    virtual void setFolderCurrent(const QString& text) = 0;
    virtual void setFolderTotals(const QString& total, const QString& size) = 0;

    virtual void updateTabs(const KZFileTypeSnapshot& types) = 0;
    virtual void closeExtraInfo() = 0;
    virtual void enlargeRing(bool enlarge) = 0;

    // The end of the search: stop fades out, result fades in when `valid`,
    // close enabled, folders panel hidden; then, with two or more types, the
    // final ring (whose fade-in end is announced by "tabsAnimationDidEnd"),
    // else the display calls back KZSearchProgressCore::removeObservers().
    virtual void showEnd(bool valid, const KZFileTypeSnapshot& types) = 0;
    // A large result is still being built.
    virtual void showPreparingResult() = 0;
    // The result may be shown: result enabled, reset in; the title fades
    // out, or reads `endTitle` and stays when there is one.
    virtual void offerResult(const QString& endTitle) = 0;
    // Nothing to offer: reset in, the title as for offerResult().
    virtual void showInvalidEnd(const QString& endTitle) = 0;
};
