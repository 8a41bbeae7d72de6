#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>

namespace platform {

// Writes `data` to a temporary file in the same folder, flushes it to disk and
// renames it over `file`. The old content stays intact on any failure.
bool writeFileAtomically(const std::filesystem::path& file, const QByteArray& data,
                         QString* error = nullptr);

} // namespace platform
