// The seam for the passes that are not built yet: the music and photo
// libraries, saved searches, the content of duplicate folders and song
// durations. Each stage is called where its pass belongs in the search, so
// that a pass plugs in here without touching the driver; until then a source
// of such a kind contributes no items, and a duplicate-folders search orders
// its folders during the scan but reports none.

#include "engine/KZSearchController.h"

#include "engine/KZCompareCodes.h"
#include "settings/KZSearchCriteria.h"

#include <QFile>

namespace fs = std::filesystem;

void KZSearchController::gatherLibraryExclusions()
{
    if (criteria_->excludeiTunesItems())
        processiTunesLocationWithLabel(0);
    if (wasStopped() || criteria_->excludePhotosItemsDict().isEmpty())
        return;
    const fs::path library = QFile::encodeName(
                                 criteria_->excludePhotosItemsDict().value(QStringLiteral("libraryPath")).toString())
                                 .toStdString();
    processPhotosLocation(library, 0);
}

void KZSearchController::processiTunesLocationWithLabel(qint16 /*label*/) {}

void KZSearchController::processPhotosLocation(const fs::path& /*path*/, qint16 /*label*/) {}

void KZSearchController::gatherSmartFolderItemsWithDict(const KZSourceItemRef& /*source*/, qint16 /*label*/) {}

void KZSearchController::collectSongsTime() {}

void KZSearchController::iterateFoldersTreeForContentTest(TreeToCheck* /*root*/) {}

void KZSearchController::secondTestForFolderContent(std::unique_ptr<TreeToCheck> /*node*/) {}

qint16 KZSearchController::compareForSameFolderContent(TreeToCheck& /*one*/, TreeToCheck& /*two*/)
{
    return KZCompare::kAfter;
}
