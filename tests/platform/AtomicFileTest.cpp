#include "platform/AtomicFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using kztest::readFile;
using platform::writeFileAtomically;

namespace {

// A failed or finished write must not leave its temporary file behind.
std::vector<fs::path> entriesOf(const fs::path& dir)
{
    return {fs::directory_iterator(dir), fs::directory_iterator()};
}

TEST(AtomicFile, ReplacesInPlaceKeepingModeAndLinks)
{
    kztest::TempDir dir;
    const fs::path file = dir / "out.plist";
    QString error;
    ASSERT_TRUE(writeFileAtomically(file, QByteArrayLiteral("first"), &error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(writeFileAtomically(file, QByteArray(100000, 'x'), &error));
    EXPECT_EQ(readFile(file).size(), 100000u);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);

    // A link is followed, not replaced by a file.
    const fs::path real = dir.write("elsewhere/real.plist", "old");
    fs::create_symlink(real, dir / "link.plist");
    ASSERT_TRUE(writeFileAtomically(dir / "link.plist", QByteArrayLiteral("new")));
    EXPECT_TRUE(fs::is_symlink(dir / "link.plist"));
    EXPECT_EQ(readFile(real), "new");
}

TEST(AtomicFile, FailuresKeepTheOldFileAndNameThePathAndReason)
{
    kztest::TempDir dir;
    QString error;
    EXPECT_FALSE(writeFileAtomically(dir / "missing-folder/out.plist", QByteArrayLiteral("x"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing-folder/out.plist"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << error.toStdString();

    // A folder in the way: the rename fails after the data was written.
    const fs::path folder = dir.write("target/inside", "keep me").parent_path();
    EXPECT_FALSE(writeFileAtomically(folder, QByteArrayLiteral("x"), &error));
    EXPECT_EQ(readFile(folder / "inside"), "keep me");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);

    if (::geteuid() != 0) {
        const fs::path locked = dir.write("ro/file", "old");
        ::chmod((dir / "ro").c_str(), 0555);
        EXPECT_FALSE(writeFileAtomically(locked, QByteArrayLiteral("new"), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("Permission denied"))) << error.toStdString();
        EXPECT_EQ(readFile(locked), "old");
    }
}

TEST(AtomicFile, ShortWriteLeavesTheOldFileIntact)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("data", "old content");
    // A file-size limit makes write() fail part-way, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = writeFileAtomically(file, QByteArray(4096, 'n'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_TRUE(error.contains(QStringLiteral("data"))) << error.toStdString();
    EXPECT_EQ(readFile(file), "old content");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);
}

// A device that takes `budget` bytes and then reports itself full.
platform::AtomicFileWriter::WriteFunction fullAfter(size_t budget)
{
    return [budget](int fd, const void* data, size_t size) mutable -> ssize_t {
        if (budget == 0) {
            errno = ENOSPC;
            return -1;
        }
        const size_t n = std::min(size, budget);
        budget -= n;
        return ::write(fd, data, n);
    };
}

TEST(AtomicFileWriter, PiecesReplaceTheFileOnlyOnCommit)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("list.txt", "old");
    {
        platform::AtomicFileWriter writer(file);
        ASSERT_TRUE(writer.open()) << writer.error().toStdString();
        EXPECT_TRUE(writer.write(QByteArrayLiteral("one\n")));
        EXPECT_TRUE(writer.write(QByteArrayLiteral("two\n")));
        EXPECT_EQ(readFile(file), "old"); // nothing visible before commit
        EXPECT_EQ(entriesOf(dir.path()).size(), 2u);
        // Dropped without commit: as if it never ran.
    }
    EXPECT_EQ(readFile(file), "old");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);

    platform::AtomicFileWriter writer(file);
    ASSERT_TRUE(writer.open());
    ASSERT_TRUE(writer.write(QByteArrayLiteral("one\ntwo\n")));
    ASSERT_TRUE(writer.commit()) << writer.error().toStdString();
    EXPECT_EQ(readFile(file), "one\ntwo\n");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);
}

TEST(AtomicFileWriter, ADeviceFullPartWayKeepsTheOldFileAndTellsWhy)
{
    kztest::TempDir dir;
    const fs::path file = dir.write("list.txt", "old content");
    platform::AtomicFileWriter writer(file, fullAfter(5));
    ASSERT_TRUE(writer.open());
    EXPECT_TRUE(writer.write(QByteArrayLiteral("1234")));
    EXPECT_FALSE(writer.write(QByteArrayLiteral("5678")));
    EXPECT_FALSE(writer.write(QByteArrayLiteral("more"))); // stays failed
    EXPECT_FALSE(writer.commit());
    EXPECT_TRUE(writer.error().contains(QStringLiteral("list.txt"))) << writer.error().toStdString();
    EXPECT_TRUE(writer.error().contains(QStringLiteral("No space left on device"))) << writer.error().toStdString();
    EXPECT_EQ(readFile(file), "old content");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);
}

// Whatever is at the target that is not a regular file stays what it is, on
// every road: the one-shot write, the piecewise writer, a link that leads to
// it, and something put there while the pieces were being written.
TEST(AtomicFileWriter, NeverReplacesWhatIsNotARegularFile)
{
    kztest::TempDir dir;
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path socketPath = dir / "socket";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    fs::create_symlink(fifo, dir / "link-to-pipe");
    fs::create_symlink(dir / "nowhere", dir / "dangling");

    const auto kept = [&](const fs::path& path, fs::file_type type) {
        EXPECT_EQ(fs::symlink_status(path).type(), type) << path;
    };
    for (const bool follow : {true, false}) {
        for (const fs::path& target : {fifo, socketPath}) {
            QString error;
            EXPECT_FALSE(writeFileAtomically(target, QByteArrayLiteral("x"), &error, follow)) << target;
            EXPECT_TRUE(error.contains(QString::fromStdString(target.filename().native()))) << error.toStdString();
            EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << error.toStdString();
        }
    }
    QString error;
    EXPECT_FALSE(writeFileAtomically(dir / "link-to-pipe", QByteArrayLiteral("x"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("a pipe is there"))) << error.toStdString();
    EXPECT_FALSE(writeFileAtomically(dir / "dangling", QByteArrayLiteral("x"), &error));
    kept(fifo, fs::file_type::fifo);
    kept(socketPath, fs::file_type::socket);
    kept(dir / "link-to-pipe", fs::file_type::symlink);
    kept(dir / "dangling", fs::file_type::symlink);
    EXPECT_EQ(entriesOf(dir.path()).size(), 4u); // no temporary file left

    // A pipe put in the file's place while the pieces were written.
    const fs::path file = dir.write("list.txt", "old");
    platform::AtomicFileWriter writer(file);
    ASSERT_TRUE(writer.open()) << writer.error().toStdString();
    ASSERT_TRUE(writer.write(QByteArrayLiteral("new")));
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_FALSE(writer.commit());
    EXPECT_TRUE(writer.error().contains(QStringLiteral("not a regular file"))) << writer.error().toStdString();
    kept(file, fs::file_type::fifo);
    EXPECT_EQ(entriesOf(dir.path()).size(), 5u);
}

} // namespace
