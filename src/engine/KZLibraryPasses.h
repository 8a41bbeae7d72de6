#pragma once

#include "engine/KZAppURLTree.h"
#include "engine/KZAppSuppInfo.h"
#include "engine/KZNumberTree.h"
#include "media/KZPhotosSupport.h"

#include <QString>
#include <QVariantList>
#include <QtGlobal>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class KZItemAttributes;
class KZSearchCriteria;
class KZSearchItemInfo;

// The music and photo library passes: the files a library lists are fed
// into the scan's per-item path as it lists them, or, when the library's
// items are left out of the search, remembered so that the scan passes
// them over. A file listed twice (an image in two albums, two tracks of
// one file) is searched once.
//
//   music: the tracks on the caller's thread; a missing track is reported
//          (after asking once) or, in a search for missing tracks only,
//          counted as found
//   photos: the images in two halves on the search queue, which read file
//          attributes at once; the caller files what they find meanwhile
//
// Threads: the left-out files and the count of photo halves at work are
// kept under the passes' own lock, which is taken and let go before any of
// the delegate's; a half calls the delegate from its own thread.
class KZLibraryPasses {
public:
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual bool passWasStopped() const = 0;
        // A library file to search, read from its attributes.
        virtual void libraryFileMet(const std::filesystem::path& url, qint16 label, const KZItemAttributes& attributes,
                                    const QString& name, std::shared_ptr<KZAppSuppInfo> owner) = 0;
        // A missing track, in a search for missing tracks only.
        virtual void missingTrackFound() = 0;
        // Runs a photo half beside the caller, keeping the search alive.
        virtual void runPhotosHalf(std::function<void()> half) = 0;
    };

    // Both must outlive the passes; the criteria learn whether missing
    // tracks are reported.
    KZLibraryPasses(KZSearchCriteria& criteria, Delegate& delegate);
    KZLibraryPasses(const KZLibraryPasses&) = delete;
    KZLibraryPasses& operator=(const KZLibraryPasses&) = delete;

    void musicLibrary(qint16 label);
    // Queues the halves; false when the library has no images to read.
    bool startPhotos(const std::filesystem::path& library, qint16 label);
    // Halves of the photo pass still running.
    bool photosWorking() const { return photosIsWorking_.load() != 0; }

    // Whether the item is a library file left out of the search.
    bool leftOut(const KZSearchItemInfo& item);
    void forgetLeftOut() { appURLsTree_.freeAppURLsTreeNodes(); }

    // The missing tracks, as {"url" (the path), "trackID", "songName",
    // "artist", "album", "isiTunes"}; null when none was reported.
    const QVariantList* missingTracks() const { return deadItems_.get(); }
    bool photosDatabaseWasNotFound() const { return photosDatabaseWasNotFound_.load(); }

private:
    bool wasStopped() const { return delegate_.passWasStopped(); }
    // Asks once per search whether missing tracks are reported.
    void askForDeads();
    void photosHalf(const std::vector<KZPhotosImageEntry>& items, qint16 label);
    void feedLibraryFile(const std::filesystem::path& url, qint16 label, bool leaveOut,
                         std::shared_ptr<KZAppSuppInfo> owner);

    KZSearchCriteria& criteria_;
    Delegate& delegate_;

    std::recursive_mutex photosLock_; // appURLsTree_ while halves fill it, the halves' count
    KZAppURLTree appURLsTree_;
    std::atomic<int> photosIsWorking_{0};
    KZNumberTree libraryURLsMet_;
    std::unique_ptr<QVariantList> deadItems_; // the caller's only
    std::atomic<bool> alreadyAskedForDead_{false};
    std::atomic<bool> photosDatabaseWasNotFound_{false};
};
