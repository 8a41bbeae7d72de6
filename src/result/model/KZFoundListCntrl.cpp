#include "result/model/KZFoundListCntrl.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZResultCntrl.h"
#include "result/model/KZThreadBudget.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

namespace {

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

platform::NotificationObject tagObject(quint64 tag)
{
    return platform::NotificationObject::number(static_cast<qint64>(tag));
}

QVariant number(quint64 value)
{
    return QVariant::fromValue<quint64>(value);
}

// The order of a list whose view has none: group after group, and within a
// group by source.
KZSortDescriptors defaultSortDescriptors()
{
    return {KZSortDescriptor(KZColumnKey::dupe_group_col, true), KZSortDescriptor(KZColumnKey::location_tag_col, true)};
}

} // namespace

// ---- Set-up ------------------------------------------------------------------------

KZFoundListCntrl::KZFoundListCntrl(Settings settings)
    : tabTag_(settings.fileType ? settings.fileType->tag() : 0)
    , fileTypeItem_(std::move(settings.fileType))
    , sources_(std::move(settings.sources))
    , resultCntrl_(settings.resultCntrl)
    , host_(settings.host)
    , outline_(std::move(settings.outline))
    , showResultByGroup_(std::move(settings.showResultByGroup))
    , foundItemsCntrl_(std::move(settings.foundItemsCntrl))
    , currentTag_(tabTag_)
    , queue_(QStringLiteral("KZFoundListOperationQueue"))
{
    if (!showResultByGroup_) {
        showResultByGroup_ = [] {
            return platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group);
        };
    }
    // The view's order is read here, on the main thread, and handed to the
    // workers as a value from then on.
    if (outline_)
        viewDescriptors_ = outline_->sortDescriptors();

    startObservation_ = center().addObserver(
        KZNotification::startToShowItems, platform::bundleIdentifier(), [this](const platform::Notification& note) {
            startToShowItems(
                note.userInfo.value(QStringLiteral("foundItemsCntrl")).value<std::shared_ptr<KZFoundItemsCntrl>>());
        });

    const platform::NotificationObject tab = tagObject(tabTag_);
    auto observe = [this](const QString& name, const platform::NotificationObject& object,
                          platform::NotificationCenter::Callback callback) {
        observations_.push_back(center().addObserver(name, object, std::move(callback)));
    };
    observe(KZNotification::sourceSelectionDidChange, tab,
            [this](const platform::Notification& note) { whenOnMain([this, info = note.userInfo] { sourceSelectionDidChange(info); }); });
    if (host_ && host_->resultView()) {
        const void* view = host_->resultView();
        observe(KZNotification::superviewWillHide, view, [this](const platform::Notification&) { superviewWillHide(); });
        observe(KZNotification::superviewDidHide, view, [this](const platform::Notification&) { superviewDidHide(); });
        observe(KZNotification::superviewDidUnhide, view,
                [this](const platform::Notification&) { superviewDidUnhide(); });
    }
    observe(KZNotification::expandItems, tab,
            [this](const platform::Notification& note) { whenOnMain([this, info = note.userInfo] { expandItems(info); }); });
    observe(KZNotification::showByGroup, platform::bundleIdentifier(),
            [this](const platform::Notification&) { whenOnMain([this] { showByGroup(); }); });
    observe(KZNotification::sortList, tab, [this](const platform::Notification& note) {
        whenOnMain([this, request = note.userInfo] { sortListWithDictionary(request); });
    });
    observe(KZNotification::removeButtonDidClick, platform::bundleIdentifier(),
            [this](const platform::Notification&) { whenOnMain([this] { removeButtonDidClick(); }); });
    observe(KZNotification::searchInFoundList, platform::bundleIdentifier(), [this](const platform::Notification& note) {
        whenOnMain([this, info = note.userInfo] { searchInFoundList(info); });
    });

    initialize();
}

KZFoundListCntrl::~KZFoundListCntrl()
{
    // Registrations first (a delivery running elsewhere is waited for), then
    // the workers: a budget wait is woken, and nothing they queue for the
    // main thread runs once alive_ is gone.
    startObservation_.cancel();
    emptyFoldersObservation_.cancel();
    observations_.clear();
    removedObservation_.cancel();
    panelClosedObservation_.cancel();
    exportObservation_.cancel();
    cancelled_.store(true);
    KZThreadBudget::budgetDidChange();
    alive_.reset();
    queue_.waitUntilAllOperationsAreFinished();
}

