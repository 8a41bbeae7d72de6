// The driver's turns of the second pass: candidates come off the stacks,
// newest first, in batches that a pool may hash ahead, and are filed by
// KZSecondPass; what it finds joins the counters and the found list here,
// under progressLock_.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZFolderContentPass.h"
#include "engine/KZHashAhead.h"
#include "engine/KZSecondPass.h"
#include "engine/KZItemReader.h"
#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "platform/OperationQueue.h"
#include "settings/KZSearchCriteria.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>

namespace fs = std::filesystem;

// ---- Turns of the pass ---------------------------------------------------------------

std::vector<KZSearchItemInfoRef> KZSearchController::popBatch(KZCandidateStack& stack, std::size_t most,
                                                              std::vector<bool>* sizeShared)
{
    std::vector<KZSearchItemInfoRef> batch;
    sizeShared->clear();
    std::lock_guard guard(notificationLock_);
    while (batch.size() < most) {
        KZSearchItemInfoRef item = stack.pop();
        if (!item)
            break;
        sizeShared->push_back(hashAhead_ && hashAhead_->sizeShared(item->totSize()));
        batch.push_back(std::move(item));
    }
    return batch;
}

void KZSearchController::secondTestProcess()
{
    bool imagesWaiting = false;
    {
        std::lock_guard guard(notificationLock_);
        imagesWaiting = !itemInfoCStyleForImages_.isEmpty();
    }
    if (imagesWaiting && !contentImagesIsWorking_.exchange(true))
        KZSearchOperationQueue().addOperation([self = shared_from_this()] { self->doSecondProcessForImageContent(); });

    if (criteria_->isFolderCompareContent() && readingIsTerminated_) {
        foldersContentIsWorking_ = true;
        quint64 toCheck = 0;
        {
            std::lock_guard guard(progressLock_);
            toCheck = itemsToCheck_;
        }
        if (!wasStopped() && toCheck > 50 && progressCntrl_) {
            progressCntrl_->showFolderView(true);
            progressCntrl_->showDeterminateProgress();
        }
        folderContentPass_->run(secondPass_->mainTree(), hashingThreadCount());
        foldersContentIsWorking_ = false;
        signalEvent();
    }

    secondTestProcessWithArray(itemInfoCStyle_);
}

void KZSearchController::doSecondProcessForImageContent()
{
    secondTestProcessWithArray(itemInfoCStyleForImages_);
    KZCrc32::threadFinished();
    contentImagesIsWorking_ = false;
    signalEvent();
}

void KZSearchController::secondTestProcessWithArray(KZCandidateStack& stack)
{
    const bool duration = criteria_->isDuration();
    if (!duration && wasStopped())
        return;
    // Only the driver's own stack is hashed ahead: the pool has one caller.
    const bool hashes = &stack == &itemInfoCStyle_ && hashAhead_;
    std::vector<bool> sizeShared;
    for (;;) {
        const std::size_t most = !hashes ? 1 : (mainCompleted_ ? 512 : 64);
        const std::vector<KZSearchItemInfoRef> batch = popBatch(stack, most, &sizeShared);
        if (batch.empty())
            break;
        if (hashes)
            hashAhead_->hashAheadOf(batch, sizeShared);
        for (const KZSearchItemInfoRef& item : batch)
            fileCandidate(item);
        if (!duration && wasStopped())
            break;
        if (mainCompleted_ && workersBusy_.load() == 0 && !contentImagesIsWorking_ && !foldersContentIsWorking_
            && !progressAlreadyChanged_.exchange(true) && progressCntrl_)
            progressCntrl_->showDeterminateProgress();
    }
}

void KZSearchController::fileCandidate(const KZSearchItemInfoRef& item)
{
    if (!item->hasOriginalName()) {
        // Cannot be compared or shown; left at the head it would hold back
        // every candidate behind it.
        platform::logLine(QStringLiteral("secondTestProcessWithArray: candidate without a name dropped"));
        return;
    }
    secondTestForItem(item);
}

// ---- Filing one candidate -----------------------------------------------------------------

