#include "app/search/KZSearchPreparation.h"

#include "app/search/KZSourcesCntrl.h"
#include "media/KZAppsSupport.h"
#include "media/KZiTunesSupport.h"
#include "platform/Paths.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "services/KZMusicLibraryFolders.h"

#include <algorithm>

namespace {

QString text(const std::filesystem::path& path)
{
    return platform::pathText(path);
}

// Both answers search: the second one only stops the checks of the sources
// not yet looked at, and the buttons say so ("Cancel" would promise that
// nothing starts).
bool askWrongSource(const QString& title, const QString& message, const QStringList& names)
{
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUser(
        title, message, names, QStringLiteral("continue_checking_button"), QStringLiteral("stop_checking_button"),
        QString(), false, nullptr, true);
    return answer == KZErrorDelegate::FirstButton;
}

bool askWrongSource(const QString& message, const QStringList& names)
{
    return askWrongSource(QStringLiteral("wrong_iTunes_source"), message, names);
}

// The user has left the media folder out of this source already (that
// folder, or one that holds it): leaving it out again needs no question. A
// name alone proves nothing: an excluded "iTunes old" beside the media folder
// leaves the media folder itself in.
bool userLeftOutMediaFolder(const KZSourceItem& source, const std::filesystem::path& mediaFolder)
{
    if (mediaFolder.empty())
        return false;
    for (const auto& entry : source.excluded())
        if (platform::isInsideFolder(mediaFolder, entry))
            return true;
    return false;
}

QVariantMap manageOptions(const QString& path, const QString& identifier, bool closeFirst, bool closeAgain)
{
    return {{KZAppsSupport::pathKey, path},
            {KZAppsSupport::appNameKey, KZFilesUtilities::sharedControl().appNameWithIdentifier(identifier)},
            {KZAppsSupport::identifierKey, identifier},
            {KZAppsSupport::closeFirstKey, closeFirst},
            {KZAppsSupport::closeAgainKey, closeAgain}};
}

// Only what the user left out goes to every source: what a search excluded
// itself (a source nested in this one, searched as a source of its own) is
// made again by the next search, and left out everywhere it would hide that
// nested source.
void addUserExclusions(const KZSourceItem& source, KZSearchStuff& request)
{
    std::vector<std::filesystem::path> excluded = source.excluded();
    const std::vector<std::filesystem::path> ownEntries = source.excludedAddedProgramatically();
    std::erase_if(excluded, [&ownEntries](const std::filesystem::path& location) {
        return std::find(ownEntries.begin(), ownEntries.end(), location) != ownEntries.end();
    });
    if (!excluded.empty())
        request.addExcludedLocations(excluded);
}

} // namespace

bool KZSearchPreparation::askToManageApp(const QString& identifier, const KZSourceItemRef& source,
                                         std::size_t sourcesCount, const QVariantMap& options,
                                         KZSourcesCntrl* sourcesCntrl)
{
    const bool allowed = KZAppsSupport::sharedControl().askToManageAppWithIndentifier(identifier, options);
    if (!allowed) {
        if (sourcesCount == 1)
            KZErrorDelegate::sharedControl().showError(QStringLiteral("no_source"));
        if (sourcesCntrl)
            sourcesCntrl->removeSource(source);
    }
    return allowed;
}

bool KZSearchPreparation::appWatchAnswered(const QString& identifier, bool goOn,
                                           const std::vector<KZSourceItemRef>& sources)
{
    KZAppsSupport& guard = KZAppsSupport::sharedControl();
    if (!goOn) {
        guard.removeObservers();
        return false;
    }
    if (identifier != KZAppsSupport::photosIdentifier)
        return true;
    for (const KZSourceItemRef& source : sources) {
        if (!source || !source->isPhotosLib() || !source->isCurrentLibrary())
            continue;
        guard.removeObservers();
        guard.manageAppWithDict(manageOptions(text(source->path()), identifier, false, true));
        guard.addObservers();
    }
    return true;
}

