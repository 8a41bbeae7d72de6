#include "result/window/ui/KZResultOutlineCntrl.h"

#include "result/window/KZResultMenus.h"
#include "services/ui/KZAnimationTiming.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZListNotifications.h"
#include "result/window/KZColumnFit.h"
#include "result/window/KZOutlineRules.h"
#include "result/window/KZRowColours.h"
#include "result/window/KZSelectionSummary.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QEvent>
#include <QGridLayout>
#include <QGraphicsOpacityEffect>
#include <QHeaderView>
#include <QPropertyAnimation>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

KZResultOutlineCntrl::KZResultOutlineCntrl(Settings settings) : settings_(std::move(settings))
{
    container_ = new QWidget;
    container_->setObjectName(QStringLiteral("outlineContainer"));
    auto* layout = new QGridLayout(container_);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new KZFoundItemsOutlineView(container_);
    model_ = new KZFoundItemsModel(view_);
    model_->setSourceFolders(settings_.sourceFolders);
    view_->setFoundModel(model_);
    layout->addWidget(view_, 0, 0);

    emptyView_ = new QLabel(tr("No duplicates in this list"), container_);
    emptyView_->setObjectName(QStringLiteral("emptyView"));
    emptyView_->setAlignment(Qt::AlignCenter);
    emptyView_->setStyleSheet(QStringLiteral("color: #8a8f98; font-size: 18px;"));
    emptyView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    emptyView_->hide();
    layout->addWidget(emptyView_, 0, 0);
    stoppedFld_ = new QLabel(tr("The search was stopped: the list may be incomplete."), container_);
    stoppedFld_->setObjectName(QStringLiteral("stoppedFld"));
    stoppedFld_->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    stoppedFld_->setStyleSheet(QStringLiteral("color: #b04a2a; padding: 6px;"));
    stoppedFld_->setAttribute(Qt::WA_TransparentForMouseEvents);
    stoppedFld_->hide();
    layout->addWidget(stoppedFld_, 0, 0);

    view_->setGhostTest([this](const KZListRow& row) { return isGhost(row); });
    if (settings_.addMarking)
        settings_.addMarking(view_);

    QHeaderView* header = view_->header();
    const auto& columns = KZTableHeaderCntrl::all();
    for (int i = 0; i < columns.size(); ++i) {
        const KZResultColumn& column = columns.at(i);
        header->setSectionResizeMode(i, column.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
        // The date's first width fits a full date at the font in use.
        header->resizeSection(i, column.identifier == KZColumnKey::date_modified_col
                                     ? std::max(column.initialWidth, view_->fullDateWidth())
                                     : column.initialWidth);
        view_->setColumnHidden(i, !KZTableHeaderCntrl::isShown(column.identifier, settings_.locationsCount));
    }
    header->setMinimumSectionSize(24);
    connect(header, &QHeaderView::sectionResized, this, [this, header](int section, int, int size) {
        const auto& all = KZTableHeaderCntrl::all();
        if (section < 0 || section >= all.size())
            return;
        const int clamped = std::clamp(size, all.at(section).minWidth, all.at(section).maxWidth);
        if (clamped != size && header->sectionResizeMode(section) == QHeaderView::Interactive)
            header->resizeSection(section, clamped);
        if (fittingColumns_)
            return;
        if (header->sectionResizeMode(section) == QHeaderView::Fixed)
            QTimer::singleShot(0, this, [this] { fitColumns(); }); // the members' indentation changed
        else if (headerPressed_)
            columnsSizedByUser_ = true; // a divider dragged: the user's widths stay
    });
    view_->viewport()->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionClicked, this, &KZResultOutlineCntrl::headerClicked);

    connect(view_, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (KZFoundItemGroupRef group = model_->rowAt(index).group; group && model_->rowAt(index).isGroupRow())
            group->setIsExpanded(true);
    });
    connect(view_, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (KZFoundItemGroupRef group = model_->rowAt(index).group; group && model_->rowAt(index).isGroupRow())
            group->setIsExpanded(false);
    });
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!shownByGroup_ || !scrollCanUpdate_ || expandQueued_)
            return;
        // Opened after the scroll event, once however many steps it had.
        expandQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            expandQueued_ = false;
            if (scrollCanUpdate_)
                expandVisibleItems();
        });
    });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &KZResultOutlineCntrl::prepareToShowPreview);

    setSortDescriptors(KZTableHeaderCntrl::defaultSortDescriptors());
}

