#pragma once

#include "result/model/KZShownList.h"
#include "result/model/KZSortDescriptor.h"
#include "settings/KZTags.h"

#include <QList>
#include <QtGlobal>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// The lists of one list model, keyed by list tag, with the order each list
// was last sorted in and the order the view shows. Any thread.
//
// Every stored list gets a new generation. Work computed on a worker from
// one generation is stored only while that generation is still there, so a
// slow worker never stores over a list that changed meanwhile.
class KZFoundListStore {
public:
    struct Entry {
        KZShownList list;
        quint64 generation = 0;
    };

    std::optional<Entry> entry(KZTabTag tag) const;
    std::optional<KZShownList> list(KZTabTag tag) const;
    // Every entry, in tag order.
    std::vector<std::pair<KZTabTag, Entry>> entries() const;
    QList<KZTabTag> tags() const;

    // Stores `list` (none: drops the tag) when the tag still holds
    // `expectedGeneration` (0 for no list; any, when not given); answers
    // whether it did. `descriptors`, when given, become the tag's order.
    bool store(KZTabTag tag, std::optional<KZShownList> list, std::optional<KZSortDescriptors> descriptors,
               std::optional<quint64> expectedGeneration = std::nullopt);
    // Stores as store() does unless `stale`, asked under the lock, answers
    // true; answers whether it stored.
    bool storeUnless(const std::function<bool()>& stale, KZTabTag tag, std::optional<KZShownList> list,
                     std::optional<KZSortDescriptors> descriptors);
    // A change made in place to a stored list's groups: work begun on the
    // old state must not be stored over it.
    void bumpGeneration(KZTabTag tag);
    void clearLists();

    KZSortDescriptors sortDescriptors(KZTabTag tag) const;
    void setSortDescriptors(KZTabTag tag, KZSortDescriptors descriptors);
    void clearSortDescriptors();
    // The order the view shows, read on the main thread and handed to the
    // workers as a value.
    KZSortDescriptors viewDescriptors() const;
    void setViewDescriptors(KZSortDescriptors descriptors);

private:
    bool storeLocked(KZTabTag tag, std::optional<KZShownList> list, std::optional<KZSortDescriptors> descriptors,
                     std::optional<quint64> expectedGeneration);

    mutable std::mutex lock_;
    std::map<KZTabTag, Entry> lists_;
    std::map<KZTabTag, KZSortDescriptors> sortDescriptors_;
    KZSortDescriptors viewDescriptors_;
    quint64 nextGeneration_ = 1;
};
