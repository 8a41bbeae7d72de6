#pragma once

#include <filesystem>
#include <functional>
#include <vector>

// Where the music library keeps its files, for the searches that leave them
// out and the removals that never take them. The media layer installs the
// providers (services cannot see it); KZItemInspection::iTunesFolderLocationPath
// gives the media folder itself.
namespace KZMusicLibraryFolders {

// The folders whose files belong to the music library, which no search
// walks as plain files and no removal takes from: the media folder; while
// the library's export cannot be read and no media folder can be learned
// from it, the folders the unread-library provider names (those that are
// there). Empty when there is none.
std::vector<std::filesystem::path> keptOutFolders();

// Reports the folders that stand for the media folder of an export that
// cannot be read and names none that can be found; an empty function
// restores the default (none).
void setUnreadLibraryProvider(std::function<std::vector<std::filesystem::path>()> provider);

} // namespace KZMusicLibraryFolders