KZResultOutlineCntrl::~KZResultOutlineCntrl()
{
    delete container_;
}

bool KZResultOutlineCntrl::isGhost(const KZListRow& row) const
{
    if (!row.item)
        return false;
    return KZOutlineRules::drawItemAsGhost(currSelectedTag_, row.item->isMarked(), row.item->locationLabelTag(),
                                           row.item->countOfItemsInGroup(), 0);
}

// ---- Columns --------------------------------------------------------------------------------

bool KZResultOutlineCntrl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view_->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    // Only a drag on the header is the user's sizing; a splitter dragged
    // meanwhile resizes the last column too.
    if (watched == view_->header()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            headerPressed_ = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            headerPressed_ = false;
    }
    return QObject::eventFilter(watched, event);
}

void KZResultOutlineCntrl::fitColumns()
{
    if (columnsSizedByUser_ || !view_)
        return;
    QHeaderView* header = view_->header();
    const int location = KZTableHeaderCntrl::indexOf(KZColumnKey::location_tag_col);
    const QList<int> widths =
        KZColumnFit::resultListWidths(view_->viewport()->width(), !view_->isColumnHidden(location),
                                      header->sectionSize(0), view_->fullDateWidth());
    fittingColumns_ = true;
    for (int i = 1; i < widths.size(); ++i) {
        if (!view_->isColumnHidden(i) && header->sectionSize(i) != widths.at(i))
            header->resizeSection(i, widths.at(i));
    }
    fittingColumns_ = false;
}

// ---- Lists ----------------------------------------------------------------------------------

void KZResultOutlineCntrl::setupShowByGroup(bool grouped)
{
    shownByGroup_ = grouped;
    view_->setShowByGroup(grouped);
    // Rows of one shape mean nothing in the other: every remembered
    // selection and position is forgotten.
    selectedItemsByTags_.clear();
    oldSelected_.reset();
    lastSelectedInfo_.clear();
}

void KZResultOutlineCntrl::showNewData(const KZListHandOff& data)
{
    const quint64 tag = data.currSelectedTag;
    const bool restore = data.restoreScroll;
    const bool sameList = hasList_ && tag == currSelectedTag_;
    if (data.currArray && !sameList && oldSelected_) {
        // What could not be selected yet belongs to the list it came from;
        // it must not be applied to another list's rows.
        QList<KZListRow>& saved = selectedItemsByTags_[currSelectedTag_];
        for (const KZListRow& row : *oldSelected_)
            if (!saved.contains(row))
                saved.append(row);
        oldSelected_.reset();
    }
    if (data.currArray) {
        if (!data.currArray->isGrouped()) {
            QList<qint64> ids;
            ids.reserve(data.currArray->items.size());
            for (const KZFoundItemRef& item : data.currArray->items)
                ids.append(item->groupID());
            view_->setRowColours(KZRowColours::recordsForGroupIDs(ids));
        } else {
            view_->setRowColours({});
        }
    }
    if (hasList_ && !model_->isEmptyList()) {
        saveSelectionUnder(currSelectedTag_);
        if (restore)
            saveLastVisbleItem();
    }
    // Taken after the list on screen was remembered: the same list handed
    // again (sorted, say) keeps its selection, saved or pending alike.
    if (data.currArray)
        selectedItemsWithTag(tag);
    if (restore)
        view_->scrollToTop();

    currSelectedTag_ = tag;
    if (tag < KZTag::sourceRowBase && settings_.tabTag == 0)
        settings_.tabTag = tag;
    model_->setList(data.currArray);
    hasList_ = data.currArray.has_value();

    if (data.currArray) {
        const bool empty = model_->isEmptyList();
        // The stopped notice starts again from nothing for each list.
        fadeNotice(stoppedFld_, false, false);
        fadeNotice(stoppedFld_, data.searchStoppeByUser && !KZOutlineRules::isMarkedItemsList(tag), true);
        fadeNotice(emptyView_, empty, true);
        if (!empty) {
            restoreOldSettings(restore);
            return;
        }
    }
    postStopNotification(restore);
}

void KZResultOutlineCntrl::selectedItemsWithTag(quint64 tag)
{
    auto found = selectedItemsByTags_.find(tag);
    if (found == selectedItemsByTags_.end())
        return;
    oldSelected_ = found->second;
    selectedItemsByTags_.erase(found);
}

