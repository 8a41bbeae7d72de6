#include "resultfiles/KZReopenNotes.h"

#include <QStringList>

bool KZReopenNotes::isEmpty() const
{
    return damaged + notFound + outsideSources + musicLibraryPlaces + duplicates + notEmpty + keptChanged + unmarkedChanged + unmarkedToKeep
        == 0;
}

bool KZReopenNotes::onlyDiskChanges() const
{
    // Damage, places a search leaves out and doubled records are the file's
    // own, and so is a group unmarked to keep a copy unless the file saved
    // it with one that the disk then took away.
    return !isEmpty()
        && damaged + outsideSources + musicLibraryPlaces + duplicates + (unmarkedToKeep - unmarkedToKeepAfterChanges)
        == 0;
}

QString KZReopenNotes::headingKey() const
{
    return onlyDiskChanges() ? QStringLiteral("result_opened_with_changes") : QStringLiteral("result_opened_not_as_saved");
}

QString KZReopenNotes::text() const
{
    QStringList lines;
    const auto add = [&lines](int count, const char* one, const char* many) {
        if (count > 0)
            lines << QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count == 1 ? one : many));
    };
    add(damaged, "damaged record of the file was left out.", "damaged records of the file were left out.");
    add(notFound, "item is no longer where it was saved and was left out.",
        "items are no longer where they were saved and were left out.");
    add(outsideSources, "item lies outside the searched folders and was left out.",
        "items lie outside the searched folders and were left out.");
    add(musicLibraryPlaces,
        "item lies in the music library’s media folder or in a folder whose name holds “iTunes”, which a search "
        "leaves out, and was left out.",
        "items lie in the music library’s media folder or in a folder whose name holds “iTunes”, which a search "
        "leaves out, and were left out.");
    add(duplicates, "item named a file already in the result and was left out.",
        "items named a file already in the result and were left out.");
    add(notEmpty, "saved empty folder is no longer empty and was left out.",
        "saved empty folders are no longer empty and were left out.");
    add(keptChanged,
        "unmarked item changed since the result was saved and was left out: it no longer counts as a copy of its "
        "group.",
        "unmarked items changed since the result was saved and were left out: they no longer count as a copy of "
        "their group.");
    add(unmarkedChanged, "marked item changed since the result was saved and was unmarked.",
        "marked items changed since the result was saved and were unmarked.");
    add(unmarkedToKeep, "marked item was unmarked so that its group keeps a copy.",
        "marked items were unmarked so that every group keeps a copy.");
    return lines.join(u'\n');
}
