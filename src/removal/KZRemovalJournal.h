#pragma once

#include "platform/NameReservation.h"
#include "removal/KZUndoRecords.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The durable record of a Trash removal while it runs, so that a removal
// killed part-way still leaves Restore a list of exactly what moved: before
// each item moves, an intent naming its place and identity; once it is in
// the Trash, its entry; before the undo file is created, that file's name.
//
// The journal lies beside the undo files in the home trash (with a
// .trashinfo of its own, so that emptying the Trash takes it too) and is
// only ever appended to. Each line is written at once and flushed to disk
// within a second. When the finished undo file is in place the journal goes;
// one left behind is folded into an undo file of the same format by
// recoverInterrupted(), at the next start or restore: its entries, and each
// intent without an entry whose item is found in the Trash under that
// identity with a .trashinfo naming that place. A journal whose undo file
// is already in place only goes. The fold appends to the journal as the
// removal did: the entries of the intents it found, then its undo file's
// name, so that a fold killed at any step and run again lists each item
// once.
//
// A name that a move reserves before it takes it (a Trash's .trashinfo, an
// empty placeholder on a disk without the no-replace rename) is announced
// before it is made (its place, the item meant to take it, the time), then
// named with the identity it was made with; a recovery takes away each one
// that is still that very, empty reservation and that no move took, before
// the fold, so that nothing stays behind to hold the item's name. One that
// was only announced is known by what lies at its place: empty, made no
// earlier than the announcement, while the item it was for still lies at
// its own place; so is a folder that a move makes under its destination
// for the item (announced alone). A move into a folder keeps a journal of
// its reservations alone. A move that failed says so before its .trashinfo
// goes.
//
// A removal moves one item at a time and says so in its journal's first
// line: an intent followed by another item's, or one each of whose
// .trashinfo names was given up, never made, or is found unused, never
// moved, whatever its disk shows (a byte copy shows the item at its place
// too), and nothing waits for it.
//
// A Restore keeps one too: before each item goes back, the undo file that
// lists it and its entry; before a rewrite of an undo file makes its
// temporary file, that file's place. Killed after the rewrite, it leaves
// the .trashinfo files of items the file no longer lists: the recovery
// takes away each one whose item is back at its place, and the temporary
// file a rewrite made.
//
// A running removal holds a lock on its journal, so that no recovery, in
// this process or another, folds a journal that is still being written.
class KZRemovalJournal {
public:
    // A journal in the home trash; null (and logged, `err` set) when it
    // cannot be made. `announces`: its removal moves one item at a time and
    // names every name it reserves before it reserves it, which the journal
    // says from its first line, so that a recovery may read what it does
    // not say (Contents::announces).
    static std::unique_ptr<KZRemovalJournal> begin(int* err = nullptr, bool announces = false);
    static std::unique_ptr<KZRemovalJournal> beginIn(const std::filesystem::path& trashDir,
                                                     double secondsSinceReferenceDate, int* err = nullptr,
                                                     bool announces = false);
    // Closes the journal. Unless finish() was called, the file stays: the
    // removal did not end with its undo file written.
    ~KZRemovalJournal();
    KZRemovalJournal(const KZRemovalJournal&) = delete;
    KZRemovalJournal& operator=(const KZRemovalJournal&) = delete;

    // Before the item moves: its oldPosition, identity and flags. False,
    // with `err` set, when the line could not be written: the item must not
    // move then, for nothing would tell Restore where it went.
    bool intend(const KZPersistentUndoRecord& record, int* err = nullptr);
    // The item is in the Trash.
    void append(const KZPersistentUndoRecord& record);
    // A name is about to be reserved for a move (written before it is).
    void reserving(const platform::ReservationIntent& intent);
    // A name was reserved at `place` for a move, with what was made there.
    void reserved(const std::filesystem::path& place, const platform::FileIdentity& identity);
    // The move the name at `place` was reserved for did not happen, and the
    // reservation is about to go (written before it goes).
    void givenUp(const std::filesystem::path& place);
    // A copy of `intent.item` is about to be made at `intent.place`; it is
    // whole once `copied` names it.
    void copying(const platform::ReservationIntent& intent);
    void copied(const std::filesystem::path& place);
    // The .trashinfo of an undo file is about to be made for `name`.
    void willReserveUndoFileName(const std::string& name);
    // The undo file of this removal is about to be created under `name`.
    void willWriteUndoFile(const std::string& name);
    // A Restore is about to put back the item of an entry of the undo file
    // `undoFile` (a name in files/), or found it put back by a Restore
    // before it: once that file no longer lists the item, its .trashinfo
    // goes.
    void restoring(const std::string& undoFile, const QByteArray& currPosition,
                   const std::filesystem::path& oldPosition);
    // A rewrite of an undo file is about to make its temporary file here.
    void rewriting(const std::filesystem::path& temporary);
    // The removal has ended and `undoFile` holds every record (nullopt when
    // there was nothing to write): the journal and its .trashinfo go.
    void finish(const std::optional<std::filesystem::path>& undoFile);

    const std::filesystem::path& path() const { return path_; }
    // Entries appended that could not be written.
    quint64 failedAppends() const;

