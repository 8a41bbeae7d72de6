#pragma once

#include "platform/NotificationCenter.h"
#include "platform/Subscription.h"
#include "result/model/KZResultSourcesRows.h"
#include "result/model/ui/KZResultTabParts.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZPopoverResultSourceInfo.h"
#include "result/window/ui/KZResultSourceTableCellView.h"
#include "settings/KZFileTypeLabel.h"

#include <QObject>
#include <QPointer>
#include <QTableView>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class KZOutlineMarking;
class KZWorkspace;
class QAbstractItemModel;

// The sources list on the left of a file-type tab: the tab's own row, a row
// per searched source when there were several, and the marked items. A
// click on a row shows that row's duplicates in the tab's list; a row's
// check box and mark menu mark its items as one undoable step, as the list's
// own controls do; the rows' figures follow marking and removal. Main thread
// only; the lists' counts, which come from their workers, are queued here
// in the order they were posted.
class KZResultSourcesListCntrl : public QObject, public KZResultSourcesList, public KZResultSourcesCellOwner {
    Q_OBJECT
public:
    struct Services {
        // The marking of the tab's list, which registers the step on the
        // window's undo stack and sends it; null before the list exists.
        std::function<KZOutlineMarking*()> marking;
        std::function<bool()> isRemoving;
        std::function<bool()> aboutIsOpened;
        std::function<void()> beep;
        KZWorkspace* workspace = nullptr;
    };

    // {"fileType", "KZResultSearchSources", "searchStoppeByUser"}.
    KZResultSourcesListCntrl(const QVariantMap& info, Services services);
    ~KZResultSourcesListCntrl() override;

    QTableView* sourcesTableView() const { return table_; }
    KZResultSourcesRows& rows() { return *rows_; }
    KZResultSourceTableCellView* cellAt(int row) const;
    KZMarkMenuWidget* markMenu() const { return markMenu_; }
    KZPopoverResultSourceInfo* extraInfoCntrl() const { return extraInfoCntrl_; }
    quint64 tabTag() const { return rows_->tabTag(); }
    bool searchStoppeByUser() const { return searchStoppeByUser_; }

    // Refills the row's cell from its record.
    void reloadRow(int row);
    void reloadData();
    void startProgressIndicatorWithRow(int row, quint64 tag);
    void stopProgressIndicator(quint64 tag);

    // ---- KZResultSourcesList -------------------------------------------------------------
    QWidget* view() override;
    void setResultOutlineCntrl(KZListOutline* outline) override { resultOutlineCntrl_ = outline; }
    void updateMarkedInfo(const KZMarkedInfoUpdate& info) override;
    void updateRemovedInfo(const KZViewToUpdateRef& info) override;
    void selectRowWithTag(quint64 tag, quint64 deselectTag) override;
    std::vector<KZResultSourcesTypeItemRef> sourceItems() const override { return rows_->items(); }
    qint64 currSelectedRow() const override { return rows_->currSelectedRow(); }
    QVariantMap savedSettings() const override { return rows_->savedSettings(); }
    void setSavedSettings(const QVariantMap& saved) override;

    // ---- KZResultSourcesCellOwner ------------------------------------------------------------
    void markItemsWithState(const QVariantMap& request) override;
    void showMarkMenu(KZResultSourceTableCellView* cell) override;
    void showInfo(quint64 tag, QWidget* senderView) override;
    void cellWasPressed(KZResultSourceTableCellView* cell) override;
    KZResultSourceTableCellView* cellBeside(const KZResultSourceTableCellView* cell, int step) const override;
    void cellTookFocus(KZResultSourceTableCellView* cell) override;
    bool isRemoving() const override;

private:
    void tableViewSelectionDidChange();
    void updateInfoOnMainThread(const QVariantMap& listInfo);
    void markMenuChose(qint64 tag, const QString& title);
    void nameMenuActions(bool named);
    // Handles the notification on the main thread, queued in the order of
    // posting, while this list lives.
    void observeOnMain(const QString& name, const platform::NotificationObject& object,
                       std::function<void(KZResultSourcesListCntrl&, const QVariantMap&)> handler);

    KZFileTypeLabelRef fileTypeItem_;
    bool searchStoppeByUser_ = false;
    Services services_;
    std::unique_ptr<KZResultSourcesRows> rows_;
    QPointer<QTableView> table_;
    QAbstractItemModel* model_ = nullptr;
    std::vector<KZResultSourceTableCellView*> cells_;
    QPointer<KZMarkMenuWidget> markMenu_;
    // The row whose mark menu is open, and the rule checked when it opened.
    QPointer<KZResultSourceTableCellView> menuCell_;
    qint64 menuRuleBefore_ = 0;
    QPointer<KZPopoverResultSourceInfo> extraInfoCntrl_;
    KZListOutline* resultOutlineCntrl_ = nullptr;
    bool restoringSelection_ = false;
    std::vector<platform::Subscription> observations_;
    std::map<quint64, platform::Subscription> spinnerStops_;
};
