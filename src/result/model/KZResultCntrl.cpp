#include "result/model/KZResultCntrl.h"
#include "engine/KZResultInfoKeys.h"

#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/Resources.h"
#include "platform/UserDefaults.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZMarkingRequest.h"
#include "result/model/KZResultSaving.h"
#include "result/model/KZResultTabCntrl.h"
#include "result/model/KZResultTabStrip.h"
#include "result/model/KZResultWindowHost.h"
#include "result/model/KZThreadBudget.h"
#include "services/KZErrorDelegate.h"
#include "services/KZSearchInProgress.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"
#include "settings/KZTags.h"

#include <QPainter>
#include <QSet>

#include <algorithm>
#include <limits>

namespace fs = std::filesystem;

namespace {

namespace Key {
using KZResultKey::foundItems;
using KZResultKey::foundItemsCount;
using KZResultKey::foundItemsSize;
using KZResultKey::checkedItemsCount;
using KZResultKey::itemsToCheckCount;
using KZResultKey::searchStuffItem;
using KZResultKey::searchSources;
using KZResultKey::foundFileTypes;
using KZResultKey::searchedIniTunes;
using KZResultKey::searchedInPhotos;
using KZResultKey::photosLibraryPath;
using KZResultKey::isEmptyFolders;
using KZResultKey::searchedForDeads;
using KZResultKey::searchedForFolders;
using KZResultKey::foundDeads;
using KZResultKey::foundDeadsCount;
using KZResultKey::currentLocationLabel;
using KZResultKey::installedTabsTags;
using KZResultKey::isRestoreOfSaved;
using KZResultKey::isSavedItemsToRestore;
using KZResultKey::stoppedByUser;
const QString removeButton = QStringLiteral("KZResultRemoveButton");
const QString selectionInfoField = QStringLiteral("KZResultSelectionInfoField");
const QString containerView = QStringLiteral("KZResultContainerView");
const QString tag = QStringLiteral("tag");
const QString fileType = QStringLiteral("fileType");
const QString tab = QStringLiteral("tab");
const QString info = QStringLiteral("info");
const QString labelsExtension = QStringLiteral("labels_extension");
const QString labelsTypeArray = QStringLiteral("labels_type_array");
const QString fileTypeTag = QStringLiteral("file_type_tag");
} // namespace Key

// The built-in labels of "file_type_labels" have tags up to this one.
constexpr KZTabTag kLastBuiltInLabel = 7;
// NSNotFound: the "no location" of a marking request.
constexpr qint64 kNotFound = std::numeric_limits<qint64>::max();

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

QVariant number(quint64 value)
{
    return QVariant::fromValue<quint64>(value);
}

// ---- Label images and the thread budget -----------------------------------------------

std::mutex& labelImagesLock()
{
    static std::mutex lock;
    return lock;
}

std::map<qint16, QImage>& labelImages()
{
    static std::map<qint16, QImage> images;
    return images;
}

// The colours of the eight location labels, for an installation without the
// label images.
QImage drawnLabelImage(qint16 label)
{
    static const QColor colours[] = {QColor(0xfc, 0x5b, 0x57), QColor(0xfd, 0xa3, 0x3f), QColor(0xf5, 0xd3, 0x3b),
                                     QColor(0x5f, 0xc9, 0x4f), QColor(0x3d, 0x9b, 0xf6), QColor(0xb2, 0x6c, 0xd9),
                                     QColor(0x9a, 0x9a, 0x9e), QColor(0x45, 0x45, 0x49)};
    QImage image(14, 14, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colours[label].darker(120));
    painter.setBrush(colours[label]);
    painter.drawEllipse(QRectF(1.5, 1.5, 11, 11));
    return image;
}

std::atomic<qint64>& runningThreads()
{
    static std::atomic<qint64> count{0};
    return count;
}

} // namespace

void KZResultCntrl::setupLabelImages()
{
    std::lock_guard guard(labelImagesLock());
    auto& images = labelImages();
    for (qint16 label = 0; label < 8; ++label) {
        const fs::path file = platform::resourcePath(fs::path("images") / ("label_" + std::to_string(label + 1) + ".png"));
        QImage image;
        if (!file.empty())
            image.load(platform::pathText(file));
        images[label] = image.isNull() ? drawnLabelImage(label) : image;
    }
}

QImage KZLabelImageForTag(qint16 label)
{
    if (label < 0 || label > 7)
        return {};
    {
        std::lock_guard guard(labelImagesLock());
        if (const auto found = labelImages().find(label); found != labelImages().end())
            return found->second;
    }
    KZResultCntrl::setupLabelImages();
    std::lock_guard guard(labelImagesLock());
    return labelImages()[label];
}

void KZChangeRunningThreadsCount(bool add)
{
    auto& count = runningThreads();
    if (add) {
        count.fetch_add(1);
    } else {
        qint64 current = count.load();
        while (current > 0 && !count.compare_exchange_weak(current, current - 1)) {
        }
    }
    KZThreadBudget::budgetDidChange();
}

qint64 KZRunningThreadsCount()
{
    return runningThreads().load();
}

