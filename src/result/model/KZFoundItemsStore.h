#pragma once

#include "result/model/KZFoundItem.h"

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>

// The found items of one result, with the empty folders its follow-up
// searches found, and the counts that shape its tabs. Any thread.
//
// The item lists are read by list threads and the main thread while a
// removal or the empty-folders follow-up changes them. They are implicitly
// shared arrays behind a lock: a reader takes a snapshot (a cheap copy made
// under the lock) and walks it freely, a writer edits under the lock, which
// detaches it from every snapshot in use. No reader ever sees an array in
// the middle of a change.
class KZFoundItemsStore {
public:
    KZFoundItemArray allItems() const;
    void setAllItems(const KZFoundItemArray& items);
    void appendToAllItems(const KZFoundItemArray& items);
    void removeFromAllItems(const KZFoundItemArray& removed);

    // Absent until the first empty-folders search.
    std::optional<KZFoundItemArray> allEmptyFolders() const;
    void setAllEmptyFolders(const std::optional<KZFoundItemArray>& folders);
    // Makes the list exist even when `folders` is empty.
    void appendToEmptyFolders(const KZFoundItemArray& folders);
    void removeFromEmptyFolders(const KZFoundItemArray& removed);
    // Drops the listed empty folders that `filled` says hold something
    // again. They were never removed, so nothing keeps them; answers them.
    KZFoundItemArray dropFilledEmptyFolders(const std::function<bool(const KZFoundItemRef&)>& filled);
    // Whether a removal took empty folders of the list that an undo may
    // still bring back to it.
    bool hasRemovedEmptyFolders() const;

    // Items an undo put back at their places. Only those this result
    // dropped after a removal return, each to the list it left; the answer
    // holds them in that order, split by list.
    struct TakenBack {
        KZFoundItemArray items;
        KZFoundItemArray emptyFolders;
    };
    TakenBack takeBack(const KZFoundItemArray& restored);

    qint16 fileTypesFoundCount() const { return fileTypesFoundCount_.load(); }
    void setFileTypesFoundCount(qint16 count) { fileTypesFoundCount_.store(count); }
    // -1 for a search of one source.
    qint16 lastLocationTagUsed() const { return lastLocationTagUsed_.load(); }
    void setLastLocationTagUsed(qint16 tag) { lastLocationTagUsed_.store(tag); }

private:
    mutable std::mutex lock_;
    KZFoundItemArray allItems_;
    std::optional<KZFoundItemArray> allEmptyFolders_;
    // What removals dropped, kept while the result lives: an item put back
    // from the Trash has no other owner left by then.
    struct Dropped {
        KZFoundItemRef item;
        bool emptyFolder = false;
    };
    std::unordered_map<const KZFoundItem*, Dropped> dropped_;
    void remember(const KZFoundItemArray& removed, bool emptyFolder);

    std::atomic<qint16> fileTypesFoundCount_{0};
    std::atomic<qint16> lastLocationTagUsed_{-1};
};
