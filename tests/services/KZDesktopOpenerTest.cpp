#include "services/KZDesktopOpener.h"
#include "services/KZErrorDelegate.h"
#include "platform/StringTable.h"

#include "ScriptedPresenter.h"
#include "TestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// An xdg-open of our own first in PATH: it notes its argument and ends as a
// desktop with no program for the address does (or as one that opened it).
class FakeXdgOpen {
public:
    explicit FakeXdgOpen(int exitStatus, const char* stderrLine = "xdg-open: no method available for opening")
    {
        const fs::path script = dir.path() / "xdg-open";
        std::ofstream(script) << "#!/bin/sh\necho \"$1\" >> '" << (dir / "asked").string() << "'\n"
                              << "echo '" << stderrLine << "' >&2\nexit " << exitStatus << "\n";
        ::chmod(script.c_str(), 0755);
        const char* searched = std::getenv("PATH");
        ::setenv("PATH", (dir.path().string() + ":" + (searched ? searched : "/usr/bin:/bin")).c_str(), 1);
    }
    std::string asked() const { return kztest::readFile(dir / "asked"); }

    kztest::TempDir dir;
    kztest::EnvGuard pathGuard{"PATH"};
};

// What the opener answered, once the event loop has run.
std::optional<bool> openAndWait(const QUrl& url)
{
    std::optional<bool> answered;
    int answers = 0;
    KZDesktopOpener::open(url, [&](bool opened) {
        answered = opened;
        ++answers;
    });
    kztest::processEventsUntil([&] { return answered.has_value(); }, std::chrono::seconds(10));
    // A second answer would come from the opener's own timer.
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_LE(answers, 1);
    return answered;
}

} // namespace

// xdg-open starts whatever the desktop can do; its exit status says whether
// a program took the address. A failure is answered as such and is not
// handed to Qt's desktop services, which would start the same xdg-open again
// and count its start as success.
TEST(KZDesktopOpener, TheOpenersExitStatusIsTheAnswer)
{
    int servicesAsked = 0;
    const KZDesktopOpener::Launchers previous = KZDesktopOpener::setLaunchers(
        {{}, [&](const QUrl&) { return ++servicesAsked, true; }});
    const auto restore = qScopeGuard([previous] { KZDesktopOpener::setLaunchers(previous); });
    const QUrl manual = QUrl::fromLocalFile(QStringLiteral("/usr/share/doc/User Manual.pdf"));
    {
        FakeXdgOpen none(3);
        EXPECT_EQ(openAndWait(manual), std::optional<bool>(false));
        EXPECT_EQ(none.asked(), "file:///usr/share/doc/User%20Manual.pdf\n");
    }
    {
        FakeXdgOpen opens(0, "");
        EXPECT_EQ(openAndWait(manual), std::optional<bool>(true));
    }
    EXPECT_EQ(servicesAsked, 0);

    // No xdg-open at all: Qt's desktop services are the next resort.
    kztest::EnvGuard path("PATH");
    kztest::TempDir empty;
    ::setenv("PATH", empty.path().c_str(), 1);
    EXPECT_EQ(openAndWait(manual), std::optional<bool>(true));
    EXPECT_EQ(servicesAsked, 1);
}

// The alert that names the item comes once the opener has failed, without
// the caller waiting for it.
TEST(KZDesktopOpener, AFailedOpeningIsToldOnceItIsKnown)
{
    auto alerts = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate::sharedControl().setPresenter(alerts);
    const auto restore = qScopeGuard([] { KZErrorDelegate::sharedControl().setPresenter(nullptr); });
    FakeXdgOpen none(3);
    KZDesktopOpener::openOrTell(QUrl::fromLocalFile(QStringLiteral("/tmp/photo.jpg")), QStringLiteral("photo.jpg"),
                                QStringLiteral("open_failed"), QStringLiteral("open_failed_info"),
                                QStringLiteral("open_failed_ran_info"));
    EXPECT_EQ(alerts->shown(), 0u) << "asked at once, before the opener ended";
    ASSERT_TRUE(kztest::processEventsUntil([&] { return alerts->shown() == 1; }, std::chrono::seconds(10)));
    EXPECT_TRUE(alerts->calls.front().alert.messageText.contains(QStringLiteral("photo.jpg")));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(alerts->shown(), 1u);
}

