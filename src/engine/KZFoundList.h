#pragma once

#include "engine/ArrayCStyle.h"
#include "engine/KZScanDisks.h"
#include "engine/TreeToCheck.h"

#include <cstddef>
#include <memory>
#include <utility>

// The engine's product: every confirmed node, newest first. The list owns
// its cells and nodes; it is owned by one side at a time (the engine while it
// searches, then the result model), so it moves and never copies. Whatever a
// list still holds when it goes away is freed, each node and cell once.
class KZFoundList {
public:
    KZFoundList() = default;
    ~KZFoundList() { clear(); }
    KZFoundList(KZFoundList&& other) noexcept;
    KZFoundList& operator=(KZFoundList&& other) noexcept;
    KZFoundList(const KZFoundList&) = delete;
    KZFoundList& operator=(const KZFoundList&) = delete;

    // Puts the node in front. When no cell can be had the node is freed and
    // the answer is false.
    bool prepend(std::unique_ptr<TreeToCheck> node);

    // The newest cell, for a walk that leaves the list as it is.
    const ArrayCStyle* head() const { return head_; }
    bool isEmpty() const { return head_ == nullptr; }
    std::size_t size() const { return size_; }

    // Unlinks the newest cell, frees it and hands its node over; null when the
    // list is empty. The receiver builds its item and lets the node go.
    std::unique_ptr<TreeToCheck> takeFirst();

    void clear();

    // The disks of the scan that found the nodes, each as the scan met it:
    // what is made later from a node names its disk from here. None for a
    // list made otherwise.
    void setScanDisks(std::shared_ptr<const KZScanDisks> disks) { disks_ = std::move(disks); }
    const std::shared_ptr<const KZScanDisks>& scanDisks() const { return disks_; }
    // The disk of a node's device number; null when the scan's disks are
    // not known.
    KZScanDisks::Facts diskOf(quint64 device) const { return disks_ ? disks_->find(device) : nullptr; }

private:
    ArrayCStyle* head_ = nullptr;
    std::size_t size_ = 0;
    std::shared_ptr<const KZScanDisks> disks_;
};
