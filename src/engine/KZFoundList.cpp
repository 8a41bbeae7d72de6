#include "engine/KZFoundList.h"

#include <new>
#include <utility>

KZFoundList::KZFoundList(KZFoundList&& other) noexcept
    : head_(std::exchange(other.head_, nullptr)), size_(std::exchange(other.size_, 0)),
      disks_(std::move(other.disks_))
{
}

KZFoundList& KZFoundList::operator=(KZFoundList&& other) noexcept
{
    if (this != &other) {
        clear();
        head_ = std::exchange(other.head_, nullptr);
        size_ = std::exchange(other.size_, 0);
        disks_ = std::move(other.disks_);
    }
    return *this;
}

bool KZFoundList::prepend(std::unique_ptr<TreeToCheck> node)
{
    if (!node)
        return false;
    auto* cell = new (std::nothrow) ArrayCStyle;
    if (!cell)
        return false;
    // A node in the list has no use for its tree links; clearing them keeps
    // a stale link from ever being followed into a freed node.
    node->left = nullptr;
    node->right = nullptr;
    cell->node = node.release();
    cell->next = head_;
    head_ = cell;
    ++size_;
    return true;
}

std::unique_ptr<TreeToCheck> KZFoundList::takeFirst()
{
    if (!head_)
        return {};
    ArrayCStyle* cell = head_;
    head_ = cell->next;
    --size_;
    std::unique_ptr<TreeToCheck> node(cell->node);
    delete cell;
    return node;
}

void KZFoundList::clear()
{
    while (head_) {
        ArrayCStyle* cell = head_;
        head_ = cell->next;
        delete cell->node;
        delete cell;
    }
    size_ = 0;
}
