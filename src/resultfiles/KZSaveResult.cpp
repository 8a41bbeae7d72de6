#include "resultfiles/KZSaveResult.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "platform/MallocArenas.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/KZResultCntrl.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"

#include <mutex>

namespace fs = std::filesystem;

namespace {

platform::OperationQueue& saveQueue()
{
    static platform::OperationQueue queue(QStringLiteral("KZSaveResultOperationQueue"));
    return queue;
}

// Seconds since 1970, as the file keeps its dates.
double secondsOf(const timespec& time)
{
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

// A refusal or failure of a save, in the user's language.
QString refusalText(const QString& key, const QStringList& names = {})
{
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(key, QStringLiteral("Errors")), names);
}

bool isStopped(const KZSaveResult::Progress& progress)
{
    return progress.stopped && progress.stopped->load();
}

// A saved result is rebuilt from its duplicates; empty folders alone make
// none, so such a result is refused with that reason before anything is
// asked or written.
std::optional<QString> onlyEmptyFolders(const KZSaveSnapshot& snapshot)
{
    if (!snapshot.items.isEmpty() || snapshot.emptyFolders.isEmpty())
        return std::nullopt;
    return refusalText(QStringLiteral("save_only_empty_folders"));
}

} // namespace

std::shared_ptr<KZSaveResult> KZSaveResult::create(LocationChooser chooser, ViewStateReader viewState)
{
    return std::shared_ptr<KZSaveResult>(new KZSaveResult(std::move(chooser), std::move(viewState)));
}

KZSaveResult::KZSaveResult(LocationChooser chooser, ViewStateReader viewState)
    : KZResultFileJob(KZNotification::savingDidFinish)
    , chooser_(std::move(chooser))
    , viewState_(std::move(viewState))
{
}

void KZSaveResult::saveItemsWithDict(const QVariantMap& request)
{
    setSender(request.value(QStringLiteral("sender")).value<KZResultCntrl*>());
    if (const std::optional<QString> refusal = onlyEmptyFolders(KZSaveSnapshot::fromRequest(request))) {
        reportError(*refusal);
        finishWithoutWork();
        return;
    }
    if (!chooser_) {
        finishWithoutWork();
        return;
    }
    std::weak_ptr<KZResultFileJob> weak = weak_from_this();
    chooser_(request, [weak, request](std::optional<fs::path> location) {
        const auto self = std::static_pointer_cast<KZSaveResult>(weak.lock());
        if (!self)
            return;
        if (!location) {
            self->finishWithoutWork();
            return;
        }
        KZSaveSnapshot snapshot = KZSaveSnapshot::fromRequest(request);
        if (self->viewState_)
            self->viewState_(request, snapshot);
        self->saveSnapshot(std::move(snapshot), std::move(*location));
    });
}

void KZSaveResult::saveSnapshot(KZSaveSnapshot snapshot, fs::path location)
{
    totToManage_.store(quint64(snapshot.items.size()));
    auto shared = std::make_shared<KZSaveSnapshot>(std::move(snapshot));
    auto* self = this;
    begin([](std::function<void()> work) { saveQueue().addOperation(std::move(work)); },
          [self, shared, location = std::move(location)] {
              Progress progress;
              progress.stopped = &self->stopped_;
              progress.managedCount = &self->managedCount_;
              progress.totToManage = &self->totToManage_;
              self->leftOut_.store(0);
              progress.leftOut = &self->leftOut_;
              progress.mainString = [self](const QString& key) { self->setMainString(platform::localizedString(key)); };
              QString error;
              if (writeSnapshot(*shared, location, progress, &error, self->write_) == Outcome::Failed)
                  self->setError(error);
          });
}

void KZSaveResult::reportError(const QString& error)
{
    KZErrorDelegate::sharedControl().showError(QStringLiteral("result_not_saved"), {}, {error});
}

void KZSaveResult::reportSuccess()
{
    // A file that lacks some of the result must not pass for the whole of it.
    const quint64 leftOut = leftOut_.load();
    if (leftOut == 0 || wasStopped())
        return;
    KZErrorDelegate::sharedControl().showError(
        leftOut == 1 ? QStringLiteral("items_not_saved_sing") : QStringLiteral("items_not_saved_plur"), {},
        leftOut == 1 ? QStringList()
                     : QStringList{KZNumberUtilities::sharedControl().numberToFormatString(double(leftOut))});
}

