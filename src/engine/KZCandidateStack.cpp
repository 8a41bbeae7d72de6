#include "engine/KZCandidateStack.h"

#include <new>
#include <utility>

KZCandidateStack::KZCandidateStack(KZCandidateStack&& other) noexcept
    : head_(std::exchange(other.head_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

KZCandidateStack& KZCandidateStack::operator=(KZCandidateStack&& other) noexcept
{
    if (this != &other) {
        clear();
        head_ = std::exchange(other.head_, nullptr);
        size_ = std::exchange(other.size_, 0);
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
    ++size_;
    return true;
}

KZSearchItemInfoRef KZCandidateStack::pop()
{
    if (!head_)
        return {};
    ItemInfoArrayCStyle* cell = head_;
    head_ = cell->next;
    --size_;
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
    size_ = 0;
}
