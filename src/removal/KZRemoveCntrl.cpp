#include "removal/KZRemoveCntrl.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "removal/KZRemove.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZResultCntrl.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZDefaultsKeys.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <string>
#include <unordered_set>

namespace {

constexpr quint64 kEmptyFoldersTag = 100000000002ULL;
constexpr double kRefreshInterval = 0.1;
constexpr auto kClockPeriod = std::chrono::milliseconds(16);

const QString kRemovingStatus = QStringLiteral("removingProcessDidChangeStatus");

// Shared by every panel, unbounded: one gathering never waits for another.
platform::OperationQueue& gatheringQueue()
{
    static platform::OperationQueue queue(QStringLiteral("removal.emptyFolders"));
    return queue;
}

} // namespace

bool KZRemoveStartEnabled(int startTag, bool hasDestination, bool onlyTagged)
{
    return startTag == KZRemoveAction::trash || hasDestination || onlyTagged;
}

bool KZRemoveSourcesAreOnlyPhotos(const std::vector<KZSourceItemRef>& sources)
{
    if (sources.empty())
        return false;
    for (const KZSourceItemRef& source : sources) {
        if (!source || !source->isPhotosLib())
            return false;
    }
    return true;
}

KZRemoveProgressFigures KZRemoveProgressOf(quint64 totToManage, quint64 managedCount, quint64 totToCheck,
                                           quint64 checkedCount)
{
    KZRemoveProgressFigures figures;
    figures.total = totToManage != 0 ? totToManage : totToCheck;
    figures.done = totToManage != 0 ? managedCount : checkedCount;
    if (figures.total != 0)
        figures.percent = static_cast<double>(figures.done) / static_cast<double>(figures.total) * 100.0;
    return figures;
}

std::vector<KZRemovalPanel::FolderToCheck> KZRemoveUniqueFolders(
    const std::vector<KZRemovalPanel::FolderToCheck>& folders)
{
    // A removal of thousands of items from a few folders must not cost the
    // square of the item count.
    std::unordered_set<std::string> seen;
    std::vector<KZRemovalPanel::FolderToCheck> unique;
    for (const KZRemovalPanel::FolderToCheck& folder : folders) {
        std::filesystem::path key = folder.url.lexically_normal();
        if (key.filename().empty() && key.has_relative_path())
            key = key.parent_path(); // "/a/" and "/a" are one folder
        if (seen.insert(key.string()).second)
            unique.push_back(folder);
    }
    return unique;
}

std::shared_ptr<KZRemoveCntrl> KZRemoveCntrl::create(const QVariantMap& request, std::shared_ptr<KZRemoveView> view)
{
    return std::shared_ptr<KZRemoveCntrl>(new KZRemoveCntrl(request, std::move(view)));
}

KZRemoveCntrl::KZRemoveCntrl(const QVariantMap& request, std::shared_ptr<KZRemoveView> view)
    : view_(std::move(view))
{
    itemsToRemove = KZFoundItemsOfVariant(request.value(QStringLiteral("itemsToRemove")));
    totSize_ = request.value(QStringLiteral("size")).value<quint64>();
    const auto model = request.value(QStringLiteral("foundItemsCntrl")).value<std::shared_ptr<KZFoundItemsCntrl>>();
    foundItemsCntrl_ = model;
    foundItemsObject_ = model.get();
    isEmptyFolders = request.value(QStringLiteral("isEmptyFolders")).toBool();
    itemsArefiles = request.value(QStringLiteral("areFiles"), true).toBool();
    sources_ = request.value(QStringLiteral("KZResultSearchSources")).value<std::vector<KZSourceItemRef>>();
    ownerTag_ = request.value(QStringLiteral("ownerTag")).value<quint64>();
    viewsToDisable_ = request.value(QStringLiteral("viewsToDisable")).toList();
    if (model) {
        isPhotosSearch_ = model->isPhotosSearch();
        isiTunesSearch_ = model->isiTunesSearch();
        mastersAlias = model->masterForAliasArrayWithArray(itemsToRemove);
        resultItems = model->allItems();
    }
    isOnlyPhotos = KZRemoveSourcesAreOnlyPhotos(sources_);
    needsDestination_ = !isOnlyPhotos;
    for (const KZFoundItemRef& item : itemsToRemove) {
        needsDestination_ = needsDestination_ || !item || !item->isPhotosItem();
        // The progress must not count on a track that cannot leave.
        if (item && item->isiTunesItem() && !item->isPhotosItem()) {
            ++musicItemsKept_;
            totSize_ -= std::min(totSize_, item->size());
        }
        if (item && item->isPhotosItem())
            ++photosItemsKept_;
    }
    for (const KZSourceItemRef& source : sources_)
        if (source && source->isPhotosLib())
            photosLibraries.push_back(source->path());
    if (KZResultCntrl* result = request.value(QStringLiteral("resultCntrl")).value<KZResultCntrl*>()) {
        handOff_ = [result](const QVariantList& folders) { result->prepareToSearchForEmptyFolders(folders); };
    }
    engineFactory_ = [](std::shared_ptr<KZRemovalPanel> panel) { return std::make_shared<KZRemove>(std::move(panel)); };
    processedCountStr_ = QStringLiteral("%1 / %2");
    movedSizeStr_ = QStringLiteral("%1 / %2");
    if (view_)
        view_->setStartEnabled(startEnabled());
}

