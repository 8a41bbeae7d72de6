#pragma once

#include "platform/FileStat.h"

#include <filesystem>
#include <functional>
#include <string>

namespace platform {

struct DirEntry {
    std::string name; // the raw bytes of the name
    FileStat stat;    // of the entry itself: symbolic links are never followed
    bool statFailed = false;
    int statError = 0;
    unsigned char type = 0; // DT_* from the directory, useful when stat failed
};

// false from the visitor stops the listing (that is not an error).
using DirVisitor = std::function<bool(const DirEntry&)>;

// An open folder, held by descriptor so that a walker can descend with
// openAt() and never resolve a full path again. Opening never follows a
// symbolic link in the last component. Move-only; closes on destruction.
class DirectoryHandle {
public:
    DirectoryHandle() = default;
    ~DirectoryHandle();
    DirectoryHandle(DirectoryHandle&& other) noexcept;
    DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    static DirectoryHandle open(const std::filesystem::path& dir, int* err = nullptr);
    static DirectoryHandle openAt(int parentFd, const char* name, int* err = nullptr);

    bool isValid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Every entry but "." and ".." in directory order, each stat'ed on this
    // descriptor. The handle stays usable afterwards (and can be listed
    // again: a second listing starts over). One thread lists a handle at a
    // time. An entry that vanished between readdir and stat comes with
    // statFailed set. A read error part-way answers false with errno in `err`.
    bool list(const DirVisitor& visit, int* err = nullptr) const;

private:
    explicit DirectoryHandle(int fd) : fd_(fd) {}
    int fd_ = -1;
    // The descriptor's read position has left the start of the folder.
    mutable bool listed_ = false;
};

// One-shot forms. An unreadable folder answers false with EACCES (or the
// other errno) in `err`; the visitor is then never called.
bool listDirectory(const std::filesystem::path& dir, const DirVisitor& visit, int* err = nullptr);
bool listDirectoryAt(int parentFd, const char* name, const DirVisitor& visit, int* err = nullptr);

} // namespace platform
