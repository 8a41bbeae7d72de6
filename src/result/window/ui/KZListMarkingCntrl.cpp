#include "result/window/ui/KZListMarkingCntrl.h"

#include "platform/StringTable.h"
#include "result/model/KZColumnKeys.h"
#include "result/window/KZResultMenus.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "result/window/ui/KZFoundItemsDelegate.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZMarkMenuWidget.h"
#include "result/window/ui/KZMarkPopovers.h"
#include "settings/KZTags.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <utility>

namespace {

constexpr int kMenuItemsLimit = 100;
// Lists below this tag are a tab's whole list: every member is shown, so a
// group there has no options.
constexpr KZTabTag kFirstPartialList = KZTag::emptyFolders + 1;

// Paints group rows with their controls; every other cell as before.
class MarkingDelegate : public KZFoundItemsDelegate {
public:
    MarkingDelegate(KZFoundItemsOutlineView* view, const KZListMarkingCntrl* cntrl)
        : KZFoundItemsDelegate(view), view_(view), cntrl_(cntrl)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const KZFoundItemsModel* found = view_->foundModel();
        const KZListRow row = found ? found->rowAt(index) : KZListRow();
        if (!row.isGroupRow()) {
            KZFoundItemsDelegate::paint(painter, option, index);
            return;
        }
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        cntrl_->paintGroup(painter, option.rect, row,
                           KZCellFormatting::rowStyle(selected, view_->isActive(), view_->windowIsActive()));
    }

private:
    KZFoundItemsOutlineView* view_;
    const KZListMarkingCntrl* cntrl_;
};

} // namespace

KZListMarkingCntrl::KZListMarkingCntrl(KZFoundItemsOutlineView* view, Settings settings)
    : QObject(view), view_(view), settings_(std::move(settings)), groupCellView_(view->font())
{
    markMenu_ = new KZMarkMenuWidget(view);
    markInfo_ = new KZMarkInfoPopover(this);
    if (!settings_.hooks.askLastMember)
        settings_.hooks.askLastMember = [this](const KZFoundItemRef& item, std::function<void(bool)> verdict) {
            askLastMember(item, std::move(verdict));
        };
    marking_ = std::make_unique<KZOutlineMarking>(settings_.undoStack, settings_.hooks);
    marking_->setOwnerTag(settings_.ownerTag);
    options_ = new KZGroupOptionsPopover(this);

    connect(markMenu_, &QMenu::aboutToHide, this, [this] {
        pressedGroup_ = nullptr;
        if (view_)
            view_->viewport()->update();
    });
    connect(markMenu_, &KZMarkMenuWidget::ruleChosen, this, [this](qint64 tag, const QString& title) {
        // Qt has already toggled the chosen action, so the menu no longer
        // tells the rule checked before: it was read when the menu opened.
        // The menu shows that rule until the model checks the new one.
        const qint64 before = menuRuleBefore_;
        markMenu_->setOnMenuItemWithTag(before);
        marking_->setCurrSelectedTag(settings_.currSelectedTag ? settings_.currSelectedTag() : 0);
        marking_->markItemsWithState(KZMarkRequests::groupMenuChoice(tag, title, before, markMenu_, menuRow_),
                                     resolve(menuIndex_, menuRow_));
    });
    connect(options_, &KZGroupOptionsPopover::chosen, this,
            [this](const KZFoundItemGroupRef& group, int tag, bool forAll) {
                if (!settings_.postShowMembers)
                    return;
                settings_.postShowMembers({{QStringLiteral("groupItem"), QVariant::fromValue(group)},
                                           {QStringLiteral("chosenTag"), tag},
                                           {QStringLiteral("showForAll"), forAll ? 1 : 0},
                                           {QStringLiteral("tag"), QVariant::fromValue(settings_.currSelectedTag
                                                                                          ? settings_.currSelectedTag()
                                                                                          : 0)},
                                           {KZMarkingKey::ownerTag, QVariant::fromValue(settings_.ownerTag)}});
            });

    contextMenu_ = new QMenu(view);
    const std::pair<int, const char*> commands[] = {{KZResultMenus::revealTag, "reveal_in_file_manager"},
                                                    {KZResultMenus::openTag, "open_item"},
                                                    {KZResultMenus::markTag, "mark_item"}};
    for (const auto& [tag, key] : commands) {
        QAction* action = contextMenu_->addAction(platform::localizedString(QString::fromLatin1(key)));
        action->setData(tag);
        connect(action, &QAction::triggered, this, [this, t = tag] { contextualMenuAction(t); });
    }
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (!view_ || (settings_.isRemoving && settings_.isRemoving()))
            return;
        prepareContextMenu(view_->indexAt(pos));
        contextMenu_->popup(view_->viewport()->mapToGlobal(pos));
    });
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid())
            return;
        prepareContextMenu(index);
        launchInFinder();
    });
    view->viewport()->installEventFilter(this);
    QAbstractItemDelegate* previous = view->itemDelegate();
    view->setItemDelegate(new MarkingDelegate(view, this));
    if (previous)
        previous->deleteLater();
}

