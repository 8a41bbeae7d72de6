#include "app/search/KZSearchPreparation.h"

#include "app/search/KZSourcesCntrl.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"

namespace {

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

bool askWrongSource(const QString& message, const QStringList& names)
{
    const qint64 answer = KZErrorDelegate::sharedControl().askToTheUser(
        QStringLiteral("wrong_iTunes_source"), message, names, QStringLiteral("continue_button"),
        QStringLiteral("dont_continue_button"), QString(), false, nullptr, true);
    return answer == KZErrorDelegate::FirstButton;
}

bool excludesMediaFolderByName(const KZSourceItem& source)
{
    for (const auto& entry : source.excluded())
        if (QString::fromStdString(entry.filename().string()).contains(QStringLiteral("iTunes")))
            return true;
    return false;
}

} // namespace

bool KZSearchPreparation::checkForLibrarySource(const KZSourceItemRef& source, KZSearchStuff& request,
                                                std::size_t sourcesCount, qint16& photosLibs, bool& stop,
                                                bool allowInterface)
{
    if (source->isPhotosLib()) {
        // No application owns the library here, so there is nothing to ask
        // or to reopen: the library is searched as it is on disk.
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
        source->setIsCurrentLibrary(true);
        return true;
    case 3:
    case 4: {
        bool keep = true;
        if (allowInterface && !excludesMediaFolderByName(*source)) {
            const QStringList names{text(mediaFolder.parent_path()), text(source->path())};
            if (!askWrongSource(QStringLiteral("ignore_iTunes_source_msg"), names)) {
                stop = true;
                keep = false;
            }
        }
        request.addExcludedLocations({code == 3 ? mediaFolder : source->url()});
        return keep;
    }
    default:
        return true;
    }
}

KZSearchPreparation::Outcome KZSearchPreparation::prepare(KZSourcesCntrl& sourcesCntrl, bool foldersSearch,
                                                          bool allowInterface)
{
    Outcome outcome;
    outcome.request = KZSearchStuff::searchStuff();
    KZSearchStuff& request = *outcome.request;
    request.globalExclusions();

    qint16 photosLibs = 0;
    bool musicLibraryIsSource = false;
    // A copy: removals below change the controller's list while we walk it.
    const std::vector<KZSourceItemRef> sources = sourcesCntrl.sources();
    for (std::size_t index = sources.size(); index-- > 0;) {
        const KZSourceItemRef& source = sources[index];
        bool stop = false;
        const bool keep = checkForLibrarySource(source, request, sourcesCntrl.sources().size(), photosLibs, stop,
                                                allowInterface);
        if (!keep) {
            sourcesCntrl.removeSource(source);
            if (stop) {
                // The user chose not to go on: the start ends here, with the
                // refused source gone and nothing else touched.
                return outcome;
            }
            continue;
        }
        const auto excluded = source->excluded();
        if (!excluded.empty())
            request.addExcludedLocations(excluded);
        if (source->iTunesLibValue() == 1)
            musicLibraryIsSource = true;
    }

    if (sourcesCntrl.sources().empty())
        return outcome;

    outcome.watchLibraries = photosLibs > 0 || musicLibraryIsSource;
    request.setSources(sourcesCntrl.sources());
    request.setSearchType(foldersSearch ? KZSearchStuff::duplicateFolders : KZSearchStuff::duplicateFiles);
    request.createCriteria();
    if (!musicLibraryIsSource) {
        const auto mediaFolder = KZFilesUtilities::sharedControl().iTunesFolderLocationPath();
        if (mediaFolder && !mediaFolder->empty())
            request.addExcludedLocations({*mediaFolder});
    }
    outcome.proceed = true;
    return outcome;
}
