#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <clocale>
#include <filesystem>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <string>

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

    static const Made& made_()
    {
        static const Made made = [] {
            for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
                if (hasComma(name))
                    return Made{name, {}, {}};
            const std::string folder = (sandboxHome() / "locales").native();
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            QProcess localedef;
            localedef.setProcessChannelMode(QProcess::MergedChannels);
            localedef.start(QStringLiteral("localedef"),
                            {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                             QStringLiteral("UTF-8"), QString::fromStdString(folder + "/de_DE.UTF-8")});
            const bool ran = localedef.waitForFinished(60000);
            const std::string said = localedef.readAll().toStdString();
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
