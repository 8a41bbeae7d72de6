#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>

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

} // namespace platform
