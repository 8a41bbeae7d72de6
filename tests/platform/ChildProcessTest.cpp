#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using platform::runProcess;

TEST(ChildProcess, CollectsBothStreamsAndTheExitCode)
{
    // More than a pipe holds on both streams at once: draining only one
    // of them would leave the child blocked on the other.
    const auto out = runProcess("/bin/sh",
                                {"-c", "head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2; exit 7"}, 30s);
    EXPECT_TRUE(out.started);
    EXPECT_FALSE(out.timedOut);
    EXPECT_EQ(out.exitCode, 7);
    EXPECT_EQ(out.standardOutput.size(), 300000);
    EXPECT_EQ(out.standardError.size(), 200000);
    EXPECT_FALSE(out.succeededQuietly());

    // Arguments reach the program as they are: no shell splits or expands them.
    const auto echo = runProcess("/bin/echo", {"a b", "$HOME", "*", "|x"}, 30s);
    EXPECT_TRUE(echo.succeededQuietly());
    EXPECT_EQ(echo.standardOutput, QByteArray("a b $HOME * |x\n"));
}

TEST(ChildProcess, MissingProgramAndTimeOut)
{
    const auto missing = runProcess("/nonexistent/tool", {}, 30s);
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.error.isEmpty());

    // The shell's own child is in the killed group too, so the call returns
    // at the limit rather than when the sleep ends.
    const auto start = std::chrono::steady_clock::now();
    const auto slow = runProcess("/bin/sh", {"-c", "echo partial; sleep 30; echo never"}, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(slow.started);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_FALSE(slow.succeededQuietly());
    EXPECT_EQ(slow.standardOutput, QByteArray("partial\n"));
}

TEST(ChildProcess, OutputPastTheBoundStopsTheChild)
{
    // A child that never stops printing, on either stream, ends at the bound
    // with exactly that much kept, long before its time is up.
    for (const char* script : {"yes 'row'", "yes 'complaint' >&2"}) {
        const auto endless = runProcess("/bin/sh", {"-c", script}, 60s, 1 << 20);
        EXPECT_TRUE(endless.started) << script;
        EXPECT_TRUE(endless.tooMuchOutput) << script;
        EXPECT_FALSE(endless.timedOut) << script;
        EXPECT_FALSE(endless.succeededQuietly()) << script;
        EXPECT_EQ(endless.standardOutput.size() + endless.standardError.size(), 1 << 20) << script;
    }
    // Exactly the bound is still a whole answer.
    const auto exact = runProcess("/bin/sh", {"-c", "head -c 4096 /dev/zero"}, 30s, 4096);
    EXPECT_FALSE(exact.tooMuchOutput);
    EXPECT_TRUE(exact.succeededQuietly());
    EXPECT_EQ(exact.standardOutput.size(), 4096);
}
