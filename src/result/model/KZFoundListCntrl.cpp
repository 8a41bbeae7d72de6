#include "result/model/KZFoundListCntrl.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZColumnKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZResultCntrl.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

namespace {

// The result menu's items that act on the visible tab.
constexpr qint64 kRemoveItem = 1;
constexpr qint64 kExportItem = 2;
constexpr qint64 kMarkItem = 102;

platform::NotificationCenter& center()
{
    return platform::NotificationCenter::defaultCenter();
}

platform::NotificationObject tagObject(quint64 tag)
{
    return platform::NotificationObject::number(static_cast<qint64>(tag));
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
    , context_{.tabTag = tabTag_,
               .fileType = fileTypeItem_,
               .sources = sources_,
               .resultCntrl = resultCntrl_,
               .host = host_,
               .outline = outline_.get(),
               .store = &store_,
               .workers = &workers_,
               .model = [this] { return foundItemsCntrl(); },
               .currentTag = [this] { return currentTag_.load(); },
               .isVisible = [this] { return isVisible(); },
               .shownByGroup = [this] { return shownByGroup_.load(); },
               .showList = [this](bool restoreScroll) { updateList(restoreScroll); }}
    , builder_(context_)
    , sorter_(context_, [this] { updateList(false); })
    , finder_(context_)
    , removal_(context_)
    , export_(context_, QVariant::fromValue(this), this)
    , marks_(context_)
    , missingMembers_(context_)
    , savedState_(
          context_, [this](const QVariantMap& request) { sortListWithDictionary(request); },
          [this](const KZSortDescriptors& descriptors) { setViewDescriptors(descriptors); })
    , workers_(QStringLiteral("KZFoundListOperationQueue"))
{
    if (!showResultByGroup_) {
        showResultByGroup_ = [] {
            return platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group);
        };
    }
    // The view's order is read here, on the main thread, and handed to the
    // workers as a value from then on.
    if (outline_)
        store_.setViewDescriptors(outline_->sortDescriptors());

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
            [this](const platform::Notification& note) { workers_.onMain([this, info = note.userInfo] { sourceSelectionDidChange(info); }); });
    if (host_ && host_->resultView()) {
        const void* view = host_->resultView();
        observe(KZNotification::superviewWillHide, view, [this](const platform::Notification&) { superviewWillHide(); });
        observe(KZNotification::superviewDidHide, view, [this](const platform::Notification&) { superviewDidHide(); });
        observe(KZNotification::superviewDidUnhide, view,
                [this](const platform::Notification&) { superviewDidUnhide(); });
    }
    observe(KZNotification::expandItems, tab,
            [this](const platform::Notification& note) { workers_.onMain([this, info = note.userInfo] { expandItems(info); }); });
    observe(KZNotification::showByGroup, platform::bundleIdentifier(),
            [this](const platform::Notification&) { workers_.onMain([this] { showByGroup(); }); });
    observe(KZNotification::sortList, tab, [this](const platform::Notification& note) {
        workers_.onMain([this, request = note.userInfo] { sortListWithDictionary(request); });
    });
    observe(KZNotification::removeButtonDidClick, platform::bundleIdentifier(),
            [this](const platform::Notification&) { workers_.onMain([this] { removeButtonDidClick(); }); });
    observe(KZNotification::searchInFoundList, platform::bundleIdentifier(), [this](const platform::Notification& note) {
        workers_.onMain([this, info = note.userInfo] { searchInFoundList(info); });
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
    removal_.stopObserving();
    export_.stopObserving();
    workers_.stop();

    // Freeing a large result (its items, and the groups of every list) takes
    // the better part of a second: the window that lets it go, often to show
    // the next result, must not wait for that. What the lists hold is kept
    // until everything else that holds it has gone with the window, then let
    // go on a worker.
    struct Held {
        std::vector<KZShownList> lists;
        KZFoundItemArray items;
        std::optional<KZFoundItemArray> emptyFolders;
    };
    auto held = std::make_shared<Held>();
    for (auto& [tag, entry] : store_.entries())
        held->lists.push_back(std::move(entry.list));
    if (currArray_)
        held->lists.push_back(std::move(*currArray_));
    if (const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl()) {
        held->items = model->allItems();
        held->emptyFolders = model->allEmptyFolders();
    }
    platform::runOnMain([held = std::move(held)]() mutable {
        KZFoundItemFactsQueue().addOperation([held = std::move(held)]() mutable { held.reset(); });
    });
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
    workers_.waitUntilIdle();
}

// ---- Storage -----------------------------------------------------------------------

void KZFoundListCntrl::setViewDescriptors(const KZSortDescriptors& descriptors)
{
    store_.setViewDescriptors(descriptors);
    if (outline_)
        outline_->setSortDescriptors(descriptors);
}

std::optional<KZShownList> KZFoundListCntrl::listWithTag(quint64 tag) const
{
    return store_.list(tag);
}

KZSortDescriptors KZFoundListCntrl::sortDescriptorsWithTag(quint64 tag) const
{
    return store_.sortDescriptors(tag);
}

QList<quint64> KZFoundListCntrl::listTags() const
{
    return store_.tags();
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

void KZFoundListCntrl::initializeFoundItemsVariables(bool announceReady)
{
    builder_.buildAll(announceReady);
}

void KZFoundListCntrl::setupForGroup(bool grouped)
{
    builder_.regroup(grouped);
}

void KZFoundListCntrl::updateList(bool restoreScroll)
{
    if (!isVisible()) {
        // A hidden tab's outline holds no rows.
        if (!currArray_) {
            // A source row chosen meanwhile (a reopened result's saved row)
            // waits for nothing: its list is handed over when the tab shows,
            // and its row must not spin until then, or for good.
            if (restoreScroll) {
                const quint64 tag = currentTag_.load();
                center().post(KZNotification::KZStopProgressIndicator,
                              platform::NotificationObject::number(static_cast<qint64>(tag)),
                              {{QStringLiteral("tag"), QVariant::fromValue(tag)}});
            }
            return;
        }
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
    if (missingMembers_.wereAdded())
        removeExtraneousItems();
    const quint64 leaving = currentTag_.load();
    store_.setSortDescriptors(leaving, outline_ ? outline_->sortDescriptors() : store_.viewDescriptors());
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
    if (!foundItemsCntrl()) {
        // Made after the result was set up: this is the first build, and the
        // result was announced ready without this tab.
        setFoundItemsCntrl(model);
        started_.store(true);
        startObservation_.cancel();
        builder_.buildAll(false, true);
        return;
    }
    // A refresh obeys the thread budget like the first build.
    builder_.rebuildAll();
}

void KZFoundListCntrl::updateListWithNewType()
{
    updateList(false);
}

void KZFoundListCntrl::emptyFoldersWereAdded()
{
    builder_.refreshEmptyFolders();
}

// ---- Sorting and finding ------------------------------------------------------------------

void KZFoundListCntrl::sortListWithDictionary(const QVariantMap& request)
{
    sorter_.sortWithRequest(request);
}

void KZFoundListCntrl::searchInFoundList(const QVariantMap& userInfo)
{
    if (!isVisible())
        return;
    const QString text = userInfo.value(QStringLiteral("string")).toString();
    if (!text.isEmpty())
        finder_.find(text, currentArray());
}

// ---- Marks and missing members ------------------------------------------------------------

std::optional<QVariantMap> KZFoundListCntrl::undoInfoToRegisterWithDict(QVariantMap& request) const
{
    return marks_.undoInfoToRegisterWithDict(request);
}

QVariantMap KZFoundListCntrl::redoInfoToRegisterWithDict(const QVariantMap& request) const
{
    return marks_.redoInfoToRegisterWithDict(request);
}

void KZFoundListCntrl::saveCurrentConfiguration(const QVariantMap&)
{
    if (!outline_)
        return;
    outline_->getInfoOfSelectedItemsWithArray(currentArray(), currentTag_.load());
}

void KZFoundListCntrl::updateMarkedInfo(const KZMarkedInfoUpdate& info)
{
    marks_.updateMarkedInfo(info);
}

bool KZFoundListCntrl::isLastItemToMark(const KZFoundItemRef& item) const
{
    const std::shared_ptr<KZFoundItemsCntrl> model = foundItemsCntrl();
    return model && model->isLastItemToMark(item);
}

void KZFoundListCntrl::showMissingMembers(const KZGroupOptionRequest& request)
{
    missingMembers_.show(request);
}

void KZFoundListCntrl::removeExtraneousItems()
{
    missingMembers_.removeExtraneous();
}

void KZFoundListCntrl::revealGroup(const KZFoundItemRef& item)
{
    missingMembers_.revealGroup(item);
}

// ---- Removal, export and the result menu --------------------------------------------------

void KZFoundListCntrl::removeButtonDidClick()
{
    if (isVisible())
        prepareRemotion();
}

void KZFoundListCntrl::prepareRemotion()
{
    removal_.prepareRemotion();
}

void KZFoundListCntrl::itemsDidRemove(const QVariantMap& userInfo)
{
    removal_.itemsDidRemove(userInfo);
}

void KZFoundListCntrl::removePanelDidClose()
{
    removal_.removePanelDidClose();
}

std::optional<QVariantList> KZFoundListCntrl::menuItemTagsForTag(quint64 tag) const
{
    if (!shownByGroup_.load())
        return std::nullopt;
    const auto list = listWithTag(tag);
    if (!list || !list->isGrouped())
        return std::nullopt;
    QVariantList tags;
    for (const KZFoundItemGroupRef& group : list->root->groups())
        tags.append(QVariantMap{{QStringLiteral("groupID"), group->groupID()},
                                {QStringLiteral("markedMenuItem"), group->markedMenuItem()}});
    return tags;
}

void KZFoundListCntrl::updateMenuItemsTags(const QVariantList& tags, const KZShownList& list)
{
    if (!list.isGrouped())
        return;
    QHash<qint64, KZFoundItemGroupRef> byID;
    for (const KZFoundItemGroupRef& group : list.root->groups())
        byID.insert(group->groupID(), group);
    for (const QVariant& entry : tags) {
        const QVariantMap tag = entry.toMap();
        if (const KZFoundItemGroupRef group = byID.value(tag.value(QStringLiteral("groupID")).toLongLong()))
            group->setMarkedMenuItem(tag.value(QStringLiteral("markedMenuItem")).toLongLong());
    }
}

void KZFoundListCntrl::updateRemovedInfo()
{
    // The rule tags live in groups, which this thread owns: noted here, put
    // back here once the new lists are in.
    std::map<quint64, QVariantList> menuTags;
    for (const quint64 tag : listTags()) {
        if (auto tags = menuItemTagsForTag(tag))
            menuTags[tag] = std::move(*tags);
    }
    workers_.add([this, menuTags] {
        std::map<quint64, quint64> counts;
        for (const quint64 tag : builder_.tagsToBuild())
            counts[tag] = builder_.gather(tag).count;
        workers_.onMainLater([this, menuTags, counts] {
            for (const auto& [tag, tags] : menuTags) {
                if (const auto list = listWithTag(tag))
                    updateMenuItemsTags(tags, *list);
            }
            if (outline_) {
                if (const auto count = counts.find(currentTag_.load()); count != counts.end())
                    outline_->setItemsCount(count->second);
            }
            if (!isVisible())
                return;
            if (outline_)
                outline_->resetSelectionState();
            updateList(false);
        });
    });
}

void KZFoundListCntrl::saveSelectedItems()
{
    if (isVisible() && outline_)
        outline_->getInfoOfSelectedItemsWithArray(currentArray(), currentTag_.load());
}

void KZFoundListCntrl::reloadListView()
{
    workers_.onMainLater([this] { updateList(true); });
}

void KZFoundListCntrl::exportResult()
{
    export_.exportResult();
}

void KZFoundListCntrl::exportingDidFinish()
{
    export_.exportingDidFinish();
}

// ---- The result menu ---------------------------------------------------------------------

void KZFoundListCntrl::changeResultMenuItemsTarget(bool release)
{
    KZResultMenu* menu = host_ ? host_->resultMenu() : nullptr;
    if (!menu)
        return;
    if (release) {
        menu->setItemAction(kRemoveItem, {});
        menu->setItemAction(kExportItem, {});
        return;
    }
    menu->setItemAction(kRemoveItem, [this] { prepareRemotion(); });
    menu->setItemAction(kExportItem, [this] { exportResult(); });
}

bool KZFoundListCntrl::validateMenuItem(qint64 tag, bool inResultMenu) const
{
    if (host_ && host_->aboutIsOpened())
        return false;
    if (!inResultMenu)
        return true;
    if (!host_ || !host_->isWindowVisible())
        return false;
    if (tag == kExportItem)
        return true;
    if (tag == kMarkItem)
        return outline_ && outline_->checkForSelectionWithTag(kMarkItem);
    return true;
}

void KZFoundListCntrl::menuNeedsUpdate()
{
    KZResultMenu* menu = host_ ? host_->resultMenu() : nullptr;
    if (!menu || !isVisible())
        return;
    // Without a selection the mark item keeps the title it had.
    if (const QString mark = outline_ ? outline_->markedMenuItemTitle() : QString(); !mark.isEmpty())
        menu->setItemTitle(kMarkItem, mark);
    menu->setItemTitle(kRemoveItem, context_.withTabName(QStringLiteral("remove_button_title")));
    menu->setItemTitle(kExportItem, context_.withTabName(QStringLiteral("export_menu_title")));
}
