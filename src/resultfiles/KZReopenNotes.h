#pragma once

#include <QString>

// What a reopening left out or changed, told to the user once.
struct KZReopenNotes {
    int damaged = 0;          // records that did not read
    int notFound = 0;         // items no longer where they were
    int outsideSources = 0;   // outside every source, excluded, or not a plain absolute path
    int musicLibraryPlaces = 0; // inside a source, where a search leaves the music library's folders out
    int duplicates = 0;       // the same path twice, or a member inside another member of its group
    int notEmpty = 0;         // saved empty folders that hold something now
    int keptChanged = 0;      // unmarked items that changed since saving, left out
    int unmarkedChanged = 0;  // marked items that changed since saving
    int unmarkedToKeep = 0;   // marked items unmarked so that their group keeps a copy
    // Of those, the ones in groups saved with a copy kept, which a change on
    // the disk took away (gone, or changed since saving).
    int unmarkedToKeepAfterChanges = 0;

    bool isEmpty() const;
    // Whether every line tells of a change on disk since saving, rather
    // than of records the reopening left out as it reads them.
    bool onlyDiskChanges() const;
    // The string key of the heading over text(): it claims a changed disk
    // only when every line under it says so.
    QString headingKey() const;
    // One sentence per kind of change; empty when nothing changed.
    QString text() const;
};
