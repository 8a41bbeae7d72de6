#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// Tells the music application which of its tracks a removal deleted, through
// the script bridge (which, on this platform, says that the application is
// not available); tests install a recording instance.
class KZMusicLibraryNotifier {
public:
    static KZMusicLibraryNotifier& sharedControl();
    // nullptr restores the stand-in.
    static void setSharedControl(std::unique_ptr<KZMusicLibraryNotifier> instance);

    virtual ~KZMusicLibraryNotifier() = default;

    // `trackIDs`: one persistent track identifier per line, without a final
    // line feed. Answers whether the application took the request.
    virtual bool notifyDeletion(const QString& trackIDs);

    // Whether `trackID` may reach a script: 1 to 16 hexadecimal digits.
    // Anything else could break out of the script's text.
    static bool isValidTrackID(const QString& trackID);
    // The valid identifiers, one per line.
    static QString deletionText(const QStringList& trackIDs);
};
