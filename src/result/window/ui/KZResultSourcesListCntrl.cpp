#include "result/window/ui/KZResultSourcesListCntrl.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZResultCntrl.h"
#include "result/window/KZMarkRequests.h"
#include "result/window/KZSourceCellGeometry.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZPopoverResultSourceInfo.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {

namespace K = KZMarkingKey;

constexpr int kRowHeight = 46;
constexpr int kMinimumWidth = 190;
const QString kUpdateInfoString = QStringLiteral("updateInfoString");
const QString kUpdateTableView = QStringLiteral("updateTableView");

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

platform::NotificationObject tagObject(quint64 tag)
{
    return platform::NotificationObject::number(static_cast<qint64>(tag));
}

class BlankDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}
};

// As wide as its rows need, which the window takes for the column's first
// width. Only a click, or Space on a row, chooses a row: the view itself
// never takes the keys, and a row taking the focus does not make it the
// current one, as an item view does with its index widgets.
class SourcesTable : public QTableView {
public:
    QSize sizeHint() const override { return {std::max(230, preferredWidth ? preferredWidth() : 0), 300}; }
    std::function<int()> preferredWidth;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn && watched != this && watched != viewport())
            return QAbstractScrollArea::eventFilter(watched, event);
        return QTableView::eventFilter(watched, event);
    }
    // Keys the rows leave (Home, Page Down, letters) would move the current
    // row, and with it the choice.
    void keyPressEvent(QKeyEvent* event) override { event->ignore(); }
};

} // namespace

KZResultSourcesListCntrl::KZResultSourcesListCntrl(const QVariantMap& info, Services services)
    : fileTypeItem_(info.value(QStringLiteral("fileType")).value<KZFileTypeLabelRef>())
    , searchStoppeByUser_(info.value(QStringLiteral("searchStoppeByUser")).toBool())
    , services_(std::move(services))
{
    const quint64 tabTag = fileTypeItem_ ? fileTypeItem_->tag() : 0;
    rows_ = std::make_unique<KZResultSourcesRows>(
        tabTag, fileTypeItem_ ? fileTypeItem_->name() : QString(),
        info.value(KZResultKey::searchSources).value<std::vector<KZSourceItemRef>>(), searchStoppeByUser_);

    table_ = new SourcesTable;
    table_->setObjectName(QStringLiteral("sourcesTableView"));
    table_->horizontalHeader()->hide();
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table_->setShowGrid(false);
    // The rows and their buttons take the focus, the list itself never.
    table_->setFocusPolicy(Qt::NoFocus);
    // Tab goes from part to part of the rows, not from row to row as the
    // view's own navigation would, choosing each.
    table_->setTabKeyNavigation(false);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setMinimumWidth(kMinimumWidth);
    QPalette palette = table_->palette();
    palette.setColor(QPalette::Base, QColor(0xee, 0xf1, 0xf5));
    table_->setPalette(palette);
    // The cells draw the rows, the selection included: the list never has
    // the focus, which the view's own drawing asks for to show a selection
    // as active.
    table_->setItemDelegate(new BlankDelegate(table_));

    auto* model = new QStandardItemModel(rows_->count(), 1, table_);
    model_ = model;
    table_->setModel(model);
    for (int row = 0; row < rows_->count(); ++row) {
        auto* cell = new KZResultSourceTableCellView(this, row);
        cells_.push_back(cell);
        table_->setIndexWidget(model->index(row, 0), cell);
    }
    markMenu_ = new KZMarkMenuWidget(table_);
    markMenu_->setObjectName(QStringLiteral("sourceMarkMenu"));
    connect(markMenu_, &KZMarkMenuWidget::ruleChosen, this,
            [this](qint64 tag, const QString& title) { markMenuChose(tag, title); });
    connect(markMenu_, &QMenu::aboutToHide, this, [this] { nameMenuActions(false); });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
    reloadData();
    // Room for the rows' names and figures, and for counts larger than
    // today's, as marking makes them: "888.88 MB in 8,888 marked".
    const QString largeInfo = platform::localizedString(QStringLiteral("marked_info"))
                                  .arg(QStringLiteral("888.88 MB"), QStringLiteral("8,888"));
    static_cast<SourcesTable*>(table_.data())->preferredWidth = [this, largeInfo] {
        int width = 0;
        for (const KZResultSourceTableCellView* cell : cells_)
            width = std::max({width, cell->widthToShow(cell->infoText()), cell->widthToShow(largeInfo)});
        return width + table_->frameWidth() * 2;
    };
    // The tab's own row is what the list shows first.
    restoringSelection_ = true;
    table_->selectRow(0);
    restoringSelection_ = false;

    // The lists post their counts from their workers; each count is queued
    // in order, never waited for, because the list model waits for those
    // very workers when it goes.
    observeOnMain(KZNotification::updateInfo, tagObject(tabTag),
                  [](KZResultSourcesListCntrl& list, const QVariantMap& counts) { list.updateInfoOnMainThread(counts); });
    observeOnMain(KZNotification::updateOtherSourceListInfo, tagObject(tabTag),
                  [](KZResultSourcesListCntrl& list, const QVariantMap&) {
                      if (!list.fileTypeItem_)
                          return;
                      list.rows_->setTabName(list.fileTypeItem_->name());
                      list.reloadRow(0);
                  });
    observeOnMain(kUpdateInfoString, platform::bundleIdentifier(),
                  [](KZResultSourcesListCntrl& list, const QVariantMap&) { list.reloadData(); });
    // Once for the list's life: every removal panel that closes over this
    // tab has the rows redrawn.
    observeOnMain(kUpdateTableView, tagObject(tabTag),
                  [](KZResultSourcesListCntrl& list, const QVariantMap&) { list.reloadData(); });
}

