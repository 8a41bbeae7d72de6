#include "result/window/KZMarkRequests.h"

#include "platform/StringTable.h"
#include "result/model/KZResultCntrl.h"
#include "settings/KZTags.h"

#include <QUndoCommand>

#include <algorithm>
#include <QUndoStack>

namespace KZMarkRequests {

namespace K = KZMarkingKey;

QVariantMap itemCheckBox(bool newState, int rowNumber)
{
    return {{K::checkBtnState, newState ? 1 : 0}, {K::menuItemTag, KZMarkRule::singleCheckBox}, {row, rowNumber}};
}

QVariantMap contextualMark(bool wasMarked, int rowNumber)
{
    return itemCheckBox(!wasMarked, rowNumber);
}

QVariantMap groupCheckBox(bool newState, qint64 onTag, const KZListRow& groupRow)
{
    return {{K::checkBtnState, newState ? 1 : 0},
            {K::menuItemTag, onTag},
            {view, QVariant::fromValue(groupRow)}};
}

QVariantMap groupMenuChoice(qint64 tag, const QString& title, qint64 oldTag, KZMarkMenu* menu,
                            const KZListRow& groupRow)
{
    return {{K::checkBtnState, 1},
            {K::menuItemTag, tag},
            {view, QVariant::fromValue(groupRow)},
            {menuItemTitle, title},
            {K::menuItemTagToRestore, tag},
            {oldMenuItemTagToRestore, oldTag},
            {K::menu, QVariant::fromValue(menu)}};
}

KZFoundItemArray membersInList(const KZFoundItemArray& items, quint64 currSelectedTag)
{
    if (currSelectedTag < KZTag::sourceRowBase)
        return items;
    const qint64 location = KZResultCntrl::realLocationTag(currSelectedTag);
    KZFoundItemArray members;
    for (const KZFoundItemRef& item : items)
        if (item && item->locationLabelTag() == location)
            members.append(item);
    return members;
}

std::optional<QVariantMap> complete(const QVariantMap& request, const std::optional<KZListRow>& target,
                                    quint64 currSelectedTag, quint64 ownerTag)
{
    QVariantMap copy = request;
    const qint64 rule = copy.value(K::menuItemTag).toLongLong();
    if (copy.contains(view)) {
        // A reloaded list may have put another group (or nothing) where the
        // press was; acting on it would mark the wrong files.
        const KZListRow pressed = copy.value(view).value<KZListRow>();
        if (!target || !target->isGroupRow() || (pressed.group && pressed.group != target->group))
            return std::nullopt;
        if (rule != KZMarkRule::restore)
            copy.insert(K::itemsToManage,
                        QVariant::fromValue(membersInList(target->group->items(), currSelectedTag)));
        copy.insert(K::itemSenderView, QVariant::fromValue(target->group));
    } else if (copy.contains(row)) {
        if (!target || !target->item)
            return std::nullopt;
        copy.insert(K::itemsToManage, QVariant::fromValue(KZFoundItemArray{target->item}));
    }
    copy.insert(K::itemsToManageTag, QVariant::fromValue(currSelectedTag));
    copy.insert(K::ownerTag, QVariant::fromValue(ownerTag));
    return copy;
}

QString undoActionName(const QVariantMap& request)
{
    if (request.value(K::checkBtnState).toLongLong() == 0)
        return platform::localizedString(QStringLiteral("undo_unmark"));
    QString title = request.value(menuItemTitle).toString();
    if (title.endsWith(QChar(0x2026)))
        title.chop(1);
    // The rules' titles already say what they do ("Mark in Folder", "Keep
    // the Oldest"), so the step is named by the title alone; a check box
    // brings no title and is a plain "Mark".
    if (title.isEmpty())
        return platform::localizedString(QStringLiteral("mark_item"));
    const QString key = request.value(K::menuItemTag).toLongLong() == KZMarkRule::swap ? QStringLiteral("undo_swap")
                                                                                        : QStringLiteral("undo_mark");
    return platform::localizedString(key).arg(title);
}

} // namespace KZMarkRequests

namespace {

// The model has already executed the request when the step is pushed, so
// the first redo does nothing. Each direction rebuilds the record of the
// other from the marks as they are just before it replays its own.
class MarkUndoCommand : public QUndoCommand {
public:
    MarkUndoCommand(std::weak_ptr<KZOutlineMarking*> owner, QVariantMap undoRecord, const QString& name)
        : owner_(std::move(owner)), undoRecord_(std::move(undoRecord))
    {
        setText(name);
    }

    // Ended steps replay nothing; the stack deletes them when it reaches them.
    void end()
    {
        owner_.reset();
        setObsolete(true);
    }

    void undo() override
    {
        const auto owner = owner_.lock();
        if (!owner)
            return;
        redoRecord_ = (*owner)->redoRecord(undoRecord_);
        (*owner)->replay(undoRecord_);
    }

    void redo() override
    {
        if (first_) {
            first_ = false;
            return;
        }
        const auto owner = owner_.lock();
        if (!owner)
            return;
        undoRecord_ = (*owner)->redoRecord(redoRecord_);
        (*owner)->replay(redoRecord_);
    }

private:
    std::weak_ptr<KZOutlineMarking*> owner_;
    QVariantMap undoRecord_;
    QVariantMap redoRecord_;
    bool first_ = true;
};

} // namespace

