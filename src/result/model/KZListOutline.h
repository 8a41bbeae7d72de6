#pragma once

#include "result/model/KZShownList.h"
#include "result/model/KZSortDescriptor.h"

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <map>
#include <optional>

// What a tab's list model hands to its outline to show.
struct KZListHandOff {
    quint64 currSelectedTag = 0;
    bool restoreScroll = false;
    bool searchStoppeByUser = false;
    // Absent when the list was dropped (hidden tab): the outline shows nothing.
    std::optional<KZShownList> currArray;
};

// A mark menu that shows which rule chose the marks.
class KZMarkMenu {
public:
    virtual ~KZMarkMenu() = default;
    virtual void setOnMenuItemWithTag(qint64 tag) = 0;
};
Q_DECLARE_METATYPE(KZMarkMenu*)

// What a tab's list model needs of the outline that draws its lists (the
// groups outline or the flat list, with its column header and selection).
// The list model owns it. Every call comes from the main thread.
class KZListOutline {
public:
    virtual ~KZListOutline() = default;

    virtual void showNewData(const KZListHandOff& data) = 0;
    virtual void setItemsCount(quint64 count) = 0;
    virtual void setSearchStoppeByUser(bool stopped) = 0;

    // The order the list view sorts by; empty when the user chose none.
    virtual KZSortDescriptors sortDescriptors() const = 0;
    // Shows the order in the header only; the model sorts the list itself.
    virtual void setSortDescriptors(const KZSortDescriptors& descriptors) = 0;
    virtual void setCurrSelectedTag(quint64 tag) = 0;

    virtual void setupShowByGroup(bool grouped) = 0;
    virtual void setEmptyPreview() = 0;
    virtual void expandAllGroups(bool expand) = 0;
    virtual void setIsGatheringKind(bool gathering) = 0;
    virtual void selectFoundItem(const KZListRow& row) = 0;
    virtual void updateListAfterMarked() = 0;
    virtual void updateRowsForGroup(const KZFoundItemGroupRef& group, qsizetype oldItemsCount) = 0;
    virtual void revealGroup(const KZFoundItemGroupRef& group) = 0;
    virtual void saveLastVisbleItem() = 0;
    virtual void updateQuickLookPanelDelegate() = 0;
    // Takes the File-menu items away from this tab (release) or gives them to it.
    virtual void changeMenuItemsTarget(bool release) = 0;

    // Records the selected rows of `list` under `tag` (saving, undo).
    virtual void getInfoOfSelectedItemsWithArray(const KZShownList& list, quint64 tag) = 0;
    // Rows to select when each list is next shown.
    virtual void setSelectedItemsByTags(const std::map<quint64, QList<KZListRow>>& rows) = 0;
    // Forgets every remembered selection and scroll position (after a removal).
    virtual void resetSelectionState() = 0;
    // Whether the mark/unmark item (102) may be chosen for the selection.
    virtual bool checkForSelectionWithTag(qint64 tag) const = 0;
    // The title of that item for the present selection.
    virtual QString markedMenuItemTitle() const = 0;

    // The view that a removal panel covers, and the list's columns in order
    // (for an export); opaque to the model.
    virtual QVariant removalCoverView() const = 0;
    virtual QVariantList tableColumns() const = 0;
};

Q_DECLARE_METATYPE(KZListOutline*)
