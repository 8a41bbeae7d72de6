#include "platform/Resources.h"

#include "platform/Paths.h"

#include <QCoreApplication>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::mutex g_mutex;
std::optional<fs::path> g_override;

bool isDirectory(const fs::path& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

fs::path executableDirectory()
{
    // /proc keeps the path as bytes, which a QString might not.
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.empty())
        return exe.parent_path();
    if (QCoreApplication::instance())
        return platform::pathFromText(QCoreApplication::applicationDirPath());
    return {};
}

// Programs run from build/, build/tests/ or build/src/...; the build copies
// the resources to build/resources once for all of them.
fs::path resourcesBesideExecutable()
{
    static const fs::path found = [] {
        fs::path dir = executableDirectory();
        for (int level = 0; level <= 2 && !dir.empty(); ++level) {
            if (isDirectory(dir / "resources"))
                return fs::path(dir / "resources");
            if (!dir.has_relative_path())
                break; // reached the root
            dir = dir.parent_path();
        }
        return fs::path();
    }();
    return found;
}

} // namespace

fs::path resourceDirectory()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_override)
            return *g_override;
    }
    if (const char* env = std::getenv("MARAVEX_RESOURCES"); env && *env)
        return fs::path(env);
    if (fs::path beside = resourcesBesideExecutable(); !beside.empty())
        return beside;
    return fs::path(KZ_INSTALLED_DATA_DIR);
}

void setResourceDirectory(const fs::path& dir)
{
    std::lock_guard lock(g_mutex);
    if (dir.empty())
        g_override.reset();
    else
        g_override = dir;
}

fs::path resourcePath(const fs::path& name)
{
    // Names are relative to the resource folder; anything that could step out
    // of it is no resource of ours.
    if (name.empty() || name.is_absolute())
        return {};
    for (const auto& part : name) {
        if (part == "..")
            return {};
    }
    const fs::path full = resourceDirectory() / name;
    std::error_code ec;
    return fs::exists(full, ec) ? full : fs::path();
}

} // namespace platform
