#include "media/KZApplescript.h"

#include "media/KZAppsSupport.h"
#include "platform/Log.h"
#include "platform/SharedInstance.h"
#include "services/KZErrorDelegate.h"

#include <QLatin1StringView>

#include <initializer_list>
#include <mutex>

using platform::ScriptResult;

namespace {

// Consecutive lines of a script are separated by a space, a line feed and a
// space; the text item delimiter is a lone line feed inside its quotes.
QString lines(std::initializer_list<const char*> list)
{
    QString text;
    for (const char* line : list) {
        if (!text.isEmpty())
            text += QLatin1StringView(" \n ");
        text += QLatin1StringView(line);
    }
    return text;
}

const char* const kDelimiterLine = "set AppleScript's text item delimiters to \"\n\"";

// Fills the places in order. A value is never searched for places again, so
// a "%@" inside a value stays text.
QString fill(const QString& script, const QStringList& values)
{
    QStringList escapedValues;
    for (const QString& value : values)
        escapedValues << KZApplescript::escaped(value);
    return KZErrorDelegate::replaceContentOfString(script, escapedValues);
}

std::mutex& handlerMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::function<void()>& libraryDidChange()
{
    static std::function<void()> handler;
    return handler;
}

bool isHexDigit(char16_t u)
{
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

// The valid items of a list; the log tells how many others were dropped.
QString validatedAndLogged(const QString& list, bool (*valid)(const QString&), const char* what)
{
    int rejected = 0;
    QString kept = KZApplescript::validatedList(list, valid, &rejected);
    if (rejected > 0)
        platform::logLine(QStringLiteral("%1 %2 not sent to a script: not valid").arg(rejected).arg(QLatin1StringView(what)));
    return kept;
}

} // namespace

namespace {

platform::SharedInstance<KZApplescript>& sharedInstance()
{
    static platform::SharedInstance<KZApplescript> instance([] { return std::make_unique<KZApplescript>(); });
    return instance;
}

} // namespace

KZApplescript& KZApplescript::sharedControl()
{
    return sharedInstance().get();
}

void KZApplescript::setSharedControl(std::unique_ptr<KZApplescript> instance)
{
    sharedInstance().replace(std::move(instance));
}

// ---- Script texts ------------------------------------------------------------------------------

QString KZApplescript::activateSourceScript()
{
    return lines({"tell application \"iTunes\"", "activate",
                  "set the view of the front browser window to playlist \"Music\"", "end tell"});
}

QString KZApplescript::addingScriptWithString(const QString& paths)
{
    return fill(lines({"set savedDelim to AppleScript's text item delimiters", kDelimiterLine,
                       "set pathFiles to every text item of \"%@\"",
                       "set AppleScript's text item delimiters to savedDelim", "tell application \"iTunes\"",
                       "repeat with i in pathFiles", "set theFile to (i as POSIX file)", "try", "add theFile",
                       "end try", "end repeat", "end tell"}),
                {paths});
}

QString KZApplescript::deletionScriptWithString(const QString& trackIDs)
{
    // "end repeat" ends its line without the space the other lines have.
    const QString head = lines({"set savedDelim to AppleScript's text item delimiters", kDelimiterLine,
                                "set IDsList to every text item of \"%@\"",
                                "set AppleScript's text item delimiters to savedDelim", "tell application \"iTunes\"",
                                "repeat with i in IDsList", "set aTrack to i", "try",
                                "delete (tracks in playlist 1 whose persistent ID is aTrack)", "end try",
                                "end repeat"});
    return fill(head + QLatin1StringView("\n end tell"), {trackIDs});
}

QString KZApplescript::markPhotosScriptWithString(const QString& mediaIDs, const QString& keyword)
{
    return fill(lines({"set notMarkedItems to {}", "set savedDelim to AppleScript's text item delimiters",
                       kDelimiterLine, "set IDsList to every text item of \"%@\"",
                       "set AppleScript's text item delimiters to savedDelim", "tell application \"Photos\"",
                       "with timeout of 30000 seconds", "repeat with i in IDsList", "if media item id i exists then",
                       "try", "set aPhoto to media item id i", "set currTag to keywords of aPhoto",
                       "if currTag is not equal to missing value then", "if currTag does not contain \"%@\" then",
                       "set currTag to currTag & \"%@\"", "set keywords of aPhoto to currTag", "end if", "else",
                       "set keywords of aPhoto to \"%@\"", "end if", "end try", "else",
                       "set notMarkedItems to notMarkedItems & i", "end if", "end repeat", "end timeout", "end tell",
                       "return notMarkedItems"}),
                {mediaIDs, keyword, keyword, keyword});
}

QString KZApplescript::undoPhotosScriptWithString(const QString& mediaIDs, const QString& keyword)
{
    // Only a keyword equal to ours is taken off: a user's own keyword that
    // merely contains it ("trip" in "trip 2019") stays.
    return fill(lines({"set savedDelim to AppleScript's text item delimiters", kDelimiterLine,
                       "set IDsList to every text item of \"%@\"",
                       "set AppleScript's text item delimiters to savedDelim", "set currTag to {}",
                       "tell application \"Photos\"", "with timeout of 30000 seconds", "repeat with i in IDsList",
                       "try", "if media item id i exists then", "set aPhoto to media item id i",
                       "set currTag to keywords of aPhoto", "if currTag is not equal to missing value then",
                       "if currTag contains \"%@\" then", "set newTag to {}", "repeat with loopItem in currTag",
                       "if contents of loopItem is not equal to \"%@\" then", "set newTag to newTag & loopItem",
                       "end if", "end repeat", "set keywords of aPhoto to newTag", "end if", "end if", "end if",
                       "end try", "end repeat", "end timeout", "end tell"}),
                {mediaIDs, keyword, keyword});
}

QString KZApplescript::quitScriptWithName(const QString& appName)
{
    return fill(QStringLiteral("tell application \"%@\" to quit"), {appName});
}

// ---- Values ------------------------------------------------------------------------------------

QString KZApplescript::escaped(const QString& value)
{
    QString text;
    text.reserve(value.size());
    for (const QChar c : value) {
        if (c == u'\\' || c == u'"')
            text += u'\\';
        text += c;
    }
    return text;
}

bool KZApplescript::isValidTrackID(const QString& trackID)
{
    if (trackID.isEmpty() || trackID.size() > 16)
        return false;
    for (const QChar c : trackID) {
        if (!isHexDigit(c.unicode()))
            return false;
    }
    return true;
}

bool KZApplescript::isValidMediaID(const QString& mediaID)
{
    if (mediaID.isEmpty() || mediaID.size() > 255)
        return false;
    for (const QChar c : mediaID) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                             u == u'-' || u == u'/' || u == u'_' || u == u'.';
        if (!allowed)
            return false;
    }
    return true;
}

