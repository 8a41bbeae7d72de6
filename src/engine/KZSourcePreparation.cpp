#include "engine/KZSourcePreparation.h"

#include "engine/KZEnginePaths.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "platform/DirectoryListing.h"
#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/Users.h"
#include "settings/KZSearchStuff.h"

#include <QVariant>
#include <QVariantMap>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// The visible top level of a folder, as paths; empty when the folder cannot
// be listed to its end (the caller then leaves the source alone rather than
// act on half a listing).
std::optional<std::vector<KZItemAttributes>> visibleChildren(const fs::path& folder)
{
    std::vector<KZItemAttributes> children;
    const bool listed = platform::listDirectory(folder, [&](const platform::DirEntry& entry) {
        KZItemAttributes child = KZItemAttributes::fromEntry(folder, entry);
        if (child.exists() && !child.isHidden())
            children.push_back(std::move(child));
        return true;
    });
    if (!listed)
        return std::nullopt;
    return children;
}

bool takesPart(const KZSourceItem& source)
{
    return !source.isPhotosLib();
}

// A folder source that can repeat another: libraries and saved searches
// are not folders that the scan walks.
bool isPlainFolderSource(const KZSourceItem& source)
{
    return !source.isPhotosLib() && source.iTunesLibValue() != 1 && !source.isSmartFolder();
}

bool listsLocation(const std::vector<fs::path>& locations, const fs::path& location)
{
    return KZSourcePreparation::indexOfItemInArray(locations, location).has_value();
}

} // namespace

fs::path RealHomeDirectory()
{
    return platform::homeDirectory();
}

KZSourcePreparation::KZSourcePreparation(const KZFilesUtilities& fileCntrl, fs::path homeDirectory)
    : fileCntrl_(fileCntrl), homeDirectory_(KZEnginePaths::normalized(homeDirectory))
{
}

KZSourceItemRef KZSourcePreparation::sourceItemWithURL(const fs::path& url)
{
    QVariantMap dictionary;
    dictionary.insert(QStringLiteral("url"), QVariant::fromValue(url));
    dictionary.insert(QStringLiteral("isDisk"), false);
    dictionary.insert(QStringLiteral("isLocked"), false);
    dictionary.insert(QStringLiteral("isPhotosLib"), false);
    dictionary.insert(QStringLiteral("isCurrentLibrary"), false);
    return KZSourceItem::create(dictionary);
}

void KZSourcePreparation::adjustSources(KZSearchStuff& stuff, bool isFolderCompareContent) const
{
    std::vector<KZSourceItemRef> sources = stuff.sources();
    // What an earlier search added is taken back first, so that the
    // exclusions of a search are exactly its own and none outlives the
    // sources that caused it.
    for (const auto& source : sources)
        source->removeExcludedAddedProgramatically();
    if (!isFolderCompareContent)
        return;

    const fs::path homeName = homeDirectory_.filename();
    const fs::path usersFolder = homeDirectory_.parent_path();
    if (homeName.empty() || usersFolder.empty())
        return;

    std::vector<fs::path> known;
    for (const auto& source : sources)
        known.push_back(source->url());
    std::vector<KZSourceItemRef> added;
    auto addSource = [&](const fs::path& location) {
        if (listsLocation(known, location))
            return; // already searched as a source of its own
        known.push_back(location);
        added.push_back(sourceItemWithURL(location));
    };
    auto exclude = [](KZSourceItem& source, const fs::path& location) {
        if (!listsLocation(source.excluded(), location))
            source.addExcludedProgramatically(location);
    };

    const size_t n = sources.size();
    for (size_t i = 0; i < n; ++i) {
        KZSourceItem& source = *sources[i];
        if (source.isPhotosLib() || source.iTunesLibValue() == 1 || source.url().empty())
            continue;
        const auto children = visibleChildren(source.url());
        if (!children)
            continue;
        for (const KZItemAttributes& child : *children) {
            if (!child.isDirectory() || KZEnginePaths::normalized(child.path()) != usersFolder)
                continue;
            addSource(child.path());
            exclude(source, child.path());
            const auto homes = visibleChildren(child.path());
            if (!homes)
                continue;
            for (const KZItemAttributes& home : *homes) {
                if (!home.isDirectory())
                    continue;
                const fs::path name = home.path().filename();
                if (name == homeName || name == "Shared")
                    addSource(home.path());
                else
                    exclude(source, home.path());
            }
        }
    }
    if (added.empty())
        return;
    sources.insert(sources.end(), added.begin(), added.end());
    stuff.setSources(std::move(sources));
}