bool KZCanStartNewThreadWithLimit(qint64 running, rlim_t hardLimit)
{
    if (hardLimit == RLIM_INFINITY)
        return true;
    // 700 processes are left to the rest of the account. Under a low limit
    // (a container, a restricted account) that would leave no thread at all
    // and every caller waiting for one would wait for ever, so two threads
    // are always allowed.
    constexpr rlim_t kReserved = 700;
    constexpr rlim_t kFloor = 2;
    const rlim_t budget = hardLimit > kReserved + kFloor ? hardLimit - kReserved : kFloor;
    return static_cast<rlim_t>(std::max<qint64>(running, 0)) < budget;
}

bool KZCanStartNewThread()
{
    rlimit limit{};
    // Without a readable limit there is nothing to stay under.
    if (getrlimit(RLIMIT_NPROC, &limit) != 0)
        return true;
    return KZCanStartNewThreadWithLimit(runningThreads().load(), limit.rlim_max);
}

// ---- Tags ----------------------------------------------------------------------------------

quint64 KZResultCntrl::itemMarkedTagWithOwnerTag(quint64 tag)
{
    return KZTag::markedItemsRowBase + tag;
}

quint64 KZResultCntrl::itemLocationTagWithLocationTag(qint16 label)
{
    // Label -1 (a search of one source) wraps to the tag just below the base.
    return KZTag::sourceRowBase + static_cast<KZTabTag>(label);
}

qint64 KZResultCntrl::realLocationTag(quint64 tag)
{
    return static_cast<qint64>(tag - KZTag::sourceRowBase);
}

// ---- Set-up --------------------------------------------------------------------------------

KZResultCntrl::KZResultCntrl(const QVariantMap& resultInfo, KZResultWindowHost* resultWindowCntrl)
    : resultWindowCntrl_(resultWindowCntrl)
{
    // A new result starts its own budget; threads of an earlier result that
    // end later cannot push the count below 0.
    runningThreads().store(0);
    initializeResultWithDict(resultInfo);
}

KZResultCntrl::~KZResultCntrl()
{
    // Registrations go first: a delivery still running on another thread is
    // waited for here, and none starts afterwards. No lock is held while
    // waiting, as the delivery may need one.
    listsReadyObservation_.cancel();
    setupObservation_.cancel();
    showViewObservation_.cancel();
    addedTypeObservation_.cancel();
    removedTypeObservation_.cancel();
    markObservation_.cancel();
    groupsObservation_.cancel();
    restoredObservation_.cancel();
    platform::Subscription followUp;
    {
        std::lock_guard guard(followUpsLock_);
        followUp = std::move(followUpObservation_);
    }
    followUp.cancel();
    savingObservation_.cancel();
    extensionObservations_.clear();
    // Nothing is asked of the window controller here: it is the one
    // destroying this controller, and may be half gone already.
    alive_.reset();
}

KZResultTabStrip* KZResultCntrl::tabsView() const
{
    return resultWindowCntrl_ ? resultWindowCntrl_->tabsView() : nullptr;
}

KZResultTabCntrl* KZResultCntrl::itemsTypeCntrl(quint64 tag) const
{
    const auto found = itemsTypeCntrls_.find(tag);
    return found == itemsTypeCntrls_.end() ? nullptr : found->second.get();
}

void KZResultCntrl::runOnMainIfAlive(std::function<void()> work)
{
    platform::runOnMain([alive = std::weak_ptr<int>(alive_), work = std::move(work)] {
        if (alive.lock())
            work();
    });
}

void KZResultCntrl::initializeResultWithDict(const QVariantMap& info)
{
    const void* self = this;
    listsReadyObservation_ = center().addObserver(KZNotification::KZListsReadyToShow, self,
                                                  [this](const platform::Notification&) { listsReadyToShow(); });
    setupLabelImages();

    removeBtn_ = info.value(Key::removeButton);
    selectionInfoFld_ = info.value(Key::selectionInfoField);
    containerView_ = info.value(Key::containerView);

    setupTabs(info);

    if (const auto request = info.value(Key::searchStuffItem).value<std::shared_ptr<KZSearchStuff>>())
        sources_ = request->sources();
    setupItemsView(info);

    const qsizetype lists = static_cast<qsizetype>(itemsTypeCntrls_.size())
        - (info.value(Key::searchedForDeads).toBool() && itemsTypeCntrls_.count(KZTag::missingTracks) ? 1 : 0);
    listToCreate_.store(static_cast<qint16>(std::max<qsizetype>(lists, 0)));

    QVariantMap modelInfo;
    for (const QString& key : {Key::foundItems, Key::searchedIniTunes, Key::searchedInPhotos, Key::photosLibraryPath,
                               Key::isEmptyFolders, Key::foundFileTypes, Key::searchedForDeads, Key::foundDeads,
                               Key::currentLocationLabel, Key::isRestoreOfSaved, Key::isSavedItemsToRestore}) {
        if (info.contains(key))
            modelInfo.insert(key, info.value(key));
    }
    modelInfo.insert(Key::searchSources, QVariant::fromValue(sources_));
    QList<quint64> installed;
    if (KZResultTabStrip* strip = tabsView()) {
        for (const auto& [tag, label] : strip->fileTypes())
            installed.append(tag);
    }
    modelInfo.insert(Key::installedTabsTags, QVariant::fromValue(installed));

    // Registered before the model exists: it builds on another thread and
    // may be done before the next line here runs.
    setupObservation_ = center().addObserver(
        KZNotification::resultSetupDidTerminate, platform::bundleIdentifier(),
        [this](const platform::Notification& note) { resultSetupDidTerminate(note.userInfo); });
    {
        std::lock_guard guard(modelLock_);
        foundItemsCntrl_ = KZFoundItemsCntrl::create(this, modelInfo);
    }

    if (resultWindowCntrl_) {
        const void* window = resultWindowCntrl_->window();
        showViewObservation_ = center().addObserver(
            KZNotification::showViewWithSelection, window,
            [this](const platform::Notification& note) { showViewWithSelection(note.userInfo); });
        addedTypeObservation_ = center().addObserver(
            KZNotification::createNewAddedFileType, window,
            [this](const platform::Notification& note) { createNewAddedFileType(note.userInfo); });
        removedTypeObservation_ = center().addObserver(
            KZNotification::deleteRemovedFiletype, window,
            [this](const platform::Notification& note) { deleteRemovedFiletype(note.userInfo); });
    }

    setupSavableDict(info);
}

