#pragma once

#include "result/model/KZListOutline.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZShownList.h"

#include <QPointer>
#include <QUndoStack>
#include <QVariantMap>

class QUndoStack;

#include <functional>
#include <optional>

// The marking requests the list of a tab sends, as each control builds them
// before the list completes them with the items and the tab.
namespace KZMarkRequests {

inline const QString row = QStringLiteral("row");
inline const QString view = QStringLiteral("view");
inline const QString menuItemTitle = QStringLiteral("menuItemTitle");
inline const QString oldMenuItemTagToRestore = QStringLiteral("oldMenuItemTagToRestore");

// The check box of an item row: its state after the press.
QVariantMap itemCheckBox(bool newState, int row);
// The Mark command of the context menu toggles each item: like a press on
// its box, the request carries the mark the item gets, which the sources
// list counts and the undo step is named by.
QVariantMap contextualMark(bool wasMarked, int row);
// A group's check box (it only clears the group) re-applies or clears the
// group's checked rule.
QVariantMap groupCheckBox(bool newState, qint64 onTag, const KZListRow& groupRow);
// A rule chosen in a group's mark menu; `oldTag` is the rule checked before.
QVariantMap groupMenuChoice(qint64 tag, const QString& title, qint64 oldTag, KZMarkMenu* menu,
                            const KZListRow& groupRow);

// Members of `items` that the list under `currSelectedTag` shows: all of
// them for the tab's own list, those of the location for a location list.
KZFoundItemArray membersInList(const KZFoundItemArray& items, quint64 currSelectedTag);

// Adds the items and the tab to a request. `target` is the row the request
// came from as it is now; a request that names a row which has gone
// (nullopt) is not sent: nullopt.
std::optional<QVariantMap> complete(const QVariantMap& request, const std::optional<KZListRow>& target,
                                    quint64 currSelectedTag, quint64 ownerTag);

// The Edit menu's name of the undo step of a request.
QString undoActionName(const QVariantMap& request);

} // namespace KZMarkRequests

// Completes, registers for undo and sends the marking requests of one tab's
// list on the window's undo stack, which the removals share. A step replays
// snapshots: undo puts back the marks from before the request, redo the
// marks the request produced (never the rule again), and each replay takes
// a fresh snapshot for the way back.
class KZOutlineMarking {
public:
    struct Hooks {
        // The model's undo record of a request; may add the snapshotted
        // items to the request itself.
        std::function<std::optional<QVariantMap>(QVariantMap&)> undoRecord;
        std::function<QVariantMap(const QVariantMap&)> redoRecord;
        // Hands the request to the result model.
        std::function<void(const QVariantMap&)> post;
        // The one-time hint that marks can be undone.
        std::function<void()> showUndoNotice;
        std::function<void()> beep;
        // The entries of a snapshot that would leave a group with every
        // member marked (see KZFoundItemsCntrl::marksFillingAGroup).
        std::function<KZMarkSnapshot(const KZMarkSnapshot&)> marksFillingAGroup;
        // Asks, as a press on the last unmarked member does, whether `item`
        // may be marked all the same; the answer comes once, maybe later.
        std::function<void(const KZFoundItemRef& item, std::function<void(bool mark)> verdict)> askLastMember;
    };

    KZOutlineMarking(QUndoStack* undoStack, Hooks hooks);
    ~KZOutlineMarking();
    KZOutlineMarking(const KZOutlineMarking&) = delete;
    KZOutlineMarking& operator=(const KZOutlineMarking&) = delete;

    void setCurrSelectedTag(quint64 tag) { currSelectedTag_ = tag; }
    quint64 currSelectedTag() const { return currSelectedTag_; }
    void setOwnerTag(quint64 tag) { ownerTag_ = tag; }

    // False (with a beep) when the request's row has gone.
    bool markItemsWithState(const QVariantMap& request, const std::optional<KZListRow>& target);
    void registerUndoWithDict(QVariantMap& request);
    // A request its sender has completed itself (a row of the sources list):
    // registered as one step, sent, and the one-time undo hint given.
    void sendCompletedRequest(QVariantMap request);
    void informOfTheUndo(qint64 checkState);
    // After the model marked: whether the window has steps to undo or redo.
    void updateAfterMarked();
    bool thereAreUndoes() const { return thereAreUndoes_; }
    bool markUndoInfoShowed() const { return markUndoInfoShowed_; }

    // Replays a record on the model (undo and redo). A snapshot is never
    // put back so that a group ends with every member marked: such a mark is
    // held back and asked about first, one item after the other.
    void replay(const QVariantMap& record);
    QVariantMap redoRecord(const QVariantMap& record) const;

    // Drops the steps of closed lists that have become the next to undo or
    // redo; the window calls it after each undo and redo.
    static void dropStaleSteps(QUndoStack* undoStack);
    // Ends every list's marking step on the stack, whichever list made it;
    // other steps (removals) stay. The lists of one window share their
    // items, so a snapshot taken before a list ended may no longer hold.
    static void endMarkingSteps(QUndoStack* undoStack);

private:
    void askHeldMarks(QVariantMap record, KZMarkSnapshot held);

    // The window's stack may go before the list when the window closes.
    QPointer<QUndoStack> undoStack_;
    Hooks hooks_;
    // What the steps on the stack reach this list through; it dies with it.
    std::shared_ptr<KZOutlineMarking*> self_;
    quint64 currSelectedTag_ = 0;
    quint64 ownerTag_ = 0;
    bool markUndoInfoShowed_ = false;
    bool thereAreUndoes_ = false;
};
