#pragma once

#include "platform/Subscription.h"
#include "result/model/KZResultTabStrip.h"
#include "result/panes/ui/KZResultTabItems.h"
#include "settings/KZFileTypeLabel.h"

#include <QPointer>
#include <QVariantList>
#include <QWidget>

#include <map>
#include <optional>

class KZResultBarItemView;
class KZResultTabItemView;
class KZResultTabsDelegate;
class QAction;

// The row of coloured file-type tabs of a result window: one tab per file
// type of the result in ascending tag order (all duplicates first, the
// dead-tracks and empty-folders tabs last after a wider gap), each with two
// bars that join it to the content when it is selected.
//
// The window places three widgets: this strip as a band at the top of its
// central widget, horizontalBarArea() (5 points high, full width) right under
// it, and verticalBarArea() (4 points wide) on the left of the content.
//
// Selection is a hand-shake through notifications whose object is the
// delegate's notificationObject(): a click or selectTabWithTag() posts
// "updateTabSelection" {tag}; the strip selects that tab and its bars and
// posts "showViewWithSelection" {tag}. A tab's close cross posts "removeTab";
// after a question the tab goes, with "removeFileTypeLabel" {tag, size}
// (object: the bundle identifier) and "deleteRemovedFiletype" {tag}. While a
// result is open the strip follows "file_type_labels": a label added becomes
// an empty tab ("createNewAddedFileType" {tag, fileType, tab}), one deleted
// is removed after a question.
//
// GUI thread only; changes of the defaults made on other threads are handled
// on it.
class KZResultTabsView : public QWidget, public KZResultTabStrip {
    Q_OBJECT
public:
    explicit KZResultTabsView(KZResultTabsDelegate* delegate, QWidget* parent = nullptr);
    ~KZResultTabsView() override;

    QWidget* horizontalBarArea() const { return hBarArea_; }
    QWidget* verticalBarArea() const { return vBarArea_; }

    // KZResultTabStrip
    std::map<quint64, KZFileTypeLabelRef> fileTypes() const override { return fileTypes_; }
    QObject* tabView(quint64 tag) const override;
    QList<quint64> allOrderedTabsKeys() const override;
    void selectTabWithTag(quint64 tag) override;
    void createTabsWithTabInfo(const QVariantMap& tabInfo) override;
    void createEmptyFoldersTab(const QVariantMap& tabInfo) override;

    KZResultTabItemView* tab(quint64 tag) const;
    KZResultBarItemView* horizontalBar(quint64 tag) const;
    KZResultBarItemView* verticalBar(quint64 tag) const;
    std::optional<quint64> selectedTag() const;
    // The narrowest a tab may be with the current number of tabs.
    double minWidth() const;

    // The View menu's "next tab" command and whether it may run now.
    void cycleTabs();
    bool canCycleTabs() const;
    // Runs cycleTabs() on `action` and keeps it enabled only when it may.
    void installCycleAction(QAction* action);
    void updateCycleAction();

    // Asks, then removes the tab: the question of a label deleted in the
    // preferences, or that of the close cross.
    void removeUserDeletedTab(bool labelDeleted, quint64 tag);
    void removeTabWithTag(quint64 tag) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<quint64> orderedTags() const;
    void createTabs();
    void createTabWithTag(quint64 tag);
    void createBarsWithTag(quint64 tag);
    void rebuildRow();
    void layoutRow();
    void placeBars();
    void updateTabSelection(quint64 tag);
    void labelsDidChange();
    void createUserAddedTabs(const QVariantList& labels);
    static KZFileTypeLabelRef fileTypeWithTag(quint64 tag, quint64 filesCount, quint64 size);

    KZResultTabsDelegate* delegate_;
    const void* notificationObject_;
    std::map<quint64, KZResultTabItems> tabs_;
    std::map<quint64, KZFileTypeLabelRef> fileTypes_;
    QVariantList fileTypeLabels_;
    QWidget* hBarArea_;
    QWidget* vBarArea_;
    QPointer<QAction> cycleAction_;
    // A change of the labels that arrives while one is handled (its question
    // runs a modal loop) is handled right after it, not inside it.
    bool handlingLabels_ = false;
    bool labelsChangedAgain_ = false;
    platform::Subscription selectionObservation_;
    platform::Subscription removeObservation_;
    platform::Subscription labelsObservation_;
};