void KZResultCntrl::setupTabs(const QVariantMap& info)
{
    KZResultTabStrip* strip = tabsView();
    if (!strip)
        return;
    QVariantMap tabInfo;
    for (const QString& key : {Key::foundFileTypes, Key::foundItemsCount, Key::foundItemsSize, Key::checkedItemsCount,
                               Key::searchedForDeads, Key::isEmptyFolders})
        tabInfo.insert(key, info.value(key));
    const bool deads = info.value(Key::searchedForDeads).toBool();
    tabInfo.insert(Key::foundDeadsCount,
                   QVariant::fromValue<quint64>(deads ? static_cast<quint64>(info.value(Key::foundDeads).toList().size())
                                                      : 0));
    if (info.value(Key::isEmptyFolders).toBool())
        strip->createEmptyFoldersTab(tabInfo);
    else
        strip->createTabsWithTabInfo(tabInfo);
}

QVariantMap KZResultCntrl::tabDictionary(quint64 tag, const QVariantMap& info, bool deadTracks) const
{
    KZResultTabStrip* strip = tabsView();
    QVariantMap dictionary;
    dictionary.insert(Key::tag, number(tag));
    if (strip) {
        const auto types = strip->fileTypes();
        if (const auto found = types.find(tag); found != types.end())
            dictionary.insert(Key::fileType, QVariant::fromValue(found->second));
        dictionary.insert(Key::tab, QVariant::fromValue(strip->tabView(tag)));
    }
    dictionary.insert(Key::searchSources, QVariant::fromValue(sources_));
    dictionary.insert(Key::stoppedByUser, info.value(Key::stoppedByUser).toBool());
    if (deadTracks) {
        dictionary.insert(Key::foundDeads, info.value(Key::foundDeads));
    } else {
        dictionary.insert(Key::checkedItemsCount, info.value(Key::checkedItemsCount));
        dictionary.insert(Key::isEmptyFolders, info.value(Key::isEmptyFolders).toBool());
    }
    dictionary.insert(Key::removeButton, removeBtn_);
    dictionary.insert(Key::selectionInfoField, selectionInfoFld_);
    return dictionary;
}

void KZResultCntrl::setupItemsView(const QVariantMap& info)
{
    if (KZResultTabStrip* strip = tabsView()) {
        // std::map keeps the tags in ascending order.
        for (const auto& [tag, label] : strip->fileTypes())
            createNewResultViewWithInfo(tabDictionary(tag, info, tag == KZTag::missingTracks));
    }
    const void* self = this;
    markObservation_ = center().addObserver(
        KZNotification::markItemsByUserChoice, self,
        [this](const platform::Notification& note) { markItemsByUserChoice(note.userInfo); });
    groupsObservation_ = center().addObserver(
        KZNotification::showMembersGroups, self,
        [this](const platform::Notification& note) { showMembersGroups(note.userInfo); });
    // The undo engine reports from its own queue.
    restoredObservation_ = center().addObserver(
        KZNotification::itemsWereRestored, platform::bundleIdentifier(),
        [this](const platform::Notification& note) {
            runOnMainIfAlive([this, undo = note.userInfo] { itemsWereRestored(undo); });
        });
}

void KZResultCntrl::createNewResultViewWithInfo(const QVariantMap& info)
{
    if (!resultWindowCntrl_)
        return;
    const quint64 tag = info.value(Key::tag).toULongLong();
    std::unique_ptr<KZResultTabCntrl> cntrl = resultWindowCntrl_->createTabCntrl(info, *this);
    if (!cntrl)
        return;
    // A tab made again replaces the old one, whose view must not linger in
    // the window.
    if (auto old = itemsTypeCntrls_.find(tag); old != itemsTypeCntrls_.end())
        resultWindowCntrl_->removeResultView(*old->second);
    itemsTypeCntrls_[tag] = std::move(cntrl);
    addResultViewWithTag(tag);
    itemsTypeCntrls_[tag]->setResultViewHidden(true);
    extensionObservations_[tag] = center().addObserver(
        KZNotification::fileTypeExtensionsDidChange, platform::NotificationObject::number(static_cast<qint64>(tag)),
        [this, tag](const platform::Notification& note) { fileTypeExtensionsDidChange(tag, note.userInfo); });
}

