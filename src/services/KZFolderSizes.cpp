// Folder measurement.
//
// Both measurements walk the folder depth first with one open descriptor per
// level (openat from the parent, symbolic links never followed), listing each
// folder once and describing every entry with the fstatat of that listing,
// so that no item is looked up by its full path again and names are bytes
// throughout. The walk itself knows nothing of sums: each measurement says
// what an item adds and what an error means for it.
#include "services/KZFolderSizes.h"

#include "platform/DirectoryListing.h"
#include "platform/Log.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "services/KZStopSource.h"

#include <QFile>

#include <cerrno>
#include <string_view>

namespace fs = std::filesystem;

namespace {

using ItemVisitor = std::function<bool(const platform::DirEntry&)>;
// Answers true to pass over the folder or item that failed, false to end.
using ErrorHandler = std::function<bool(int err)>;

struct Frame {
    platform::DirectoryHandle dir;
    std::vector<platform::DirEntry> entries;
    size_t next = 0;
};

// Fills `frame.entries`; false when the walk must end.
bool listFrame(Frame& frame, const ErrorHandler& onError)
{
    int err = 0;
    const bool complete = frame.dir.list(
        [&frame](const platform::DirEntry& entry) {
            frame.entries.push_back(entry);
            return true;
        },
        &err);
    // The entries read before a failure were met and still count.
    return complete || onError(err);
}

void walkFolder(const fs::path& root, const ItemVisitor& onItem, const ErrorHandler& onError)
{
    int err = 0;
    std::vector<Frame> stack;
    stack.push_back(Frame{platform::DirectoryHandle::open(root, &err), {}, 0});
    if (!stack.back().dir.isValid()) {
        onError(err);
        return;
    }
    if (!listFrame(stack.back(), onError))
        return;

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const platform::DirEntry entry = std::move(frame.entries[frame.next++]);
        if (entry.statFailed) {
            // Gone between the listing and its description: nothing to measure.
            if (entry.statError == ENOENT)
                continue;
            if (!onError(entry.statError))
                return;
        }
        if (!onItem(entry))
            return;
        if (entry.statFailed || !entry.stat.isDir())
            continue;

        Frame child{platform::DirectoryHandle::openAt(frame.dir.fd(), entry.name.c_str(), &err), {}, 0};
        if (!child.dir.isValid()) {
            if (err == ENOENT)
                continue;
            if (!onError(err))
                return;
            continue;
        }
        stack.push_back(std::move(child)); // `frame` is not used past this point
        if (!listFrame(stack.back(), onError))
            return;
    }
}

// Finder's folder settings files say nothing about the folder's contents.
bool isMeasuredName(std::string_view name)
{
    if (name == "." || name == "..")
        return false;
    return !name.starts_with(".DS_Store");
}

} // namespace

ItemSizeInfo KZFolderSizes::iterateFolderForSize(const fs::path& folder, quint64* itemsFound,
                                                 const KZStopSource* stop)
{
    ItemSizeInfo sums;
    if (folder.empty() || (stop && stop->wasStopped()))
        return sums;
    walkFolder(
        folder,
        [&](const platform::DirEntry& entry) {
            if (stop && stop->wasStopped())
                return false;
            if (itemsFound)
                ++*itemsFound;
            if (!entry.statFailed && !entry.stat.isDir()) {
                sums.totalFileSize += entry.stat.size;
                sums.fileSize += entry.stat.size;
            }
            return true;
        },
        [](int) { return true; });
    return sums;
}

ItemSizeInfo KZFolderSizes::iterateFolderForSize(const fs::path& folder, const KZStopSource* stop,
                                                 ItemCountInfo* itemsFound, bool incrementCount)
{
    ItemSizeInfo sums;
    const auto stopped = [stop] { return stop && stop->wasStopped(); };
    if (folder.empty() || stopped())
        return sums;
    const bool counting = incrementCount && itemsFound;
    walkFolder(
        folder,
        [&](const platform::DirEntry& entry) {
            const bool isFolder = entry.stat.isDir();
            if (stopped())
                return false;
            if (isMeasuredName(entry.name)) {
                if (isFolder) {
                    if (counting) {
                        if (platform::isPackageExtension(platform::nameExtension(entry.name)))
                            ++itemsFound->filesAndPackages;
                        else
                            ++itemsFound->folders;
                    }
                } else {
                    if (counting)
                        ++itemsFound->filesAndPackages;
                    sums.totalFileSize += entry.stat.size;
                    sums.fileSize += entry.stat.size;
                }
            }
            return !stopped();
        },
        [](int) { return false; });
    return sums;
}

bool KZFolderSizes::isFolderMetadataName(std::string_view name)
{
    // "._" alone is not an AppleDouble file: it has no name to shadow.
    return name == ".DS_Store" || name == ".localized" || name == "Icon\r"
        || (name.size() > 2 && name.starts_with("._"));
}

bool KZFolderSizes::cantBeCalculated(const QString& name)
{
    const QByteArray bytes = QFile::encodeName(name);
    return isMeasuredName(std::string_view(bytes.constData(), size_t(bytes.size())));
}