void KZResultOutlineCntrl::saveSelectionUnder(quint64 tag)
{
    const QList<KZListRow> rows = view_->selectedRows();
    if (rows.isEmpty())
        return;
    QList<KZListRow>& saved = selectedItemsByTags_[tag];
    for (const KZListRow& row : rows)
        saved.append(row);
}

void KZResultOutlineCntrl::getInfoOfSelectedItemsWithArray(const KZShownList&, quint64 tag)
{
    saveSelectionUnder(tag);
}

void KZResultOutlineCntrl::restoreOldSettings(bool calledBySourceList)
{
    if (shownByGroup_) {
        scrollCanUpdate_ = false;
        auto record = lastSelectedInfo_.find(currSelectedTag_);
        if (record != lastSelectedInfo_.end()) {
            const ScrollRecord saved = record->second;
            lastSelectedInfo_.erase(record);
            const QModelIndex groupIndex = model_->indexOfRow(saved.groupItem);
            if (groupIndex.isValid())
                view_->scrollTo(groupIndex, QAbstractItemView::PositionAtTop);
            expandVisibleItems();
            const QModelIndex last = model_->indexOfRow(saved.lastVisibleItem);
            if (last.isValid())
                view_->scrollTo(last);
        } else {
            expandVisibleItems();
        }
        prepareToShowPreview();
        scrollCanUpdate_ = true;
    }
    if (oldSelected_)
        selectWithArray(*oldSelected_, true);
    postStopNotification(calledBySourceList);
}

void KZResultOutlineCntrl::selectWithArray(const QList<KZListRow>& rows, bool scrollToVisible)
{
    if (!oldSelected_)
        return;
    QItemSelection selection;
    QModelIndex lastFound;
    for (const KZListRow& row : rows) {
        if (!oldSelected_->contains(row))
            continue;
        const QModelIndex index = model_->indexOfRow(row);
        // A member of a closed group is not a row yet: it stays pending
        // until its group opens.
        if (!index.isValid() || (index.parent().isValid() && !view_->isExpanded(index.parent())))
            continue;
        selection.select(index, index.siblingAtColumn(model_->columnCount() - 1));
        oldSelected_->removeAll(row);
        lastFound = index;
    }
    if (!selection.isEmpty())
        view_->selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (oldSelected_->isEmpty())
        oldSelected_.reset();
    if (lastFound.isValid() && scrollToVisible)
        view_->scrollTo(lastFound);
}

void KZResultOutlineCntrl::expandVisibleItems()
{
    if (!model_->isGrouped())
        return;
    QModelIndex index = view_->indexAt(QPoint(1, 1));
    const int bottom = view_->viewport()->height();
    QList<QModelIndex> toOpen;
    // Down to one row past the visible ones, so the next step of a scroll
    // is ready.
    for (bool past = false; index.isValid() && !past; index = view_->indexBelow(index)) {
        past = view_->visualRect(index).top() >= bottom;
        const KZListRow row = model_->rowAt(index);
        if (row.isGroupRow() && row.group->isExpanded() && !view_->isExpanded(index))
            toOpen.append(index);
    }
    for (const QModelIndex& group : toOpen) {
        view_->expand(group);
        if (oldSelected_) {
            QList<KZListRow> members;
            const KZFoundItemGroupRef ref = model_->rowAt(group).group;
            for (const KZFoundItemRef& item : ref->items())
                members.append({ref, item});
            selectWithArray(members, false);
        }
    }
}

void KZResultOutlineCntrl::expandAllGroups(bool expand)
{
    if (!model_->isGrouped())
        return;
    const auto& groups = model_->list()->root->groups();
    if (!expand) {
        for (const KZFoundItemGroupRef& group : groups)
            group->setIsExpanded(false);
        view_->collapseAll();
        return;
    }
    scrollCanUpdate_ = false;
    saveSelectionUnder(currSelectedTag_);
    const auto [first, count] = view_->visibleItemsRange();
    KZListRow anchor;
    if (!selectedItemsByTags_.count(currSelectedTag_) && first > 0)
        anchor = model_->rowAt(view_->indexAtRow(first + count - 1));
    for (const KZFoundItemGroupRef& group : groups)
        group->setIsExpanded(true);
    // One layout for every group instead of one per group.
    view_->setUpdatesEnabled(false);
    view_->expandAll();
    view_->setUpdatesEnabled(true);
    if (anchor.group || anchor.item) {
        view_->scrollTo(model_->indexOfRow(anchor), QAbstractItemView::PositionAtBottom);
    } else if (selectedItemsByTags_.count(currSelectedTag_)) {
        selectedItemsWithTag(currSelectedTag_);
        view_->selectionModel()->clearSelection();
        if (oldSelected_)
            selectWithArray(*oldSelected_, true);
    }
    scrollCanUpdate_ = true;
}