void KZFoundListCntrl::runOnMainIfAlive(std::function<void()> work) const
{
    platform::runOnMain([alive = aliveToken_, work = std::move(work)] {
        if (alive.lock())
            work();
    });
}

void KZFoundListCntrl::whenOnMain(std::function<void()> work) const
{
    if (platform::isMainThread())
        work();
    else
        runOnMainIfAlive(std::move(work));
}

std::shared_ptr<KZFoundItemsCntrl> KZFoundListCntrl::foundItemsCntrl() const
{
    std::lock_guard guard(modelLock_);
    return foundItemsCntrl_;
}

void KZFoundListCntrl::setFoundItemsCntrl(const std::shared_ptr<KZFoundItemsCntrl>& model)
{
    std::lock_guard guard(modelLock_);
    foundItemsCntrl_ = model;
}

bool KZFoundListCntrl::isVisible() const
{
    return host_ && !host_->isResultViewHidden();
}

void KZFoundListCntrl::waitUntilIdle()
{
    queue_.waitUntilAllOperationsAreFinished();
}

// ---- Storage -----------------------------------------------------------------------

std::optional<KZFoundListCntrl::StoredList> KZFoundListCntrl::storedEntry(quint64 tag) const
{
    std::lock_guard guard(foundItemsLock_);
    const auto found = foundItemsByTag_.find(tag);
    if (found == foundItemsByTag_.end())
        return std::nullopt;
    return found->second;
}

bool KZFoundListCntrl::storeList(quint64 tag, std::optional<KZShownList> list,
                                 std::optional<KZSortDescriptors> descriptors,
                                 std::optional<quint64> expectedGeneration)
{
    std::lock_guard guard(foundItemsLock_);
    const auto found = foundItemsByTag_.find(tag);
    if (expectedGeneration) {
        const quint64 present = found == foundItemsByTag_.end() ? 0 : found->second.generation;
        if (present != *expectedGeneration)
            return false;
    }
    if (list)
        foundItemsByTag_[tag] = StoredList{std::move(*list), nextGeneration_.fetch_add(1)};
    else if (found != foundItemsByTag_.end())
        foundItemsByTag_.erase(found);
    if (descriptors)
        sortDescriptorsByTag_[tag] = std::move(*descriptors);
    return true;
}

void KZFoundListCntrl::bumpGeneration(quint64 tag)
{
    std::lock_guard guard(foundItemsLock_);
    if (const auto found = foundItemsByTag_.find(tag); found != foundItemsByTag_.end())
        found->second.generation = nextGeneration_.fetch_add(1);
}

KZSortDescriptors KZFoundListCntrl::viewDescriptors() const
{
    std::lock_guard guard(foundItemsLock_);
    return viewDescriptors_;
}

void KZFoundListCntrl::setViewDescriptors(const KZSortDescriptors& descriptors)
{
    {
        std::lock_guard guard(foundItemsLock_);
        viewDescriptors_ = descriptors;
    }
    if (outline_)
        outline_->setSortDescriptors(descriptors);
}

std::optional<KZShownList> KZFoundListCntrl::listWithTag(quint64 tag) const
{
    if (auto entry = storedEntry(tag))
        return std::move(entry->list);
    return std::nullopt;
}

KZSortDescriptors KZFoundListCntrl::sortDescriptorsWithTag(quint64 tag) const
{
    std::lock_guard guard(foundItemsLock_);
    const auto found = sortDescriptorsByTag_.find(tag);
    return found == sortDescriptorsByTag_.end() ? KZSortDescriptors() : found->second;
}

QList<quint64> KZFoundListCntrl::listTags() const
{
    std::lock_guard guard(foundItemsLock_);
    QList<quint64> tags;
    for (const auto& [tag, entry] : foundItemsByTag_)
        tags.append(tag);
    return tags;
}

KZShownList KZFoundListCntrl::currentArray() const
{
    return listWithTag(currentTag_.load()).value_or(KZShownList());
}

