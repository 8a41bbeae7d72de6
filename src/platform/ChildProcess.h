#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// What a finished child process left behind.
struct ProcessOutput {
    bool started = false;    // false: the program could not be run at all
    bool timedOut = false;   // it ran past the limit and was killed
    bool tooMuchOutput = false; // it printed past the output bound and was killed
    int exitCode = -1;       // -1 when it did not exit normally (a signal)
    QByteArray standardOutput;
    QByteArray standardError;
    QString error;           // why it could not be started or waited for

    // Ran to the end on its own, exited with 0 and wrote nothing on
    // standard error.
    bool succeededQuietly() const
    {
        return started && !timedOut && !tooMuchOutput && exitCode == 0 && standardError.isEmpty();
    }
};

// What a child may print when its caller names no bound of its own.
inline constexpr std::size_t kDefaultMaxProcessOutput = std::size_t(64) << 20;

// Runs `program` with `arguments` (an argument list: no shell ever sees
// them), standard input on /dev/null, and collects both output streams to
// their ends. Both pipes are drained together, so a child that fills one
// while we wait on the other cannot stall. Past `timeout`, or once both
// streams together hold more than `maxOutput` bytes (what is kept never
// exceeds it), the child's whole process group is killed: a child that
// prints without end costs time and memory up to these bounds, no more.
// The caller's thread blocks until the child is gone; any number of
// threads may run children at once.
ProcessOutput runProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout, std::size_t maxOutput = kDefaultMaxProcessOutput);

} // namespace platform