KZListMarkingCntrl::~KZListMarkingCntrl() = default;

bool KZListMarkingCntrl::isMarkedList() const
{
    return settings_.currSelectedTag && settings_.currSelectedTag() >= KZTag::markedItemsRowBase;
}

bool KZListMarkingCntrl::isLocationList() const
{
    const quint64 tag = settings_.currSelectedTag ? settings_.currSelectedTag() : 0;
    return tag >= KZTag::sourceRowBase && tag < KZTag::markedItemsRowBase;
}

void KZListMarkingCntrl::beep() const
{
    if (settings_.hooks.beep)
        settings_.hooks.beep();
}

KZGroupCellView::State KZListMarkingCntrl::groupState(const KZListRow& row, int style) const
{
    KZGroupCellView::State state;
    state.style = style;
    state.markable = !isMarkedList();
    state.showOptions = settings_.currSelectedTag && settings_.currSelectedTag() >= kFirstPartialList;
    state.pressed = row.group && row.group.get() == pressedGroup_;
    state.removing = settings_.isRemoving && settings_.isRemoving();
    state.tint = view_ ? view_->tint() : KZCellFormatting::Tint::Blue;
    if (view_) {
        const QHeaderView* header = view_->header();
        const int check = KZTableHeaderCntrl::indexOf(KZColumnKey::check_col);
        const int name = KZTableHeaderCntrl::indexOf(KZColumnKey::name_col);
        // Members sit one level in, behind the group's disclosure triangle.
        const int memberIndent = view_->indentation() * (view_->rootIsDecorated() ? 2 : 1);
        const int checkLeft = header->sectionViewportPosition(check) + memberIndent;
        const int checkRight = header->sectionViewportPosition(check) + header->sectionSize(check) - 1;
        state.columns = KZGroupRowLayout::Columns{
            .checkCentreX = (checkLeft + checkRight) / 2,
            .nameLeft = header->sectionViewportPosition(name),
            .nameRight = header->sectionViewportPosition(name) + header->sectionSize(name) - 1};
    }
    return state;
}

KZGroupRowLayout KZListMarkingCntrl::groupLayout(const QModelIndex& index) const
{
    const KZListRow row = view_->foundModel()->rowAt(index);
    if (!row.group)
        return {};
    return groupCellView_.layout(groupRowRect(view_->visualRect(index)), *row.group, groupState(row, 0));
}

QRect KZListMarkingCntrl::groupRowRect(const QRect& rowRect) const
{
    // A row wider than the list keeps its controls at the visible edge.
    QRect rect = rowRect;
    if (view_)
        rect.setRight(std::min(rect.right(), view_->viewport()->width() - 1));
    return rect;
}

void KZListMarkingCntrl::paintGroup(QPainter* painter, const QRect& rect, const KZListRow& row, int style) const
{
    if (row.group)
        groupCellView_.paint(painter, groupRowRect(rect), *row.group, groupState(row, style));
}

QRect KZListMarkingCntrl::checkBoxRect(const QModelIndex& index) const
{
    const QModelIndex check = index.siblingAtColumn(KZTableHeaderCntrl::indexOf(KZColumnKey::check_col));
    const QRect cell = view_->visualRect(check);
    return {cell.center().x() - 8, cell.center().y() - 8, 16, 16};
}

std::optional<KZListRow> KZListMarkingCntrl::resolve(const QPersistentModelIndex& index, const KZListRow& pressed) const
{
    // A reset or a reused row leaves the press without its row.
    if (!view_ || !index.isValid())
        return std::nullopt;
    const KZListRow now = view_->foundModel()->rowAt(index);
    if (!(now == pressed))
        return std::nullopt;
    return now;
}