KZFoundItemArray KZFoundListCntrl::itemsWithTag(quint64 tag) const
{
    const auto list = listWithTag(tag);
    return list ? list->flattened() : KZFoundItemArray();
}

// ---- Building ----------------------------------------------------------------------

void KZFoundListCntrl::initialize()
{
    currentTag_.store(tabTag_);
    if (outline_ && fileTypeItem_)
        outline_->setItemsCount(fileTypeItem_->filesCount());
    if (tabTag_ != KZTag::emptyFolders) {
        setupShowByGroup();
        return;
    }
    // The empty-folders tab is made after its folders were found, so it
    // builds at once and then follows the folders that later searches add.
    if (!foundItemsCntrl() && resultCntrl_)
        setFoundItemsCntrl(resultCntrl_->foundItemsCntrl());
    started_.store(true);
    startObservation_.cancel();
    emptyFoldersObservation_ = center().addObserver(
        KZNotification::emptyFoldersWereAdded, tagObject(KZTag::emptyFolders),
        [this](const platform::Notification&) { emptyFoldersWereAdded(); });
    initializeFoundItemsVariables(true);
}

void KZFoundListCntrl::setupShowByGroup()
{
    // The empty-folders tab is always a flat list of folders.
    if (tabTag_ == KZTag::emptyFolders)
        return;
    const bool grouped = showResultByGroup_();
    if (grouped == shownByGroup_.load())
        return;
    shownByGroup_.store(grouped);
    if (outline_) {
        outline_->setupShowByGroup(grouped);
        outline_->setEmptyPreview();
    }
    setupForGroup(grouped);
}

void KZFoundListCntrl::showByGroup()
{
    if (host_)
        host_->setSelectionInfo(QString());
    setupShowByGroup();
}

void KZFoundListCntrl::startToShowItems(const std::shared_ptr<KZFoundItemsCntrl>& model)
{
    // Every result's model posts with the same object; a model of another
    // result, or a second post, must not start this tab again.
    if (!model || started_.exchange(true))
        return;
    setFoundItemsCntrl(model);
    initializeFoundItemsVariables(true);
}

QList<quint64> KZFoundListCntrl::tagsToBuild() const
{
    QList<quint64> tags{tabTag_};
    if (sources_.size() > 1) {
        for (const KZSourceItemRef& source : sources_)
            tags.append(KZResultCntrl::itemLocationTagWithLocationTag(source->locationLabelTag()));
    }
    tags.append(KZResultCntrl::itemMarkedTagWithOwnerTag(tabTag_));
    return tags;
}

void KZFoundListCntrl::initializeFoundItemsVariables(bool announceReady)
{
    const QList<quint64> tags = tagsToBuild();
    announceReady_.store(announceReady);
    itemsArrayToCreate_.store(static_cast<qint16>(tags.size()));
    {
        std::lock_guard guard(foundItemsLock_);
        foundItemsByTag_.clear();
    }
    // The budget wait must not hold up the thread that asked (the main
    // thread on the empty-folders tab), so one operation starts the workers.
    queue_.addOperation([this, tags] {
        for (const quint64 tag : tags) {
            if (!KZThreadBudget::waitUntilNewThreadIsAvailable(cancelled_))
                return;
            KZChangeRunningThreadsCount(true);
            queue_.addOperation([this, tag] { itemsByTag(tag); });
        }
    });
}

KZFoundListCntrl::Built KZFoundListCntrl::buildList(const std::shared_ptr<KZFoundItemsCntrl>& model, quint64 tag,
                                                    bool grouped, const KZSortDescriptors& descriptors) const
{
    Built built;
    if (!model)
        return built;
    quint64 size = 0;
    const KZFoundItemArray items = model->itemsByTag(tag, tabTag_, &size);
    if (items.isEmpty())
        return built;
    built.info.size = size;
    built.info.count = static_cast<quint64>(items.size());
    const KZFoundItemsCntrl::MarkedTotals marked = model->markedCountWithArray(items);
    built.info.markedCount = marked.markedCount;
    built.info.markedSize = marked.markedSize;
    if (grouped) {
        KZFoundItemGroupRef root = model->setupItemsByGroupForItems(items, true);
        if (!descriptors.isEmpty())
            root = model->sortedGroupWithArray(root, descriptors, true);
        built.list = KZShownList::grouped(std::move(root));
    } else {
        built.list = KZShownList::flat(descriptors.isEmpty() ? items
                                                             : model->sortedGroupWithArray(items, descriptors, true));
    }
    return built;
}

