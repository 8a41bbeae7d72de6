#include "platform/Users.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Calls `use` with this user's passwd entry when there is one.
template <typename Use>
bool withPasswdEntry(Use use)
{
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t size = hint > 0 ? size_t(hint) : 4096;
    for (int attempt = 0; attempt < 6; ++attempt) {
        std::vector<char> buffer(size);
        passwd entry{};
        passwd* found = nullptr;
        const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE) {
            size *= 4;
            continue;
        }
        if (rc != 0 || !found)
            return false;
        use(*found);
        return true;
    }
    return false;
}

} // namespace

uid_t currentUserId() { return ::getuid(); }

QString userName()
{
    QString name;
    if (withPasswdEntry([&](const passwd& pw) {
            if (pw.pw_name && *pw.pw_name)
                name = platform::pathText(pw.pw_name);
        })
        && !name.isEmpty())
        return name;
    if (const char* env = std::getenv("USER"); env && *env)
        return platform::pathText(env);
    return QString::number(::getuid());
}

std::filesystem::path homeDirectory()
{
    if (const char* env = std::getenv("HOME"); env && env[0] == '/')
        return std::filesystem::path(env);
    std::filesystem::path home;
    withPasswdEntry([&](const passwd& pw) {
        if (pw.pw_dir && pw.pw_dir[0] == '/')
            home = pw.pw_dir;
    });
    if (!home.empty())
        return home;
    return std::filesystem::path("/");
}

} // namespace platform
