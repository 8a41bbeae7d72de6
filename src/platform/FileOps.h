#pragma once

#include <QString>

#include <filesystem>

namespace platform {

// The system's text for an errno value.
QString systemErrorString(int err);

// Writes all of `data`, retrying after signals and short writes. False with
// errno set on an error; EIO when the descriptor takes no more bytes.
bool writeAll(int fd, const char* data, size_t size);

// Moves `from` to `to` (same file system) and never replaces an item that is
// already at `to`: renameat2(RENAME_NOREPLACE), else, where the file system
// does not support that flag, a hard link and an unlink for non-folders, or a
// reserved empty placeholder for folders. A symbolic link is moved itself.
// On failure nothing has moved; `err` receives the errno (EEXIST when the
// destination is taken, EXDEV across file systems).
bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                   QString* error = nullptr, int* err = nullptr);

} // namespace platform
