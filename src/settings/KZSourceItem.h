#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

// One source of a search: a folder, a whole volume, a photo library or a
// saved search, with the subfolders left out of it. The search window makes
// it; the request, the engine, the result model and the saved result files
// share it, so every accessor is safe from any thread.
//
// Excluded subfolders come from two hands: the user (the exclusion popover)
// and the search itself, which leaves out folders it handles otherwise and
// takes them back before a later search that does not need that. An entry
// the search added is remembered as that very entry, so taking the search's
// entries back never removes a user's entry for the same folder.
class KZSourceItem {
public:
    KZSourceItem();
    // Keys "url" (a std::filesystem::path or a file QUrl),
    // "isDisk", "isLocked", "isPhotosLib", "isCurrentLibrary",
    // "librariesCount", "iTunesLibValue", "totSize", "freeSize",
    // "isSmartFolder". Absent keys give NO or 0, and so does a size that is
    // not a number (a volume of unknown size carries a text there). "name"
    // is not read: it follows from "url", or from "path" (the location as
    // the user chose it, which may lead through links that "url" no longer
    // holds) when there is one.
    explicit KZSourceItem(const QVariantMap& dictionary);
    static std::shared_ptr<KZSourceItem> create(const QVariantMap& dictionary);

    KZSourceItem(const KZSourceItem&) = delete;
    KZSourceItem& operator=(const KZSourceItem&) = delete;

    void setItemsWithDict(const QVariantMap& dictionary);

    std::filesystem::path url() const;
    void setUrl(const std::filesystem::path& url);
    // The location when an item is still there, else empty.
    std::filesystem::path path() const;
    // The location as the user chose it, for display; path() when none was
    // given.
    std::filesystem::path chosenPath() const;
    // The item's name without its extension, as the user chose it; empty
    // when it cannot be read.
    QString name() const;

    // Every excluded subfolder, in the order it was added.
    std::vector<std::filesystem::path> excluded() const;
    // Replaces the list. Entries equal to ones the search added keep being
    // the search's (matched occurrence by occurrence, in order), so a list
    // handed back after an edit elsewhere loses none of them.
    void setExcluded(const std::vector<std::filesystem::path>& excluded);
    void addExcluded(const std::filesystem::path& location);

    // The entries the search added; kept after they are taken back.
    std::vector<std::filesystem::path> excludedAddedProgramatically() const;
    void setExcludedAddedProgramatically(const std::vector<std::filesystem::path>& locations);
    // Appends the location to both lists, as one entry of the search's own.
    void addExcludedProgramatically(const std::filesystem::path& location);
    // Takes out of excluded() the entries that addExcludedProgramatically()
    // put there and that excludedAddedProgramatically() still lists. Entries
    // of the user stay, even when they name the same folder; calling it
    // again removes nothing more.
    void removeExcludedAddedProgramatically();

    bool isDisk() const { return isDisk_; }
    void setIsDisk(bool value) { isDisk_ = value; }
    bool isLocked() const { return isLocked_; }
    void setIsLocked(bool value) { isLocked_ = value; }
    bool isPhotosLib() const { return isPhotosLib_; }
    void setIsPhotosLib(bool value) { isPhotosLib_ = value; }
    bool isCurrentLibrary() const { return isCurrentLibrary_; }
    void setIsCurrentLibrary(bool value) { isCurrentLibrary_ = value; }
    qint16 librariesCount() const { return librariesCount_; }
    void setLibrariesCount(qint16 value) { librariesCount_ = value; }
    // How the location relates to the music library's media folder (0 none,
    // 1 its parent, 2 the folder itself, 3 two levels up, 4 a name holding
    // "iTunes").
    qint16 iTunesLibValue() const { return iTunesLibValue_; }
    void setITunesLibValue(qint16 value) { iTunesLibValue_ = value; }
    quint64 totSize() const { return totSize_; }
    void setTotSize(quint64 value) { totSize_ = value; }
    quint64 freeSize() const { return freeSize_; }
    void setFreeSize(quint64 value) { freeSize_ = value; }
    qint16 locationLabelTag() const { return locationLabelTag_; }
    void setLocationLabelTag(qint16 value) { locationLabelTag_ = value; }
    bool isSmartFolder() const { return isSmartFolder_; }
    void setIsSmartFolder(bool value) { isSmartFolder_ = value; }
    bool wasSearched() const { return wasSearched_; }
    void setWasSearched(bool value) { wasSearched_ = value; }
    bool wasSecurityScoped() const { return wasSecurityScoped_; }
    void setWasSecurityScoped(bool value) { wasSecurityScoped_ = value; }

private:
    struct ExcludedEntry {
        std::filesystem::path location;
        bool addedProgramatically = false;
    };

    mutable std::mutex mutex_; // guards url_, chosen_ and both lists
    std::filesystem::path url_;
    std::filesystem::path chosen_;
    std::vector<ExcludedEntry> excluded_;
    std::vector<std::filesystem::path> excludedAddedProgramatically_;

    std::atomic<bool> isDisk_{false};
    std::atomic<bool> isLocked_{false};
    std::atomic<bool> isPhotosLib_{false};
    std::atomic<bool> isCurrentLibrary_{false};
    std::atomic<qint16> librariesCount_{0};
    std::atomic<qint16> iTunesLibValue_{0};
    std::atomic<quint64> totSize_{0};
    std::atomic<quint64> freeSize_{0};
    std::atomic<qint16> locationLabelTag_{0};
    std::atomic<bool> isSmartFolder_{false};
    std::atomic<bool> wasSearched_{false};
    std::atomic<bool> wasSecurityScoped_{false};
};

// Requests, results and notifications carry sources as this type.
using KZSourceItemRef = std::shared_ptr<KZSourceItem>;
Q_DECLARE_METATYPE(KZSourceItemRef)