QString KZSaveResult::leftOutText(quint64 leftOut)
{
    if (leftOut == 0)
        return {};
    const QString key = leftOut == 1 ? QStringLiteral("items_not_saved_sing") : QStringLiteral("items_not_saved_plur");
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(key, QStringLiteral("Errors")),
                                                  {QString::number(leftOut)});
}

bool KZSaveResult::saveSearchResult(const KZFoundItemArray& items, const QVariantMap& resultInfo,
                                    const std::vector<KZSourceItemRef>& sources, const fs::path& location,
                                    QString* error, quint64* leftOut)
{
    if (leftOut)
        *leftOut = 0;
    if (items.isEmpty()) {
        if (error)
            *error = refusalText(QStringLiteral("save_no_duplicates"), {platform::pathText(location)});
        return false;
    }
    KZFoundItemsCntrl model(nullptr, QVariantMap());
    model.markItemsByDefaultWithTag(0, 0, nullptr, items);
    QVariantMap request = resultInfo;
    request.insert(KZResultKey::searchStuffItem, QVariant::fromValue(sources));
    request.insert(KZDefaultsKey::show_result_by_group,
                   platform::UserDefaults::standard().boolForKey(KZDefaultsKey::show_result_by_group));
    KZSaveSnapshot snapshot = KZSaveSnapshot::fromRequest(request);
    snapshot.items = items;
    std::atomic<quint64> left{0};
    Progress progress;
    progress.leftOut = &left;
    const bool written = writeSnapshot(snapshot, location, progress, error) == Outcome::Written;
    if (leftOut)
        *leftOut = written ? left.load() : 0;
    return written;
}

std::optional<KZSavedItem> KZSaveResult::savedItem(const KZFoundItemRef& item)
{
    if (!item)
        return std::nullopt;
    if (item->aliasData().isEmpty())
        item->createAlias();
    // An item that is gone is left out; one renamed in its folder is found
    // through its bookmark, and its date read where it is now.
    const fs::path location = item->url();
    const QByteArray alias = item->aliasData();
    if (location.empty() || alias.isEmpty())
        return std::nullopt;

    KZSavedItem saved;
    saved.alias = alias;
    saved.fileTypeTag = item->fileTypeTag();
    saved.groupId = item->groupID();
    saved.locationLabelTag = item->locationLabelTag();
    saved.isPhotosItem = item->isPhotosItem();
    saved.isiTunesItem = item->isiTunesItem();
    {
        // The mark and the group's counter as one moment of the item.
        std::lock_guard guard(item->aliasLock());
        saved.isMarked = item->isMarked();
        saved.countOfItemsInGroup = item->countOfItemsInGroup();
    }
    const QString trackID = item->trackID();
    if (!trackID.isEmpty())
        saved.trackID = QVariant(trackID);
    // A folder's size may still be unknown; a wrong size would make the
    // reopening take the folder for changed.
    if (!item->isDirectory() && !item->isPackage())
        saved.size = item->size();
    const timespec& modified = item->modificationTime();
    if (modified.tv_sec != 0 || modified.tv_nsec != 0)
        saved.dateModified = secondsOf(modified);
    saved.isFolder = item->isDirectory();
    // A file system reuses inode numbers, and a replacement can be given the
    // old size and date: the birth time tells them apart. It is taken only
    // from the very file the search read, on the disk the search read it on
    // (which may have come back under another number since).
    const auto st = platform::statPath(location, false);
    if (st && st->birth && item->inode() != 0 && st->inode == item->inode()
        && st->modified.tv_sec == modified.tv_sec && st->modified.tv_nsec == modified.tv_nsec
        && item->isOnDiskAsScanned(*st, location))
        saved.dateCreated = secondsOf(*st->birth);
    return saved;
}