std::optional<KZListRow> KZListMarkingCntrl::rowOfItem(const KZListRow& asked) const
{
    if (!view_ || !asked.item)
        return std::nullopt;
    const QModelIndex index = view_->foundModel()->indexOfRow(asked);
    if (!index.isValid())
        return std::nullopt;
    return view_->foundModel()->rowAt(index);
}

bool KZListMarkingCntrl::eventFilter(QObject* watched, QEvent* event)
{
    if (!view_ || watched != view_->viewport() || event->type() != QEvent::MouseButtonPress)
        return QObject::eventFilter(watched, event);
    if (settings_.isRemoving && settings_.isRemoving())
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint pos = mouse->position().toPoint();
    const QModelIndex index = view_->indexAt(pos);
    if (!index.isValid() || !view_->foundModel())
        return false;
    const KZListRow row = view_->foundModel()->rowAt(index);
    if (row.isGroupRow())
        return groupPress(index, row, pos, mouse->button());
    if (row.item && mouse->button() == Qt::LeftButton && checkBoxRect(index).contains(pos) && !view_->isGhost(row))
        return itemCheckPress(index, row);
    return false;
}

bool KZListMarkingCntrl::groupPress(const QModelIndex& index, const KZListRow& row, const QPoint& pos,
                                    Qt::MouseButton button)
{
    const KZGroupRowLayout layout = groupLayout(index);
    using P = KZGroupRowLayout::Part;
    switch (layout.hitTest(pos)) {
    case P::Check:
        if (button != Qt::LeftButton)
            return false;
        if (row.group->markedCount() == 0)
            return true; // the box is off and disabled: only marked groups can be cleared
        markMenu_->setOnMenuItemWithTag(row.group->markedMenuItem());
        marking_->setCurrSelectedTag(settings_.currSelectedTag ? settings_.currSelectedTag() : 0);
        {
            // A member ticked by hand leaves its group with no rule checked;
            // the box still clears the whole group, never toggles one member.
            qint64 rule = markMenu_->tagOfOnMenuItem();
            if (rule == KZMarkRule::singleCheckBox)
                rule = KZMarkRule::byDefault;
            marking_->markItemsWithState(KZMarkRequests::groupCheckBox(false, rule, row), row);
        }
        return true;
    case P::Counter:
    case P::Arrow:
        if (button != Qt::LeftButton && button != Qt::RightButton)
            return false;
        showMarkMenu(index, row);
        return true;
    case P::Options:
        if (button != Qt::LeftButton)
            return false;
        {
            const KZFoundItemRef first = row.group->items().isEmpty() ? nullptr : row.group->items().first();
            const bool disable = !first || view_->isGhost(KZListRow{row.group, first}) ||
                                 KZGroupOptions::missingCount(*row.group) == 0;
            options_->showInfo(row.group, disable, view_->viewport(), layout.options);
        }
        return true;
    case P::None:
        break;
    }
    return false;
}

void KZListMarkingCntrl::showMarkMenu(const QModelIndex& index, const KZListRow& row)
{
    menuIndex_ = QPersistentModelIndex(index);
    menuRow_ = row;
    menuRuleBefore_ = row.group->markedMenuItem();
    markMenu_->setOnMenuItemWithTag(menuRuleBefore_);
    markMenu_->prepareToShow(isLocationList(), settings_.aboutIsOpen && settings_.aboutIsOpen());
    pressedGroup_ = row.group.get();
    view_->viewport()->update();
    const KZGroupRowLayout layout = groupLayout(index);
    const QPoint at = layout.menuPoint(markMenu_->sizeHint().width());
    QAction* first = nullptr;
    for (QAction* action : markMenu_->actions())
        if (action->isVisible() && !action->isSeparator()) {
            first = action;
            break;
        }
    markMenu_->popup(view_->viewport()->mapToGlobal(at), first);
}

bool KZListMarkingCntrl::itemCheckPress(const QModelIndex& index, const KZListRow& row)
{
    marking_->setCurrSelectedTag(settings_.currSelectedTag ? settings_.currSelectedTag() : 0);
    if (row.item->isMarked()) {
        // Unmarking never asks.
        marking_->markItemsWithState(KZMarkRequests::itemCheckBox(false, index.row()), row);
        return true;
    }
    confirmThenMark(row, false, nullptr);
    return true;
}