// Twelve items whose opener runs and fails make one alert that names a few
// of them, says how many more there are and that the opener ran; with no
// opener at all, and nothing else opening them, the alert says none was
// found. Items that open are not named.
TEST(KZDesktopOpener, ItemsThatCannotBeOpenedAreNamedInOneAlert)
{
    auto alerts = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate::sharedControl().setPresenter(alerts);
    const auto restore = qScopeGuard([] { KZErrorDelegate::sharedControl().setPresenter(nullptr); });
    const auto errors = [](const char* key) {
        return platform::localizedString(QString::fromLatin1(key), QStringLiteral("Errors"));
    };
    QList<KZDesktopOpener::Item> items;
    for (int i = 1; i <= 12; ++i) {
        const QString name = QStringLiteral("photo %1.jpg").arg(i);
        items.append({QUrl::fromLocalFile(QStringLiteral("/tmp/") + name), name});
    }
    {
        FakeXdgOpen fails(3);
        KZDesktopOpener::openAllOrTell(items);
        ASSERT_TRUE(kztest::processEventsUntil([&] { return alerts->shown() == 1; }, std::chrono::seconds(20)));
        kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
        ASSERT_EQ(alerts->shown(), 1u);
        const auto& alert = alerts->calls.front().alert;
        qsizetype named = 0;
        for (const KZDesktopOpener::Item& item : items)
            named += alert.messageText.contains(item.shownName + u'\n');
        EXPECT_EQ(named, KZErrorDelegate::kListedNames) << alert.messageText.toStdString();
        EXPECT_TRUE(alert.messageText.endsWith(QStringLiteral("\n…and 7 more"))) << alert.messageText.toStdString();
        EXPECT_EQ(alert.informativeText, errors("open_failed_ran_info"));
    }

    // No xdg-open; Qt's services open only the first item.
    const KZDesktopOpener::Launchers previous = KZDesktopOpener::setLaunchers(
        {{}, [first = items.first().url](const QUrl& url) { return url == first; }});
    const auto back = qScopeGuard([previous] { KZDesktopOpener::setLaunchers(previous); });
    kztest::EnvGuard path("PATH");
    kztest::TempDir empty;
    ::setenv("PATH", empty.path().c_str(), 1);
    KZDesktopOpener::openAllOrTell(items.mid(0, 3));
    ASSERT_EQ(alerts->shown(), 2u);
    const auto& alert = alerts->calls.back().alert;
    EXPECT_FALSE(alert.messageText.contains(items.first().shownName));
    EXPECT_TRUE(alert.messageText.contains(items.at(1).shownName) && alert.messageText.contains(items.at(2).shownName));
    EXPECT_EQ(alert.informativeText, errors("open_failed_info"));
}

// An alert over many names stays smaller than the screen: a few names, one a
// line, then how many more; one more name is simply shown.
TEST(KZDesktopOpener, AListOfNamesInAnAlertGivesAFewAndCountsTheRest)
{
    QStringList names;
    for (int i = 1; i <= 100; ++i)
        names << QStringLiteral("/home/user/Pictures/photo %1.jpg").arg(i);
    const QString hundred = KZErrorDelegate::listOfNames(names);
    EXPECT_EQ(hundred.split(u'\n'), names.mid(0, 5) << QStringLiteral("…and 95 more"));
    EXPECT_EQ(KZErrorDelegate::listOfNames(names.mid(0, 7)).split(u'\n'), names.mid(0, 5) << QStringLiteral("…and 2 more"));
    EXPECT_EQ(KZErrorDelegate::listOfNames(names.mid(0, 6)), names.mid(0, 6).join(u'\n'));
    EXPECT_EQ(KZErrorDelegate::listOfNames({names.first()}), names.first());
    EXPECT_TRUE(KZErrorDelegate::listOfNames({}).isEmpty());
}
