#pragma once

#include "media/KZiTunesLibrary.h"

#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
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
// path. The file is read outside the lock, so that a thread that asks for
// the current reading never waits behind one under way; a new reading is
// swapped in under the lock, and callers that hold the previous one keep
// using it unchanged.
class KZiTunesSupport {
public:
    // Always an instance; tests may replace it (nullptr restores a fresh one).
    static KZiTunesSupport& sharedControl();
    static void setSharedControl(std::unique_ptr<KZiTunesSupport> instance);

    // Tells the file services where the media folder is, and which folder
    // stands for it while the export cannot be read, so that searches and
    // removals leave the library's files alone. Called once at start-up by
    // the program and by every tool that removes.
    static void installMediaFolderProvider();
    // Says once, for each state of the file, that an export could not be
    // read and why (`reason` names the file). By default an error alert; the
    // command-line tools print it instead. Null restores the alert.
    using RefusalTeller = std::function<void(const std::filesystem::path& file, const QString& reason)>;
    static void setRefusalTeller(RefusalTeller teller);
    // Reads the library again after the program changed it through its
    // application, so that deleted tracks are not offered again. Called once
    // at start-up.
    static void followLibraryChanges();

    // The export that will be read.
    static std::filesystem::path libraryFilePath();

    // An export that could not be read, and why (the reason names the file).
    struct Refusal {
        std::filesystem::path file;
        QString reason;
    };
    // Tells a refusal as library() does: the alert, or the installed
    // teller. The alert waits for the user on the window's thread.
    static void tellRefusal(const Refusal& refusal);
    // What reads the export: KZiTunesLibrary::fromFile unless a test put a
    // reader of its own in its place (null restores fromFile).
    using Reader = std::function<std::shared_ptr<const KZiTunesLibrary>(
        const std::filesystem::path& file, QString* error, const std::atomic<bool>* stop)>;
    static void setReader(Reader reader);

    // The current reading; null when there is no readable library (a later
    // call tries again once the file has changed).
    std::shared_ptr<const KZiTunesLibrary> library();
    // Drops the reading, so that the next call reads the library again.
    void noteUpdatedLibrary();
    // Whether library() would read the export now: it was never read, it
    // was dropped, its path changed, or the file it failed on changed.
    bool readingIsDue();
    // Reads the export when a reading is due, on the caller's thread, and
    // keeps what it found; a refusal is handed back instead of told, for
    // the caller to tell where it may wait for the user. A raised `stop`
    // ends the reading before the next piece of the file, and nothing of
    // it is kept (*stopped then says so). *read is what this reading read,
    // kept or not.
    std::optional<Refusal> readIfDue(const std::atomic<bool>* stop = nullptr, bool* stopped = nullptr,
                                     std::shared_ptr<const KZiTunesLibrary>* read = nullptr);

    // The media folder of the library; while the export cannot be read, the
    // "Music Folder" it names, where that entry can be found in it beyond
    // doubt.
    std::filesystem::path musicFolderLocation();
    // While the export cannot be read and no media folder can be learned
    // from it beyond doubt, what may hold the library's files: every folder
    // it names, the folder that holds the export and the music
    // application's default media folders, whose files then stay out of
    // every search and removal. Empty otherwise.
    std::vector<std::filesystem::path> unreadLibraryFolders();
    // The media folders the music application makes by default: "iTunes
    // Media", and "iTunes Music" of its older versions, in the home
    // folder's Music/iTunes.
    static std::vector<std::filesystem::path> defaultMediaFolders();
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
    // What stands for the media folder while that file cannot be read: the
    // one folder it names beyond doubt, or every folder to keep out.
    std::vector<std::filesystem::path> unreadKeptOut_;
    bool unread_ = false;
    // Counts the readings kept and the readings dropped: a reading that
    // finds it changed since it began keeps nothing.
    quint64 generation_ = 0;
};
