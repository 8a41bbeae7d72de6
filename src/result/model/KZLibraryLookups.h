#pragma once

#include "media/KZSongInfo.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the found items ask of the music and photo library readers: a
// library track's tags and the library positions shown in place of a path
// ("<library> -> <album>"). The readers install their answers at start-up;
// until they do, nothing is known and library items show their files' own
// tags and their paths. Tests install fakes.
//
// Each lookup answers for many items at once, so that a reader reads its
// library once per result rather than once per item.
struct KZLibraryLookups {
    // The tags of the music-library track with this identifier; nothing when
    // the library no longer holds it.
    std::function<std::optional<KZSongInfo>(const QString& trackID)> songMetadataWithTrackID;
    // Positions of music-library tracks by identifier. A track left out of
    // the answer has no position.
    std::function<QHash<QString, QString>(const QStringList& trackIDs)> songPositions;
    // Positions of photo-library images by identifier (the image's uuid) in
    // the library at `libraryPath`. An image left out has no position.
    std::function<QHash<QString, QString>(const QStringList& imageIDs, const QString& libraryPath)> photoPositions;

    // A copy of the lookups in use, safe to call from any thread while
    // another installs new ones.
    static KZLibraryLookups current();
    // Installs `lookups`; an empty function means the reader is not there.
    static void install(KZLibraryLookups lookups);
    // The answers of the music and photo library readers, each call asking
    // the reader's current reading of its library.
    static KZLibraryLookups fromReaders();
};