void KZResultOutlineCntrl::saveLastVisbleItem()
{
    if (!hasList_ || model_->isEmptyList())
        return;
    const auto [first, count] = view_->visibleItemsRange();
    const QModelIndex lastIndex = view_->indexAtRow(std::max(first + count - 2, 0));
    if (!lastIndex.isValid()) {
        if (settings_.beep)
            settings_.beep();
        return;
    }
    ScrollRecord record;
    record.lastVisibleItem = model_->rowAt(lastIndex);
    if (shownByGroup_) {
        if (record.lastVisibleItem.isGroupRow())
            record.groupItem = record.lastVisibleItem;
        else
            record.groupItem = {record.lastVisibleItem.group, nullptr};
    }
    record.row = first > 0 ? first + count - 1 : 0;
    lastSelectedInfo_[currSelectedTag_] = record;
}

void KZResultOutlineCntrl::setSelectedItemsByTags(const std::map<quint64, QList<KZListRow>>& rows)
{
    selectedItemsByTags_ = rows;
}

void KZResultOutlineCntrl::resetSelectionState()
{
    selectedItemsByTags_.clear();
    oldSelected_.reset();
    lastSelectedInfo_.clear();
}

void KZResultOutlineCntrl::postStopNotification(bool calledBySourceList)
{
    const QVariantMap info{{QStringLiteral("tag"), QVariant::fromValue(currSelectedTag_)}};
    auto& center = platform::NotificationCenter::defaultCenter();
    if (calledBySourceList)
        center.post(KZNotification::KZStopProgressIndicator,
                    platform::NotificationObject::number(static_cast<qint64>(currSelectedTag_)), info);
    else
        center.post(KZNotification::KZStopProgressIndicator, settings_.tabView, info);
}

// ---- Sorting ------------------------------------------------------------------------------

void KZResultOutlineCntrl::setSortDescriptors(const KZSortDescriptors& descriptors)
{
    sortDescriptors_ = descriptors;
    applySortIndicator();
}

