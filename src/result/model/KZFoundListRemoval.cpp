#include "result/model/KZFoundListRemoval.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZFoundListContext.h"
#include "result/model/KZFoundListWorkers.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZListOutline.h"
#include "result/model/KZMusicLibraryNotifier.h"
#include "result/model/KZResultCntrl.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

} // namespace

KZFoundListRemoval::KZFoundListRemoval(const KZFoundListContext& context)
    : context_(context)
{
}

void KZFoundListRemoval::prepareRemotion()
{
    // One panel at a time for a tab.
    if (panel_)
        return;
    const KZTabTag tabTag = context_.tabTag;
    KZFoundListHost* host = context_.host;
    KZListOutline* outline = context_.outline;
    const std::shared_ptr<KZFoundItemsCntrl> model = context_.model();
    quint64 size = 0;
    const KZFoundItemArray marked =
        model ? model->itemsByTag(KZResultCntrl::itemMarkedTagWithOwnerTag(tabTag), tabTag, &size) : KZFoundItemArray();
    if (marked.isEmpty()) {
        const bool shown = KZErrorDelegate::sharedControl().showMessagePanelWithView(
            QStringLiteral("nothing_to_remove"), QString(), {}, KZDefaultsKey::show_nothing_to_remove, true);
        if (!shown && host)
            host->beep();
        center().post(KZNotification::remotionFailed, platform::bundleIdentifier());
        return;
    }
    if (!host)
        return;

    QVariantMap request;
    request.insert(QStringLiteral("itemsToRemove"), QVariant::fromValue(marked));
    request.insert(QStringLiteral("size"), QVariant::fromValue<quint64>(size));
    request.insert(QStringLiteral("resultView"), outline ? outline->removalCoverView() : QVariant());
    request.insert(QStringLiteral("foundItemsCntrl"), QVariant::fromValue(model));
    request.insert(QStringLiteral("isEmptyFolders"), false);
    request.insert(QStringLiteral("areFiles"), tabTag != KZTag::folders && tabTag != KZTag::emptyFolders);
    request.insert(QStringLiteral("undoMarkTarget"), QVariant::fromValue(outline));
    request.insert(QStringLiteral("KZResultSearchSources"), QVariant::fromValue(context_.sources));
    request.insert(QStringLiteral("resultCntrl"), QVariant::fromValue(context_.resultCntrl));
    request.insert(QStringLiteral("ownerTag"), QVariant::fromValue<quint64>(tabTag));
    request.insert(QStringLiteral("viewsToDisable"), host->viewsToDisable());

    // Registered before the panel exists: it may report at once.
    const void* modelObject = model.get();
    removedObservation_ =
        center().addObserver(KZNotification::itemsDidRemove, modelObject,
                             [this](const platform::Notification& note) { itemsDidRemove(note.userInfo); });
    panelClosedObservation_ = center().addObserver(
        KZNotification::removePanelDidClose, platform::bundleIdentifier(),
        [this](const platform::Notification&) { context_.workers->onMain([this] { removePanelDidClose(); }); });
    panel_ = host->openRemovalPanel(request);
    if (!panel_)
        stopObserving();
}

void KZFoundListRemoval::itemsDidRemove(const QVariantMap& userInfo)
{
    QVariantMap removal = userInfo;
    const KZFoundItemArray removed = KZFoundItemsOfVariant(userInfo.value(QStringLiteral("removedItems")));
    // The result controller and its tabs belong to the main thread; the
    // panel reports from the removal's own thread.
    context_.workers->onMainLater([this, removal]() mutable {
        KZResultCntrl* resultCntrl = context_.resultCntrl;
        if (!resultCntrl)
            return;
        if (context_.tabTag == KZTag::emptyFolders) {
            resultCntrl->prepareUpdateForEmptyFoldersWithDictionary(removal);
            return;
        }
        removal.insert(QStringLiteral("ownerTag"), QVariant::fromValue<quint64>(context_.tabTag));
        resultCntrl->prepareUpdateWithDictionary(removal);
    });
    const QString tracks = notifyDeletedSongsToiTunes(removed);
    if (!tracks.isEmpty())
        KZMusicLibraryNotifier::sharedControl().notifyDeletion(tracks);
}

QString KZFoundListRemoval::notifyDeletedSongsToiTunes(const KZFoundItemArray& removedItems)
{
    QStringList tracks;
    for (const KZFoundItemRef& item : removedItems) {
        if (item && item->isiTunesItem())
            tracks.append(item->trackID());
    }
    return KZMusicLibraryNotifier::deletionText(tracks);
}

void KZFoundListRemoval::removePanelDidClose()
{
    if (!panel_)
        return;
    panel_.reset();
    // Given up whether or not the tab is on screen: a registration left
    // behind would handle the next removal's "itemsDidRemove" twice.
    stopObserving();
    if (context_.isVisible() && context_.host)
        context_.host->makeResultViewFirstResponder();
}

void KZFoundListRemoval::stopObserving()
{
    removedObservation_.cancel();
    panelClosedObservation_.cancel();
}
