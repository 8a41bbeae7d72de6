#include "engine/KZItemReader.h"

#include "engine/KZEnginePaths.h"
#include "platform/DirectoryListing.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace {

constexpr std::string_view kVolumesPrefix = "/Volumes/";

bool containsIcon(std::string_view name)
{
    static constexpr std::string_view icon = "icon";
    return std::search(name.begin(), name.end(), icon.begin(), icon.end(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           }) != name.end();
}

} // namespace

KZItemReader::KZItemReader(const KZSearchCriteria& criteria,
                           const std::vector<std::filesystem::path>& exludedByLocation, quint64 exclLocsCount,
                           const KZStopSource* stop, const KZFilesUtilities& fileCntrl)
    : criteria_(criteria), stop_(stop), fileCntrl_(fileCntrl)
{
    const size_t used = size_t(std::min<quint64>(exclLocsCount, exludedByLocation.size()));
    // Sources are walked where their links lead: an exclusion named through
    // a link is compared where it leads too, or the folder it keeps out
    // would be walked under its other name.
    for (size_t i = 0; i < used; ++i) {
        for (const std::filesystem::path& place : platform::exclusionPlaces(exludedByLocation[i]))
            globalExclusions_.insert(comparableLocation(place).native());
    }
}

std::filesystem::path KZItemReader::comparableLocation(const std::filesystem::path& path)
{
    std::filesystem::path location = KZEnginePaths::normalized(path);
    const std::string& s = location.native();
    if (s.size() > kVolumesPrefix.size() && s.compare(0, kVolumesPrefix.size(), kVolumesPrefix) == 0)
        return std::filesystem::path(s.substr(kVolumesPrefix.size() - 1));
    return location;
}

bool KZItemReader::setCurrVariables(KZSearchItemInfo& item, qint16 label) const
{
    return setCurrVariables(item, label, KZItemAttributes::read(item.url()));
}

bool KZItemReader::setCurrVariables(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) const
{
    // An item that is gone by the time it is read cannot be anybody's
    // duplicate; keeping it would only offer a ghost for removal.
    if (!attributes.exists())
        return false;
    const platform::FileStat& st = *attributes.stat();

    item.setIsAlias(attributes.isAlias());
    item.setIsLocked(attributes.isLocked());
    item.setLabel(label);
    item.setMultiPurposeInfo(0);
    item.setIsApplication(false);
    item.setIsDirectory(attributes.isDirectory());
    item.setIsRegularFile(st.isRegular());
    item.setIsPackage(attributes.isPackage());
    item.setDevice(quint64(st.device));
    item.setInode(st.inode);
    item.setModificationTime(st.modified);
    scanDisks_->note(st, [&attributes] { return attributes.path(); });
    // Read with the alias flag above: the filters judge visibility, custom
    // icons and labels from the item and never go back to the file.
    item.setFinderFlags(attributes.finderInfo().flags());

    if (item.isDirectory()) {
        if (item.isPackage() && criteria_.isKindApplication())
            item.setIsApplication(attributes.isApplication());
        const bool byContent = criteria_.isFolderCompareContent();
        const bool onlyContent = criteria_.isOnlyContent();
        // A plain folder compared by content but not only by content is
        // measured later, once the filters have accepted it.
        const bool measureNow = item.isPackage() ? !(byContent && !onlyContent)
                                                 : (byContent && onlyContent && !foldersMeasuredByScan_);
        return measureNow ? setCurrPackagesVariables(item, attributes) : true;
    }

    item.setType(attributes.typeCode());
    if (const auto size = attributes.totalFileSize())
        item.setTotSize(*size);
    return true;
}

bool KZItemReader::setCurrPackagesVariables(KZSearchItemInfo& item) const
{
    return setCurrPackagesVariables(item, KZItemAttributes::read(item.url()));
}

bool KZItemReader::setCurrPackagesVariables(KZSearchItemInfo& item, const KZItemAttributes& attributes) const
{
    const bool plainFolder = item.isDirectory() && !item.isPackage();
    if (plainFolder && !criteria_.isFolderCompareContent() && !criteria_.isSameSize())
        return true;
    if (criteria_.isSongTags())
        return false;

    bool answer = true;
    const bool skipsEmpty = (criteria_.isSkipData() && criteria_.skipDataValue() == 0)
        || (criteria_.isSkipResource() && criteria_.skipResourceValue() == 0);
    if (criteria_.isCompareContent() && skipsEmpty && checkForEmptyFolder(item.url()))
        answer = false;

    const bool measured = plainFolder && foldersMeasuredByScan_;
    if (answer && !measured
        && (criteria_.isSize() || criteria_.isEmptyFile() || (criteria_.isFolderCompareContent() && plainFolder)))
        measureFolder(item);

    if (!criteria_.isType() && !criteria_.isKind())
        item.setType(0);
    else if (attributes.exists())
        item.setType(attributes.typeCode());
    return answer;
}