bool KZApplescript::isValidPath(const QString& path)
{
    return path.startsWith(u'/') && !path.contains(u'\n') && !path.contains(u'\r');
}

QString KZApplescript::validatedList(const QString& list, bool (*valid)(const QString&), int* rejected)
{
    QStringList kept;
    int refused = 0;
    for (const QString& item : list.split(u'\n')) {
        if (item.isEmpty())
            continue;
        if (valid(item))
            kept << item;
        else
            ++refused;
    }
    if (rejected)
        *rejected = refused;
    return kept.join(u'\n');
}

void KZApplescript::setMusicLibraryDidChange(std::function<void()> handler)
{
    std::lock_guard lock(handlerMutex());
    libraryDidChange() = std::move(handler);
}

// ---- Running -----------------------------------------------------------------------------------

ScriptResult KZApplescript::run(const QString& script)
{
    return platform::ScriptRunner::shared().run(script);
}

void KZApplescript::bringiTunesInFront()
{
    run(activateSourceScript());
}

bool KZApplescript::runMusicLibraryChange(const QString& script)
{
    KZAppsSupport& guard = KZAppsSupport::sharedControl();
    const bool watching = guard.isObserving();
    guard.removeObservers();
    const ScriptResult result = run(script);
    if (result.status == ScriptResult::Status::NotAvailable) {
        if (watching)
            guard.addObservers();
        showNotAvailable(musicOwner);
        return false;
    }
    // The watch stays paused: the next search with a library source turns
    // it on again.
    showError(result, musicOwner);
    return result.ok() && result.hasValue;
}

bool KZApplescript::undoDeletion(const QString& paths)
{
    const QString valid = validatedAndLogged(paths, &isValidPath, "paths");
    return !valid.isEmpty() && runMusicLibraryChange(addingScriptWithString(valid));
}

bool KZApplescript::notifyDeletion(const QString& trackIDs)
{
    const QString valid = validatedAndLogged(trackIDs, &isValidTrackID, "track identifiers");
    if (valid.isEmpty())
        return false;
    const bool changed = runMusicLibraryChange(deletionScriptWithString(valid));
    if (changed) {
        std::function<void()> handler;
        {
            std::lock_guard lock(handlerMutex());
            handler = libraryDidChange();
        }
        if (handler)
            handler();
    }
    return changed;
}

ScriptResult KZApplescript::runPhotosScript(const QString& mediaIDs, const QString& keyword,
                                            QString (*build)(const QString&, const QString&))
{
    const QString valid = validatedAndLogged(mediaIDs, &isValidMediaID, "photo identifiers");
    if (valid.isEmpty() || keyword.isEmpty())
        return {ScriptResult::Status::Failed, false, {}, {}, 0};
    const ScriptResult result = run(build(valid, keyword));
    if (result.status == ScriptResult::Status::NotAvailable)
        showNotAvailable(photosOwner);
    else
        showError(result, photosOwner);
    return result;
}

bool KZApplescript::markPhotosItems(const QString& mediaIDs, const QString& keyword, QStringList* notMarked)
{
    const ScriptResult result = runPhotosScript(mediaIDs, keyword, &markPhotosScriptWithString);
    if (!result.ok() || !result.hasValue)
        return false;
    if (notMarked && result.value.metaType().id() == QMetaType::QVariantList) {
        notMarked->clear();
        for (const QVariant& item : result.value.toList())
            *notMarked << item.toString();
    }
    return true;
}

bool KZApplescript::undoPhotosItems(const QString& mediaIDs, const QString& keyword)
{
    const ScriptResult result = runPhotosScript(mediaIDs, keyword, &undoPhotosScriptWithString);
    return result.ok() && result.hasValue;
}

ScriptResult KZApplescript::runQuitApp(const QString& appName)
{
    return run(quitScriptWithName(appName));
}

bool KZApplescript::quitApp(const QString& appName)
{
    const ScriptResult result = runQuitApp(appName);
    return result.ok() && result.hasValue;
}

void KZApplescript::showError(const ScriptResult& result, qint16 ownerApp)
{
    if (result.status != ScriptResult::Status::Failed || result.errorMessage.isEmpty())
        return;
    QVariantMap info{{KZAlertKey::error, result.errorMessage}};
    if (ownerApp == photosOwner && result.errorNumber == -10000)
        info.insert(KZAlertKey::message, QStringLiteral("repair_Photos_library"));
    KZErrorDelegate::sharedControl().showError(info);
}

void KZApplescript::showNotAvailable(qint16 ownerApp)
{
    KZErrorDelegate::sharedControl().showError(ownerApp == photosOwner ? QStringLiteral("photos_app_not_available")
                                                                       : QStringLiteral("music_app_not_available"));
}
