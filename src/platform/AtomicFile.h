#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>
#include <sys/types.h>

namespace platform {

// Writes `data` to a temporary file in the same folder, flushes it to disk and
// renames it over `file`. The old content stays intact on any failure, and the
// error names the path and the system's reason.
//
// With `followLinks` a symbolic link at `file` is followed, so a link the
// user made (a config file kept elsewhere) survives and its target gets the
// new content. Without it nothing is resolved: a link at `file` is replaced
// itself and whatever it pointed at stays untouched (for files in folders
// other programs may write to). An existing file keeps its permission bits;
// a new one gets 0666 minus the umask.
bool writeFileAtomically(const std::filesystem::path& file, const QByteArray& data,
                         QString* error = nullptr, bool followLinks = true);

// The same guarantees for a file written piece by piece (an export that may
// be long): the pieces go to a temporary file beside `file`, and only
// commit() puts it in place. A writer dropped without commit() leaves no
// trace and the old file as it was. After the first failure every call
// answers false and error() keeps the first reason.
class AtomicFileWriter {
public:
    // How bytes reach the descriptor; write(2) unless a test fails it on purpose.
    using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;

    // `followLinks` as for writeFileAtomically.
    explicit AtomicFileWriter(std::filesystem::path file, WriteFunction write = {}, bool followLinks = true);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file.
    bool open();
    bool write(const char* data, size_t size);
    bool write(const QByteArray& data) { return write(data.constData(), size_t(data.size())); }
    // Flushes the temporary file to disk and renames it over the target.
    bool commit();
    // Drops the temporary file; the target stays as it was.
    void abandon();

    // "Could not write “path”: what: the system's reason"; empty while all is well.
    const QString& error() const { return error_; }
    // The file that commit() replaces: the target of a link at `file`.
    const std::filesystem::path& target() const { return target_; }

private:
    bool fail(const QString& what, int err);

    std::filesystem::path file_;
    std::filesystem::path target_;
    std::filesystem::path temp_;
    WriteFunction write_;
    bool followLinks_ = true;
    QString error_;
    int fd_ = -1;
    bool failed_ = false;
};

} // namespace platform