void KZResultCntrl::addResultViewWithTag(quint64 tag)
{
    if (KZResultTabCntrl* cntrl = itemsTypeCntrl(tag); cntrl && resultWindowCntrl_)
        resultWindowCntrl_->addResultView(*cntrl);
}

void KZResultCntrl::setupSavableDict(const QVariantMap& info)
{
    for (const QString& key : {Key::checkedItemsCount, Key::currentLocationLabel, Key::foundItemsCount,
                               Key::foundItemsSize, Key::isEmptyFolders, Key::photosLibraryPath, Key::searchStuffItem,
                               Key::stoppedByUser, Key::searchedForFolders, Key::searchedInPhotos,
                               Key::searchedIniTunes}) {
        if (info.contains(key))
            savableInfoDict_.insert(key, info.value(key));
    }
    savableInfoDict_.insert(Key::itemsToCheckCount,
                            info.contains(Key::itemsToCheckCount) ? info.value(Key::itemsToCheckCount)
                                                                  : QVariant::fromValue<quint64>(0));
}

// ---- The hand-shake ---------------------------------------------------------------------

std::shared_ptr<KZFoundItemsCntrl> KZResultCntrl::modelForWorkers() const
{
    std::lock_guard guard(modelLock_);
    return foundItemsCntrl_;
}

void KZResultCntrl::resultSetupDidTerminate(const QVariantMap& userInfo)
{
    const std::shared_ptr<KZFoundItemsCntrl> model = modelForWorkers();
    const auto poster = userInfo.value(QStringLiteral("foundItemsCntrl")).value<std::shared_ptr<KZFoundItemsCntrl>>();
    // Another result built at the same time must not start this one's lists
    // before its items exist.
    if (!model || poster != model || setupTerminated_.exchange(true))
        return;
    center().post(KZNotification::startToShowItems, platform::bundleIdentifier(),
                  {{QStringLiteral("foundItemsCntrl"), QVariant::fromValue(model)}});
    // A result whose only tab builds no list (missing tracks alone) would
    // otherwise never be announced ready.
    if (listToCreate_.load() == 0)
        postResultIsReady();
}

void KZResultCntrl::listsReadyToShow()
{
    // Several list threads may report at once: each takes one off the count,
    // and only the one that takes the last announces the result.
    qint16 left = listToCreate_.load();
    do {
        if (left <= 0)
            return;
    } while (!listToCreate_.compare_exchange_weak(left, static_cast<qint16>(left - 1)));
    if (left == 1)
        postResultIsReady();
}

void KZResultCntrl::postResultIsReady()
{
    if (readyPosted_.exchange(true))
        return;
    std::map<quint64, KZResultTabCntrl*> tabs;
    for (const auto& [tag, cntrl] : itemsTypeCntrls_)
        tabs[tag] = cntrl.get();
    QVariantMap userInfo;
    userInfo.insert(QStringLiteral("resultWindow"),
                    QVariant::fromValue(resultWindowCntrl_ ? resultWindowCntrl_->window() : nullptr));
    userInfo.insert(QStringLiteral("foundItemsCntrl"), QVariant::fromValue(modelForWorkers()));
    userInfo.insert(QStringLiteral("tabsView"), QVariant::fromValue(tabsView()));
    userInfo.insert(QStringLiteral("itemsTypeCntrls"), QVariant::fromValue(tabs));
    userInfo.insert(QStringLiteral("resultWindowCntrl"), QVariant::fromValue(resultWindowCntrl_));
    userInfo.insert(QStringLiteral("resultCntrl"), QVariant::fromValue(this));
    center().post(KZNotification::resultIsReady, platform::bundleIdentifier(), userInfo);
}

// ---- Tabs --------------------------------------------------------------------------------

void KZResultCntrl::prepareToShowWindowWithTabTag(quint64 tag)
{
    KZResultTabStrip* strip = tabsView();
    if (!strip)
        return;
    // A result can lack the asked tab: one file type beside the missing
    // tracks has no tab of all duplicates, and a saved result's tab may be
    // gone. The window then opens on its first tab rather than on none.
    const auto types = strip->fileTypes();
    if (!types.empty() && !types.contains(tag))
        tag = types.begin()->first;
    strip->selectTabWithTag(tag);
}

void KZResultCntrl::showViewWithSelection(const QVariantMap& userInfo)
{
    if (itemsTypeCntrls_.empty())
        return;
    quint64 selected = userInfo.value(Key::tag).toULongLong();
    if (itemsTypeCntrls_.size() == 1)
        selected = itemsTypeCntrls_.begin()->first;
    for (auto& [tag, cntrl] : itemsTypeCntrls_) {
        if (tag == selected || cntrl->isResultViewHidden())
            continue;
        const void* view = cntrl->resultView();
        center().post(KZNotification::superviewWillHide, view);
        cntrl->setResultViewHidden(true);
    }
    if (KZResultTabCntrl* cntrl = itemsTypeCntrl(selected))
        cntrl->setResultViewHidden(false);
    if (resultWindowCntrl_)
        resultWindowCntrl_->setCurrSelectedTabTag(selected);
}

