#pragma once

#include "result/model/KZFoundItem.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

// What the removal engine needs of the panel that drives it: the user's
// choices, set before the engine starts and not changed while it runs; the
// progress counters and flags, which the engine's thread writes while the
// panel's clock reads them (hence atomics); and the status line.
class KZRemovalPanel {
public:
    virtual ~KZRemovalPanel() = default;

    // ---- Choices ------------------------------------------------------------
    bool isMoveToTrash = true;
    bool isCreateAlias = false; // leave a hard link to the kept copy where each item was
    bool renameMove = false;    // number the item on a name clash instead of leaving it
    bool createFolders = false; // rebuild the item's folder path under the destination
    std::filesystem::path urlToMove;
    KZFoundItemArray itemsToRemove;
    bool itemsArefiles = true;
    bool isEmptyFolders = false;
    bool isOnlyPhotos = false;
    // The photo libraries among the search's sources, in their order: their
    // items are tagged inside the library, never moved.
    std::vector<std::filesystem::path> photosLibraries;
    bool reportEmptyFolders = false;
    // For each group whose other members all leave, the member that stays.
    KZFoundItemArray mastersAlias;
    // Every item of the result. Before an item is deleted for good the engine
    // looks here for a member of its group that stays; none known, no deletion.
    KZFoundItemArray resultItems;

    bool isSearchForDuplicates() const { return !isEmptyFolders; }
    int currentAction() const { return isMoveToTrash ? 1 : 2; }

    // ---- Progress ------------------------------------------------------------
    std::atomic<quint64> totToManage{0};
    std::atomic<quint64> managedCount{0};
    std::atomic<quint64> totToCheck{0};
    std::atomic<quint64> checkedCount{0};
    std::atomic<quint64> removedSize{0};
    std::atomic<bool> isWorking{false};
    std::atomic<bool> wasStopped{false};

    // ---- Calls from the engine's thread -----------------------------------------
    // The status line: a key of the "Default" string table.
    virtual void statusDidChange(const QString& key) { (void)key; }
    // The same with a format key whose %1, %2… take `args`.
    virtual void statusFormatDidChange(const QString& key, const QStringList& args)
    {
        (void)args;
        statusDidChange(key);
    }
    // The progress bar: determinate while items are handed to the jobs.
    virtual void progressDidBecomeDeterminate(bool determinate) { (void)determinate; }
    // The engine has ended (isWorking is already clear).
    virtual void workDidEnd() {}

    struct FolderToCheck {
        std::filesystem::path url;
        qint16 locationLabelTag = -1;
    };
    void addFolderToCheckForEmpty(const FolderToCheck& folder)
    {
        std::lock_guard guard(foldersMutex_);
        foldersToCheckForEmpty_.push_back(folder);
    }
    std::vector<FolderToCheck> foldersToCheckForEmpty() const
    {
        std::lock_guard guard(foldersMutex_);
        return foldersToCheckForEmpty_;
    }

private:
    mutable std::mutex foldersMutex_;
    std::vector<FolderToCheck> foldersToCheckForEmpty_;
};
