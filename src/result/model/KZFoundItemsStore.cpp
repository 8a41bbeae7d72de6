#include "result/model/KZFoundItemsStore.h"

#include <algorithm>

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
    remember(removed, false);
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
    remember(removed, true);
}

KZFoundItemArray KZFoundItemsStore::dropFilledEmptyFolders(const std::function<bool(const KZFoundItemRef&)>& filled)
{
    std::lock_guard guard(lock_);
    KZFoundItemArray dropped;
    if (!allEmptyFolders_)
        return dropped;
    allEmptyFolders_->removeIf([&](const KZFoundItemRef& item) {
        if (!item || !filled(item))
            return false;
        dropped.append(item);
        return true;
    });
    return dropped;
}

bool KZFoundItemsStore::hasRemovedEmptyFolders() const
{
    std::lock_guard guard(lock_);
    return std::any_of(dropped_.begin(), dropped_.end(), [](const auto& entry) { return entry.second.emptyFolder; });
}

void KZFoundItemsStore::remember(const KZFoundItemArray& removed, bool emptyFolder)
{
    for (const KZFoundItemRef& item : removed)
        if (item)
            dropped_[item.get()] = {item, emptyFolder};
}

KZFoundItemsStore::TakenBack KZFoundItemsStore::takeBack(const KZFoundItemArray& restored)
{
    std::lock_guard guard(lock_);
    TakenBack back;
    for (const KZFoundItemRef& item : restored) {
        const auto found = item ? dropped_.find(item.get()) : dropped_.end();
        if (found == dropped_.end())
            continue;
        const bool emptyFolder = found->second.emptyFolder;
        dropped_.erase(found);
        if (emptyFolder) {
            // The tab of empty folders may have gone meanwhile: the folder
            // has no list to go back to.
            if (!allEmptyFolders_)
                continue;
            allEmptyFolders_->append(item);
            back.emptyFolders.append(item);
        } else {
            allItems_.append(item);
            back.items.append(item);
        }
    }
    return back;
}
