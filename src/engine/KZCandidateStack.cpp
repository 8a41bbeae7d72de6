#include "engine/KZCandidateStack.h"

#include <new>
#include <utility>

KZCandidateStack::KZCandidateStack(KZCandidateStack&& other) noexcept
    : head_(std::exchange(other.head_, nullptr)), size_(other.size_.exchange(0, std::memory_order_relaxed))
{
}

KZCandidateStack& KZCandidateStack::operator=(KZCandidateStack&& other) noexcept
{
    if (this != &other) {
        clear();
        head_ = std::exchange(other.head_, nullptr);
        size_.store(other.size_.exchange(0, std::memory_order_relaxed), std::memory_order_relaxed);
    }
    return *this;
}

bool KZCandidateStack::push(KZSearchItemInfoRef item)
{
    auto* cell = new (std::nothrow) ItemInfoArrayCStyle;
    if (!cell)
        return false;
    cell->item = std::move(item);
    cell->next = head_;
    head_ = cell;
    // Written only under the owner's lock: no read-modify-write is needed.
    size_.store(size_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return true;
}

KZSearchItemInfoRef KZCandidateStack::pop()
{
    if (!head_)
        return {};
    ItemInfoArrayCStyle* cell = head_;
    head_ = cell->next;
    size_.store(size_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    KZSearchItemInfoRef item = std::move(cell->item);
    delete cell;
    return item;
}

void KZCandidateStack::clear()
{
    while (head_) {
        ItemInfoArrayCStyle* cell = head_;
        head_ = cell->next;
        delete cell;
    }
    size_.store(0, std::memory_order_relaxed);
}
