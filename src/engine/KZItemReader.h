#pragma once

#include "engine/KZExcludedInfo.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZScanDisks.h"
#include "engine/KZSearchItemInfo.h"

#include <QString>
#include <QtGlobal>

#include "platform/DirectoryListing.h"

#include <filesystem>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class KZFilesUtilities;
class KZSearchCriteria;
class KZStopSource;

// Reads every item the scan meets into its KZSearchItemInfo and answers the
// two exclusion questions (by location, by extension). The criteria, the
// request's exclusions and the stop source must outlive the reader; nothing
// here changes after construction, so one reader serves every scan thread.
class KZItemReader {
public:
    // The first `exclLocsCount` entries of `exludedByLocation` are left out of
    // every source. `stop` (may be null) ends a folder measurement early;
    // `fileCntrl` measures folders (each scan worker may bring its own).
    KZItemReader(const KZSearchCriteria& criteria, const std::vector<std::filesystem::path>& exludedByLocation,
                 quint64 exclLocsCount, const KZStopSource* stop, const KZFilesUtilities& fileCntrl);

    // Fills the item from the item at its url(). False rejects the item
    // before the filters (also when there is no item to read). The item's
    // disk is noted in scanDisks(), read the first time the scan meets it.
    bool setCurrVariables(KZSearchItemInfo& item, qint16 label) const;
    // The same from attributes already read, such as a listing's.
    bool setCurrVariables(KZSearchItemInfo& item, qint16 label, const KZItemAttributes& attributes) const;

    // The size, item count and type of a folder or package. False rejects it.
    bool setCurrPackagesVariables(KZSearchItemInfo& item) const;
    bool setCurrPackagesVariables(KZSearchItemInfo& item, const KZItemAttributes& attributes) const;

    // In a folder-content search the scan adds every folder's contents into
    // its parent as it walks, so that a folder is never listed again just to
    // be measured; folders then keep the sizes the scan gives them.
    void setFoldersMeasuredByScan(bool byScan) { foldersMeasuredByScan_ = byScan; }
    bool foldersMeasuredByScan() const { return foldersMeasuredByScan_; }
    // The total size and item count of a folder the scan did not walk itself.
    void measureFolder(KZSearchItemInfo& item) const;

    // True when the location is left out of the search, by the request or by
    // the source's own record (which may be null).
    bool isExcluded(const std::filesystem::path& url, const KZExcludedInfo* excluded) const;
    // Whether isExcluded can answer true at all: a walk asks before it puts
    // a path together for every entry.
    bool excludesAny(const KZExcludedInfo* excluded) const
    {
        return !globalExclusions_.empty() || (excluded && excluded->count() > 0 && !excluded->excluded().empty());
    }

    // The folders (in the compared form) directly inside which isExcluded
    // can answer true, so that a walk asks once per folder whether any of
    // its entries needs the question. Answers for the request's exclusions
    // and the source's own record (may be null).
    std::unordered_set<std::string> foldersHoldingExclusions(const KZExcludedInfo* excluded) const;
    // Whether an entry of `folder` can be left out by location, given the
    // answer above.
    static bool mayHoldExclusions(const std::filesystem::path& folder,
                                  const std::unordered_set<std::string>& holders);

    // True when the extension is one of the criteria's, compared exactly.
    bool extensionIsSame(const QString& extension) const;

    // True when there is a name to search with.
    bool nameForSearch(const QString& name, const KZSearchItemInfo& item) const;

    // True when the folder holds nothing but dot files and hidden icon files
    // (unless custom icons count as content) and, with nested emptying, empty
    // subfolders. A folder that cannot be listed to its end is not empty.
    bool checkForEmptyFolder(const std::filesystem::path& folder) const;
    // What one entry of a listing says about its folder's emptiness, by the
    // rule above without looking into subfolders: Content, Nothing (the file
    // system's bookkeeping), Subfolder, or Unsure when only a look at the
    // entry itself can tell (an invisible custom-icon file).
    enum class EntryWeight { Content, Nothing, Subfolder, Unsure };
    EntryWeight weighEntryForEmptiness(const platform::DirEntry& entry) const;

    // The disks of the items read so far, shared by every copy of the reader.
    const std::shared_ptr<KZScanDisks>& scanDisks() const { return scanDisks_; }

    // The form in which exclusions are compared: normalised, with a leading
    // "/Volumes" taken off.
    static std::filesystem::path comparableLocation(const std::filesystem::path& path);

private:
    const KZSearchCriteria& criteria_;
    const KZStopSource* stop_;
    const KZFilesUtilities& fileCntrl_;
    std::unordered_set<std::string> globalExclusions_;
    bool foldersMeasuredByScan_ = false;
    std::shared_ptr<KZScanDisks> scanDisks_ = std::make_shared<KZScanDisks>();
};