KZRemoveCntrl::~KZRemoveCntrl()
{
    stopClock();
}

void KZRemoveCntrl::setCounterFormats(const QString& count, const QString& size)
{
    processedCountStr_ = count;
    movedSizeStr_ = size;
}

bool KZRemoveCntrl::startEnabled() const
{
    return KZRemoveStartEnabled(startTag_, urlToMove.is_absolute(), !needsDestination_);
}

void KZRemoveCntrl::setStartTag(int tag)
{
    startTag_ = tag;
    view_->setStartEnabled(startEnabled());
}

void KZRemoveCntrl::setDestination(const std::filesystem::path& folder)
{
    // A cancelled folder panel keeps the folder chosen before; a relative
    // path would name a place that depends on where the program runs.
    if (folder.is_absolute())
        urlToMove = folder;
    view_->setStartEnabled(startEnabled());
}

void KZRemoveCntrl::startAction(const Options& options)
{
    if (isWorking.load() || remove_ || !startEnabled())
        return;
    isMoveToTrash = startTag_ == KZRemoveAction::trash;
    // Links are made for files only; a folder result never asks for one.
    isCreateAlias = options.hardLinks && itemsArefiles;
    renameMove = options.rename;
    createFolders = options.createFolders;
    isWorking.store(true);
    view_->startSpinning();
    view_->setStatus(platform::localizedString(isMoveToTrash ? QStringLiteral("preparing_trash")
                                                             : QStringLiteral("preparing_move")));
    view_->setCounters(QString(), QString());
    decideReportEmptyFolders();
    view_->showProgressView();
    setupClock();
    view_->purgeMarkingUndo();
    std::shared_ptr<KZRemove> engine = engineFactory_(shared_from_this());
    {
        std::lock_guard guard(engineMutex_);
        remove_ = engine;
    }
    platform::NotificationCenter::defaultCenter().post(kRemovingStatus, platform::bundleIdentifier(),
                                                       {{QStringLiteral("isRemoving"), true}});
    if (engine)
        engine->startMoving();
    else
        isWorking.store(false);
}

void KZRemoveCntrl::stopAction()
{
    wasStopped.store(true);
    if (!isWorking.load() && !remove_)
        closeSession();
}

void KZRemoveCntrl::cancelAction()
{
    closeSession();
}

void KZRemoveCntrl::closeSession()
{
    if (closed_)
        return;
    closed_ = true;
    stopClock();
    view_->closePanel();
    // The engine holds the panel; letting it go here ends that cycle once
    // nothing more is shown.
    std::lock_guard guard(engineMutex_);
    remove_.reset();
}

void KZRemoveCntrl::decideReportEmptyFolders()
{
    reportEmptyFolders = true;
    const qint64 choice = platform::UserDefaults::standard().integerForKey(KZDefaultsKey::report_empty_folders);
    if (choice == 2)
        reportEmptyFolders = view_->askReportEmptyFolders() == 1000;
    else if (choice == 1)
        reportEmptyFolders = false;
}

std::shared_ptr<KZRemove> KZRemoveCntrl::engine() const
{
    std::lock_guard guard(engineMutex_);
    return remove_;
}

