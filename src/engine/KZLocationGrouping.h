#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <filesystem>
#include <vector>

// Reduces a list of items to those that lie inside no other folder of the
// same list, so that a folder and its own contents are never handled twice
// (moving a folder moves what it holds).

struct KZLocationEntry {
    std::filesystem::path path;
    bool isFolder = false; // a folder that is not a package
};

// Whoever runs the grouping: asked for a stop and told the progress. Every
// method has a harmless default.
class KZLocationGroupingDelegate {
public:
    virtual ~KZLocationGroupingDelegate() = default;
    virtual bool nsWasStopped() { return false; }
    virtual void setAlreadyCheckedCount(quint64 count) { (void)count; }
    // A key of the "Default" string table for the status line.
    virtual void updateFieldInfoWithString(const QString& key) { (void)key; }
    // The title of the step under way: 2 while the items are gathered, 3
    // while folders are compared with the rest.
    virtual void groupingStepBegan(int step) { (void)step; }
};

// The indices of the entries that lie inside no other listed folder, in the
// reverse of their input order. Entries that cannot be examined (lstat fails)
// are left out. Containment is decided by the (device, inode) of each
// ancestor folder, so a same-numbered folder on another volume, a renamed
// path or a second hard link never drops an item. A stop ends the work with
// what was decided so far.
std::vector<std::size_t> KZGroupItemsByLocation(const std::vector<KZLocationEntry>& entries,
                                                KZLocationGroupingDelegate* delegate = nullptr);
