#include "engine/KZScanDisks.h"

std::atomic<quint64> KZScanDisks::nextSerial_{1};

KZScanDisks::KZScanDisks(Reader reader)
    : serial_(nextSerial_.fetch_add(1, std::memory_order_relaxed)),
      reader_(reader ? std::move(reader) : Reader(&platform::fileSystemOf))
{
}

void KZScanDisks::noteNew(quint64 device, quint64 mount, const std::function<std::filesystem::path()>& pathOf)
{
    std::lock_guard guard(lock_);
    const auto known = disks_.find(device);
    if (known == disks_.end()) {
        // Read under the lock: two threads that meet a disk at once read it
        // once between them.
        auto facts = std::make_shared<const platform::FileSystemFacts>(reader_(pathOf()));
        readings_.fetch_add(1, std::memory_order_relaxed);
        disks_.emplace(device, Disk{std::move(facts), mount});
        return;
    }
    Disk& disk = known->second;
    // One file system shown through two mounts (a bind mount among the
    // searched folders): which of them showed an item is not kept, so the
    // disk's records name neither.
    if (mount != disk.mount && disk.facts->mount) {
        auto facts = std::make_shared<platform::FileSystemFacts>(*disk.facts);
        facts->mount.reset();
        disk.facts = std::move(facts);
    }
}

KZScanDisks::Facts KZScanDisks::find(quint64 device) const
{
    std::lock_guard guard(lock_);
    const auto known = disks_.find(device);
    return known == disks_.end() ? nullptr : known->second.facts;
}
