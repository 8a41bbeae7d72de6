#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QLocalServer;

namespace platform {

// One running program per user, as the desktop expects of a document
// program: the first start listens on a local socket; a later start hands
// its paths (folders, saved results) to the running one and exits.
//
// Paths travel as bytes, so a name that is not UTF-8 arrives intact;
// relative paths are made absolute (platform::absolutePath) by the start
// that received them. The socket and its lock live in a folder that only the
// user can have: another local user could otherwise take the lock, or
// listen in the program's place and receive the paths of later starts. The
// places are tried in a fixed order, so that every start of the user's picks
// the same one; when none is private the start runs alone, and says why.
class OpenedFiles : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const std::vector<std::filesystem::path>&)>;

    enum class Role {
        Primary,    // this process is the running program now
        HandedOver, // the running program took the paths; this one should exit
        Alone,      // no socket could be had: run without handing over
        Unanswered, // a program runs but did not confirm in time (busy or
                    // hung): this one should say so and exit, never start a
                    // second program beside it
    };

    // The places of the socket, in the order they are tried: the runtime
    // folder itself ($XDG_RUNTIME_DIR, when only this user may enter it),
    // its folder "maravex", the folder "maravex-<uid>" of the temporary
    // folder, and the folder "maravex-<uid>" of the user's cache folder
    // ($XDG_CACHE_HOME, else ~/.cache). start() makes a missing folder.
    static std::vector<std::filesystem::path> defaultSocketFiles();

    // The program's arguments (after Qt took its own) as absolute paths, so
    // that a first start and a later one name the same items alike.
    static std::vector<std::filesystem::path> argumentPaths(int argc, char** argv);

    explicit OpenedFiles(std::vector<std::filesystem::path> socketFiles = defaultSocketFiles(),
                         QObject* parent = nullptr);
    explicit OpenedFiles(std::filesystem::path socketFile, QObject* parent = nullptr);
    ~OpenedFiles() override;

    // Becomes the running program, or hands `paths` to the one that runs
    // (waiting at most `timeoutMs` for it to confirm). Only a socket that
    // nobody accepts on, left behind by a program that died, is replaced: a
    // program that accepted but has not confirmed is alive, only busy, and
    // keeps its socket. The socket's folder is made (mode 0700) when missing;
    // one that is not a real folder that belongs to this user and that nobody
    // else may enter or replace is passed over for the next place. Without
    // any, the start runs alone (see aloneReason()).
    Role start(const std::vector<std::filesystem::path>& paths, int timeoutMs = 5000);

    // Why start() answered Alone, for the user; empty otherwise.
    const QString& aloneReason() const { return aloneReason_; }
    // The socket this start uses (empty when it runs alone).
    const std::filesystem::path& socketFile() const { return socketFile_; }

    // Called on this object's thread with the paths of each later start;
    // paths confirmed before there was a handler are handed to it at once.
    void setHandler(Handler handler);

    // Limits on what a later start may send; more is refused whole.
    static constexpr quint32 kMaxPaths = 4096;
    static constexpr quint32 kMaxPathBytes = 65536;
    static constexpr qsizetype kMaxMessageBytes = 16 * 1024 * 1024;

private:
    enum class HandOver { Taken, NobodyListens, NoAnswer };
    HandOver handOver(const std::vector<std::filesystem::path>& paths, int timeoutMs);
    void acceptConnection();

    std::vector<std::filesystem::path> candidates_;
    std::filesystem::path socketFile_;
    QString aloneReason_;
    QLocalServer* server_ = nullptr;
    Handler handler_;
    std::vector<std::vector<std::filesystem::path>> early_;
};

} // namespace platform
