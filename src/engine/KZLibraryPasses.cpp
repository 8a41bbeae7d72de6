#include "engine/KZLibraryPasses.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZCrc32.h"
#include "engine/KZItemAttributes.h"
#include "engine/KZSearchItemInfo.h"
#include "media/KZiTunesSupport.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZSearchCriteria.h"

#include <QVariantMap>

#include <cerrno>
#include <iterator>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

enum class LibraryFile { Present, Missing, Other };

// What a library names at `path`, seen without following a link: a file to
// search, nothing (a missing file, or a link that leads nowhere), or
// something that is not searched as a library file (a folder, a link to
// something that is there, a special file, a file that cannot be looked at).
LibraryFile libraryFileAt(const fs::path& path)
{
    struct stat st {};
    if (path.empty())
        return LibraryFile::Missing;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? LibraryFile::Missing : LibraryFile::Other;
    if (S_ISREG(st.st_mode))
        return LibraryFile::Present;
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return LibraryFile::Missing;
    return LibraryFile::Other;
}

std::shared_ptr<KZAppSuppInfo> libraryOwner(const QString& identifier, KZAppSuppInfo::Owner owner)
{
    auto info = KZAppSuppInfo::create();
    if (!identifier.isEmpty()) {
        info->setWhichOwnerItem(owner);
        info->setTrackID(identifier);
    }
    return info;
}

QVariantMap deadTrack(const KZiTunesTrack& track)
{
    return {{QStringLiteral("url"), QVariant::fromValue(track.url)},
            {QStringLiteral("trackID"), track.trackID},
            {QStringLiteral("songName"), track.songName},
            {QStringLiteral("artist"), track.artist},
            {QStringLiteral("album"), track.album},
            {QStringLiteral("isiTunes"), true}};
}

} // namespace

KZLibraryPasses::KZLibraryPasses(KZSearchCriteria& criteria, Delegate& delegate)
    : criteria_(criteria), delegate_(delegate)
{
}

void KZLibraryPasses::feedLibraryFile(const fs::path& url, qint16 label, bool leaveOut,
                                      std::shared_ptr<KZAppSuppInfo> owner)
{
    const KZItemAttributes attributes = KZItemAttributes::read(url);
    const std::optional<QString> name = attributes.fileName();
    if (!name)
        return;
    if (leaveOut) {
        std::lock_guard guard(photosLock_);
        appURLsTree_.addNodeAppURLToTree(url, *name);
        return;
    }
    if (libraryURLsMet_.urlAlreadyExist(url) != 0)
        return;
    delegate_.libraryFileMet(url, label, attributes, *name, std::move(owner));
}

bool KZLibraryPasses::leftOut(const KZSearchItemInfo& item)
{
    // A library pass may still be filling the tree beside the workers.
    std::lock_guard guard(photosLock_);
    return !appURLsTree_.isEmpty() && appURLsTree_.appItemAlreadyExists(item) == KZCompare::kNotComparable;
}

void KZLibraryPasses::musicLibrary(qint16 label)
{
    const std::vector<KZiTunesTrack> tracks = KZiTunesSupport::sharedControl().mediaItems();
    const bool leaveOut = criteria_.excludeiTunesItems();
    const bool onlyDead = criteria_.isOnlyDead();
    for (const KZiTunesTrack& track : tracks) {
        if (wasStopped())
            return;
        const LibraryFile file = libraryFileAt(track.url);
        if (file == LibraryFile::Present) {
            if (!onlyDead)
                feedLibraryFile(track.url, label, leaveOut, libraryOwner(track.trackID, KZAppSuppInfo::ITunes));
            continue;
        }
        if (file != LibraryFile::Missing || leaveOut)
            continue;
        if (!criteria_.isDeads())
            askForDeads();
        if (!criteria_.isDeads())
            continue;
        if (!deadItems_)
            deadItems_ = std::make_unique<QVariantList>();
        deadItems_->append(deadTrack(track));
        if (onlyDead)
            delegate_.missingTrackFound();
    }
}

void KZLibraryPasses::askForDeads()
{
    if (alreadyAskedForDead_.exchange(true))
        return;
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUserWithView(
        QStringLiteral("missing_files_detected"), QStringLiteral("missing_files_detected_mess"), {},
        QStringLiteral("yes_button"), QStringLiteral("no_button"), QString(), QStringLiteral("ask_show_deads"),
        false);
    if (answer == KZErrorDelegate::FirstButton)
        criteria_.setIsDeads(true);
}

bool KZLibraryPasses::startPhotos(const fs::path& library, qint16 label)
{
    photosIsWorking_ = 0;
    std::vector<KZPhotosImageEntry> first = KZPhotosSupport::sharedControl().photosDataWithPath(library);
    if (first.empty()) {
        photosDatabaseWasNotFound_ = true;
        return false;
    }
    // Two halves read file attributes at once; with a single image the
    // first half is empty and the second holds it, so that it is searched
    // (and protected as a library item) like any other.
    const std::ptrdiff_t half = std::ptrdiff_t(first.size() / 2);
    std::vector<KZPhotosImageEntry> second(std::make_move_iterator(first.begin() + half),
                                           std::make_move_iterator(first.end()));
    first.resize(std::size_t(half));
    for (std::vector<KZPhotosImageEntry>* part : {&first, &second}) {
        if (part->empty())
            continue;
        {
            std::lock_guard guard(photosLock_);
            photosIsWorking_.fetch_add(1);
        }
        delegate_.runPhotosHalf([this, items = std::move(*part), label] { photosHalf(items, label); });
    }
    return true;
}

void KZLibraryPasses::photosHalf(const std::vector<KZPhotosImageEntry>& items, qint16 label)
{
    const bool leaveOut = criteria_.excludePhotosItems();
    const bool onlyDead = criteria_.isOnlyDead();
    for (const KZPhotosImageEntry& entry : items) {
        if (wasStopped())
            break;
        // Missing images are not reported, and what is not a plain file in
        // the library's Masters is no image of it.
        if (onlyDead || libraryFileAt(entry.imagePath) != LibraryFile::Present)
            continue;
        feedLibraryFile(entry.imagePath, label, leaveOut, libraryOwner(entry.uuid, KZAppSuppInfo::Photos));
    }
    // Before the half counts as done, so that the crypto library's state of
    // this pool thread is let go before the search can end.
    KZCrc32::threadFinished();
    std::lock_guard guard(photosLock_);
    photosIsWorking_.fetch_sub(1);
}