bool KZSearchPreparation::checkForLibrarySource(const KZSourceItemRef& source, KZSearchStuff& request,
                                                std::size_t sourcesCount, qint16& photosLibs, bool& stop,
                                                bool allowInterface, KZSourcesCntrl* sourcesCntrl)
{
    if (source->isPhotosLib()) {
        const QVariantMap options =
            manageOptions(text(source->path()), KZAppsSupport::photosIdentifier, true, true);
        // A refused library has left the sources already; the others go on.
        if (allowInterface
            && !askToManageApp(KZAppsSupport::photosIdentifier, source, sourcesCount, options, sourcesCntrl))
            return true;
        if (photosLibs == 0 && !source->isCurrentLibrary())
            KZAppsSupport::sharedControl().manageAppWithDict(options);
        ++photosLibs;
        source->setIsCurrentLibrary(true);
        source->setLibrariesCount(photosLibs);
        return true;
    }

    const auto& files = KZFilesUtilities::sharedControl();
    const qint16 code = files.isiTunesURL(source->url());
    source->setITunesLibValue(code);
    const std::filesystem::path mediaFolder = files.iTunesFolderLocationPath().value_or(std::filesystem::path());
    switch (code) {
    case 2: {
        if (allowInterface) {
            const QStringList names{text(mediaFolder.parent_path()), text(source->path())};
            if (sourcesCount > 1) {
                if (!askWrongSource(QStringLiteral("remove_wrong_iTunes_source_msg"), names))
                    stop = true;
            } else {
                KZErrorDelegate::sharedControl().showError(QStringLiteral("wrong_iTunes_source"),
                                                           QStringLiteral("remove_wrong_iTunes_source_msg"), names);
            }
        }
        return false;
    }
    case 1:
        // An export that cannot be read lists no track: the folder that
        // holds its media folder is searched as a plain one, with the media
        // folder left out as every search leaves it out.
        if (KZiTunesSupport& music = KZiTunesSupport::sharedControl();
            !music.library() && !music.musicFolderLocation().empty()) {
            source->setITunesLibValue(0);
            return true;
        }
        // The music library is read from its export file, never through
        // its application: there is nothing to ask leave for.
        if (!source->isCurrentLibrary())
            KZAppsSupport::sharedControl().manageAppWithDict(
                manageOptions(QString(), KZAppsSupport::iTunesIdentifier, false, false));
        source->setIsCurrentLibrary(true);
        return true;
    case 3:
    case 4: {
        bool keep = true;
        // Code 4 is a name alone, whether or not there is a music library:
        // the whole source is what is left out, which the user is always
        // told, whatever they excluded inside it.
        const bool byName = code == 4;
        if (allowInterface && (byName || !userLeftOutMediaFolder(*source, mediaFolder))) {
            const QStringList names = byName ? QStringList{text(source->path())}
                                             : QStringList{text(mediaFolder.parent_path()), text(source->path())};
            const bool goOn = byName ? askWrongSource(QStringLiteral("iTunes_named_source"),
                                                      QStringLiteral("iTunes_named_source_msg"), names)
                                     : askWrongSource(QStringLiteral("ignore_iTunes_source_msg"), names);
            if (!goOn) {
                stop = true;
                keep = false;
            }
        }
        request.addExcludedLocations({code == 3 ? mediaFolder : source->url()});
        return keep;
    }
    default: {
        // While the export cannot be read and names no media folder, the
        // folders that stand for it keep a source in them out too: it is no
        // plain folder either. The user has been told why the library is
        // not read.
        if (mediaFolder.empty()) {
            for (const std::filesystem::path& unread : KZMusicLibraryFolders::keptOutFolders())
                if (platform::isInsideFolder(source->url(), unread)) {
                    request.addExcludedLocations({source->url()});
                    break;
                }
        }
        return true;
    }
    }
}

KZSearchPreparation::Outcome KZSearchPreparation::prepare(KZSourcesCntrl& sourcesCntrl, bool foldersSearch,
                                                          bool allowInterface)
{
    Outcome outcome;
    outcome.request = KZSearchStuff::searchStuff();
    KZSearchStuff& request = *outcome.request;

    qint16 photosLibs = 0;
    bool musicLibraryIsSource = false;
    // A copy: removals below change the controller's list while we walk it.
    const std::vector<KZSourceItemRef> sources = sourcesCntrl.sources();
    // Sources below this index were not checked: the user stopped before.
    std::size_t unchecked = 0;
    for (std::size_t index = sources.size(); index-- > 0;) {
        const KZSourceItemRef& source = sources[index];
        bool stop = false;
        const std::size_t before = sourcesCntrl.sources().size();
        const bool keep = checkForLibrarySource(source, request, before, photosLibs, stop, allowInterface,
                                                &sourcesCntrl);
        // A library the user did not allow has already left the sources.
        if (sourcesCntrl.sources().size() < before)
            continue;
        if (!keep) {
            sourcesCntrl.removeSource(source);
            // The user chose to stop checking: the sources not yet looked
            // at are searched as they are.
            if (stop) {
                unchecked = index;
                break;
            }
            continue;
        }
        addUserExclusions(*source, request);
        if (source->iTunesLibValue() == 1)
            musicLibraryIsSource = true;
    }
    // What the user left out of a source that was not checked is left out
    // all the same: a stop skips the library checks, not the exclusions.
    for (std::size_t index = 0; index < unchecked; ++index)
        addUserExclusions(*sources[index], request);

    if (sourcesCntrl.sources().empty())
        return outcome;
    // Counted after the sources' own entries are in, so that the scan
    // consults every one of them.
    request.globalExclusions();

    outcome.watchLibraries = photosLibs > 0 || musicLibraryIsSource;
    request.setSources(sourcesCntrl.sources());
    request.setSearchType(foldersSearch ? KZSearchStuff::duplicateFolders : KZSearchStuff::duplicateFiles);
    request.createCriteria();
    if (!musicLibraryIsSource) {
        const std::vector<std::filesystem::path> keptOut = KZMusicLibraryFolders::keptOutFolders();
        if (!keptOut.empty())
            request.addExcludedLocations(keptOut);
    }
    outcome.proceed = true;
    return outcome;
}

std::vector<std::filesystem::path> KZSearchPreparation::musicLibraryExclusions(const KZSearchStuff& request)
{
    const std::vector<std::filesystem::path> keptOut = KZMusicLibraryFolders::keptOutFolders();
    std::vector<std::filesystem::path> places = keptOut;
    for (const KZSourceItemRef& source : request.sources()) {
        const auto inside = [&source](const std::filesystem::path& folder) {
            return platform::isInsideFolder(source->url(), folder);
        };
        if (source && (source->iTunesLibValue() == 4 || std::any_of(keptOut.begin(), keptOut.end(), inside)))
            places.push_back(source->url());
    }
    const std::vector<std::filesystem::path> excluded = request.exludedByLocation();
    // Only what the checks really left out: a media folder searched as part
    // of the music library is no exclusion.
    std::erase_if(places, [&excluded](const std::filesystem::path& place) {
        return std::find(excluded.begin(), excluded.end(), place) == excluded.end();
    });
    return places;
}
