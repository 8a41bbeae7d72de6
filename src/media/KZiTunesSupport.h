#pragma once

#include "media/KZiTunesLibrary.h"

#include <QString>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The user's music library, read from its XML export at the path of the
// default "iTunes_library_path" (empty: the usual place under the home
// folder).
//
// Thread safety: every method may be called from any thread. The library is
// read on first use and kept until noteUpdatedLibrary() or a change of the
// path; a new reading is swapped in under the lock, and callers that hold
// the previous one keep using it unchanged.
class KZiTunesSupport {
public:
    // Always an instance; tests may replace it (nullptr restores a fresh one).
    static KZiTunesSupport& sharedControl();
    static void setSharedControl(std::unique_ptr<KZiTunesSupport> instance);

    // Tells the file services where the media folder is, so that the global
    // exclusion of that folder works. Called once at start-up.
    static void installMediaFolderProvider();
    // Reads the library again after the program changed it through its
    // application, so that deleted tracks are not offered again. Called once
    // at start-up.
    static void followLibraryChanges();

    // The export that will be read.
    static std::filesystem::path libraryFilePath();

    // The current reading; null when there is no readable library (a later
    // call tries again once the file has changed).
    std::shared_ptr<const KZiTunesLibrary> library();
    // Drops the reading, so that the next call reads the library again.
    void noteUpdatedLibrary();

    std::filesystem::path musicFolderLocation();
    std::vector<KZiTunesTrack> mediaItems();
    std::optional<KZiTunesTrack> songMetadataWithTrackID(const QString& trackID);
    // "iTunes Library -> Album" for a track with an album title; empty for
    // a track without one or not in the library.
    std::optional<QString> libraryPositionWithTrackID(const QString& trackID);

private:
    std::mutex lock_;
    std::shared_ptr<const KZiTunesLibrary> library_;
    // The file as it was when it last failed to read: not read again until
    // it changes.
    std::optional<std::pair<std::filesystem::path, std::string>> failedOn_;
};