void KZResultCntrl::createNewAddedFileType(const QVariantMap& userInfo)
{
    QVariantMap info = userInfo;
    info.insert(Key::searchSources, QVariant::fromValue(sources_));
    info.insert(Key::removeButton, removeBtn_);
    info.insert(Key::selectionInfoField, selectionInfoFld_);
    info.insert(Key::isEmptyFolders, false);
    createNewResultViewWithInfo(info);

    const quint64 tag = info.value(Key::tag).toULongLong();
    if (tag < KZTag::specialTabsStart && foundItemsCntrl_)
        foundItemsCntrl_->setFileTypesFoundCount(static_cast<qint16>(foundItemsCntrl_->fileTypesFoundCount() + 1));
    // A built-in label coming back brings its extensions along.
    if (tag <= kLastBuiltInLabel)
        runOnMainIfAlive([this, tag] { gatherDefaultChangedType(tag); });
}

void KZResultCntrl::gatherDefaultChangedType(quint64 tag)
{
    const QVariantList labels = platform::UserDefaults::standard().arrayForKey(KZDefaultsKey::file_type_labels);
    for (const QVariant& entry : labels) {
        const QVariantMap label = entry.toMap();
        if (!label.contains(Key::fileTypeTag) || label.value(Key::fileTypeTag).toULongLong() != tag)
            continue;
        center().post(KZNotification::fileTypeExtensionsDidChange,
                      platform::NotificationObject::number(static_cast<qint64>(tag)),
                      {{Key::tag, number(tag)},
                       {Key::labelsExtension, label.value(Key::labelsExtension)},
                       {Key::labelsTypeArray, label.value(Key::labelsTypeArray)}});
        return;
    }
}

void KZResultCntrl::deleteRemovedFiletype(const QVariantMap& userInfo)
{
    const quint64 tag = userInfo.value(Key::tag).toULongLong();
    if (auto found = itemsTypeCntrls_.find(tag); found != itemsTypeCntrls_.end()) {
        if (resultWindowCntrl_)
            resultWindowCntrl_->removeResultView(*found->second);
        itemsTypeCntrls_.erase(found);
    }
    extensionObservations_.erase(tag);
    if (tag < KZTag::specialTabsStart && foundItemsCntrl_)
        foundItemsCntrl_->setFileTypesFoundCount(
            static_cast<qint16>(std::max<int>(foundItemsCntrl_->fileTypesFoundCount() - 1, 0)));

    runOnMainIfAlive([this, tag] {
        if (!foundItemsCntrl_)
            return;
        if (tag == KZTag::emptyFolders) {
            foundItemsCntrl_->cleanEmptyFoldersMemoryAfterTabRemotion();
            return;
        }
        updateChangedTabs(foundItemsCntrl_->assignTagsToOrphanItems(std::nullopt, QSet<quint64>{tag}));
    });
}

void KZResultCntrl::updateChangedTabs(const QList<quint64>& tags)
{
    for (quint64 tag : tags) {
        if (KZResultTabCntrl* cntrl = itemsTypeCntrl(tag))
            cntrl->updateFilesList(foundItemsCntrl_);
    }
}

void KZResultCntrl::fileTypeExtensionsDidChange(quint64 tag, const QVariantMap& userInfo)
{
    KZResultTabStrip* strip = tabsView();
    const void* tabView = strip ? strip->tabView(tag) : nullptr;
    center().post(KZNotification::KZStartTabProgressIndicator, tabView);
    if (foundItemsCntrl_) {
        const QVariantMap label{{Key::labelsExtension, userInfo.value(Key::labelsExtension)},
                                {Key::labelsTypeArray, userInfo.value(Key::labelsTypeArray)}};
        const QList<quint64> changed = foundItemsCntrl_->changeItemTypesTagWithExtensions(label, tag);
        if (KZResultTabCntrl* cntrl = itemsTypeCntrl(tag))
            cntrl->updateFilesList(foundItemsCntrl_);
        updateChangedTabs(changed);
    }
    center().post(KZNotification::KZStopProgressIndicator, tabView);
}

// ---- Marking -------------------------------------------------------------------------------

void KZResultCntrl::markItemsByUserChoice(const QVariantMap& request)
{
    if (request.value(KZMarkingKey::menuItemTag).toLongLong() != KZMarkRule::byChosenFolder) {
        markItemsWithDictionary(request);
        return;
    }
    if (!resultWindowCntrl_)
        return;
    const QVariantMap settings{
        {QStringLiteral("window"), QVariant::fromValue(resultWindowCntrl_->window())},
        {QStringLiteral("prompt"), QStringLiteral("ask_add_location")},
        {QStringLiteral("includeSmartFolder"), false},
        {QStringLiteral("allowsMultipleSelection"), false},
        {QStringLiteral("canCreateDirectories"), false},
        {QStringLiteral("userInfo"), request},
        {QStringLiteral("directory"),
         platform::pathText(folderOfSourceRow(request.value(KZMarkingKey::locationTag).toULongLong()))},
    };
    resultWindowCntrl_->askForDirectories(
        settings, [alive = std::weak_ptr<int>(alive_), this](qint64 code, const QVariantMap& returnedInfo) {
            if (alive.lock())
                chooseLocationPanelDidEndWithCode(code, returnedInfo);
        });
}