void KZSearchController::secondTestForItem(KZSearchItemInfoRef item)
{
    const bool folderSearch = criteria_->isFolderCompareContent();
    if (!folderSearch || readingIsTerminated_) {
        std::lock_guard guard(progressLock_);
        setItemsCheckedProgress(++checkedFilesCount_);
    }

    std::unique_ptr<TreeToCheck> node = TreeToCheck::create(item);
    if (!node) {
        platform::logLine(QStringLiteral("secondTestForItem: newNode not malloced"));
        return;
    }
    node->crcs = item->takeContentCache();

    if (!isSameSearch_ && !isUniqueSearch_) {
        // Every candidate is a find (the empty-folder searches).
        if (!criteria_->isNestedEmptied()) {
            std::lock_guard guard(progressLock_);
            setItemsFoundProgress(++itemsFoundCount_);
            setInfoFoundItemProgress(*item);
        }
        processFoundItem(std::move(node));
        return;
    }

    if (folderSearch && readingIsTerminated_)
        folderContentPass_->fileFolder(std::move(node));
    else
        secondPass_->addNode(std::move(node),
                             item->isImageContent() ? KZSecondPass::Tree::Images : KZSecondPass::Tree::Main);

    if (isUniqueSearch_) {
        std::lock_guard guard(progressLock_);
        itemsFoundCount_ = checkedFilesCount_ - notDupesCount_;
        setItemsFoundProgress(itemsFoundCount_);
    }
}

// ---- What the filing hands back ----------------------------------------------------------

bool KZSearchController::passWasStopped() const
{
    return wasStopped();
}

void KZSearchController::candidateDropped()
{
    if (isUniqueSearch_) {
        std::lock_guard guard(progressLock_);
        ++notDupesCount_;
    }
}

void KZSearchController::contentUnreadable()
{
    // The content reader is the one that knows why and says so; here the
    // failure is only counted, once per file.
    unreadableCount_.fetch_add(1);
}

qint16 KZSearchController::compareFolderContent(TreeToCheck& one, TreeToCheck& two)
{
    return folderContentPass_->compareFolders(one, two);
}

qint16 KZSearchController::compareFoundFolders(TreeToCheck& here, TreeToCheck& node)
{
    std::lock_guard guard(progressLock_);
    return foundNodes_.foldersTree().folderAlreadyExists(here, node);
}

void KZSearchController::joinGroup(TreeToCheck& here, std::unique_ptr<TreeToCheck> node)
{
    const bool onlyUnique = isUniqueSearch_ && !isSameSearch_;
    std::lock_guard guard(progressLock_);
    if (!here.inGroup) {
        here.groupID = ++currGroupID_;
        here.inGroup = true;
        if (isSameSearch_) {
            here.itemsInGroup = makeItemsInGroup(1);
            setItemsFoundProgress(++itemsFoundCount_);
            setInfoFoundItemProgress(*here.item);
        } else {
            ++notDupesCount_;
        }
    }
    if (onlyUnique) {
        node->crcs.reset();
        ++notDupesCount_;
        return;
    }
    if (!criteria_->isNestedEmptied()) {
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*node->item);
    }
    node->groupID = here.groupID;
    if (here.itemsInGroup) {
        here.itemsInGroup->fetch_add(1);
        node->itemsInGroup = here.itemsInGroup;
    }
    processFoundItem(std::move(node));
}

void KZSearchController::foundInTree(std::unique_ptr<TreeToCheck> node)
{
    processFoundItem(std::move(node));
}

void KZSearchController::folderPassedOver()
{
    std::lock_guard guard(progressLock_);
    setItemsCheckedProgress(++checkedFilesCount_);
}

void KZSearchController::folderToFile(KZSearchItemInfoRef item)
{
    secondTestForItem(std::move(item));
}

void KZSearchController::folderMatched(TreeToCheck& representative, std::unique_ptr<TreeToCheck> node)
{
    std::lock_guard guard(progressLock_);
    if (!representative.inGroup) {
        representative.groupID = ++currGroupID_;
        representative.inGroup = true;
        representative.itemsInGroup = makeItemsInGroup(1);
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*representative.item);
    }
    node->groupID = representative.groupID;
    representative.itemsInGroup->fetch_add(1);
    node->itemsInGroup = representative.itemsInGroup;
    setItemsFoundProgress(++itemsFoundCount_);
    setInfoFoundItemProgress(*node->item);
    processFoundItem(std::move(node));
}

void KZSearchController::groupHeadFound(std::unique_ptr<TreeToCheck> node)
{
    processFoundItem(std::move(node));
}

void KZSearchController::processFoundItem(std::unique_ptr<TreeToCheck> node)
{
    std::lock_guard guard(progressLock_);
    const KZFoundNodes::Phase phase{criteria_->isNestedEmptied(), duplicateFoldersAlreadyChecked_.load(),
                                    criteria_->isDuration(), timeAlreadyGot_.load()};
    if (TreeToCheck* newFolder = foundNodes_.processFoundItem(std::move(node), phase)) {
        setItemsFoundProgress(++itemsFoundCount_);
        setInfoFoundItemProgress(*newFolder->item);
    }
}

void KZSearchController::freeUnusedInfoCStyle()
{
    std::lock_guard guard(notificationLock_);
    itemInfoCStyle_.clear();
    itemInfoCStyleForImages_.clear();
}

