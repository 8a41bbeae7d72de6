#include "platform/OpenedFiles.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include "TestSupport.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <cstring>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::OpenedFiles;

namespace {

// A later start runs in its own thread: its hand-over blocks while the
// running program, on this thread, answers from the event loop.
// An empty `socket` stands for the default places.
OpenedFiles::Role startLater(const fs::path& socket, const std::vector<fs::path>& paths)
{
    std::atomic<bool> done{false};
    OpenedFiles::Role role = OpenedFiles::Role::Alone;
    std::thread later([&] {
        OpenedFiles second(socket.empty() ? OpenedFiles::defaultSocketFiles() : std::vector<fs::path>{socket});
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

// A later start confirmed before the running program set its handler (it
// was still building its windows): the paths wait for the handler, in order.
TEST(OpenedFiles, PathsConfirmedBeforeTheHandlerReachItOnceItIsSet)
{
    kztest::TempDir dir;
    const fs::path socket = dir / "maravex.socket";
    OpenedFiles first(socket);
    ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
    EXPECT_EQ(startLater(socket, {"/one"}), OpenedFiles::Role::HandedOver);
    EXPECT_EQ(startLater(socket, {"/two", "/three"}), OpenedFiles::Role::HandedOver);
    std::vector<std::vector<fs::path>> received;
    first.setHandler([&](const std::vector<fs::path>& paths) { received.push_back(paths); });
    EXPECT_EQ(received, (std::vector<std::vector<fs::path>>{{"/one"}, {"/two", "/three"}}));
    EXPECT_EQ(startLater(socket, {"/four"}), OpenedFiles::Role::HandedOver);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received.back(), std::vector<fs::path>{"/four"});
}

// A start on a thread of its own while this thread, the running program's
// main thread, is busy and reads nothing.
OpenedFiles::Role startWhileBusy(const fs::path& socket, const std::vector<fs::path>& paths, int timeoutMs)
{
    OpenedFiles::Role role = OpenedFiles::Role::Primary;
    std::thread later([&] { role = OpenedFiles(socket).start(paths, timeoutMs); });
    later.join();
    return role;
}

// A bound Unix socket with nobody listening on it any more.
void bindDeadSocket(const fs::path& file)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, file.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST(OpenedFiles, ASocketLeftByADeadProgramIsReplaced)
{
    kztest::TempDir dir;
    const fs::path socket = dir.write("maravex.socket", "left over");
    OpenedFiles first(socket);
    EXPECT_EQ(first.start({}, 500), OpenedFiles::Role::Primary);

    const fs::path dead = dir / "dead.socket";
    bindDeadSocket(dead);
    ASSERT_EQ(fs::status(dead).type(), fs::file_type::socket);
    OpenedFiles second(dead);
    EXPECT_EQ(second.start({}, 500), OpenedFiles::Role::Primary);
    EXPECT_EQ(startLater(dead, {"/after/the/dead/one"}), OpenedFiles::Role::HandedOver);
}

// A running program whose main thread is busy accepts a connection (the
// system queues it) but cannot answer. That is a live program: later starts
// say so and leave, none of them takes its socket, and once it is free again
// it gets what they sent and keeps serving.
TEST(OpenedFiles, ABusyProgramKeepsItsSocketAndLaterStartsDoNotRunBesideIt)
{
    kztest::TempDir dir;
    const fs::path socket = dir / "maravex.socket";
    OpenedFiles first(socket);
    ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
    std::vector<std::vector<fs::path>> received;
    first.setHandler([&](const std::vector<fs::path>& paths) { received.push_back(paths); });
    struct stat before {};
    ASSERT_EQ(::lstat(socket.c_str(), &before), 0);

    EXPECT_EQ(startWhileBusy(socket, {"/one"}, 300), OpenedFiles::Role::Unanswered);
    EXPECT_EQ(startWhileBusy(socket, {"/two"}, 300), OpenedFiles::Role::Unanswered);
    EXPECT_EQ(startWhileBusy(socket, {}, 300), OpenedFiles::Role::Unanswered);
    struct stat after {};
    ASSERT_EQ(::lstat(socket.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the running program's socket was replaced";
    EXPECT_TRUE(received.empty());

    kztest::processEventsUntil([&] { return received.size() == 3; }, std::chrono::seconds(5));
    const std::vector<std::vector<fs::path>> expected = {{"/one"}, {"/two"}, {}};
    EXPECT_EQ(received, expected);
    EXPECT_EQ(startLater(socket, {"/three"}), OpenedFiles::Role::HandedOver);
    ASSERT_EQ(received.size(), 4u);
}

// A program so busy that the system's queue of connections for it is full
// refuses nothing outright: it is there, and its socket stays.
TEST(OpenedFiles, AProgramWithAFullQueueOfConnectionsIsNotReplaced)
{
    kztest::TempDir dir;
    const fs::path socket = dir / "maravex.socket";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    std::vector<int> queued;
    for (int i = 0; i < 8; ++i) { // fill the queue; nothing ever accepts
        const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(client);
            break;
        }
        queued.push_back(client);
    }
    struct stat before {};
    ASSERT_EQ(::lstat(socket.c_str(), &before), 0);

    EXPECT_EQ(startWhileBusy(socket, {"/x"}, 300), OpenedFiles::Role::Unanswered);
    struct stat after {};
    ASSERT_EQ(::lstat(socket.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    for (int client : queued)
        ::close(client);
    ::close(fd);
}

// Runs `body` in a child process as the ordinary user "nobody" and answers its
// exit status; -1 when this process cannot become another user.
int asNobody(const std::function<int()>& body)
{
    const passwd* user = ::getpwnam("nobody");
    if (::geteuid() != 0 || !user)
        return -1;
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(98);
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

// A socket this user may not connect to (another user's, left in this user's
// own folder) is no running program of this user's: it is taken over, not
// waited for. Root passes every permission check, so this runs as an
// ordinary user.
TEST(OpenedFiles, AnotherUsersSocketInTheFolderIsNotWaitedFor)
{
    kztest::UserFolder dir;
    const passwd* user = ::getpwnam("nobody");
    if (::geteuid() != 0 || !user)
        GTEST_SKIP() << "needs root to start a child as another user";
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
    const fs::path folder = dir.mkdir("runtime");
    ASSERT_EQ(::chown(folder.c_str(), user->pw_uid, user->pw_gid), 0);
    fs::permissions(folder, fs::perms::owner_all);
    const fs::path socket = folder / "maravex.socket";
    QLocalServer others;
    others.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(others.listen(QString::fromStdString(socket.string())));

    const int status = asNobody([&] {
        // Kept until the child ends: closing it would take its socket away.
        auto* program = new OpenedFiles(socket);
        return program->start({"/x"}, 300) == OpenedFiles::Role::Primary ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "the ordinary user's start did not become the program";
    struct stat st {};
    ASSERT_EQ(::lstat(socket.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user->pw_uid);
}

// The lock only settles which of two starts takes over a dead socket; a start
// that cannot have it (another start stuck holding it) must not run beside
// whatever that one talks to.
TEST(OpenedFiles, AStartThatCannotHaveTheLockDoesNotRunAlone)
{
    kztest::TempDir dir;
    const fs::path socket = dir / "maravex.socket";
    QLockFile held(QString::fromStdString(socket.string() + ".lock"));
    ASSERT_TRUE(held.tryLock(0));
    EXPECT_EQ(startWhileBusy(socket, {"/x"}, 100), OpenedFiles::Role::Unanswered);
    EXPECT_FALSE(fs::exists(socket));
    held.unlock();
    OpenedFiles now(socket);
    EXPECT_EQ(now.start({}, 100), OpenedFiles::Role::Primary);
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
// in its place, is passed over for the user's cache folder, where every start
// of the user's meets. With no private place at all the start runs alone and
// says why.
TEST(OpenedFiles, TheSocketLivesInAFolderNobodyElseMayEnter)
{
    kztest::TempDir dir;
    kztest::EnvGuard runtime("XDG_RUNTIME_DIR");
    kztest::EnvGuard temporary("TMPDIR");
    kztest::EnvGuard cacheHome("XDG_CACHE_HOME");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const fs::path cache = dir.mkdir("cache");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::string own = "maravex-" + std::to_string(::getuid());
    const fs::path folder = dir / own;
    const fs::path cached = cache / own;
    ASSERT_EQ(OpenedFiles::defaultSocketFiles(),
              (std::vector<fs::path>{folder / "maravex.socket", cached / "maravex.socket"}));
    {
        OpenedFiles first;
        ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
        EXPECT_EQ(first.socketFile(), folder / "maravex.socket");
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_EQ(fs::status(folder / "maravex.socket").type(), fs::file_type::socket);
    }
    fs::remove_all(folder);

    std::vector<QString> log;
    platform::setLogSink([&](const QString& line) { log.push_back(line); });
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                | fs::perms::others_read | fs::perms::others_exec);
    {
        OpenedFiles open;
        EXPECT_EQ(open.start({"/x"}), OpenedFiles::Role::Primary);
        EXPECT_EQ(open.socketFile(), cached / "maravex.socket");
        EXPECT_FALSE(fs::exists(folder / "maravex.socket"));
        EXPECT_FALSE(fs::exists(folder / "maravex.socket.lock"));
        EXPECT_TRUE(open.aloneReason().isEmpty());
    }
    fs::remove(folder);
    fs::remove_all(cached);

    kztest::TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.path(), folder);
    fs::create_directory_symlink(elsewhere.path(), cached);
    OpenedFiles linked;
    EXPECT_EQ(linked.start({"/x"}), OpenedFiles::Role::Alone);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_TRUE(linked.socketFile().empty());
    EXPECT_TRUE(linked.aloneReason().contains(platform::pathText(folder) + QStringLiteral(" is not a folder")))
        << linked.aloneReason().toStdString();
    EXPECT_TRUE(linked.aloneReason().contains(platform::pathText(cached) + QStringLiteral(" is not a folder")))
        << linked.aloneReason().toStdString();
    platform::setLogSink({});
    ASSERT_GE(log.size(), 3u);
    EXPECT_TRUE(log[0].contains(QStringLiteral("mode 755"))) << log[0].toStdString();
}

// A runtime folder that others may enter, or a folder of the temporary
// folder that another user made first, is no reason to run a second program:
// the start uses the next private place, and a later start meets it there.
// The other user is real: root owns the squatted folder while an ordinary
// user starts, and an ordinary user owns it while root starts.
TEST(OpenedFiles, AFolderThatIsNotPrivateIsPassedOverAndEveryStartMeetsInTheNext)
{
    kztest::UserFolder dir;
    kztest::EnvGuard runtime("XDG_RUNTIME_DIR");
    kztest::EnvGuard temporary("TMPDIR");
    kztest::EnvGuard cacheHome("XDG_CACHE_HOME");

    // The runtime folder lets others in: a folder of our own inside it.
    const fs::path run = dir.mkdir("run");
    fs::permissions(run, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                             | fs::perms::others_read | fs::perms::others_exec);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    {
        OpenedFiles first;
        ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary);
        EXPECT_EQ(first.socketFile(), run / "maravex" / "maravex.socket");
        EXPECT_EQ(fs::status(run / "maravex").permissions() & fs::perms::all, fs::perms::owner_all);
        std::vector<fs::path> received;
        first.setHandler([&](const std::vector<fs::path>& paths) { received = paths; });
        EXPECT_EQ(startLater({}, {"/handed"}), OpenedFiles::Role::HandedOver);
        EXPECT_EQ(received, (std::vector<fs::path>{"/handed"}));
    }

    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root to give a folder to another user";
    ::unsetenv("XDG_RUNTIME_DIR");
    // World-writable with the sticky bit, as /tmp is.
    const fs::path tmp = dir.mkdir("tmp");
    fs::permissions(tmp, fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ::setenv("TMPDIR", tmp.c_str(), 1);

    // Root starts; "nobody" made root's folder first.
    const fs::path rootCache = dir.mkdir("root-cache");
    ::setenv("XDG_CACHE_HOME", rootCache.c_str(), 1);
    const fs::path squatted = tmp / ("maravex-" + std::to_string(::getuid()));
    ASSERT_EQ(::mkdir(squatted.c_str(), 0700), 0);
    ASSERT_EQ(::chown(squatted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    {
        OpenedFiles first;
        ASSERT_EQ(first.start({}), OpenedFiles::Role::Primary) << first.aloneReason().toStdString();
        EXPECT_EQ(first.socketFile(), rootCache / ("maravex-" + std::to_string(::getuid())) / "maravex.socket");
        std::vector<fs::path> received;
        first.setHandler([&](const std::vector<fs::path>& paths) { received = paths; });
        EXPECT_EQ(startLater({}, {"/again"}), OpenedFiles::Role::HandedOver);
        EXPECT_EQ(received, (std::vector<fs::path>{"/again"}));
    }

    // "nobody" starts; root made its folder first.
    const fs::path theirCache = dir.mkdir("nobody-cache");
    ASSERT_EQ(::chown(theirCache.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ::setenv("XDG_CACHE_HOME", theirCache.c_str(), 1);
    const fs::path theirs = tmp / ("maravex-" + std::to_string(nobody->pw_uid));
    ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
    const int status = asNobody([&] {
        auto* program = new OpenedFiles;
        if (program->start({}, 300) != OpenedFiles::Role::Primary)
            return 1;
        return program->socketFile() == theirCache / ("maravex-" + std::to_string(::getuid())) / "maravex.socket" ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::is_empty(theirs));
}
} // namespace