void KZListMarkingCntrl::confirmThenMark(const KZListRow& row, bool fromMenu, std::function<void()> next)
{
    // The request goes to the row the item has when the verdict comes; an
    // item that left the list meanwhile is dropped.
    const auto send = [this, fromMenu](const KZListRow& asked) {
        const std::optional<KZListRow> target = rowOfItem(asked);
        const int rowNumber = target ? view_->foundModel()->indexOfRow(*target).row() : -1;
        const bool wasMarked = target && target->item->isMarked();
        const QVariantMap request = fromMenu ? KZMarkRequests::contextualMark(wasMarked, rowNumber)
                                             : KZMarkRequests::itemCheckBox(true, rowNumber);
        marking_->setCurrSelectedTag(settings_.currSelectedTag ? settings_.currSelectedTag() : 0);
        marking_->markItemsWithState(request, target);
    };
    const auto done = [next] {
        if (next)
            next();
    };
    if (row.item->isMarked()) {
        send(row);
        done();
        return;
    }
    const bool isLast = settings_.isLastItemToMark && settings_.isLastItemToMark(row.item);
    switch (markInfo_->gate().check(isLast)) {
    case KZLastMemberGate::Outcome::Go:
        send(row);
        done();
        return;
    case KZLastMemberGate::Outcome::Refuse:
        beep();
        done();
        return;
    case KZLastMemberGate::Outcome::Ask:
        break;
    }
    const QModelIndex index = view_->foundModel()->indexOfRow(row);
    const KZFoundItemGroupRef group = row.group;
    markInfo_->askForMark(row.item, view_->viewport(), checkBoxRect(index),
                          [this, send, done, group](bool mark, const KZFoundItemRef& item) {
                              if (mark && item)
                                  send(KZListRow{group, item});
                              done();
                          });
}

void KZListMarkingCntrl::askLastMember(const KZFoundItemRef& item, std::function<void(bool)> verdict)
{
    // The verdict is handed on after the question has closed, so that it
    // may ask the next one.
    QPointer<KZListMarkingCntrl> guard(this);
    auto later = [guard, verdict](bool mark) {
        if (guard)
            QTimer::singleShot(0, guard.data(), [verdict, mark] { verdict(mark); });
    };
    switch (markInfo_->gate().check(true)) {
    case KZLastMemberGate::Outcome::Go:
        later(true);
        return;
    case KZLastMemberGate::Outcome::Refuse:
        beep();
        later(false);
        return;
    case KZLastMemberGate::Outcome::Ask:
        break;
    }
    if (!view_ || !view_->isVisible() || !item) {
        // Asked nowhere the user looks: the group keeps its unmarked member.
        beep();
        later(false);
        return;
    }
    QRect anchor(view_->viewport()->width() / 2 - 8, 2, 16, 16);
    const QModelIndex index = indexOfItem(item);
    if (index.isValid() && view_->viewport()->rect().intersects(view_->visualRect(index)))
        anchor = checkBoxRect(index);
    markInfo_->askForMark(item, view_->viewport(), anchor,
                          [later](bool mark, const KZFoundItemRef&) { later(mark); });
}

QModelIndex KZListMarkingCntrl::indexOfItem(const KZFoundItemRef& item) const
{
    const KZFoundItemsModel* model = view_ ? view_->foundModel() : nullptr;
    if (!model || !model->list() || !item)
        return {};
    if (!model->isGrouped())
        return model->indexOfRow(KZListRow{nullptr, item});
    for (const KZFoundItemGroupRef& group : model->list()->root->groups())
        if (group->groupID() == item->groupID() && group->items().contains(item))
            return model->indexOfRow(KZListRow{group, item});
    return {};
}