std::filesystem::path KZResultCntrl::folderOfSourceRow(quint64 rowTag) const
{
    if (rowTag >= KZTag::sourceRowBase && rowTag < KZTag::markedItemsRowBase) {
        for (const KZSourceItemRef& source : sources_)
            if (source && itemLocationTagWithLocationTag(source->locationLabelTag()) == rowTag)
                return source->url();
        return {};
    }
    // The tab's own row stands for every searched location.
    std::filesystem::path common;
    bool first = true;
    for (const KZSourceItemRef& source : sources_) {
        if (!source)
            continue;
        const std::filesystem::path url = source->url();
        if (first) {
            common = url;
            first = false;
            continue;
        }
        std::filesystem::path shared;
        for (auto a = common.begin(), b = url.begin(); a != common.end() && b != url.end() && *a == *b; ++a, ++b)
            shared /= *a;
        common = shared;
    }
    return common;
}

void KZResultCntrl::chooseLocationPanelDidEndWithCode(qint64 code, const QVariantMap& returnedInfo)
{
    if (code == 1)
        markItemsWithDictionary(returnedInfo);
}

QList<quint64> KZResultCntrl::managedTags(const KZViewToUpdateRef& info, quint64 mainTag) const
{
    QList<quint64> tags{mainTag};
    if (info) {
        for (const auto& [locationTag, entry] : info->locationsInfo())
            tags.append(locationTag);
    }
    return tags;
}

void KZResultCntrl::markItemsWithDictionary(const QVariantMap& received)
{
    namespace K = KZMarkingKey;
    QVariantMap request = received;
    if (!request.contains(K::ownerTag)) {
        if (resultWindowCntrl_)
            resultWindowCntrl_->beep();
        return;
    }
    const quint64 ownerTag = request.value(K::ownerTag).toULongLong();
    if (KZResultTabCntrl* owner = itemsTypeCntrl(ownerTag))
        owner->saveCurrentConfiguration(request);

    auto infoDict = std::make_shared<KZViewsToUpdate>();
    if (ownerTag == KZTag::emptyFolders) {
        (*infoDict)[KZTag::emptyFolders] = std::make_shared<KZViewToUpdate>();
    } else {
        for (const auto& [tag, cntrl] : itemsTypeCntrls_)
            (*infoDict)[tag] = std::make_shared<KZViewToUpdate>();
    }
    request.insert(K::infoDict, QVariant::fromValue<KZViewsToUpdateRef>(infoDict));
    if (foundItemsCntrl_)
        foundItemsCntrl_->markItemsWithDict(request);

    bool addValue = request.value(K::checkBtnState).toLongLong() != 0;
    // One item's box toggles it whatever its sender believed the state to
    // be; the figures count the mark it now has, so they match the boxes.
    if (request.value(K::menuItemTag).toLongLong() == KZMarkRule::singleCheckBox) {
        const KZFoundItemArray toggled = KZFoundItemsOfVariant(request.value(K::itemsToManage));
        if (!toggled.isEmpty() && toggled.first())
            addValue = toggled.first()->isMarked();
    }
    const QVariant oldRule =
        request.contains(K::oldMenuItemTag) ? request.value(K::oldMenuItemTag) : request.value(K::menuItemTag);
    KZResultTabStrip* strip = tabsView();
    const QList<quint64> ordered = strip ? strip->allOrderedTabsKeys() : QList<quint64>();
    const QVariant firstTabTag = ordered.isEmpty() ? QVariant() : number(ordered.first());

    int updated = 0;
    for (const auto& [tag, cntrl] : itemsTypeCntrls_) {
        const auto entry = infoDict->find(tag);
        if (entry == infoDict->end() || !entry->second->needsUpdate())
            continue;
        ++updated;
        KZMarkedInfoUpdate update;
        update.addValue = addValue;
        update.info = entry->second;
        update.menuItemTagToRestore = request.value(K::menuItemTagToRestore);
        update.oldMenuItemTag = oldRule;
        update.managedTags = managedTags(entry->second, tag);
        update.ownerTag = ownerTag;
        update.locationTag = request.contains(K::locationTag) ? request.value(K::locationTag) : QVariant(kNotFound);
        update.itemSenderView = request.contains(K::itemSenderView) ? request.value(K::itemSenderView) : QVariant(0);
        update.firstTabTag = firstTabTag;
        update.menu = tag == ownerTag ? request.value(K::menu) : QVariant();
        cntrl->updateMarkedInfoWithDict(update);
    }

    if (updated == 0 && ownerTag != KZTag::emptyFolders
        && request.value(K::menuItemTag).toLongLong() != KZMarkRule::restore) {
        KZErrorDelegate::sharedControl().showMessagePanelWithView(QStringLiteral("no_items_changed"), QString(), {},
                                                                  KZDefaultsKey::show_no_marks_found, false);
    }
}