KZOutlineMarking::KZOutlineMarking(QUndoStack* undoStack, Hooks hooks)
    : undoStack_(undoStack), hooks_(std::move(hooks)), self_(std::make_shared<KZOutlineMarking*>(this))
{
}

KZOutlineMarking::~KZOutlineMarking()
{
    // The steps call back into this list, so none may be replayed once it is
    // gone. Nor may another list's: the same items are shown in several
    // lists (the all-duplicates tab and the type tabs), so their snapshots
    // may predate marks this list made and that now stay.
    self_.reset();
    if (undoStack_)
        endMarkingSteps(undoStack_);
}

void KZOutlineMarking::endMarkingSteps(QUndoStack* undoStack)
{
    for (int i = 0; i < undoStack->count(); ++i)
        if (auto* step = dynamic_cast<MarkUndoCommand*>(const_cast<QUndoCommand*>(undoStack->command(i))))
            step->end();
    dropStaleSteps(undoStack);
}

void KZOutlineMarking::dropStaleSteps(QUndoStack* undoStack)
{
    // The stack deletes an obsolete step instead of replaying it when it is
    // reached; doing that at once keeps Undo and Redo naming a step that
    // still does something.
    while (undoStack->canUndo() && undoStack->command(undoStack->index() - 1)->isObsolete())
        undoStack->undo();
    while (undoStack->canRedo() && undoStack->command(undoStack->index())->isObsolete())
        undoStack->redo();
}

bool KZOutlineMarking::markItemsWithState(const QVariantMap& request, const std::optional<KZListRow>& target)
{
    std::optional<QVariantMap> completed = KZMarkRequests::complete(request, target, currSelectedTag_, ownerTag_);
    if (!completed) {
        if (hooks_.beep)
            hooks_.beep();
        return false;
    }
    registerUndoWithDict(*completed);
    if (hooks_.post)
        hooks_.post(*completed);
    if (completed->value(KZMarkingKey::menuItemTag).toLongLong() != KZMarkRule::singleCheckBox)
        informOfTheUndo(completed->value(KZMarkingKey::checkBtnState).toLongLong());
    return true;
}

void KZOutlineMarking::sendCompletedRequest(QVariantMap request)
{
    registerUndoWithDict(request);
    if (hooks_.post)
        hooks_.post(request);
    informOfTheUndo(request.value(KZMarkingKey::checkBtnState).toLongLong());
}

void KZOutlineMarking::registerUndoWithDict(QVariantMap& request)
{
    if (!hooks_.undoRecord)
        return;
    const std::optional<QVariantMap> record = hooks_.undoRecord(request);
    if (!record || !undoStack_)
        return;
    undoStack_->push(new MarkUndoCommand(self_, *record, KZMarkRequests::undoActionName(request)));
    thereAreUndoes_ = true;
}

QVariantMap KZOutlineMarking::redoRecord(const QVariantMap& record) const
{
    return hooks_.redoRecord ? hooks_.redoRecord(record) : record;
}

void KZOutlineMarking::replay(const QVariantMap& record)
{
    if (!hooks_.post)
        return;
    namespace K = KZMarkingKey;
    if (record.value(K::menuItemTag).toLongLong() != KZMarkRule::restore || !hooks_.marksFillingAGroup) {
        hooks_.post(record);
        return;
    }
    const KZMarkSnapshot snapshot = record.value(K::itemsToManage).value<KZMarkSnapshot>();
    const KZMarkSnapshot held = hooks_.marksFillingAGroup(snapshot);
    if (held.isEmpty()) {
        hooks_.post(record);
        return;
    }
    KZMarkSnapshot rest;
    for (const KZMarkState& entry : snapshot) {
        const bool isHeld = std::any_of(held.begin(), held.end(),
                                        [&](const KZMarkState& h) { return h.item == entry.item; });
        if (!isHeld)
            rest.append(entry);
    }
    QVariantMap now = record;
    now.insert(K::itemsToManage, QVariant::fromValue(rest));
    hooks_.post(now);
    askHeldMarks(record, held);
}

void KZOutlineMarking::askHeldMarks(QVariantMap record, KZMarkSnapshot held)
{
    namespace K = KZMarkingKey;
    if (held.isEmpty())
        return;
    const KZMarkState entry = held.takeFirst();
    if (!hooks_.askLastMember) {
        // Nobody to ask: the group keeps its unmarked member.
        if (hooks_.beep)
            hooks_.beep();
        askHeldMarks(std::move(record), std::move(held));
        return;
    }
    std::weak_ptr<KZOutlineMarking*> self = self_;
    hooks_.askLastMember(entry.item, [self, record, held, entry](bool mark) {
        const auto owner = self.lock();
        if (!owner)
            return;
        KZOutlineMarking& marking = **owner;
        if (mark && entry.item && !entry.item->isMarked()) {
            QVariantMap one = record;
            one.insert(K::itemsToManage, QVariant::fromValue(KZMarkSnapshot{entry}));
            marking.hooks_.post(one);
        }
        marking.askHeldMarks(record, held);
    });
}

void KZOutlineMarking::informOfTheUndo(qint64 checkState)
{
    if (checkState != 0 || markUndoInfoShowed_)
        return;
    markUndoInfoShowed_ = true;
    if (hooks_.showUndoNotice)
        hooks_.showUndoNotice();
}

void KZOutlineMarking::updateAfterMarked()
{
    thereAreUndoes_ = undoStack_ && (undoStack_->canUndo() || undoStack_->canRedo());
}
