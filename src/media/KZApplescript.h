#pragma once

#include "platform/ScriptRunner.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The bridge to the music and photo applications: six fixed scripts, filled,
// run through platform::ScriptRunner on the caller's thread, and their
// errors reported through the alert service. It holds no state.
//
// Every value that goes into a script is escaped, and identifiers are
// checked before any text is built: a file or keyword chosen by someone else
// must never become script code. Lists cross as one string with a line feed
// between items; items that fail their check are dropped, and the log says
// how many.
class KZApplescript {
public:
    // Owner codes of the error reports.
    static constexpr qint16 photosOwner = 1;
    static constexpr qint16 musicOwner = 2;

    static KZApplescript& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZApplescript> instance);

    // Activates the music application on its music playlist. Silent.
    void bringiTunesInFront();
    // Adds the files (POSIX paths, one per line) back to the music library.
    bool undoDeletion(const QString& paths);
    // Deletes the tracks (persistent identifiers, one per line) from the
    // music library.
    bool notifyDeletion(const QString& trackIDs);
    // Tags the photo items with `keyword`. `notMarked`, when given, receives
    // the identifiers the photo application did not have.
    bool markPhotosItems(const QString& mediaIDs, const QString& keyword, QStringList* notMarked);
    bool undoPhotosItems(const QString& mediaIDs, const QString& keyword);
    // Whether a result came back; never shows an error.
    bool quitApp(const QString& appName);
    // The same, telling a missing runner apart from a failed script.
    platform::ScriptResult runQuitApp(const QString& appName);

    // Shows a failed script's error: nothing for other results or without
    // an error text.
    void showError(const platform::ScriptResult& result, qint16 ownerApp);

    // The script texts, exactly as sent; each escapes what it inserts.
    static QString activateSourceScript();
    static QString addingScriptWithString(const QString& paths);
    static QString deletionScriptWithString(const QString& trackIDs);
    static QString markPhotosScriptWithString(const QString& mediaIDs, const QString& keyword);
    static QString undoPhotosScriptWithString(const QString& mediaIDs, const QString& keyword);
    static QString quitScriptWithName(const QString& appName);

    // `\` and `"` escaped for the inside of a script's string literal.
    static QString escaped(const QString& value);
    // 1 to 16 hexadecimal digits.
    static bool isValidTrackID(const QString& trackID);
    // Letters, digits and "-/_." only, 1 to 255 of them.
    static bool isValidMediaID(const QString& mediaID);
    // An absolute path on one line.
    static bool isValidPath(const QString& path);
    // The items of a line-feed list that `valid` accepts, joined by line
    // feeds. Empty items (a trailing line feed) are passed over; the others
    // that are refused are counted in `rejected`.
    static QString validatedList(const QString& list, bool (*valid)(const QString&), int* rejected = nullptr);

    // Told after tracks were deleted from the music library, so that its
    // reader reads the library again.
    static void setMusicLibraryDidChange(std::function<void()> handler);

private:
    platform::ScriptResult run(const QString& script);
    // Pauses the application watch around a music-library change; it is
    // turned on again only when nothing reached the application.
    bool runMusicLibraryChange(const QString& script);
    void showNotAvailable(qint16 ownerApp);
    // Checks the identifiers, runs the script and shows what went wrong.
    platform::ScriptResult runPhotosScript(const QString& mediaIDs, const QString& keyword,
                                           QString (*build)(const QString&, const QString&));
};
