#include "result/model/KZFoundListStore.h"

std::optional<KZFoundListStore::Entry> KZFoundListStore::entry(KZTabTag tag) const
{
    std::lock_guard guard(lock_);
    const auto found = lists_.find(tag);
    if (found == lists_.end())
        return std::nullopt;
    return found->second;
}

std::optional<KZShownList> KZFoundListStore::list(KZTabTag tag) const
{
    if (auto found = entry(tag))
        return std::move(found->list);
    return std::nullopt;
}

std::vector<std::pair<KZTabTag, KZFoundListStore::Entry>> KZFoundListStore::entries() const
{
    std::lock_guard guard(lock_);
    return {lists_.begin(), lists_.end()};
}

QList<KZTabTag> KZFoundListStore::tags() const
{
    std::lock_guard guard(lock_);
    QList<KZTabTag> tags;
    tags.reserve(static_cast<qsizetype>(lists_.size()));
    for (const auto& [tag, entry] : lists_)
        tags.append(tag);
    return tags;
}

bool KZFoundListStore::storeLocked(KZTabTag tag, std::optional<KZShownList> list,
                                   std::optional<KZSortDescriptors> descriptors,
                                   std::optional<quint64> expectedGeneration)
{
    const auto found = lists_.find(tag);
    if (expectedGeneration) {
        const quint64 present = found == lists_.end() ? 0 : found->second.generation;
        if (present != *expectedGeneration)
            return false;
    }
    if (list)
        lists_[tag] = Entry{std::move(*list), nextGeneration_++};
    else if (found != lists_.end())
        lists_.erase(found);
    if (descriptors)
        sortDescriptors_[tag] = std::move(*descriptors);
    return true;
}

bool KZFoundListStore::store(KZTabTag tag, std::optional<KZShownList> list,
                             std::optional<KZSortDescriptors> descriptors, std::optional<quint64> expectedGeneration)
{
    std::lock_guard guard(lock_);
    return storeLocked(tag, std::move(list), std::move(descriptors), expectedGeneration);
}

bool KZFoundListStore::storeUnless(const std::function<bool()>& stale, KZTabTag tag, std::optional<KZShownList> list,
                                   std::optional<KZSortDescriptors> descriptors)
{
    std::lock_guard guard(lock_);
    if (stale())
        return false;
    return storeLocked(tag, std::move(list), std::move(descriptors), std::nullopt);
}

void KZFoundListStore::bumpGeneration(KZTabTag tag)
{
    std::lock_guard guard(lock_);
    if (const auto found = lists_.find(tag); found != lists_.end())
        found->second.generation = nextGeneration_++;
}

void KZFoundListStore::clearLists()
{
    std::lock_guard guard(lock_);
    lists_.clear();
}

KZSortDescriptors KZFoundListStore::sortDescriptors(KZTabTag tag) const
{
    std::lock_guard guard(lock_);
    const auto found = sortDescriptors_.find(tag);
    return found == sortDescriptors_.end() ? KZSortDescriptors() : found->second;
}

void KZFoundListStore::setSortDescriptors(KZTabTag tag, KZSortDescriptors descriptors)
{
    std::lock_guard guard(lock_);
    sortDescriptors_[tag] = std::move(descriptors);
}

void KZFoundListStore::clearSortDescriptors()
{
    std::lock_guard guard(lock_);
    sortDescriptors_.clear();
}

KZSortDescriptors KZFoundListStore::viewDescriptors() const
{
    std::lock_guard guard(lock_);
    return viewDescriptors_;
}

void KZFoundListStore::setViewDescriptors(KZSortDescriptors descriptors)
{
    std::lock_guard guard(lock_);
    viewDescriptors_ = std::move(descriptors);
}
