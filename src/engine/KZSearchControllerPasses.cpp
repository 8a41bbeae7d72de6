// The passes that are not part of the scan: the music and photo libraries
// (KZLibraryPasses), whose files are fed into the scan's per-item path as
// their libraries list them, saved searches, whose queries we evaluate over
// the file system, and song durations (not built yet: the stage is called
// where its pass belongs, and until then contributes no items).

#include "engine/KZSearchController.h"

#include "engine/KZLibraryPasses.h"

#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "engine/KZLocationGrouping.h"
#include "engine/KZMDQuery.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/Users.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZSearchCriteria.h"

#include <QDateTime>

#include <algorithm>
#include <functional>
#include <vector>

namespace fs = std::filesystem;

void KZSearchController::gatherLibraryExclusions()
{
    if (criteria_->excludeiTunesItems())
        libraryPasses_->musicLibrary(0);
    if (wasStopped() || criteria_->excludePhotosItemsDict().isEmpty())
        return;
    const fs::path library = platform::pathFromText(
        criteria_->excludePhotosItemsDict().value(QStringLiteral("libraryPath")).toString());
    processPhotosLocation(library, 0);
}

void KZSearchController::processPhotosLocation(const fs::path& path, qint16 label)
{
    if (!libraryPasses_->startPhotos(path, label))
        return;
    // The driver files what the halves find while they work, and sleeps
    // when there is nothing to file.
    const bool leaveOut = criteria_->excludePhotosItems();
    for (;;) {
        const quint64 seen = eventCount();
        if (!leaveOut)
            secondTestProcess();
        if (!libraryPasses_->photosWorking())
            break;
        if (leaveOut || wasStopped() || !driverHasWork())
            waitForEvent(seen);
    }
}

// ---- KZLibraryPasses::Delegate ----------------------------------------------------------------

void KZSearchController::libraryFileMet(const fs::path& url, qint16 label, const KZItemAttributes& attributes,
                                        const QString& name, std::shared_ptr<KZAppSuppInfo> owner)
{
    fileListedItem(url, label, attributes, name, std::move(owner));
}

void KZSearchController::missingTrackFound()
{
    std::lock_guard guard(progressLock_);
    setItemsFoundProgress(++itemsFoundCount_);
}

void KZSearchController::runPhotosHalf(std::function<void()> half)
{
    KZSearchOperationQueue().addOperation([self = shared_from_this(), half = std::move(half)] {
        half();
        self->signalEvent();
    });
}

void KZSearchController::fileListedItem(const fs::path& url, qint16 label, const KZItemAttributes& attributes,
                                        const QString& name, std::shared_ptr<KZAppSuppInfo> owner)
{
    auto item = KZSearchItemInfo::create(url);
    if (!readItem(*item, label, attributes))
        return;
    item->setOriginalName(name);
    if (owner)
        item->setAppSuppInfo(std::move(owner));
    processFileItem(std::move(item));
}

// ---- Saved searches ------------------------------------------------------------------------

void KZSearchController::gatherSmartFolderItemsWithDict(const KZSourceItemRef& source, qint16 label)
{
    // Outstanding from here until its last result is in the scan: the
    // driver goes on with the next source, and its final wait lasts until
    // every saved search has ended.
    queriesWorking_.fetch_add(1);
    KZSearchOperationQueue().addOperation([self = shared_from_this(), file = source->path(), label] {
        self->doQuerySearch(file, label);
        if (self->smallSizesMet_)
            KZCrc32::threadFinished(); // its files may have been hashed here
        self->queriesWorking_.fetch_sub(1);
        self->signalEvent();
    });
}

namespace {

// The progress window's title while a saved search's results are handled.
QString smartFolderTitle(int step)
{
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(QStringLiteral("managing_smart_folder")),
                                                   {QString::number(step)});
}

// Lets the grouping by location ask for a stop and show its steps and count
// in the search's progress window.
class SearchGrouping : public KZLocationGroupingDelegate {
public:
    SearchGrouping(std::function<bool()> stopped, std::function<void(quint64)> checked, KZProgressControl* progress)
        : stopped_(std::move(stopped)), checked_(std::move(checked)), progress_(progress)
    {
    }
    bool nsWasStopped() override { return stopped_(); }
    void setAlreadyCheckedCount(quint64 count) override { checked_(count); }
    void groupingStepBegan(int step) override
    {
        if (progress_)
            progress_->setMainInfoTitle(smartFolderTitle(step));
    }

private:
    std::function<bool()> stopped_;
    std::function<void(quint64)> checked_;
    KZProgressControl* progress_;
};

} // namespace

void KZSearchController::doQuerySearch(const fs::path& savedSearch, qint16 label)
{
    if (wasStopped())
        return;
    if (progressCntrl_)
        progressCntrl_->setMainInfoTitle(smartFolderTitle(1));
    KZMDQuery::Options options;
    options.home = platform::homeDirectory();
    options.now = platform::Clock::shared().dateTime();
    options.includeHidden = criteria_->isInvisible();
    options.wasStopped = [this] { return wasStopped(); };
    QString error;
    const std::optional<std::vector<KZLocationEntry>> results = KZMDQuery::run(savedSearch, options, &error);
    if (!results) {
        platform::logLine(QStringLiteral("Saved search skipped: ") + platform::pathText(savedSearch)
                          + QStringLiteral(": ") + error);
        return;
    }
    setItemsToCheckProgress(results->size());
    bool anyFolder = false;
    for (std::size_t i = 0; i < results->size(); ++i) {
        anyFolder = anyFolder || (*results)[i].isFolder;
        setItemsCheckedProgress(i + 1);
        if (wasStopped())
            return;
    }
    std::vector<std::size_t> order;
    if (anyFolder) {
        // A folder's contents are reached through its scan.
        setItemsCheckedProgress(0);
        SearchGrouping delegate([this] { return wasStopped(); },
                                [this](quint64 count) { setItemsCheckedProgress(count); }, progressCntrl_.get());
        order = KZGroupItemsByLocation(*results, &delegate);
    } else {
        for (std::size_t i = 0; i < results->size(); ++i)
            order.push_back(i);
    }
    setMainInfoTitle(QStringLiteral("scanning"));
    for (const std::size_t index : order) {
        if (wasStopped())
            break;
        const KZLocationEntry& entry = (*results)[index];
        if (reader_->isExcluded(entry.path, nullptr))
            continue;
        if (entry.isFolder) {
            searchWithURL(entry.path, nullptr, label);
            continue;
        }
        const KZItemAttributes attributes = KZItemAttributes::read(entry.path);
        if (const std::optional<QString> name = attributes.fileName())
            fileListedItem(entry.path, label, attributes, *name, nullptr);
    }
}

void KZSearchController::collectSongsTime() {}