void KZItemReader::measureFolder(KZSearchItemInfo& item) const
{
    ItemCountInfo counts;
    const ItemSizeInfo sizes = fileCntrl_.iterateFolderForSize(item.url(), stop_, &counts, true);
    item.setMultiPurposeInfo(counts.folders + counts.filesAndPackages);
    item.setTotSize(sizes.totalFileSize);
}

bool KZItemReader::isExcluded(const std::filesystem::path& url, const KZExcludedInfo* excluded) const
{
    const bool hasOwn = excluded && excluded->count() > 0 && !excluded->excluded().empty();
    if (globalExclusions_.empty() && !hasOwn)
        return false;
    const std::filesystem::path location = comparableLocation(url);
    if (globalExclusions_.count(location.native()) != 0)
        return true;
    if (!hasOwn)
        return false;
    const auto& entries = excluded->excluded();
    const size_t used = size_t(std::min<quint64>(excluded->count(), entries.size()));
    for (size_t i = 0; i < used; ++i) {
        const auto& entry = entries[i];
        if (KZEnginePaths::isNormalized(entry) ? entry == location : comparableLocation(entry) == location)
            return true;
    }
    return false;
}

std::unordered_set<std::string> KZItemReader::foldersHoldingExclusions(const KZExcludedInfo* excluded) const
{
    std::unordered_set<std::string> holders;
    for (const std::string& location : globalExclusions_)
        holders.insert(std::filesystem::path(location).parent_path().native());
    if (excluded) {
        const auto& entries = excluded->excluded();
        const size_t used = size_t(std::min<quint64>(excluded->count(), entries.size()));
        for (size_t i = 0; i < used; ++i) {
            const std::filesystem::path location
                = KZEnginePaths::isNormalized(entries[i]) ? entries[i] : comparableLocation(entries[i]);
            holders.insert(location.parent_path().native());
        }
    }
    return holders;
}

bool KZItemReader::mayHoldExclusions(const std::filesystem::path& folder,
                                     const std::unordered_set<std::string>& holders)
{
    if (holders.empty())
        return false;
    if (!folder.is_absolute())
        return true; // "." and its like change form when an entry is added
    const std::string location = comparableLocation(folder).native();
    // The entries of the volumes folder itself lose that prefix when they
    // are compared, and so change parent: they are always asked.
    return holders.count(location) != 0 || location + '/' == kVolumesPrefix;
}

bool KZItemReader::extensionIsSame(const QString& extension) const
{
    if (extension.isEmpty())
        return false;
    const QStringList& extensions = criteria_.extensions();
    return std::any_of(extensions.begin(), extensions.end(),
                       [&](const QString& listed) { return listed == extension; });
}

bool KZItemReader::nameForSearch(const QString& name, const KZSearchItemInfo& /*item*/) const
{
    return !name.isEmpty();
}

KZItemReader::EntryWeight KZItemReader::weighEntryForEmptiness(const platform::DirEntry& entry) const
{
    if (entry.statFailed)
        return entry.statError == ENOENT ? EntryWeight::Nothing // removed while we looked: it holds nothing
                                         : EntryWeight::Content;
    const std::string_view name = entry.name;
    if (entry.stat.isDir() && !platform::isPackageExtension(KZEnginePaths::extensionOfBytes(name)))
        return EntryWeight::Subfolder;
    // Only the file system's own bookkeeping leaves a folder empty; a ".env"
    // or ".gitignore" is somebody's content.
    if (!name.empty() && name.front() == '.' && KZFilesUtilities::isFolderMetadataName(name))
        return EntryWeight::Nothing;
    if (criteria_.isExcludeEFCustIcon())
        return EntryWeight::Content;
    return containsIcon(name) && !entry.stat.isSymlink() ? EntryWeight::Unsure : EntryWeight::Content;
}

bool KZItemReader::checkForEmptyFolder(const std::filesystem::path& folder) const
{
    const bool nested = criteria_.isNestedEmptied();
    // Nested emptiness is decided over the whole subtree; a worklist instead
    // of recursion keeps a deep chain of empty folders from exhausting the
    // stack.
    std::vector<std::filesystem::path> pending{folder};
    while (!pending.empty()) {
        const std::filesystem::path current = std::move(pending.back());
        pending.pop_back();
        bool empty = true;
        const bool listed = platform::listDirectory(current, [&](const platform::DirEntry& entry) {
            switch (weighEntryForEmptiness(entry)) {
            case EntryWeight::Nothing:
                return true;
            case EntryWeight::Subfolder:
                if (!nested)
                    break;
                pending.push_back(current / entry.name);
                return true;
            case EntryWeight::Unsure:
                // The custom-icon file ("Icon\r") is kept invisible by its
                // Finder flags; it does not make a folder worth keeping.
                if (platform::readFinderInfo(current / entry.name, false).isInvisible())
                    return true;
                break;
            case EntryWeight::Content:
                break;
            }
            empty = false;
            return false;
        });
        if (!listed || !empty)
            return false;
    }
    return true;
}