std::optional<KZFoundItemArray> KZRemoveCntrl::removedItems() const
{
    const std::shared_ptr<KZRemove> engine = this->engine();
    return engine ? engine->removedArray() : std::nullopt;
}

void KZRemoveCntrl::setupClock()
{
    if (!startsClock_)
        return;
    clockStop_.store(false);
    updatedTime_ = 0.0;
    // The clock holds the panel only weakly: a panel let go stops its clock.
    std::weak_ptr<KZRemoveCntrl> weak = weak_from_this();
    try {
        if (clockThreadRefused_)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        clockThread_ = std::thread([this, weak] {
            while (!clockStop_.load()) {
                std::this_thread::sleep_for(kClockPeriod);
                if (clockStop_.load())
                    break;
                std::shared_ptr<KZRemoveCntrl> self = weak.lock();
                if (!self || self->tick())
                    break;
            }
        });
        return;
    } catch (const std::system_error& error) {
        platform::logLine(QStringLiteral("Move progress clock creation failed with error:%1").arg(error.code().value()));
    }
    // Without a thread of its own the GUI thread drives the same ticks, so
    // the removal still reports and completes.
    fallbackTimer_ = new QTimer();
    fallbackTimer_->setInterval(static_cast<int>(kClockPeriod.count()));
    QObject::connect(fallbackTimer_, &QTimer::timeout, [this, weak] {
        std::shared_ptr<KZRemoveCntrl> self = weak.lock();
        if (!self || self->tick()) {
            fallbackTimer_->stop();
            fallbackTimer_->deleteLater();
            fallbackTimer_ = nullptr;
        }
    });
    fallbackTimer_->start();
}

void KZRemoveCntrl::stopClock()
{
    clockStop_.store(true);
    if (clockThread_.joinable()) {
        if (clockThread_.get_id() == std::this_thread::get_id())
            clockThread_.detach(); // the clock itself held the last reference
        else
            clockThread_.join();
    }
    if (fallbackTimer_) {
        fallbackTimer_->stop();
        fallbackTimer_->deleteLater();
        fallbackTimer_ = nullptr;
    }
}

bool KZRemoveCntrl::tick()
{
    const double now = platform::Clock::shared().now();
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    if (isWorking.load()) {
        if (now - updatedTime_ >= kRefreshInterval) {
            updatedTime_ = now;
            platform::runOnMain([self] { self->updateProgressInfo(); });
        }
        return false;
    }
    platform::runOnMain([self] { self->updateProgressInfo(); });

    const std::optional<KZFoundItemArray> removed = removedItems();
    if (!itemsDidRemoveSent_.load() && removed && !removed->isEmpty()) {
        itemsDidRemoveSent_.store(true);
        QVariantMap info{{QStringLiteral("removedItems"), QVariant::fromValue(*removed)},
                         {QStringLiteral("isMoveToTrash"), isMoveToTrash}};
        // Only a track that left would be told to the music application.
        const bool iTunes = std::any_of(removed->begin(), removed->end(),
                                        [](const KZFoundItemRef& item) { return item && item->isiTunesItem(); });
        // Posted from the GUI thread's queue, so it always goes out before
        // the errors report queued below.
        platform::runOnMain([self, info, iTunes] {
            if (iTunes)
                self->view_->setStatus(platform::localizedString(QStringLiteral("sending_spple_event"))
                                           .arg(QStringLiteral("Music")));
            platform::NotificationCenter::defaultCenter().post(KZNotification::itemsDidRemove,
                                                               self->foundItemsObject_, info);
        });
    }

    if (reportEmptyFolders && !foldersToCheckForEmpty().empty()) {
        if (!wasStopped.load())
            isWorking.store(true);
        reportEmptyFolders = false;
        gatheringPending_.store(true);
        platform::runOnMain([self] {
            self->view_->startSpinning();
            self->startToGetEmptyFoldersToCheck();
        });
        return false;
    }

    if (isWorking.load())
        return false;
    platform::runOnMain([self] {
        if (const std::shared_ptr<KZRemove> engine = self->engine())
            self->view_->showErrors(*engine);
        self->view_->stopSpinning();
        self->showCompletionNotification();
        self->showFinalView();
    });
    return true;
}

