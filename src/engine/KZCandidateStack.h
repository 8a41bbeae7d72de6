#pragma once

#include "engine/ItemInfoArrayCStyle.h"

#include <atomic>
#include <cstddef>

// A stack of candidates, newest first. Not locked: the search controller
// guards its stacks with its own lock. Move-only; whatever is still on the
// stack when it goes away is released. Its size may be read without the
// lock, as an estimate of how far the stack's reader is behind.
class KZCandidateStack {
public:
    KZCandidateStack() = default;
    ~KZCandidateStack() { clear(); }
    KZCandidateStack(KZCandidateStack&& other) noexcept;
    KZCandidateStack& operator=(KZCandidateStack&& other) noexcept;
    KZCandidateStack(const KZCandidateStack&) = delete;
    KZCandidateStack& operator=(const KZCandidateStack&) = delete;

    // False, and the item is dropped, when no cell can be had.
    bool push(KZSearchItemInfoRef item);
    // The newest item, left on the stack; null when empty.
    const KZSearchItemInfoRef* top() const { return head_ ? &head_->item : nullptr; }
    // Unlinks the newest cell and answers its item; null when empty.
    KZSearchItemInfoRef pop();
    bool isEmpty() const { return head_ == nullptr; }
    std::size_t size() const { return size_.load(std::memory_order_relaxed); }
    // Releases every item and frees every cell.
    void clear();

private:
    ItemInfoArrayCStyle* head_ = nullptr;
    std::atomic<std::size_t> size_{0};
};