std::optional<KZSavedSource> KZSaveResult::savedSource(const KZSourceItemRef& source)
{
    if (!source)
        return std::nullopt;
    const QByteArray alias = platform::createBookmark(source->url(), nullptr, platform::FoldersAbove::Recorded);
    if (alias.isEmpty())
        return std::nullopt;
    KZSavedSource saved;
    saved.alias = alias;
    saved.excluded = source->excluded();
    saved.excludedProgrammatically = source->excludedAddedProgramatically();
    saved.isDisk = source->isDisk();
    saved.isLocked = source->isLocked();
    saved.isPhotosLib = source->isPhotosLib();
    saved.isCurrentLibrary = source->isCurrentLibrary();
    saved.librariesCount = source->librariesCount();
    saved.iTunesLibValue = source->iTunesLibValue();
    saved.totSize = source->totSize();
    saved.freeSize = source->freeSize();
    saved.locationLabelTag = source->locationLabelTag();
    saved.isSmartFolder = source->isSmartFolder();
    saved.wasSearched = source->wasSearched();
    return saved;
}

KZSaveResult::Outcome KZSaveResult::writeSnapshot(const KZSaveSnapshot& snapshot, const fs::path& location,
                                                  const Progress& progress, QString* error,
                                                  const platform::AtomicFileWriter::WriteFunction& write)
{
    if (error)
        error->clear();
    // Declared first, so it runs last: once the records and the bytes are
    // freed, whatever the way out.
    struct ReleaseAtEnd {
        ~ReleaseAtEnd() { platform::releaseFreeMemory(); }
    } releaseAtEnd;
    const auto say = [&progress](const char* key) {
        if (progress.mainString)
            progress.mainString(QString::fromLatin1(key));
    };
    const auto convert = [&](const KZFoundItemArray& items, std::vector<KZSavedItem>& out) {
        if (progress.totToManage)
            progress.totToManage->store(quint64(items.size()));
        if (progress.managedCount)
            progress.managedCount->store(0);
        out.reserve(size_t(items.size()));
        for (const KZFoundItemRef& item : items) {
            if (std::optional<KZSavedItem> saved = savedItem(item)) {
                out.push_back(std::move(*saved));
                if (progress.managedCount)
                    progress.managedCount->fetch_add(1);
            } else if (progress.leftOut) {
                progress.leftOut->fetch_add(1);
            }
            if (isStopped(progress))
                return false;
        }
        return true;
    };

    if (const std::optional<QString> refusal = onlyEmptyFolders(snapshot)) {
        if (error)
            *error = refusalText(QStringLiteral("save_nothing_saved"), {platform::pathText(location), *refusal});
        return Outcome::Failed;
    }
    KZSavedResult result;
    say("preparing_items_to_save");
    if (!convert(snapshot.items, result.items))
        return Outcome::Stopped;
    if (result.items.empty()) {
        if (error) {
            *error = refusalText(QStringLiteral("save_items_gone"), {platform::pathText(location)});
        }
        return Outcome::Failed;
    }

    say("preparing_window_settings");
    result.leftSide = snapshot.leftSide;
    result.selectedTabTag = snapshot.selectedTabTag;
    result.rightSide = snapshot.rightSide;
    result.deadTracks = snapshot.deadTracks;
    if (!snapshot.emptyFolders.isEmpty()) {
        say("preparing_empty_folders_to_save");
        std::vector<KZSavedItem> folders;
        if (!convert(snapshot.emptyFolders, folders))
            return Outcome::Stopped;
        result.emptyFolders = std::move(folders);
    }
    for (const KZSourceItemRef& source : snapshot.sources) {
        if (std::optional<KZSavedSource> saved = savedSource(source))
            result.sources.push_back(std::move(*saved));
    }
    result.genericInfo = snapshot.genericInfo;
    if (isStopped(progress))
        return Outcome::Stopped;

    say("writing_file");
    // A stop that came while converting still writes nothing.
    if (isStopped(progress))
        return Outcome::Stopped;
    // The bytes go to the file as they are made: a large result's file is
    // never held in memory beside its records.
    platform::AtomicFileWriter writer(location, write);
    if (!writer.open()) {
        if (error)
            *error = writer.error();
        return Outcome::Failed;
    }
    QString reason;
    const bool encoded = KZSavedResultFormat::encode(
        result, [&writer](const char* bytes, size_t size) { return writer.write(bytes, size); }, &reason);
    if (!encoded && writer.error().isEmpty()) {
        writer.abandon();
        if (error)
            *error = refusalText(QStringLiteral("save_not_encoded"), {platform::pathText(location), reason});
        return Outcome::Failed;
    }
    if (!(encoded && writer.commit())) {
        if (error)
            *error = writer.error();
        return Outcome::Failed;
    }
    return Outcome::Written;
}
