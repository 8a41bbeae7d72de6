#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>

namespace platform {

// Writes `data` to a temporary file in the same folder, flushes it to disk and
// renames it over `file`. The old content stays intact on any failure, and the
// error names the path and the system's reason.
//
// A symbolic link at `file` is followed, so a link the user made (a config
// file kept elsewhere) survives and its target gets the new content. An
// existing file keeps its permission bits; a new one gets 0666 minus the umask.
bool writeFileAtomically(const std::filesystem::path& file, const QByteArray& data,
                         QString* error = nullptr);

} // namespace platform