void KZRemoveCntrl::updateProgressInfo()
{
    const KZRemoveProgressFigures figures =
        KZRemoveProgressOf(totToManage.load(), managedCount.load(), totToCheck.load(), checkedCount.load());
    if (progressDeterminate_)
        view_->setProgress(figures.percent);
    const KZNumberUtilities& numbers = KZNumberUtilities::sharedControl();
    view_->setCounters(processedCountStr_.arg(numbers.numberToFormatString(static_cast<double>(figures.done)),
                                              numbers.numberToFormatString(static_cast<double>(figures.total))),
                       movedSizeStr_.arg(numbers.sizeToFormatString(removedSize.load(), 4, true),
                                         numbers.sizeToFormatString(totSize_, 4, true)));
}

void KZRemoveCntrl::statusDidChange(const QString& key)
{
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    platform::runOnMain([self, key] { self->view_->setStatus(platform::localizedString(key)); });
}

void KZRemoveCntrl::statusFormatDidChange(const QString& key, const QStringList& args)
{
    QString text = platform::localizedString(key);
    for (const QString& arg : args)
        text = text.arg(arg);
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    platform::runOnMain([self, text] { self->view_->setStatus(text); });
}

void KZRemoveCntrl::progressDidBecomeDeterminate(bool determinate)
{
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    platform::runOnMain([self, determinate] {
        self->progressDeterminate_ = determinate;
        self->view_->setProgressDeterminate(determinate);
    });
}

void KZRemoveCntrl::startToGetEmptyFoldersToCheck()
{
    view_->setStatus(platform::localizedString(QStringLiteral("check_empty_folder")));
    view_->setStopEnabled(false);
    checkedCount.store(0);
    totToCheck.store(foldersToCheckForEmpty().size());
    // The job holds the panel: the list model may let it go when it closes,
    // and the gathering must still end and hand off.
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    gatheringQueue().addOperation([self] { self->doStartToGetEmptyFoldersToCheck(); });
}

void KZRemoveCntrl::doStartToGetEmptyFoldersToCheck()
{
    const std::vector<FolderToCheck> all = foldersToCheckForEmpty();
    std::vector<FolderToCheck> unique = KZRemoveUniqueFolders(all);
    checkedCount.store(all.size());
    QVariantList folders;
    for (const FolderToCheck& folder : unique) {
        // The path itself, not its text: a name that is not UTF-8 would no
        // longer name the folder.
        folders.append(QVariantMap{{QStringLiteral("url"), QVariant::fromValue(folder.url)},
                                   {QStringLiteral("locationLabelTag"), static_cast<int>(folder.locationLabelTag)}});
    }
    uniqueFolders_ = std::move(unique);
    emptyFoldersJobTerminated_.store(true);
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    platform::runOnMain([self, folders] {
        if (self->handOff_)
            self->handOff_(folders);
    });
    gatheringPending_.store(false);
    isWorking.store(false);
}

void KZRemoveCntrl::waitForGatherings()
{
    gatheringQueue().waitUntilAllOperationsAreFinished();
}

void KZRemoveCntrl::showFinalView()
{
    const std::optional<KZFoundItemArray> removed = removedItems();
    const std::shared_ptr<KZRemove> engine = this->engine();
    const KZRemoveTally tally = engine ? engine->tally() : KZRemoveTally{};
    const bool left = removed && !removed->isEmpty();
    // Copies leave nothing, yet the user must hear of them: a panel that just
    // closed would look as if nothing happened, and a second run would only
    // make more copies.
    if ((left || tally.copied != 0) && ownerTag_ != kEmptyFoldersTag) {
        QStringList texts;
        if (left) {
            const quint64 moved = removedSize.load() - std::min(removedSize.load(), tally.copiedSize);
            const QString size = KZNumberUtilities::sharedControl().sizeToFormatString(moved, 4, true);
            // What was deleted for good is never told as a move to the Trash:
            // a user who believes it is there may look for it in vain.
            QString key =
                isMoveToTrash ? QStringLiteral("final_trashing_string") : QStringLiteral("final_moving_string");
            if (tally.deleted != 0 && tally.trashed == 0 && tally.moved == 0 && tally.copied == 0)
                key = QStringLiteral("final_deleting_string");
            texts << platform::localizedString(key).arg(size);
        }
        texts << KZRemoveCopiedText(tally);
        texts.removeAll(QString());
        view_->showSuccessfulView(KZRemoveFinalText(texts.join(QLatin1Char(' ')), tally));
        return;
    }
    std::shared_ptr<KZRemoveCntrl> self = shared_from_this();
    platform::runOnMain([self] { self->closeSession(); });
}

