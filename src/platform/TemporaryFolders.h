#pragma once

#include <QString>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// A folder of this process's own in the temporary folder, named
// "<prefix><pid>-XXXXXX" and locked (flock) while it lives, so that a later
// run can tell a folder that a killed run left from one in use. Removed with
// everything in it when the object goes.
class PrivateTemporaryFolder {
public:
    explicit PrivateTemporaryFolder(std::string_view prefix);
    ~PrivateTemporaryFolder();
    PrivateTemporaryFolder(const PrivateTemporaryFolder&) = delete;
    PrivateTemporaryFolder& operator=(const PrivateTemporaryFolder&) = delete;

    // Empty when the folder could not be made; problem() says why.
    const std::filesystem::path& path() const { return path_; }
    QString problem() const;

private:
    std::filesystem::path path_;
    int lock_ = -1;
    std::error_code error_;
};

// Removes what killed runs left in the temporary folder under `prefix`:
// only folders named as PrivateTemporaryFolder names them, owned by this
// user, whose process is gone and which no process holds locked (a run in
// another pid namespace may share the folder, and a pid may be handed out
// again). Links, other users' folders and anything named otherwise stay.
// Answers how many were removed.
int removeStaleTemporaryFolders(std::string_view prefix);

// The same, once per process, prefix and temporary folder: for readers that
// may run many times in one process.
void removeStaleTemporaryFoldersOnce(std::string_view prefix);

} // namespace platform
