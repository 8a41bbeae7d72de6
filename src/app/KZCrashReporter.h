#pragma once

#include <filesystem>
#include <memory>
#include <optional>

// Notices a run that did not end cleanly. Each run leaves a marker beside
// its log while it runs and removes it when it quits normally; a marker found
// at the next launch means the earlier run crashed or was killed, and its log
// is kept aside for the user to look at.
class KZCrashReporter {
public:
    // $XDG_STATE_HOME/maravex, else ~/.local/state/maravex.
    static std::filesystem::path defaultFolder();

    explicit KZCrashReporter(std::filesystem::path folder = defaultFolder());
    ~KZCrashReporter();
    KZCrashReporter(const KZCrashReporter&) = delete;
    KZCrashReporter& operator=(const KZCrashReporter&) = delete;

    // Asked once at launch. Answers the kept log of an earlier run that did
    // not end cleanly, if there is one; then leaves this run's marker and
    // starts this run's log, which receives every log line from now on.
    std::optional<std::filesystem::path> checkForNewCrashes();

    // This run ends normally: the marker goes, the log stays for reference.
    void endCleanly();

    // Being told to stop (the session ends, a terminal's Ctrl+C, kill) or
    // leaving through exit() is no crash either: from now on those remove
    // the marker too. Only a crash or SIGKILL leaves it behind. For the
    // program's own reporter; installs process-wide handlers once.
    void treatTerminationAsClean();

    std::filesystem::path markerFile() const;
    std::filesystem::path logFile() const;
    std::filesystem::path crashedLogFile() const;

private:
    struct LogFile;
    std::filesystem::path folder_;
    std::shared_ptr<LogFile> log_;
};
