#include "media/KZiTunesSupport.h"

#include "media/KZApplescript.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"

#include <cstdlib>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

platform::SharedInstance<KZiTunesSupport>& shared()
{
    static platform::SharedInstance<KZiTunesSupport> instance([] { return std::make_unique<KZiTunesSupport>(); });
    return instance;
}

// What tells one state of a file from another without reading it.
std::string signatureOf(const fs::path& file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return "missing";
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) + ':'
           + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

} // namespace

KZiTunesSupport& KZiTunesSupport::sharedControl()
{
    return shared().get();
}

void KZiTunesSupport::setSharedControl(std::unique_ptr<KZiTunesSupport> instance)
{
    shared().replace(std::move(instance));
}

void KZiTunesSupport::installMediaFolderProvider()
{
    KZFilesUtilities::setiTunesFolderProvider([] { return sharedControl().musicFolderLocation(); });
}

void KZiTunesSupport::followLibraryChanges()
{
    KZApplescript::setMusicLibraryDidChange([] { sharedControl().noteUpdatedLibrary(); });
}

fs::path KZiTunesSupport::libraryFilePath()
{
    const QString configured = platform::UserDefaults::standard().stringForKey(KZDefaultsKey::iTunes_library_path);
    if (!configured.isEmpty())
        return platform::pathFromText(configured);
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return {};
    const fs::path folder = fs::path(home) / "Music" / "iTunes";
    std::error_code ec;
    for (const char* name : {"iTunes Library.xml", "iTunes Music Library.xml"}) {
        if (fs::exists(folder / name, ec))
            return folder / name;
    }
    return folder / "iTunes Library.xml";
}

std::shared_ptr<const KZiTunesLibrary> KZiTunesSupport::library()
{
    const fs::path file = libraryFilePath();
    std::lock_guard guard(lock_);
    if (library_ && library_->file() == file)
        return library_;
    library_.reset();
    if (file.empty())
        return nullptr;
    std::string signature = signatureOf(file);
    if (failedOn_ && failedOn_->first == file && failedOn_->second == signature)
        return nullptr;
    QString error;
    library_ = KZiTunesLibrary::fromFile(file, &error);
    if (library_) {
        failedOn_.reset();
    } else {
        if (signature != "missing")
            platform::logLine(QStringLiteral("Music library not read: ") + error);
        failedOn_.emplace(file, std::move(signature));
    }
    return library_;
}

void KZiTunesSupport::noteUpdatedLibrary()
{
    std::lock_guard guard(lock_);
    library_.reset();
    failedOn_.reset();
}

fs::path KZiTunesSupport::musicFolderLocation()
{
    const auto current = library();
    return current ? current->musicFolderLocation() : fs::path();
}

std::vector<KZiTunesTrack> KZiTunesSupport::mediaItems()
{
    const auto current = library();
    return current ? current->mediaItems() : std::vector<KZiTunesTrack>();
}

std::optional<KZiTunesTrack> KZiTunesSupport::songMetadataWithTrackID(const QString& trackID)
{
    const auto current = library();
    const KZiTunesTrack* track = current ? current->trackWithID(trackID) : nullptr;
    if (!track)
        return std::nullopt;
    return *track;
}

std::optional<QString> KZiTunesSupport::libraryPositionWithTrackID(const QString& trackID)
{
    const auto current = library();
    const KZiTunesTrack* track = current ? current->trackWithID(trackID) : nullptr;
    if (!track || track->album.isEmpty())
        return std::nullopt;
    return platform::localizedString(QStringLiteral("iTunes Library")) + QStringLiteral(" -> ") + track->album;
}
