#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <mutex>
#include <vector>

// The (device, inode) pairs met by a scan, shared by its threads. Every item
// a scan files passes through here, from two workers at once: the set is
// split into shards with a lock each, and each shard keeps its keys in one
// open-addressed array instead of a node per key.
class KZObjectIDSet {
public:
    // False when the pair was there already. Inode 0 names no file and is
    // never stored.
    bool insert(quint64 device, quint64 inode)
    {
        if (inode == 0)
            return true;
        const std::size_t hash = mix(device, inode);
        Shard& shard = shards_[hash % kShards];
        std::lock_guard guard(shard.lock);
        return shard.insert(Key{device, inode}, hash / kShards);
    }

    void clear()
    {
        for (Shard& shard : shards_) {
            std::lock_guard guard(shard.lock);
            shard.slots = std::vector<Key>();
            shard.count = 0;
        }
    }

private:
    struct Key {
        quint64 device = 0;
        quint64 inode = 0; // 0: an empty slot
        bool operator==(const Key&) const = default;
    };

    struct Shard {
        std::mutex lock;
        std::vector<Key> slots;
        std::size_t count = 0;

        bool insert(const Key& key, std::size_t hash)
        {
            if ((count + 1) * 4 > slots.size() * 3)
                grow();
            const std::size_t mask = slots.size() - 1;
            for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
                if (slots[i].inode == 0) {
                    slots[i] = key;
                    ++count;
                    return true;
                }
                if (slots[i] == key)
                    return false;
            }
        }

        void grow()
        {
            std::vector<Key> old = std::move(slots);
            slots.assign(old.empty() ? 1024 : old.size() * 2, Key{});
            const std::size_t mask = slots.size() - 1;
            for (const Key& key : old) {
                if (key.inode == 0)
                    continue;
                std::size_t i = (mix(key.device, key.inode) / kShards) & mask;
                while (slots[i].inode != 0)
                    i = (i + 1) & mask;
                slots[i] = key;
            }
        }
    };

    static std::size_t mix(quint64 device, quint64 inode)
    {
        quint64 h = inode * 0x9E3779B97F4A7C15ull ^ device * 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 29;
        return std::size_t(h);
    }

    static constexpr std::size_t kShards = 16;
    std::array<Shard, kShards> shards_;
};
