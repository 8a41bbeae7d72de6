#pragma once

#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>

namespace kztest {

// A folder removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

    // Writes `bytes` to `rel` (parents created) and answers the full path.
    std::filesystem::path write(const std::filesystem::path& rel, const std::string& bytes) const;
    std::filesystem::path mkdir(const std::filesystem::path& rel) const;

private:
    std::filesystem::path path_;
};

// The folder that HOME and the XDG variables point at for this test run.
const std::filesystem::path& sandboxHome();

// Runs the Qt event loop until `done` answers true or `timeout` passes.
bool processEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace kztest
