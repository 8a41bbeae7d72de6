#pragma once

#include <QtGlobal>

#include <functional>

// A file system object by its device and inode, as a hash map key.
struct KZObjectKey {
    quint64 device;
    quint64 inode;
    bool operator==(const KZObjectKey&) const = default;
};

struct KZObjectKeyHash {
    std::size_t operator()(const KZObjectKey& key) const noexcept
    {
        return std::hash<quint64>{}(key.inode * 0x9E3779B97F4A7C15ull ^ key.device);
    }
};
