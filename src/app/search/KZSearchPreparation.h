#pragma once

#include "settings/KZSearchStuff.h"
#include "settings/KZSourceItem.h"

#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <vector>

class KZSourcesCntrl;

// Turns the search window's sources into a request: the global exclusions,
// each source's check against the music and photo libraries (from the last
// source to the first), the sources' own excluded folders, the search type
// and the criteria. Main thread; the questions go through the alert service.
class KZSearchPreparation {
public:
    struct Outcome {
        std::shared_ptr<KZSearchStuff> request;
        // False when no search may start: every source is gone. A user who
        // stops the checks after a refused source still searches the
        // sources left, those not yet checked as they are.
        bool proceed = false;
        // A library is among the sources: the applications that own them are
        // to be watched while the search runs.
        bool watchLibraries = false;
    };

    // `foldersSearch`: the switch is on (duplicate folders). Without
    // interface nothing is asked and every library counts as allowed.
    static Outcome prepare(KZSourcesCntrl& sourcesCntrl, bool foldersSearch, bool allowInterface);

    // One source. Answers whether the source stays; `stop` is set when the
    // user chose to check no further source.
    static bool checkForLibrarySource(const KZSourceItemRef& source, KZSearchStuff& request, std::size_t sourcesCount,
                                      qint16& photosLibs, bool& stop, bool allowInterface,
                                      KZSourcesCntrl* sourcesCntrl = nullptr);

    // The locations of a prepared request that the checks left out for the
    // music library's sake: its media folder (or, while its export cannot be
    // read, the folder that holds the export, and each source in that), and
    // each source whose name holds "iTunes".
    static std::vector<std::filesystem::path> musicLibraryExclusions(const KZSearchStuff& request);

    // Whether the library's application may be quit and reopened by us. A
    // refused library leaves the sources (told when it was the only one).
    static bool askToManageApp(const QString& identifier, const KZSourceItemRef& source, std::size_t sourcesCount,
                               const QVariantMap& manageOptions, KZSourcesCntrl* sourcesCntrl);

    // The user answered the question the guard put when a library's
    // application was launched or quit outside a search: going on reopens
    // the photo application on the current library; stopping ends the
    // watch. Answers false when the user chose to stop.
    static bool appWatchAnswered(const QString& identifier, bool goOn, const std::vector<KZSourceItemRef>& sources);
};
