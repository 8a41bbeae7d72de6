#include "app/KZCrashReporter.h"

#include "TestSupport.h"

#include "platform/Log.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>

namespace fs = std::filesystem;

namespace {

// Each step is one run of the program: whether it asks at launch, what it
// logs, and whether it ends cleanly.
struct ProgramRun {
    const char* logged;
    bool endsCleanly;
    bool expectCrashReport;
    const char* expectedReportedLog; // the earlier run's log, when reported
};

TEST(KZCrashReporter, OnlyARunThatDidNotEndCleanlyIsReportedWithItsLog)
{
    kztest::TempDir dir;
    const ProgramRun runs[] = {
        {"first run", true, false, nullptr},
        {"second run, then a crash", false, false, nullptr},
        {"third run", true, true, "second run, then a crash"},
        {"fourth run", true, false, nullptr},
    };
    for (const ProgramRun& run : runs) {
        KZCrashReporter reporter(dir.path());
        const std::optional<fs::path> report = reporter.checkForNewCrashes();
        EXPECT_EQ(report.has_value(), run.expectCrashReport) << run.logged;
        if (report && run.expectedReportedLog) {
            EXPECT_NE(kztest::readFile(*report).find(run.expectedReportedLog), std::string::npos) << run.logged;
        }
        EXPECT_TRUE(fs::exists(reporter.markerFile())) << run.logged;
        platform::logLine(QString::fromLatin1(run.logged));
        EXPECT_NE(kztest::readFile(reporter.logFile()).find(run.logged), std::string::npos) << run.logged;
        if (run.endsCleanly) {
            reporter.endCleanly();
            EXPECT_FALSE(fs::exists(reporter.markerFile())) << run.logged;
        }
    }
}

TEST(KZCrashReporter, ARunThatDiedBeforeItsLogStartedIsStillReported)
{
    kztest::TempDir dir;
    dir.write("running", "999999999\n"); // no such process, and no log beside it
    KZCrashReporter reporter(dir.path());
    const std::optional<fs::path> report = reporter.checkForNewCrashes();
    ASSERT_TRUE(report.has_value());
    EXPECT_TRUE(fs::exists(*report));
    reporter.endCleanly();
}

TEST(KZCrashReporter, AFolderThatCannotBeMadeReportsNothingAndLogsToTheConsole)
{
    kztest::TempDir dir;
    const fs::path blocker = dir.write("file", "not a folder");
    KZCrashReporter reporter(blocker / "maravex");
    EXPECT_FALSE(reporter.checkForNewCrashes().has_value());
    platform::logLine(QStringLiteral("still logged")); // must not crash without a log file
    reporter.endCleanly();
}

// How the program ends decides whether the next start reports it: being
// told to stop is no crash, an abort is.
TEST(KZCrashReporterDeathTest, OnlyACrashLeavesTheMarkerBehind)
{
    auto run = [](const fs::path& folder, const std::function<void()>& end) {
        KZCrashReporter reporter(folder);
        reporter.checkForNewCrashes();
        reporter.treatTerminationAsClean();
        end();
    };
    {
        kztest::TempDir dir;
        EXPECT_EXIT(run(dir.path(), [] { std::raise(SIGTERM); }), ::testing::KilledBySignal(SIGTERM), "");
        EXPECT_FALSE(fs::exists(dir / "running")) << "SIGTERM";
    }
    {
        kztest::TempDir dir;
        EXPECT_EXIT(run(dir.path(), [] { std::raise(SIGHUP); }), ::testing::KilledBySignal(SIGHUP), "");
        EXPECT_FALSE(fs::exists(dir / "running")) << "SIGHUP";
    }
    {
        kztest::TempDir dir;
        EXPECT_EXIT(run(dir.path(), [] { std::exit(3); }), ::testing::ExitedWithCode(3), "");
        EXPECT_FALSE(fs::exists(dir / "running")) << "exit";
    }
    {
        kztest::TempDir dir;
        EXPECT_EXIT(run(dir.path(), [] { std::abort(); }), ::testing::KilledBySignal(SIGABRT), "");
        EXPECT_TRUE(fs::exists(dir / "running")) << "abort";
    }
}

} // namespace
