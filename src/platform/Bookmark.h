#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <optional>

namespace platform {

// A stored reference to an item: a binary property list {"path": the path's
// bytes, "pathString": the path for display, "device", "inode"}. The item is
// the path itself (a symbolic link is not followed).
QByteArray createBookmark(const std::filesystem::path& path, QString* error = nullptr);

struct ResolvedBookmark {
    std::filesystem::path path;
    bool renamed = false; // found under another name in the same folder
};

// The stored path when it still holds the same device and inode; else the
// entry of the same parent folder that does (the item was renamed); else the
// item is missing and the answer is nullopt (with a reason in `error`).
std::optional<ResolvedBookmark> resolveBookmark(const QByteArray& data, QString* error = nullptr);

} // namespace platform
