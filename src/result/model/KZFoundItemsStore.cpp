#include "result/model/KZFoundItemsStore.h"

#include <QSet>

namespace {

void removeEvery(KZFoundItemArray& from, const KZFoundItemArray& removed)
{
    if (removed.isEmpty())
        return;
    QSet<const KZFoundItem*> gone;
    for (const KZFoundItemRef& item : removed)
        gone.insert(item.get());
    from.removeIf([&](const KZFoundItemRef& item) { return gone.contains(item.get()); });
}

} // namespace

KZFoundItemArray KZFoundItemsStore::allItems() const
{
    std::lock_guard guard(lock_);
    return allItems_;
}

void KZFoundItemsStore::setAllItems(const KZFoundItemArray& items)
{
    std::lock_guard guard(lock_);
    allItems_ = items;
}

void KZFoundItemsStore::appendToAllItems(const KZFoundItemArray& items)
{
    std::lock_guard guard(lock_);
    allItems_.append(items);
}

void KZFoundItemsStore::removeFromAllItems(const KZFoundItemArray& removed)
{
    std::lock_guard guard(lock_);
    removeEvery(allItems_, removed);
}

std::optional<KZFoundItemArray> KZFoundItemsStore::allEmptyFolders() const
{
    std::lock_guard guard(lock_);
    return allEmptyFolders_;
}

void KZFoundItemsStore::setAllEmptyFolders(const std::optional<KZFoundItemArray>& folders)
{
    std::lock_guard guard(lock_);
    allEmptyFolders_ = folders;
}

void KZFoundItemsStore::appendToEmptyFolders(const KZFoundItemArray& folders)
{
    std::lock_guard guard(lock_);
    if (!allEmptyFolders_)
        allEmptyFolders_.emplace();
    allEmptyFolders_->append(folders);
}

void KZFoundItemsStore::removeFromEmptyFolders(const KZFoundItemArray& removed)
{
    std::lock_guard guard(lock_);
    if (allEmptyFolders_)
        removeEvery(*allEmptyFolders_, removed);
}