KZFoundListCntrl::ListInfo KZFoundListCntrl::gatherItemsByTag(quint64 tag)
{
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    for (;;) {
        const KZSortDescriptors view = viewDescriptors();
        const KZSortDescriptors used = view.isEmpty() ? defaultSortDescriptors() : view;
        const bool grouped = shownByGroup_.load();
        Built built = buildList(model, tag, grouped, view);
        std::lock_guard guard(foundItemsLock_);
        // Switched between grouped and flat meanwhile: every stored list
        // must have the present shape, so build again.
        if (grouped != shownByGroup_.load())
            continue;
        storeList(tag, std::move(built.list), used);
        return built.info;
    }
}

void KZFoundListCntrl::postUpdateInfo(quint64 tag, const ListInfo& info) const
{
    center().post(KZNotification::updateInfo, tagObject(tabTag_),
                  {{QStringLiteral("itemsToManageTag"), number(tag)},
                   {QStringLiteral("size"), number(info.size)},
                   {QStringLiteral("count"), number(info.count)},
                   {QStringLiteral("markedCount"), number(info.markedCount)},
                   {QStringLiteral("markedSize"), number(info.markedSize)}});
}

void KZFoundListCntrl::itemsByTag(quint64 tag)
{
    ListInfo info = gatherItemsByTag(tag);
    // An ordinary tab's own list shows the label's total, which the tab
    // strip also shows.
    if (tabTag_ < KZTag::specialTabsStart && tag < KZTag::specialTabsStart && fileTypeItem_)
        info.size = fileTypeItem_->size();
    postUpdateInfo(tag, info);
    KZChangeRunningThreadsCount(false);
    itemsArrayDidCreate();

    qint16 pending = updatedArray_.load();
    while (pending > 0 && !updatedArray_.compare_exchange_weak(pending, static_cast<qint16>(pending - 1))) {
    }
    if (pending == 1)
        runOnMainIfAlive([this] {
            if (isVisible())
                updateListWithNewType();
        });
}

void KZFoundListCntrl::itemsArrayDidCreate()
{
    // The worker that takes the count to 0 is the only one to announce the
    // lists; readyPosted_ keeps a later rebuild from announcing again.
    if (itemsArrayToCreate_.fetch_sub(1) != 1)
        return;
    if (!announceReady_.load() || readyPosted_.exchange(true))
        return;
    const void* object = resultCntrl_;
    center().post(KZNotification::KZListsReadyToShow, object, {{QStringLiteral("tag"), number(tabTag_)}});
}

void KZFoundListCntrl::setupForGroup(bool grouped)
{
    // Flattening reads the groups, which belong to this thread; the work
    // on whole lists happens on a worker.
    struct Job {
        quint64 tag;
        quint64 generation;
        KZFoundItemArray items;
    };
    std::vector<Job> jobs;
    {
        std::lock_guard guard(foundItemsLock_);
        for (const auto& [tag, entry] : foundItemsByTag_)
            jobs.push_back({tag, entry.generation, entry.list.flattened()});
    }
    if (jobs.empty())
        return;
    queue_.addOperation([this, grouped, jobs = std::move(jobs)] {
        const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
        if (!model)
            return;
        for (const Job& job : jobs) {
            KZShownList list = grouped ? KZShownList::grouped(model->setupItemsByGroupForItems(job.items, false))
                                       : KZShownList::flat(job.items);
            if (!storeList(job.tag, std::move(list), std::nullopt, job.generation))
                continue;
            if (job.tag == currentTag_.load())
                runOnMainIfAlive([this] {
                    if (isVisible())
                        updateList(true);
                });
        }
    });
}

void KZFoundListCntrl::updateList(bool restoreScroll)
{
    if (!isVisible()) {
        // A hidden tab's outline holds no rows.
        if (!currArray_)
            return;
        currArray_.reset();
    } else {
        currArray_ = currentArray();
    }
    if (!outline_)
        return;
    KZListHandOff data;
    data.currSelectedTag = currentTag_.load();
    data.restoreScroll = restoreScroll;
    data.searchStoppeByUser = searchStoppeByUser_;
    data.currArray = currArray_;
    outline_->showNewData(data);
}