void KZSourcePreparation::checkDoubleLocations(KZSearchStuff& stuff) const
{
    std::vector<KZSourceItemRef> sources = stuff.sources();

    // A folder given twice (in two spellings, or through a link to it) would
    // have every item in it met twice and taken for its own duplicate.
    struct Seen {
        fs::path location;
        std::optional<platform::FileStat> identity;
    };
    std::vector<Seen> seen;
    std::vector<KZSourceItemRef> kept;
    for (const auto& source : sources) {
        if (isPlainFolderSource(*source) && !source->url().empty()) {
            Seen here{KZItemReader::comparableLocation(source->url()), platform::statPath(source->url(), true)};
            const bool repeat = std::any_of(seen.begin(), seen.end(), [&](const Seen& earlier) {
                return earlier.location == here.location
                    || (earlier.identity && here.identity && earlier.identity->sameItem(*here.identity));
            });
            if (repeat)
                continue;
            seen.push_back(std::move(here));
        }
        kept.push_back(source);
    }
    const bool dropped = kept.size() != sources.size();

    // The locations in the form the scan compares; empty for a source that
    // has none (it takes no part, and the others are still prepared).
    std::vector<fs::path> locations;
    for (const auto& source : kept) {
        const fs::path path = source->path();
        locations.push_back(path.empty() ? fs::path() : KZItemReader::comparableLocation(path));
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        if (!takesPart(*kept[i]) || locations[i].empty())
            continue;
        for (size_t j = 0; j < kept.size(); ++j) {
            if (j == i || !takesPart(*kept[j]) || locations[j].empty())
                continue;
            if (!KZEnginePaths::isStrictlyInside(locations[j], locations[i]))
                continue;
            // Kept among the search's own entries, so that it is taken back
            // before the next search instead of staying as if the user had
            // excluded the folder.
            if (!listsLocation(kept[i]->excluded(), locations[j]))
                kept[i]->addExcludedProgramatically(locations[j]);
        }
    }
    if (dropped)
        stuff.setSources(std::move(kept));
}

std::shared_ptr<KZExcludedInfo> KZSourcePreparation::setupExcluded(const std::vector<fs::path>& urls)
{
    if (urls.empty())
        return nullptr;
    std::vector<fs::path> excluded;
    excluded.reserve(urls.size());
    for (const fs::path& url : urls) {
        // Also where links on the way lead, as the source itself is walked.
        for (const fs::path& place : platform::exclusionPlaces(url)) {
            fs::path location = KZItemReader::comparableLocation(place);
            // Exact: on a case-sensitive file system "Photos" and "photos" are
            // two folders, and folding them would let one of them be searched.
            if (std::find(excluded.begin(), excluded.end(), location) == excluded.end())
                excluded.push_back(std::move(location));
        }
    }
    return KZExcludedInfo::create(std::move(excluded));
}

std::optional<std::size_t> KZSourcePreparation::indexOfItemInArray(const std::vector<fs::path>& array,
                                                                   const fs::path& path)
{
    const fs::path wanted = KZItemReader::comparableLocation(path);
    for (size_t i = 0; i < array.size(); ++i) {
        if (KZItemReader::comparableLocation(array[i]) == wanted)
            return i;
    }
    return std::nullopt;
}
