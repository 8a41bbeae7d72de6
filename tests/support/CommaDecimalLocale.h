#pragma once

#include "TestSupport.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace kztest {

// The process in a locale whose decimal point is a comma, as a German
// user's program runs (the application object sets the user's locale), for
// as long as the object lives. Where the system has none installed, one is
// made once per test program with localedef, from the sources of the
// "locales" package, into the sandbox home, and found there through LOCPATH:
// no root, and a second or so.
class CommaDecimalLocale {
public:
    CommaDecimalLocale()
    {
        const Made& made = made_();
        if (!made.why.empty()) {
            why_ = made.why;
            return;
        }
        if (const char* current = std::setlocale(LC_ALL, nullptr))
            previous_ = current;
        const EnvGuard locpath("LOCPATH");
        if (!made.folder.empty())
            ::setenv("LOCPATH", made.folder.c_str(), 1);
        if (!std::setlocale(LC_ALL, made.name.c_str()))
            why_ = "setlocale refused " + made.name;
        else if (std::string(std::localeconv()->decimal_point) != ",")
            why_ = made.name + " has no decimal comma";
    }
    ~CommaDecimalLocale()
    {
        if (previous_)
            std::setlocale(LC_ALL, previous_->c_str());
    }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    // Empty once the locale is in force; else why it could not be had.
    const std::string& why() const { return why_; }

private:
    struct Made {
        std::string name, folder, why;
    };

    static bool hasComma(const char* name)
    {
        const locale_t l = ::newlocale(LC_NUMERIC_MASK, name, locale_t(nullptr));
        if (!l)
            return false;
        const bool comma = std::string(::nl_langinfo_l(RADIXCHAR, l)) == ",";
        ::freelocale(l);
        return comma;
    }

    // Runs localedef into `target`; whether it ran to its end, and what it
    // said. Started by fork and exec rather than QProcess: Qt starts its
    // children through clone() inside the library, which ThreadSanitizer does
    // not see, and the child then leaves the sanitizer's records of this
    // process's locks and heap wrong, so that it reports races that are none.
    static std::pair<bool, std::string> localedef(const std::string& target)
    {
        const std::string log = target + ".log";
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t child = ::fork();
        if (child < 0)
            return {false, "fork failed"};
        if (child == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (out >= 0) {
                ::dup2(out, STDOUT_FILENO);
                ::dup2(out, STDERR_FILENO);
            }
            ::execlp("localedef", "localedef", "-i", "de_DE", "-f", "UTF-8", target.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0)
            if (errno != EINTR)
                return {false, "localedef could not be waited for"};
        std::ifstream in(log);
        std::string said{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
            said += "localedef could not be started";
        return {WIFEXITED(status), said};
    }

    static const Made& made_()
    {
        static const Made made = [] {
            for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
                if (hasComma(name))
                    return Made{name, {}, {}};
            const std::string folder = (sandboxHome() / "locales").native();
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            const auto [ran, said] = localedef(folder + "/de_DE.UTF-8");
            const EnvGuard locpath("LOCPATH");
            ::setenv("LOCPATH", folder.c_str(), 1);
            if (!ran || !hasComma("de_DE.UTF-8"))
                return Made{{}, {}, "no locale with a decimal comma is installed, and localedef could not make one "
                                    "(install the \"locales\" package): " + said};
            return Made{"de_DE.UTF-8", folder, {}};
        }();
        return made;
    }

    std::optional<std::string> previous_;
    std::string why_;
};

} // namespace kztest