void KZResultCntrl::showMembersGroups(const QVariantMap& userInfo)
{
    KZResultTabCntrl* owner = itemsTypeCntrl(userInfo.value(KZMarkingKey::ownerTag).toULongLong());
    if (!owner)
        return;
    const qint64 chosen = userInfo.value(QStringLiteral("chosenTag")).toLongLong();
    KZGroupOptionRequest request{.groupItem = userInfo.value(QStringLiteral("groupItem")),
                                 .ownerTag = userInfo.value(KZMarkingKey::ownerTag),
                                 .senderTag = userInfo.value(Key::tag)};
    if (chosen == 1) {
        request.isForAllGroups = userInfo.value(QStringLiteral("showForAll")).toLongLong() == 1;
        owner->showMissingMembers(request);
    } else if (chosen == 2) {
        owner->revealGroup(request);
    }
}

// ---- After a removal -------------------------------------------------------------------------

void KZResultCntrl::prepareUpdateWithDictionary(const QVariantMap& received)
{
    QVariantMap removal = received;
    auto infoDict = std::make_shared<KZViewsToUpdate>();
    for (const auto& [tag, cntrl] : itemsTypeCntrls_)
        (*infoDict)[tag] = std::make_shared<KZViewToUpdate>();
    removal.insert(KZMarkingKey::infoDict, QVariant::fromValue<KZViewsToUpdateRef>(infoDict));
    if (foundItemsCntrl_)
        foundItemsCntrl_->updateAfterRemotion(removal);
    for (const auto& [tag, cntrl] : itemsTypeCntrls_) {
        const auto& entry = (*infoDict)[tag];
        if (entry->needsUpdate())
            cntrl->updateRemovedInfoWithDict(entry);
    }
}

void KZResultCntrl::prepareUpdateForEmptyFoldersWithDictionary(const QVariantMap& received)
{
    QVariantMap removal = received;
    auto infoDict = std::make_shared<KZViewsToUpdate>();
    const auto entry = std::make_shared<KZViewToUpdate>();
    (*infoDict)[KZTag::emptyFolders] = entry;
    removal.insert(KZMarkingKey::infoDict, QVariant::fromValue<KZViewsToUpdateRef>(infoDict));
    if (foundItemsCntrl_)
        foundItemsCntrl_->updateEmptyFoldersAfterRemotion(removal);
    if (KZResultTabCntrl* cntrl = itemsTypeCntrl(KZTag::emptyFolders); cntrl && entry->needsUpdate())
        cntrl->updateRemovedInfoWithDict(entry);
}

void KZResultCntrl::itemsWereRestored(const QVariantMap& undo)
{
    std::shared_ptr<KZFoundItemsCntrl> model;
    {
        std::lock_guard guard(modelLock_);
        model = foundItemsCntrl_;
    }
    if (!model)
        return;
    // Shaped as the removal's own updates were, so that each item is
    // counted back in exactly the views it left.
    KZViewsToUpdate info;
    for (const auto& [tag, cntrl] : itemsTypeCntrls_)
        info[tag] = std::make_shared<KZViewToUpdate>();
    KZViewsToUpdate emptyFoldersInfo;
    if (itemsTypeCntrl(KZTag::emptyFolders))
        emptyFoldersInfo[KZTag::emptyFolders] = std::make_shared<KZViewToUpdate>();
    const KZFoundItemArray restored = KZFoundItemsOfVariant(undo.value(KZMarkingKey::removedItems));
    model->updateAfterRestore(restored, info, emptyFoldersInfo);
    // The counts run the other way, so the update that lowered the figures
    // raises them again.
    for (const KZViewsToUpdate* views : {&info, &emptyFoldersInfo}) {
        for (const auto& [tag, entry] : *views) {
            if (entry->needsUpdate())
                if (KZResultTabCntrl* cntrl = itemsTypeCntrl(tag))
                    cntrl->updateRemovedInfoWithDict(entry);
        }
    }
    // Folders found empty after a removal that the undo filled again are
    // empty no more: they leave their tab, lest a removal take them along
    // with what is back inside. A tab with nothing left to show or undo goes.
    if (itemsTypeCntrl(KZTag::emptyFolders) && model->dropEmptyFoldersRefilledBy(restored)) {
        KZResultTabStrip* strip = tabsView();
        if (model->emptyFoldersAreSpent() && strip)
            strip->removeTabWithTag(KZTag::emptyFolders);
        else
            center().post(KZNotification::emptyFoldersWereAdded,
                          platform::NotificationObject::number(static_cast<qint64>(KZTag::emptyFolders)));
    }
}

// ---- Empty-folders follow-up -------------------------------------------------------------------

std::shared_ptr<KZSearchController> KZResultCntrl::searchCntrl() const
{
    std::lock_guard guard(followUpsLock_);
    return followUps_.empty() ? nullptr : followUps_.back().searchCntrl;
}

std::shared_ptr<KZProgressControl> KZResultCntrl::progressCntrl() const
{
    std::lock_guard guard(followUpsLock_);
    return followUps_.empty() ? nullptr : followUps_.back().progressCntrl;
}