void KZListMarkingCntrl::prepareContextMenu(const QModelIndex& clicked)
{
    // The rows are kept as items: a sort that lands while the menu is open
    // moves other items under the row numbers.
    menuRows_.clear();
    menuClicked_.reset();
    if (view_) {
        if (clicked.isValid())
            menuClicked_ = view_->foundModel()->rowAt(clicked);
        const QList<KZListRow> rows = view_->rowsForMenu(clicked);
        if (rows.size() <= kMenuItemsLimit)
            for (const KZListRow& row : rows)
                if (row.item)
                    menuRows_.append(row);
    }
    KZFoundItemArray items;
    for (const KZListRow& row : menuRows_)
        items.append(row.item);
    const bool about = settings_.aboutIsOpen && settings_.aboutIsOpen();
    for (QAction* action : contextMenu_->actions()) {
        const int tag = action->data().toInt();
        action->setEnabled(KZResultMenus::checkForSelectionWithTag(tag, items, about));
        if (tag == KZResultMenus::markTag) {
            const QString title = KZResultMenus::markItemTitle(items);
            if (!title.isEmpty())
                action->setText(title);
        }
    }
}

bool KZListMarkingCntrl::validateCommand(int tag, QString* title) const
{
    KZFoundItemArray items;
    if (view_) {
        const QList<KZListRow> rows = view_->rowsForMenu(QModelIndex());
        if (rows.size() <= kMenuItemsLimit)
            for (const KZListRow& row : rows)
                if (row.item)
                    items.append(row.item);
    }
    if (title)
        *title = tag == KZResultMenus::markTag ? KZResultMenus::markItemTitle(items) : QString();
    const bool about = settings_.aboutIsOpen && settings_.aboutIsOpen();
    const bool removing = settings_.isRemoving && settings_.isRemoving();
    return !removing && KZResultMenus::checkForSelectionWithTag(tag, items, about);
}

void KZListMarkingCntrl::runCommandOnSelection(int tag)
{
    prepareContextMenu(QModelIndex());
    contextualMenuAction(tag);
}

std::optional<QList<KZListRow>> KZListMarkingCntrl::rowsOfMenu()
{
    const QList<KZListRow> rows = std::exchange(menuRows_, {});
    const std::optional<KZListRow> clicked = std::exchange(menuClicked_, std::nullopt);
    // The command was for the clicked item: without it, it is for nothing.
    if (clicked && clicked->item && !rowOfItem(*clicked)) {
        beep();
        return std::nullopt;
    }
    QList<KZListRow> now;
    for (const KZListRow& row : rows)
        if (const std::optional<KZListRow> found = rowOfItem(row))
            now.append(*found);
    return now;
}

void KZListMarkingCntrl::contextualMenuAction(int tag)
{
    if (settings_.isSelectedTab && !settings_.isSelectedTab())
        return;
    if (tag == KZResultMenus::revealTag)
        revealInFinder();
    else if (tag == KZResultMenus::openTag)
        launchInFinder();
    else if (tag == KZResultMenus::markTag)
        contexualMenuMark();
}

void KZListMarkingCntrl::revealInFinder()
{
    const std::optional<QList<KZListRow>> rows = rowsOfMenu();
    if (!rows)
        return;
    KZWorkspace* workspace = settings_.workspace ? settings_.workspace : &KZWorkspace::system();
    QList<std::filesystem::path> paths;
    for (const KZListRow& row : *rows)
        paths << row.item->url();
    workspace->revealItems(paths);
}

void KZListMarkingCntrl::launchInFinder()
{
    const std::optional<QList<KZListRow>> rows = rowsOfMenu();
    if (!rows)
        return;
    KZWorkspace* workspace = settings_.workspace ? settings_.workspace : &KZWorkspace::system();
    QList<std::filesystem::path> paths;
    for (const KZListRow& row : *rows)
        paths << row.item->path();
    // One request, so that what cannot be opened is told in one alert.
    workspace->openItems(paths);
}

void KZListMarkingCntrl::contexualMenuMark()
{
    // One run at a time: a second would interleave its questions.
    if (contextMarkRunning_ || !view_)
        return;
    const std::optional<QList<KZListRow>> rows = rowsOfMenu();
    if (!rows)
        return;
    contextMarkRunning_ = true;
    markNext(std::make_shared<QList<KZListRow>>(*rows));
}

void KZListMarkingCntrl::markNext(std::shared_ptr<QList<KZListRow>> rows)
{
    while (!rows->isEmpty() && view_) {
        const KZListRow asked = rows->takeFirst();
        const std::optional<KZListRow> row = rowOfItem(asked);
        if (!row)
            continue; // left the list since the menu was opened
        confirmThenMark(*row, true, [this, rows] { markNext(rows); });
        return;
    }
    contextMarkRunning_ = false;
}
