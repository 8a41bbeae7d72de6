#pragma once

#include "result/model/KZListOutline.h"
#include "result/window/KZPreviewItem.h"

#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <map>
#include <optional>

class KZFoundItemsModel;
class KZFoundItemsOutlineView;
class QLabel;
class QWidget;

// The outline of one tab's lists: turns the list the list model hands over
// into rows, remembers each list's selection and scroll position while the
// user moves between lists, opens remembered groups as they scroll into
// view, builds the sort order from header clicks and writes the selection
// summary. Main thread only.
class KZResultOutlineCntrl : public QObject, public KZListOutline {
    Q_OBJECT
public:
    struct Settings {
        quint64 tabTag = 0;
        // The object of the tab's spinner notifications.
        const void* tabView = nullptr;
        qint16 locationsCount = 1;
        // The searched folders, by location label.
        QStringList sourceFolders;
        std::function<void()> beep;
        std::function<void(const QString&)> setSelectionInfo;
        // Items of the selection for the preview pane; empty when nothing is selected.
        std::function<void(const KZFoundItemArray&)> showPreview;
        // The same as preview items with their rows, for the preview pane.
        std::function<void(const KZPreviewItems&)> showPreviewItems;
        // The tab came to the front: its preview pane serves the preview panel.
        std::function<void()> updateQuickLookPanelDelegate;
        // Gives the new list its marking controls (boxes, menus, popovers).
        std::function<void(KZFoundItemsOutlineView*)> addMarking;
    };

    explicit KZResultOutlineCntrl(Settings settings);
    ~KZResultOutlineCntrl() override;

    // The list with its empty and stopped notices; the caller places it.
    QWidget* view() const { return container_; }
    KZFoundItemsOutlineView* foundListView() const { return view_; }
    KZFoundItemsModel* foundModel() const { return model_; }
    bool shownByGroup() const { return shownByGroup_; }
    quint64 currSelectedTag() const { return currSelectedTag_; }
    quint64 itemsCount() const { return itemsCount_; }
    bool isGathering() const { return isGathering_; }
    const std::map<quint64, QList<KZListRow>>& selectedItemsByTags() const { return selectedItemsByTags_; }
    const std::optional<QList<KZListRow>>& pendingSelection() const { return oldSelected_; }
    QString selectionInfoText() const { return infoText_; }
    QLabel* emptyView() const { return emptyView_; }
    QLabel* stoppedFld() const { return stoppedFld_; }

    // A click on the header of column `section`.
    void headerClicked(int section);
    // Opens the remembered groups among the visible rows.
    void expandVisibleItems();
    void prepareToShowPreview();
    void setInfoString();
    void setIsRemoving(bool removing);
    // Whether the item's row is in the visible part of the list.
    bool isItemVisible(const KZFoundItemRef& item) const;
    // The name column across the list's full width (y and height 0); empty
    // while the column is hidden.
    QRect rectOfNameColumn() const;
    // Where the item's row shows its name, on screen (the icon's place before
    // the name); empty when the row is not in view or its window is off
    // screen.
    QRect rectOfItem(const KZFoundItemRef& item) const;

    // ---- KZListOutline ---------------------------------------------------------------
    void showNewData(const KZListHandOff& data) override;
    void setItemsCount(quint64 count) override;
    void setSearchStoppeByUser(bool stopped) override;
    KZSortDescriptors sortDescriptors() const override { return sortDescriptors_; }
    void setSortDescriptors(const KZSortDescriptors& descriptors) override;
    void setCurrSelectedTag(quint64 tag) override { currSelectedTag_ = tag; }
    void setupShowByGroup(bool grouped) override;
    void setEmptyPreview() override;
    void expandAllGroups(bool expand) override;
    void setIsGatheringKind(bool gathering) override;
    void selectFoundItem(const KZListRow& row) override;
    void updateListAfterMarked() override;
    void updateRowsForGroup(const KZFoundItemGroupRef& group, qsizetype oldItemsCount) override;
    void revealGroup(const KZFoundItemGroupRef& group) override;
    void saveLastVisbleItem() override;
    void updateQuickLookPanelDelegate() override;
    void changeMenuItemsTarget(bool) override {}
    void getInfoOfSelectedItemsWithArray(const KZShownList& list, quint64 tag) override;
    void setSelectedItemsByTags(const std::map<quint64, QList<KZListRow>>& rows) override;
    void resetSelectionState() override;
    bool checkForSelectionWithTag(qint64 tag) const override;
    QString markedMenuItemTitle() const override;
    QVariant removalCoverView() const override;
    QVariantList tableColumns() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shares the list's width among the columns until the user sizes one.
    void fitColumns();

    struct ScrollRecord {
        int row = 0;
        KZListRow lastVisibleItem;
        KZListRow groupItem;
    };

    QModelIndex visibleIndexOf(const KZFoundItemRef& item) const;
    void selectedItemsWithTag(quint64 tag);

    KZFoundItemArray selectedItemsForMenus() const;
    // Shows or hides a notice over the list, fading it unless `animated` is
    // false.
    void fadeNotice(QWidget* notice, bool in, bool animated);
    void selectWithArray(const QList<KZListRow>& rows, bool scrollToVisible);
    void restoreOldSettings(bool calledBySourceList);
    void postStopNotification(bool calledBySourceList);
    void saveSelectionUnder(quint64 tag);
    void applySortIndicator();
    bool isGhost(const KZListRow& row) const;

    Settings settings_;
    QWidget* container_ = nullptr;
    KZFoundItemsOutlineView* view_ = nullptr;
    KZFoundItemsModel* model_ = nullptr;
    QLabel* emptyView_ = nullptr;
    QLabel* stoppedFld_ = nullptr;

    bool shownByGroup_ = false;
    bool scrollCanUpdate_ = false;
    bool isGathering_ = false;
    bool expandQueued_ = false;
    bool hasList_ = false;
    bool fittingColumns_ = false;
    bool columnsSizedByUser_ = false;
    bool headerPressed_ = false;
    quint64 currSelectedTag_ = 0;
    quint64 itemsCount_ = 0;
    KZSortDescriptors sortDescriptors_;
    std::optional<KZSortDescriptors> oldSortDescriptors_;
    std::map<quint64, QList<KZListRow>> selectedItemsByTags_;
    std::optional<QList<KZListRow>> oldSelected_;
    std::map<quint64, ScrollRecord> lastSelectedInfo_;
    QString infoText_;
};