void KZResultCntrl::prepareToSearchForEmptyFolders(const QVariantList& folders)
{
    if (!resultWindowCntrl_)
        return;
    auto request = KZSearchStuff::searchStuff();
    request->globalExclusions();
    std::vector<KZSourceItemRef> sources = resultWindowCntrl_->emptyFoldersSourcesWithFolders(folders);
    // Every folder is gone already: there is nothing to look at.
    if (sources.empty())
        return;
    request->setSources(std::move(sources));
    request->createEmptyFoldersCriteria();

    auto progress = resultWindowCntrl_->createProgressWithoutInterface();
    const void* self = this;
    auto search = KZSearchController::create(request, self, progress);
    {
        // Registration and record in one step: the end of the last earlier
        // follow-up gives the registration up when it finds no follow-up left.
        std::lock_guard guard(followUpsLock_);
        // One registration serves every follow-up still running; each end is
        // told apart by its request.
        if (!followUpObservation_.isActive()) {
            followUpObservation_ = center().addObserver(
                KZNotification::searchDidTerminate, self,
                [this](const platform::Notification& note) { searchDidTerminate(note.userInfo); });
        }
        followUps_.push_back({request, search, progress});
    }
    search->startToSearch();
}

void KZResultCntrl::searchDidTerminate(const QVariantMap& userInfo)
{
    KZSetSearchInProgress(false);
    setupEmptyFolders(userInfo);

    const auto request = userInfo.value(Key::searchStuffItem).value<std::shared_ptr<KZSearchStuff>>();
    platform::Subscription done;
    {
        std::lock_guard guard(followUpsLock_);
        const auto ended = std::find_if(followUps_.begin(), followUps_.end(), [&request](const FollowUp& followUp) {
            return followUp.searchStuff == request;
        });
        // The search and its progress controller outlive this delivery: the
        // engine's thread that posted it still holds them.
        if (ended != followUps_.end())
            followUps_.erase(ended);
        if (followUps_.empty())
            done = std::move(followUpObservation_);
    }
    // Cancelled outside the lock: it waits for a delivery of another
    // follow-up's end, which takes the lock itself.
    done.cancel();
}

void KZResultCntrl::setupEmptyFolders(const QVariantMap& info)
{
    if (info.value(Key::foundItemsCount).toULongLong() == 0 || !foundItemsCntrl_)
        return;
    foundItemsCntrl_->doCreateEmptyFoldersList(info);

    // Tabs belong to the main thread. This runs on the engine's thread, and
    // the main thread may be waiting for this delivery to end (when the
    // result closes), so the tab work is queued rather than waited for.
    runOnMainIfAlive([this, info] {
        if (itemsTypeCntrl(KZTag::emptyFolders)) {
            center().post(KZNotification::emptyFoldersWereAdded,
                          platform::NotificationObject::number(static_cast<qint64>(KZTag::emptyFolders)));
            return;
        }
        setupTabs(info);
        QVariantMap tab = tabDictionary(KZTag::emptyFolders, info, false);
        tab.remove(Key::isEmptyFolders);
        createNewResultViewWithInfo(tab);
    });
}

// ---- Saving and the menu -----------------------------------------------------------------------

void KZResultCntrl::saveAsAction()
{
    // One save at a time: a second one would drop the first mid-way.
    if (saveCntrl_ || !resultWindowCntrl_)
        return;
    std::shared_ptr<KZResultSaving> saver = resultWindowCntrl_->createSaver();
    if (!saver)
        return;
    saveCntrl_ = saver;
    const void* self = this;
    savingObservation_ = center().addObserver(KZNotification::savingDidFinish, self,
                                              [this](const platform::Notification&) { savingDidFinish(); });

    std::map<quint64, KZResultTabCntrl*> tabs;
    for (const auto& [tag, cntrl] : itemsTypeCntrls_)
        tabs[tag] = cntrl.get();
    QVariantMap request = savableInfoDict_;
    request.insert(QStringLiteral("itemsTypeCntrls"), QVariant::fromValue(tabs));
    request.insert(QStringLiteral("window"), QVariant::fromValue(resultWindowCntrl_->window()));
    request.insert(QStringLiteral("sender"), QVariant::fromValue(this));
    request.insert(QStringLiteral("foundItemsCntrl"), QVariant::fromValue(foundItemsCntrl_));
    request.insert(Key::searchStuffItem, QVariant::fromValue(sources_));
    request.insert(QStringLiteral("tabsView"), QVariant::fromValue(tabsView()));
    request.insert(KZDefaultsKey::show_result_by_group,
                   platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group));
    saver->saveItemsWithDict(request);
}

void KZResultCntrl::savingDidFinish()
{
    savingObservation_.cancel();
    // The saver may be the one posting; it goes when its delivery returns.
    platform::runOnMain([saver = std::move(saveCntrl_)] {});
}

bool KZResultCntrl::validateMenuItem(qint64 fileMenuItemTag) const
{
    if (resultWindowCntrl_ && resultWindowCntrl_->aboutIsOpened())
        return false;
    if (fileMenuItemTag != 4)
        return true;
    if (!resultWindowCntrl_ || !resultWindowCntrl_->isWindowVisible() || !foundItemsCntrl_)
        return false;
    return !foundItemsCntrl_->allItems().isEmpty() || !foundItemsCntrl_->allEmptyFolders().value_or(KZFoundItemArray()).isEmpty();
}
