#include "platform/OpenedFiles.h"
#include "platform/Log.h"

#include "TestSupport.h"

#include <QDataStream>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::OpenedFiles;

namespace {

// A later start runs in its own thread: its hand-over blocks while the
// running program, on this thread, answers from the event loop.
OpenedFiles::Role startLater(const fs::path& socket, const std::vector<fs::path>& paths)
{
    std::atomic<bool> done{false};
    OpenedFiles::Role role = OpenedFiles::Role::Alone;
    std::thread later([&] {
        OpenedFiles second(socket);
        role = second.start(paths, 5000);
        done = true;
    });
    kztest::processEventsUntil([&] { return done.load(); }, std::chrono::seconds(10));
    later.join();
    return role;
}

TEST(OpenedFiles, ALaterStartHandsItsPathsToTheRunningProgram)
{
    kztest::TempDir dir;
    const fs::path socket = dir / "maravex.socket";
    OpenedFiles first(socket);
    ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
    std::vector<fs::path> received;
    int deliveries = 0;
    first.setHandler([&](const std::vector<fs::path>& paths) {
        received = paths;
        ++deliveries;
    });

    const fs::path cwd = fs::current_path();
    const std::string notUtf8 = "/tmp/caf\xe9 \xff\xfe";
    const std::vector<fs::path> sent = {"/home/user/Pictures", fs::path(notUtf8), "relative/folder", "/a b/c.mrvx"};
    EXPECT_EQ(startLater(socket, sent), OpenedFiles::Role::HandedOver);
    ASSERT_EQ(deliveries, 1);
    const std::vector<fs::path> expected = {"/home/user/Pictures", fs::path(notUtf8), cwd / "relative/folder",
                                            "/a b/c.mrvx"};
    EXPECT_EQ(received, expected);

    // A start without arguments still reaches the running program.
    EXPECT_EQ(startLater(socket, {}), OpenedFiles::Role::HandedOver);
    EXPECT_EQ(deliveries, 2);
    EXPECT_TRUE(received.empty());
}

TEST(OpenedFiles, ASocketLeftByADeadProgramIsReplaced)
{
    kztest::TempDir dir;
    const fs::path socket = dir.write("maravex.socket", "left over");
    OpenedFiles first(socket);
    EXPECT_EQ(first.start({}, 500), OpenedFiles::Role::Primary);
}

// Whatever a local process sends, the running program neither crashes nor
// opens anything, and keeps serving later starts.
TEST(OpenedFiles, MalformedRequestsAreRefused)
{
    kztest::TempDir dir;
    const fs::path socket = dir / "maravex.socket";
    OpenedFiles first(socket);
    ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
    int deliveries = 0;
    first.setHandler([&](const std::vector<fs::path>&) { ++deliveries; });

    auto message = [](const QByteArray& magic, quint32 count, const std::vector<std::string>& paths) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << magic << count;
        for (const std::string& p : paths) {
            out << quint32(p.size());
            out.writeRawData(p.data(), int(p.size()));
        }
        return bytes;
    };
    const QByteArray hostile[] = {
        message("NOT-MARAVEX", 1, {"/x"}),
        message("MARAVEX-OPEN-1", 1000000, {}),              // too many paths
        message("MARAVEX-OPEN-1", 1, {"relative"}),           // not absolute
        message("MARAVEX-OPEN-1", 1, {std::string("/a\0b", 4)}), // a byte no name holds
        message("MARAVEX-OPEN-1", 1, {""}),                   // empty
    };
    for (const QByteArray& bytes : hostile) {
        QLocalSocket client;
        client.connectToServer(QString::fromStdString(socket.string()));
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write(bytes);
        client.flush();
        kztest::processEventsUntil([&] { return client.state() == QLocalSocket::UnconnectedState; },
                                   std::chrono::seconds(2));
        EXPECT_EQ(client.bytesAvailable(), 0); // no acknowledgement
    }
    EXPECT_EQ(deliveries, 0);
    EXPECT_EQ(startLater(socket, {"/still/served"}), OpenedFiles::Role::HandedOver);
    EXPECT_EQ(deliveries, 1);
}

// Both starts make arguments absolute alike, so the running program gets the
// same paths whether it was started with them or handed them later.
TEST(OpenedFiles, ArgumentsAreAbsoluteInTheFirstStartAndInALaterOne)
{
    kztest::TempDir dir;
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    std::string program = "maravex", relative = "./sub/../folder/", absolute = "/a/./b/";
    char* argv[] = {program.data(), relative.data(), absolute.data(), nullptr};
    const std::vector<fs::path> expected = {dir / "folder", "/a/b"};
    EXPECT_EQ(OpenedFiles::argumentPaths(3, argv), expected);

    const fs::path socket = dir / "maravex.socket";
    OpenedFiles first(socket);
    ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
    std::vector<fs::path> received;
    first.setHandler([&](const std::vector<fs::path>& paths) { received = paths; });
    EXPECT_EQ(startLater(socket, {relative, absolute}), OpenedFiles::Role::HandedOver);
    EXPECT_EQ(received, expected);
    fs::current_path(cwd);
}

// Without a runtime folder the socket lives in a folder of the user's own
// under the temporary folder; one that others may enter, or a link put there
// in its place, is refused and the program runs alone.
TEST(OpenedFiles, TheSocketLivesInAFolderNobodyElseMayEnter)
{
    kztest::TempDir dir;
    kztest::EnvGuard runtime("XDG_RUNTIME_DIR");
    kztest::EnvGuard temporary("TMPDIR");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const fs::path folder = dir / ("maravex-" + std::to_string(::getuid()));
    ASSERT_EQ(OpenedFiles::defaultSocketFile(), folder / "maravex.socket");
    {
        OpenedFiles first;
        ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_EQ(fs::status(folder / "maravex.socket").type(), fs::file_type::socket);
    }
    fs::remove_all(folder);

    std::vector<QString> log;
    platform::setLogSink([&](const QString& line) { log.push_back(line); });
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                | fs::perms::others_read | fs::perms::others_exec);
    OpenedFiles open;
    EXPECT_EQ(open.start({"/x"}), OpenedFiles::Role::Alone);
    EXPECT_FALSE(fs::exists(folder / "maravex.socket"));
    EXPECT_FALSE(fs::exists(folder / "maravex.socket.lock"));
    fs::remove(folder);

    kztest::TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.path(), folder);
    OpenedFiles linked;
    EXPECT_EQ(linked.start({"/x"}), OpenedFiles::Role::Alone);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    platform::setLogSink({});
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].contains(QStringLiteral("mode 755"))) << log[0].toStdString();
    EXPECT_TRUE(log[1].contains(QStringLiteral("is not a folder"))) << log[1].toStdString();
}

} // namespace