void KZFoundListCntrl::sourceSelectionDidChange(const QVariantMap& userInfo)
{
    if (outline_)
        outline_->setItemsCount(userInfo.value(QStringLiteral("itemsCount")).toULongLong());
    if (host_)
        host_->setSelectionInfo(QString());
    if (missingMembersWasAdded_)
        removeExtraneousItems();
    const quint64 leaving = currentTag_.load();
    const KZSortDescriptors shown = outline_ ? outline_->sortDescriptors() : viewDescriptors();
    {
        std::lock_guard guard(foundItemsLock_);
        sortDescriptorsByTag_[leaving] = shown;
    }
    const quint64 tag = userInfo.value(QStringLiteral("tag")).toULongLong();
    currentTag_.store(tag);
    searchStoppeByUser_ = userInfo.value(QStringLiteral("searchStoppeByUser")).toBool();
    if (outline_) {
        outline_->setSearchStoppeByUser(searchStoppeByUser_);
        outline_->setEmptyPreview();
    }
    updateList(true);
    setViewDescriptors(sortDescriptorsWithTag(tag));
}

void KZFoundListCntrl::superviewWillHide()
{
    if (!outline_)
        return;
    outline_->saveLastVisbleItem();
    outline_->setEmptyPreview();
}

void KZFoundListCntrl::superviewDidHide()
{
    updateList(false);
    if (outline_)
        outline_->changeMenuItemsTarget(true);
    changeResultMenuItemsTarget(true);
}

void KZFoundListCntrl::superviewDidUnhide()
{
    if (host_) {
        host_->setSelectionInfo(QString());
        const QString title = platform::localizedString(QStringLiteral("remove_button_title"))
                                  .replace(QStringLiteral("%@"), fileTypeItem_ ? fileTypeItem_->removeBtnTitle() : QString());
        host_->setRemoveButtonTitle(title);
    }
    updateList(false);
    if (outline_) {
        outline_->updateQuickLookPanelDelegate();
        outline_->changeMenuItemsTarget(false);
    }
    changeResultMenuItemsTarget(false);
}

void KZFoundListCntrl::expandItems(const QVariantMap& userInfo)
{
    if (shownByGroup_.load() && outline_)
        outline_->expandAllGroups(userInfo.value(QStringLiteral("tag")).toLongLong() == 4);
}

void KZFoundListCntrl::updateFilesList(const std::shared_ptr<KZFoundItemsCntrl>& model)
{
    // Every list of the tab, also those that were empty before the change.
    const QList<quint64> tags = tagsToBuild();
    if (!foundItemsCntrl()) {
        // Made after the result was set up: this is the first build, and the
        // result was announced ready without this tab.
        setFoundItemsCntrl(model);
        started_.store(true);
        startObservation_.cancel();
        updatedArray_.store(static_cast<qint16>(tags.size()));
        initializeFoundItemsVariables(false);
        return;
    }
    updatedArray_.store(static_cast<qint16>(tags.size()));
    itemsArrayToCreate_.fetch_add(static_cast<qint16>(tags.size()));
    // A refresh obeys the thread budget like the first build.
    queue_.addOperation([this, tags] {
        for (const quint64 tag : tags) {
            if (!KZThreadBudget::waitUntilNewThreadIsAvailable(cancelled_))
                return;
            KZChangeRunningThreadsCount(true);
            queue_.addOperation([this, tag] { itemsByTag(tag); });
        }
    });
}

void KZFoundListCntrl::updateListWithNewType()
{
    updateList(false);
}

void KZFoundListCntrl::emptyFoldersWereAdded()
{
    queue_.addOperation([this] {
        for (const quint64 tag : tagsToBuild()) {
            ListInfo info = gatherItemsByTag(tag);
            if (tag == currentTag_.load())
                runOnMainIfAlive([this, count = info.count] {
                    if (outline_)
                        outline_->setItemsCount(count);
                });
            info.size = 0;
            postUpdateInfo(tag, info);
        }
        runOnMainIfAlive([this] { updateList(false); });
    });
}
