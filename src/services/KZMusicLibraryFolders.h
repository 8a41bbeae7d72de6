#pragma once

#include <filesystem>
#include <functional>

// Where the music library keeps its files, for the searches that leave them
// out and the removals that never take them. The media layer installs the
// providers (services cannot see it); KZItemInspection::iTunesFolderLocationPath
// gives the media folder itself.
namespace KZMusicLibraryFolders {

// The folder whose files belong to the music library, which no search walks
// as plain files and no removal takes from: the media folder; while the
// library's export cannot be read and names no media folder, the folder that
// holds the export. Empty when there is none (or it is gone).
std::filesystem::path keptOutFolder();

// Reports the folder of an export that cannot be read and names no media
// folder; an empty function restores the default (none).
void setUnreadLibraryProvider(std::function<std::filesystem::path()> provider);

} // namespace KZMusicLibraryFolders
