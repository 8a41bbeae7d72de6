#pragma once

#include "engine/KZExcludedInfo.h"
#include "settings/KZSourceItem.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class KZFilesUtilities;
class KZSearchStuff;

// The home folder of the user running the program.
std::filesystem::path RealHomeDirectory();

// Adjusts a request's sources before a search so that no item is scanned
// twice, and turns a source's excluded folders into the record the scan
// consults.
//
// Locations are compared in one form throughout (see
// KZItemReader::comparableLocation): lexically normalised, so that "/a/b/",
// "/a//b" and "/a/./b" are one folder, with a leading "/Volumes" taken off,
// which is also the form in which the scan compares what it meets.
class KZSourcePreparation {
public:
    explicit KZSourcePreparation(const KZFilesUtilities& fileCntrl,
                                 std::filesystem::path homeDirectory = RealHomeDirectory());

    // Folder-content searches split the folder holding the users' homes into
    // sources of their own (this user's home and "Shared") and leave the other
    // users' homes out; every other search takes back what an earlier
    // folder-content search added. Sources that cannot be listed are left as
    // they are.
    void adjustSources(KZSearchStuff& stuff, bool isFolderCompareContent) const;

    // A source that repeats an earlier one is dropped; a source inside another
    // becomes an excluded folder of the outer one. Sources without a location
    // and photo libraries take no part; the others are still prepared.
    void checkDoubleLocations(KZSearchStuff& stuff) const;

    static KZSourceItemRef sourceItemWithURL(const std::filesystem::path& url);

    // The record of a source's excluded folders, each once; null when there
    // are none.
    static std::shared_ptr<KZExcludedInfo> setupExcluded(const std::vector<std::filesystem::path>& urls);

    // Where the location is in `array` (compared in the common form).
    static std::optional<std::size_t> indexOfItemInArray(const std::vector<std::filesystem::path>& array,
                                                         const std::filesystem::path& path);

private:
    const KZFilesUtilities& fileCntrl_;
    std::filesystem::path homeDirectory_;
};