void KZResultOutlineCntrl::applySortIndicator()
{
    QHeaderView* header = view_->header();
    const int section = sortDescriptors_.isEmpty() ? -1 : KZTableHeaderCntrl::indexOf(sortDescriptors_.first().key());
    header->setSortIndicatorShown(section >= 0);
    if (section >= 0)
        header->setSortIndicator(section, sortDescriptors_.first().ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void KZResultOutlineCntrl::headerClicked(int section)
{
    const auto& columns = KZTableHeaderCntrl::all();
    if (section < 0 || section >= columns.size())
        return;
    const KZSortDescriptors previous = sortDescriptors_;
    if (isGathering_) {
        // The kinds are still being read: the order stays, and the one the
        // user had comes back when they are in.
        if (settings_.beep)
            settings_.beep();
        oldSortDescriptors_ = previous;
        applySortIndicator();
        return;
    }
    const KZSortDescriptors next = KZTableHeaderCntrl::descriptorsAfterClick(previous, columns.at(section).identifier);
    setSortDescriptors(next);
    if (next.isEmpty())
        return;
    saveSelectionUnder(currSelectedTag_);
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::sortList, platform::NotificationObject::number(static_cast<qint64>(settings_.tabTag)),
        {{QStringLiteral("descriptors"), QVariant::fromValue(next)},
         {QStringLiteral("tag"), QVariant::fromValue(currSelectedTag_)},
         {QStringLiteral("updateInterface"), true}});
}

void KZResultOutlineCntrl::setIsGatheringKind(bool gathering)
{
    isGathering_ = gathering;
    model_->setKindGathering(gathering);
    if (gathering) {
        oldSortDescriptors_.reset();
        return;
    }
    if (oldSortDescriptors_) {
        const KZSortDescriptors back = *oldSortDescriptors_;
        oldSortDescriptors_.reset();
        setSortDescriptors(back);
        saveSelectionUnder(currSelectedTag_);
        platform::NotificationCenter::defaultCenter().post(
            KZNotification::sortList, platform::NotificationObject::number(static_cast<qint64>(settings_.tabTag)),
            {{QStringLiteral("descriptors"), QVariant::fromValue(back)},
             {QStringLiteral("tag"), QVariant::fromValue(currSelectedTag_)},
             {QStringLiteral("updateInterface"), true}});
    }
}

// ---- Selection ------------------------------------------------------------------------------

void KZResultOutlineCntrl::prepareToShowPreview()
{
    setInfoString();
    if (settings_.showPreview)
        settings_.showPreview(view_->selectedItemsForPreview());
    if (settings_.showPreviewItems)
        settings_.showPreviewItems(view_->previewItemsForSelection());
}

void KZResultOutlineCntrl::updateQuickLookPanelDelegate()
{
    if (settings_.updateQuickLookPanelDelegate)
        settings_.updateQuickLookPanelDelegate();
}

void KZResultOutlineCntrl::setInfoString()
{
    const auto info = view_->selectionInfo();
    const quint64 groups = info.groupsCount > 0 && model_->isGrouped() ? quint64(model_->list()->root->groups().size()) : 0;
    infoText_ = KZSelectionSummary::text(quint64(info.groupsCount), quint64(info.itemsCount), itemsCount_, groups);
    if (settings_.setSelectionInfo)
        settings_.setSelectionInfo(infoText_);
}

void KZResultOutlineCntrl::setItemsCount(quint64 count)
{
    itemsCount_ = count;
}

void KZResultOutlineCntrl::setSearchStoppeByUser(bool stopped)
{
    fadeNotice(stoppedFld_, stopped && !KZOutlineRules::isMarkedItemsList(currSelectedTag_), true);
}

void KZResultOutlineCntrl::fadeNotice(QWidget* notice, bool in, bool animated)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(notice->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(notice);
        effect->setOpacity(notice->isVisible() ? 1.0 : 0.0);
        notice->setGraphicsEffect(effect);
    }
    // A new fade takes over from the one running, from where it got to.
    if (auto* running = notice->findChild<QPropertyAnimation*>(QStringLiteral("noticeFade"), Qt::FindDirectChildrenOnly))
        delete running;
    const double target = in ? 1.0 : 0.0;
    const int ms = KZAnimationTiming::milliseconds(0.25);
    if (!animated || ms <= 0 || (!in && notice->isHidden())) {
        effect->setOpacity(target);
        notice->setVisible(in);
        return;
    }
    notice->show();
    auto* fade = new QPropertyAnimation(effect, "opacity", notice);
    fade->setObjectName(QStringLiteral("noticeFade"));
    fade->setDuration(ms);
    fade->setStartValue(effect->opacity());
    fade->setEndValue(target);
    if (!in)
        connect(fade, &QPropertyAnimation::finished, notice, &QWidget::hide);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void KZResultOutlineCntrl::setEmptyPreview()
{
    if (settings_.showPreview)
        settings_.showPreview({});
    if (settings_.showPreviewItems)
        settings_.showPreviewItems({});
}

void KZResultOutlineCntrl::setIsRemoving(bool removing)
{
    view_->setIsRemoving(removing);
    if (removing && view_->hasFocus())
        view_->clearFocus();
}

void KZResultOutlineCntrl::selectFoundItem(const KZListRow& row)
{
    QModelIndex index = model_->indexOfRow(row);
    if (!index.isValid())
        return;
    if (index.parent().isValid())
        view_->expand(index.parent());
    // The found row becomes the current one too, so that the arrow keys go
    // on from it.
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(index);
}

// ---- Where an item shows on screen -----------------------------------------------------

QModelIndex KZResultOutlineCntrl::visibleIndexOf(const KZFoundItemRef& item) const
{
    if (!item || !view_->isVisible())
        return {};
    // Only the rows in view are walked: an item outside them has no place to
    // show anyway.
    const int count = view_->visibleItemsRange().second;
    QModelIndex index = view_->indexAt(QPoint(1, 1));
    for (int i = 0; i < count && index.isValid(); ++i, index = view_->indexBelow(index)) {
        const KZListRow row = model_->rowAt(index);
        if (!row.isGroupRow() && row.item == item)
            return index;
    }
    return {};
}

bool KZResultOutlineCntrl::isItemVisible(const KZFoundItemRef& item) const
{
    return visibleIndexOf(item).isValid();
}

QRect KZResultOutlineCntrl::rectOfNameColumn() const
{
    const QHeaderView* header = view_->header();
    const int name = KZTableHeaderCntrl::indexOf(KZColumnKey::name_col);
    if (name < 0 || header->isSectionHidden(name))
        return {};
    return QRect(header->sectionPosition(name), 0, header->sectionSize(name), 0);
}

QRect KZResultOutlineCntrl::rectOfItem(const KZFoundItemRef& item) const
{
    // A window off screen (hidden, on its way out, minimised) shows no row,
    // though its list's rows still count as scrolled into view.
    const QWidget* window = view_->window();
    if (!window->isVisible() || window->isMinimized())
        return {};
    const QModelIndex index = visibleIndexOf(item);
    const QRect column = rectOfNameColumn();
    if (!index.isValid() || column.width() <= 0)
        return {};
    // A name column scrolled sideways out of the list has nothing to show.
    const int left = column.x() - view_->header()->offset();
    if (left + column.width() <= 0 || left >= view_->viewport()->width())
        return {};
    // Where the row's icon is drawn, before its name.
    const QRect cell = view_->visualRect(index.siblingAtColumn(KZTableHeaderCntrl::indexOf(KZColumnKey::name_col)));
    return QRect(view_->viewport()->mapToGlobal(QPoint(cell.left() + 4, cell.top() + 2)), QSize(32, 32));
}

void KZResultOutlineCntrl::updateListAfterMarked()
{
    view_->viewport()->update();
}

void KZResultOutlineCntrl::updateRowsForGroup(const KZFoundItemGroupRef& group, qsizetype)
{
    // Members may have come or gone: the rows are rebuilt with the
    // selection and the open groups kept.
    saveSelectionUnder(currSelectedTag_);
    model_->setList(model_->list());
    selectedItemsWithTag(currSelectedTag_);
    restoreOldSettings(false);
    // The members the user asked to see are shown: their group opens.
    const QModelIndex index = group ? model_->indexOfGroup(group.get()) : QModelIndex();
    if (index.isValid() && !view_->isExpanded(index)) {
        group->setIsExpanded(true);
        view_->expand(index);
    }
}

void KZResultOutlineCntrl::revealGroup(const KZFoundItemGroupRef& group)
{
    const QModelIndex index = group ? model_->indexOfGroup(group.get()) : QModelIndex();
    if (!index.isValid())
        return;
    scrollCanUpdate_ = false;
    view_->scrollTo(index, QAbstractItemView::PositionAtTop);
    group->setIsExpanded(true);
    view_->expand(index);
    expandVisibleItems();
    // The group's first member is chosen, so that the menus and the preview
    // act on a file of the group at once.
    const QModelIndex first =
        group->items().isEmpty() ? QModelIndex() : model_->indexOfRow({group, group->items().first()});
    const QModelIndex chosen = first.isValid() ? first : index;
    view_->selectionModel()->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(chosen);
    expandVisibleItems();
    scrollCanUpdate_ = true;
}

KZFoundItemArray KZResultOutlineCntrl::selectedItemsForMenus() const
{
    KZFoundItemArray items;
    for (const KZListRow& row : view_->selectedRows())
        if (row.item)
            items.append(row.item);
    return items;
}

bool KZResultOutlineCntrl::checkForSelectionWithTag(qint64 tag) const
{
    // The list's own commands follow the menus' rules; any other command
    // asks only for a selection.
    if (tag == KZResultMenus::revealTag || tag == KZResultMenus::openTag || tag == KZResultMenus::markTag)
        return KZResultMenus::checkForSelectionWithTag(int(tag), selectedItemsForMenus(), false);
    const auto info = view_->selectionInfo();
    return info.itemsCount + info.groupsCount > 0;
}

QString KZResultOutlineCntrl::markedMenuItemTitle() const
{
    return KZResultMenus::markItemTitle(selectedItemsForMenus());
}

QVariant KZResultOutlineCntrl::removalCoverView() const
{
    return QVariant::fromValue(static_cast<QObject*>(container_));
}

QVariantList KZResultOutlineCntrl::tableColumns() const
{
    QVariantList columns;
    for (const KZResultColumn& column : KZTableHeaderCntrl::all())
        if (KZTableHeaderCntrl::isShown(column.identifier, settings_.locationsCount))
            columns.append(column.identifier);
    return columns;
}