    // ---- Reading and recovery ---------------------------------------------------------
    struct Reservation {
        std::filesystem::path place;
        platform::FileIdentity identity;
    };
    struct Restoring {
        std::string undoFile;
        QByteArray currPosition;
        std::filesystem::path oldPosition;
    };
    struct Contents {
        std::vector<KZPersistentUndoRecord> records;
        // Intents without an entry: the item may or may not have moved
        // (currPosition and bookmark empty).
        std::vector<KZPersistentUndoRecord> pending;
        std::vector<std::string> undoFiles; // names, in the order announced
        // For each name of undoFiles, how many of the records came before
        // it: what that file lists once it is whole.
        std::vector<size_t> recordsBeforeUndoFile;
        // The first records, this many, are in an undo file that a fold
        // wrote whole (it may have been restored and gone since).
        size_t recordsFolded = 0;
        bool finished = false; // the removal ended with its undo file written
        // The names reserved for moves, in the order they were taken.
        std::vector<Reservation> reservations;
        // The names announced before they were reserved (a journal of an
        // earlier version has none): what a kill right after the creation
        // left is found by them.
        std::vector<platform::ReservationIntent> intendedReservations;
        // The copies announced before they were made, and those made whole.
        std::vector<platform::ReservationIntent> copies;
        std::set<std::filesystem::path> copiesMade;
        // Of a Restore: the items it was putting back, and the temporary
        // files its rewrites of undo files were about to make.
        std::vector<Restoring> restoring;
        std::vector<std::filesystem::path> rewrites;
        // The removal moved one item at a time and announced every name
        // before it reserved it (a journal of an earlier version, or of
        // another writer, did not say so): what it never announced, it
        // never made.
        bool announces = false;
        // What the journal tells of the move of each intent without an
        // entry, by its old place.
        struct PendingMove {
            // Another item's intent came after it: the removal moves one
            // item at a time and writes its entry right after the move, so
            // it went on without moving this one.
            bool followed = false;
            // The .trashinfo names announced for it after its intent.
            struct Info {
                std::filesystem::path place;
                bool made = false;    // named made once it was
                bool givenUp = false; // its move failed, and it was about to go
            };
            std::vector<Info> infos;
        };
        std::map<std::filesystem::path, PendingMove> pendingMoves;
    };
    // Only a regular file is read, never through a link and never waiting
    // on a pipe. A torn last line (the process died while writing it) and
    // entries that fail their checks are left out.
    static std::optional<Contents> read(const std::filesystem::path& journal, QString* error = nullptr);
    // The journals lying in trashDir/files/.
    static std::vector<std::filesystem::path> list(const std::filesystem::path& trashDir);
    // A fold kept this journal only for items that are nowhere to be found
    // yet: on its own it has nothing to offer Restore.
    static bool isWaiting(const std::filesystem::path& journal);
    // Folds every journal no running removal holds into an undo file dated
    // like the journal, then removes the journal (first taking away the
    // reservations its moves left, see above); a finished one, or one
    // whose undo file is in place, is only removed. An undo file it names
    // that was torn by the kill goes. A journal with an intent whose item
    // left its place and is in no trash it can have gone to (its disk may be
    // unplugged) stays, and a later fold lists only what no earlier one did.
    // Then removes the orphan .trashinfo files of items whose move never
    // happened, and what killed rewrites of undo files left. A journal of
    // another user (root running with a user's home) is left for that user,
    // whose own per-user Trash of each disk only their run looks into.
    // Answers the number of undo files written.
    static int recoverInterrupted(const std::filesystem::path& trashDir);
    // A disk that dates the entry a rename writes by the clock (FAT through
    // FUSE) has a moved file's own dates given back right after the move; a
    // kill in between leaves the file at `at` dated by the move, where
    // nothing but its size and dates tells it. Gives it back the dates of
    // `recorded` (its identity before the move, on a disk without birth
    // times) where it is a regular file of the recorded size dated between
    // `announced` (the move's announcement, less a FAT clock step) and a
    // moment after the journal was `lastWritten`. True when it did. The
    // caller has proved the rest: that very move announced, its .trashinfo.
    static bool giveBackDatesOfKilledMove(const std::filesystem::path& at, const platform::FileIdentity& recorded,
                                          const timespec& announced, const timespec& lastWritten);
    // Tests: heard after each step of recoverInterrupted() that leaves its
    // mark on disk, so that a test can kill the process at that moment.
    static void setRecoveryStepHook(std::function<void()> hook);
    // In `trashDir`, older than a moment (another program may be between its
    // two steps right now), with nothing in files/ under its name: a
    // .trashinfo that is empty (its writer died creating it), one whose item
    // is still at its original place, one whose original place is among
    // `neverMoved` (intents of dead removals whose item is gone from its
    // place but never reached a trash), and one of our own undo files or
    // journals. One whose item is back at its original place while a record
    // still names the item in the Trash (`namedByRecord`, asked only then)
    // stays: it is what a Restore killed before rewriting its undo file left
    // to prove the item left the Trash.
    static int removeOrphanTrashInfos(const std::filesystem::path& trashDir,
                                      const std::set<std::filesystem::path>& neverMoved = {},
                                      const std::function<bool(const std::filesystem::path&)>& namedByRecord = {});

    static inline const char* const namePrefix = ".Maravex4-journal_";

private:
    KZRemovalJournal(int fd, std::filesystem::path trashDir, std::filesystem::path path);
    void flushLoop();
    void removeFiles();
    bool writeLine(const QByteArray& line, int* err = nullptr);

    int fd_ = -1;
    std::filesystem::path trashDir_;
    std::filesystem::path path_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // Atomic although the lock guards them: the flusher's timed wait goes
    // through pthread_cond_clockwait, which the thread sanitizer of this
    // compiler does not see take the lock back.
    std::atomic<bool> dirty_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    quint64 failedAppends_ = 0;
    std::thread flusher_;
};