void KZResultSourcesListCntrl::observeOnMain(const QString& name, const platform::NotificationObject& object,
                                             std::function<void(KZResultSourcesListCntrl&, const QVariantMap&)> handler)
{
    QPointer<KZResultSourcesListCntrl> guard(this);
    observations_.push_back(
        center().addObserver(name, object, [guard, handler](const platform::Notification& note) {
            platform::runOnMain([guard, handler, info = note.userInfo] {
                if (guard)
                    handler(*guard, info);
            });
        }));
}

KZResultSourcesListCntrl::~KZResultSourcesListCntrl()
{
    observations_.clear();
    spinnerStops_.clear();
    delete extraInfoCntrl_.data();
    if (table_)
        static_cast<SourcesTable*>(table_.data())->preferredWidth = nullptr; // it asks this controller
    // The table goes with the tab's view when it was placed in one.
    if (table_ && !table_->parent())
        delete table_;
}

QWidget* KZResultSourcesListCntrl::view()
{
    return table_;
}

KZResultSourceTableCellView* KZResultSourcesListCntrl::cellAt(int row) const
{
    // The cells go with the table, which goes with the tab's view.
    if (!table_)
        return nullptr;
    return row >= 0 && row < static_cast<int>(cells_.size()) ? cells_[static_cast<size_t>(row)] : nullptr;
}

bool KZResultSourcesListCntrl::isRemoving() const
{
    return services_.isRemoving && services_.isRemoving();
}

// ---- Cells ----------------------------------------------------------------------------------

void KZResultSourcesListCntrl::reloadData()
{
    for (int row = 0; row < rows_->count(); ++row)
        reloadRow(row);
}

void KZResultSourcesListCntrl::reloadRow(int index)
{
    const KZResultSourcesTypeItemRef row = rows_->at(index);
    KZResultSourceTableCellView* cell = cellAt(index);
    if (!row || !cell)
        return;
    const quint64 tabTag = rows_->tabTag();
    const bool emptyFolders = tabTag == KZTag::emptyFolders;
    const bool marked = row->isMarkedRow();
    cell->backCheckImg()->setVisible(!marked);
    cell->popdownBtn()->setEnabled(!emptyFolders);
    if (!marked) {
        cell->checkBtn()->setChecked(row->markedCount > 0);
        // Elsewhere than on the empty-folders tab the box only unmarks;
        // marking goes through the menu.
        const bool enabled = emptyFolders ? row->itemsCount > 0 : row->markedCount > 0;
        cell->checkBtn()->setEnabled(enabled);
        if (emptyFolders)
            cell->backCheckImg()->setEnabled(enabled);
        cell->setOnMenuItemWithTag(row->markedMenuItem);
    }
    cell->setItemTag(row->tag);
    cell->setDrawHSeparator(row->drawHSeparator);
    cell->setItemsCount(row->itemsCount);
    cell->setRemovedCount(row->removedCount);
    const QImage image = row->isSourceRow() ? KZLabelImageForTag(row->locationLabelTag) : QImage();
    cell->label()->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    cell->label()->setVisible(!image.isNull());
    cell->updateTrackingAreas();
    if (isRemoving())
        cell->infoBtn()->hide();
    cell->setTexts(row->name, row->formattedInfoWithOwnerTag(tabTag));
}

