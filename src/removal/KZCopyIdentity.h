#pragma once

#include "platform/DiskIdentity.h"

#include <QtGlobal>

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What a copy made by a removal was when it was made, so that undo deletes
// it only while it is still that copy: an edited copy, or something the user
// put at its place since, is never deleted.
//
// A folder is described with every entry beneath it, so a file added,
// removed or changed anywhere inside counts as a change. Nothing is followed
// through a symbolic link: a link is described as itself.
struct KZCopyIdentity {
    struct Node {
        std::string relativePath; // empty for the copy itself; "/"-joined below it
        quint64 device = 0;
        quint64 inode = 0;
        mode_t type = 0; // the S_IFMT bits
        quint64 size = 0;
        qint64 modifiedSeconds = 0;
        qint64 modifiedNanoseconds = 0;
        bool operator==(const Node&) const = default;
    };
    // The copy first, then its entries depth first, each folder's in name order.
    std::vector<Node> nodes;
    // The disk the copy was made on, with its marks: a disk back under
    // another device number still holds the copy, and the device numbers of
    // the nodes are compared as the same disk's or not, never by value.
    std::optional<platform::DiskIdentity> disk;

    // nullopt when the item is missing or some folder inside cannot be read
    // whole: a copy that cannot be described is never deleted.
    static std::optional<KZCopyIdentity> capture(const std::filesystem::path& path);
    // The item at `path` is still exactly what was captured: every node's
    // kind, size, date and place in the copy, on the copy's disk, and its
    // number, which a disk that numbers its files anew at every mount does
    // not keep. NotProved: all but the numbers match on a disk not proved
    // to be the copy's, or with no record of that disk.
    platform::Proof prove(const std::filesystem::path& path) const;
    bool matches(const std::filesystem::path& path) const;

    bool operator==(const KZCopyIdentity&) const = default;
};
