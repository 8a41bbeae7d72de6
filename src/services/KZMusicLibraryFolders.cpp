#include "services/KZMusicLibraryFolders.h"

#include "services/KZItemInspection.h"

#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct Provider {
    std::mutex lock;
    std::function<std::vector<fs::path>()> unreadLibrary;
};

Provider& provider()
{
    static Provider shared;
    return shared;
}

} // namespace

void KZMusicLibraryFolders::setUnreadLibraryProvider(std::function<std::vector<fs::path>()> unreadLibrary)
{
    std::lock_guard guard(provider().lock);
    provider().unreadLibrary = std::move(unreadLibrary);
}

std::vector<fs::path> KZMusicLibraryFolders::keptOutFolders()
{
    if (const auto media = KZItemInspection::iTunesFolderLocationPath(); media && !media->empty())
        return {*media};
    std::function<std::vector<fs::path>()> unreadLibrary;
    {
        std::lock_guard guard(provider().lock);
        unreadLibrary = provider().unreadLibrary;
    }
    std::vector<fs::path> folders = unreadLibrary ? unreadLibrary() : std::vector<fs::path>();
    std::erase_if(folders, [](const fs::path& folder) {
        std::error_code ec;
        return folder.empty() || !fs::exists(fs::symlink_status(folder, ec));
    });
    return folders;
}