// ---- Selection and spinner ----------------------------------------------------------------

void KZResultSourcesListCntrl::cellWasPressed(KZResultSourceTableCellView* cell)
{
    if (!table_)
        return;
    for (size_t i = 0; i < cells_.size(); ++i)
        if (cells_[i] == cell)
            table_->selectRow(static_cast<int>(i));
}

KZResultSourceTableCellView* KZResultSourcesListCntrl::cellBeside(const KZResultSourceTableCellView* cell, int step) const
{
    const auto at = std::find(cells_.begin(), cells_.end(), cell);
    if (at == cells_.end())
        return nullptr;
    return cellAt(static_cast<int>(at - cells_.begin()) + step);
}

void KZResultSourcesListCntrl::cellTookFocus(KZResultSourceTableCellView* cell)
{
    // A row the keyboard reaches below the list's bottom comes into view;
    // scrolling leaves the chosen row as it is.
    const auto at = std::find(cells_.begin(), cells_.end(), cell);
    if (table_ && at != cells_.end())
        table_->scrollTo(model_->index(static_cast<int>(at - cells_.begin()), 0));
}

void KZResultSourcesListCntrl::tableViewSelectionDidChange()
{
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    const int row = selected.isEmpty() ? -1 : selected.first().row();
    if (row < 0) {
        // A click on empty space leaves the row the list shows selected.
        const int shown = static_cast<int>(rows_->currSelectedRow());
        if (rows_->at(shown)) {
            restoringSelection_ = true;
            table_->selectRow(shown);
            restoringSelection_ = false;
        }
        return;
    }
    for (size_t i = 0; i < cells_.size(); ++i)
        cells_[i]->setSelected(static_cast<int>(i) == row);
    if (restoringSelection_)
        return;
    const KZResultSourcesTypeItemRef item = rows_->at(row);
    const std::optional<QVariantMap> change = rows_->selectionDidChange(row);
    if (!change || !item)
        return;
    startProgressIndicatorWithRow(row, item->tag);
    center().post(KZNotification::sourceSelectionDidChange, tagObject(rows_->tabTag()), *change);
}

void KZResultSourcesListCntrl::startProgressIndicatorWithRow(int row, quint64 tag)
{
    KZResultSourceTableCellView* cell = cellAt(row);
    if (!cell)
        return;
    QPointer<KZResultSourcesListCntrl> guard(this);
    // One registration per row tag: a second start replaces the first.
    spinnerStops_[tag] = center().addObserver(KZNotification::KZStopProgressIndicator, tagObject(tag),
                                              [guard, tag](const platform::Notification&) {
                                                  platform::runOnMain([guard, tag] {
                                                      if (guard)
                                                          guard->stopProgressIndicator(tag);
                                                  });
                                              });
    cell->spinning()->startAnimation();
}

void KZResultSourcesListCntrl::stopProgressIndicator(quint64 tag)
{
    const auto index = rows_->indexOfItemWithTag(tag);
    if (!index)
        return;
    spinnerStops_.erase(tag);
    if (KZResultSourceTableCellView* cell = cellAt(*index))
        cell->spinning()->stopAnimation();
}

