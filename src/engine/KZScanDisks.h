#pragma once

#include "platform/DiskIdentity.h"
#include "platform/FileStat.h"

#include <QtGlobal>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

// The disks a scan met, each as its file system told of itself while the
// scan was there (its marks, whether it keeps birth times): read once per
// device number, however many items lie on it. What is made later from what
// the scan read (a found item's bookmark, a saved result, a removal's
// records) takes its disk from here and never from whatever disk holds the
// device number by then: a disk plugged in again may have another number,
// and another disk the old one.
//
// Threads: every scan thread notes the items it reads. A thread remembers
// the last disk it noted, so an item on the disk of the one before costs a
// comparison, and only a disk met anew takes the lock.
class KZScanDisks {
public:
    using Facts = std::shared_ptr<const platform::FileSystemFacts>;
    // What a disk says of itself, asked of the item at a path (the item
    // itself, never where a link leads).
    using Reader = std::function<platform::FileSystemFacts(const std::filesystem::path&)>;

    // platform::fileSystemOf unless a test gives its own reader.
    explicit KZScanDisks(Reader reader = {});
    KZScanDisks(const KZScanDisks&) = delete;
    KZScanDisks& operator=(const KZScanDisks&) = delete;

    // Notes the disk of an item the scan has just read (`st`, links not
    // followed); `pathOf` gives the item's path, asked only when its disk is
    // read now.
    template <typename PathOf>
    void note(const platform::FileStat& st, PathOf&& pathOf)
    {
        const quint64 device = quint64(st.device);
        const quint64 mount = st.mountId.value_or(0);
        if (device == 0)
            return;
        if (lastNoted_.table == serial_ && lastNoted_.device == device && lastNoted_.mount == mount)
            return;
        noteNew(device, mount, std::function<std::filesystem::path()>(std::forward<PathOf>(pathOf)));
        lastNoted_ = {serial_, device, mount};
    }

    // The disk of the device number as the scan met it; null for a number
    // it never met.
    Facts find(quint64 device) const;
    // How many disks were read: one per device number met.
    std::size_t readings() const { return readings_.load(std::memory_order_relaxed); }

private:
    void noteNew(quint64 device, quint64 mount, const std::function<std::filesystem::path()>& pathOf);

    struct Disk {
        Facts facts;
        quint64 mount = 0; // the mount it was first met through
    };
    struct LastNoted {
        quint64 table;
        quint64 device;
        quint64 mount;
    };
    // Per thread, for whichever table it noted last: tables are told apart
    // by a serial number, never by an address another one may take later.
    static inline thread_local LastNoted lastNoted_{};
    static std::atomic<quint64> nextSerial_;

    const quint64 serial_;
    const Reader reader_;
    mutable std::mutex lock_;
    std::unordered_map<quint64, Disk> disks_;
    std::atomic<std::size_t> readings_{0};
};