QString KZRemoveFinalText(const QString& sizeText, const KZRemoveTally& tally)
{
    // The links are what the user sees in the old places: the card says
    // they are there, so that nobody takes them for the removed files.
    if (tally.linked == 0)
        return sizeText;
    const QString links = tally.linked == 1
        ? platform::localizedString(QStringLiteral("final_links_sing"))
        : platform::localizedString(QStringLiteral("final_links_plur"))
              .arg(KZNumberUtilities::sharedControl().numberToFormatString(double(tally.linked)));
    return sizeText + QLatin1Char(' ') + links;
}

QString KZRemoveCopiedText(const KZRemoveTally& tally)
{
    if (tally.copied == 0)
        return {};
    const KZNumberUtilities& numbers = KZNumberUtilities::sharedControl();
    const QString size = numbers.sizeToFormatString(tally.copiedSize, 4, true);
    if (tally.copied == 1)
        return platform::localizedString(QStringLiteral("final_copied_sing")).arg(size);
    return platform::localizedString(QStringLiteral("final_copied_plur"))
        .arg(numbers.numberToFormatString(static_cast<double>(tally.copied)), size);
}

QString KZRemoveMusicNote(quint64 tracks)
{
    if (tracks == 0)
        return {};
    if (tracks == 1)
        return platform::localizedString(QStringLiteral("removal_music_stays_sing"));
    return platform::localizedString(QStringLiteral("removal_music_stays_plur"))
        .arg(KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(tracks)));
}

QString KZRemovePhotosNote(quint64 items)
{
    if (items == 0)
        return {};
    if (items == 1)
        return platform::localizedString(QStringLiteral("removal_photos_stay_sing"));
    return platform::localizedString(QStringLiteral("removal_photos_stay_plur"))
        .arg(KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(items)));
}

QString KZRemoveCompletionText(const KZRemoveTally& tally, bool isMoveToTrash)
{
    // Only what really left its place (or was copied) is counted: items that
    // changed, were refused or failed stay, and the errors report tells them.
    const quint64 count = tally.done();
    // Marked photo items stay in their library: never told as trashed or moved.
    if (count == 0 && tally.tagged != 0)
        return platform::localizedString(QStringLiteral("photos_tagged_notice"))
            .arg(KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(tally.tagged)));
    if (count == 0)
        return platform::localizedString(QStringLiteral("nothing_removed_notice"));
    const KZNumberUtilities& numbers = KZNumberUtilities::sharedControl();
    // A copy is no move: its original stays, and the notice says so.
    if (tally.copied != 0 && tally.copied != count)
        return platform::localizedString(QStringLiteral("moving_and_copying_terminated"))
            .arg(numbers.numberToFormatString(static_cast<double>(count - tally.copied)),
                 numbers.numberToFormatString(static_cast<double>(tally.copied)));
    QString actionKey = isMoveToTrash ? QStringLiteral("trashing_action") : QStringLiteral("moving_action");
    if (tally.deleted == count)
        actionKey = QStringLiteral("deleting_action");
    else if (tally.copied == count)
        actionKey = QStringLiteral("copying_action");
    const QString action = platform::localizedString(actionKey);
    if (count == 1)
        return platform::localizedString(QStringLiteral("moving_terminated_sing")).arg(action);
    return platform::localizedString(QStringLiteral("moving_terminated"))
        .arg(KZNumberUtilities::sharedControl().numberToFormatString(static_cast<double>(count)), action);
}

void KZRemoveCntrl::showCompletionNotification()
{
    const std::shared_ptr<KZRemove> engine = this->engine();
    const QString body = KZRemoveCompletionText(engine ? engine->tally() : KZRemoveTally{}, isMoveToTrash);
    view_->showCompletionNotification(QCoreApplication::applicationName(), body);
}