void KZResultSourcesListCntrl::selectRowWithTag(quint64 tag, quint64 deselectTag)
{
    if (!table_)
        return;
    if (const auto old = rows_->indexOfItemWithTag(deselectTag))
        table_->selectionModel()->select(model_->index(*old, 0),
                                         QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    if (const auto row = rows_->indexOfItemWithTag(tag))
        table_->selectRow(*row);
}

void KZResultSourcesListCntrl::setSavedSettings(const QVariantMap& saved)
{
    const std::optional<int> row = rows_->setSavedSettings(saved);
    reloadData();
    if (!row)
        return;
    // After the reopened lists have been handed over, as a user's choice.
    QTimer::singleShot(0, this, [this, row = *row] {
        if (table_)
            table_->selectRow(row);
    });
}

// ---- Updates -----------------------------------------------------------------------------------

void KZResultSourcesListCntrl::updateInfoOnMainThread(const QVariantMap& listInfo)
{
    if (const std::optional<int> row = rows_->updateInfo(listInfo))
        reloadRow(*row);
}

void KZResultSourcesListCntrl::updateMarkedInfo(const KZMarkedInfoUpdate& info)
{
    for (const int row : rows_->updateMarkedInfo(info))
        reloadRow(row);
}

void KZResultSourcesListCntrl::updateRemovedInfo(const KZViewToUpdateRef& info)
{
    for (const int row : rows_->updateRemovedInfo(info))
        reloadRow(row);
}

// ---- Marking ------------------------------------------------------------------------------------

void KZResultSourcesListCntrl::markItemsWithState(const QVariantMap& request)
{
    if (!table_)
        return;
    std::optional<QVariantMap> completed = rows_->completeMarkRequest(request);
    KZOutlineMarking* marking = services_.marking ? services_.marking() : nullptr;
    if (!completed || !marking) {
        // The row went between the click and now (or the tab has no list):
        // nothing is sent, and the row shows its state again.
        if (services_.beep)
            services_.beep();
        else
            QApplication::beep();
        if (const auto row = rows_->indexOfItemWithTag(request.value(K::itemsToManageTag).toULongLong()))
            reloadRow(*row);
        return;
    }
    // A check box names no rule title; the Edit menu names the step after
    // the rule it applies.
    if (!completed->contains(KZMarkRequests::menuItemTitle)) {
        if (QAction* action = markMenu_ ? markMenu_->actionWithTag(completed->value(K::menuItemTag).toLongLong()) : nullptr)
            completed->insert(KZMarkRequests::menuItemTitle, action->text());
    }
    marking->sendCompletedRequest(*completed);
}

void KZResultSourcesListCntrl::showMarkMenu(KZResultSourceTableCellView* cell)
{
    if (!table_ || !markMenu_)
        return;
    const auto index = rows_->indexOfItemWithTag(cell->itemTag());
    const KZResultSourcesTypeItemRef row = index ? rows_->at(*index) : nullptr;
    if (!row || row->isMarkedRow())
        return;
    menuCell_ = cell;
    menuRuleBefore_ = row->markedMenuItem;
    markMenu_->setOnMenuItemWithTag(row->markedMenuItem);
    const bool location = cell->isLocationItem();
    const bool usable = !(services_.aboutIsOpened && services_.aboutIsOpened()) && cell->itemsCount() != 0;
    for (QAction* action : markMenu_->actions()) {
        if (action->isSeparator())
            continue;
        const qint64 tag = action->data().toLongLong();
        if (tag == KZMarkRule::byDefault)
            action->setVisible(!location);
        else if (tag == KZMarkRule::inLocation)
            action->setVisible(location);
        action->setEnabled(usable);
    }
    nameMenuActions(true);
    QToolButton* arrow = cell->popdownBtn();
    namespace G = KZSourceCellGeometry;
    const QPoint firstItemAt =
        arrow->mapToGlobal(G::markMenuLocation(cell->checkBtn()->height(), arrow->height()).toPoint());
    QAction* first = nullptr;
    for (QAction* action : markMenu_->actions())
        if (action->isVisible()) {
            first = action;
            break;
        }
    // The menu's frame stands around its items: move it so that the first
    // item itself lands on the point.
    markMenu_->popup(first ? firstItemAt - markMenu_->actionGeometry(first).topLeft() : firstItemAt);
}

void KZResultSourcesListCntrl::nameMenuActions(bool named)
{
    // Named only while open, so that the open menu of one tab is the one a
    // name finds.
    if (!markMenu_)
        return;
    for (QAction* action : markMenu_->actions())
        if (!action->isSeparator())
            action->setObjectName(named ? QStringLiteral("sourceMarkRule") + QString::number(action->data().toLongLong())
                                        : QString());
}

void KZResultSourcesListCntrl::markMenuChose(qint64 tag, const QString& title)
{
    QPointer<KZResultSourceTableCellView> cell = menuCell_;
    menuCell_.clear();
    if (!markMenu_)
        return;
    markMenu_->hide();
    if (!cell)
        return;
    cell->menuAction(tag, title, menuRuleBefore_, QVariant::fromValue<KZMarkMenu*>(markMenu_));
}

// ---- Info popover ----------------------------------------------------------------------------------

void KZResultSourcesListCntrl::showInfo(quint64 tag, QWidget* senderView)
{
    if (!table_)
        return;
    const auto index = rows_->indexOfItemWithTag(tag);
    if (!index)
        return;
    if (!extraInfoCntrl_)
        extraInfoCntrl_ = new KZPopoverResultSourceInfo(table_, services_.workspace);
    extraInfoCntrl_->showInfoWithItem(rows_->at(*index), senderView, rows_->tabTag());
}
