// The folders that Restore and Undo make again for the items they put back:
// who they belong to and who may enter them, whatever else waits in the
// Trash, and whenever the restore is killed.

#include "RemovalTestSupport.h"

#include "platform/FolderAttributes.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <csignal>
#include <string>
#include <tuple>
#include <vector>

using namespace removaltest;

namespace {

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";

// An ACL as the kernel keeps it: version 2, then its entries (tag,
// permissions, id) in the kernel's order. This one lets everybody in but
// `user`.
QByteArray aclShuttingOut(uid_t user)
{
    constexpr quint32 none = 0xffffffff;
    const std::tuple<quint16, quint16, quint32> entries[] = {
        {0x01, 7, none}, // the owner: rwx
        {0x02, 0, user}, // `user`: nothing
        {0x04, 5, none}, // the group: r-x
        {0x10, 5, none}, // the mask: r-x
        {0x20, 5, none}, // others: r-x
    };
    QByteArray value;
    const auto put = [&value](auto number) { value.append(reinterpret_cast<const char*>(&number), sizeof number); };
    put(quint32(2));
    for (const auto& [tag, permissions, id] : entries) {
        put(tag);
        put(permissions);
        put(id);
    }
    return value;
}

QByteArray aclOf(const fs::path& folder, const char* name)
{
    char value[1024];
    const ssize_t size = ::getxattr(folder.c_str(), name, value, sizeof value);
    return size > 0 ? QByteArray(value, size) : QByteArray();
}

// What a removal records of the folder `item` leaves.
std::optional<platform::FolderAttributes> folderOf(const fs::path& item)
{
    const int fd = ::open(item.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    auto attributes = platform::FolderAttributes::of(fd);
    ::close(fd);
    return attributes;
}

// Trashes `item` as a removal does, and answers its record; without the
// folder for a record of an earlier version.
KZPersistentUndoRecord trashAsRemoval(const fs::path& item, bool keepFolder = true)
{
    const auto folder = folderOf(item);
    KZPersistentUndoRecord record = trashWithIdentity(item);
    if (keepFolder)
        record.oldFolderAttributes = folder;
    return record;
}

// Whether the user `uid` can list the folder, or read the file, at `path`.
bool reaches(uid_t uid, const fs::path& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0)
            ::_exit(10);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ::_exit(fd >= 0 ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void expectFolder(const fs::path& folder, mode_t mode, uid_t owner, gid_t group)
{
    const auto st = platform::statPath(folder, false);
    ASSERT_TRUE(st && st->isDir()) << folder;
    EXPECT_EQ(st->mode & 07777, mode) << folder;
    EXPECT_EQ(st->uid, owner) << folder;
    EXPECT_EQ(st->gid, group) << folder;
}

// r/P, trashed long ago by a file manager as `oldMode` of `oldOwner`; the
// user made P again, private, for the file f, which a removal took; then
// the user removed the emptied P. Whatever the old P was, and whether the
// record kept the folder or not (an undo file of an earlier version), P
// comes back private, the user's.
void madeAsTheRecordSays(const fs::path& top, uid_t oldOwner)
{
    for (const mode_t oldMode : {mode_t(0777), mode_t(0755)}) {
        for (const bool kept : {true, false}) {
            SCOPED_TRACE(testing::Message() << std::oct << oldMode << (kept ? " kept" : " an older record"));
            emptyTrash();
            const fs::path p = top / "r/P";
            fs::create_directories(p);
            ASSERT_EQ(::chmod(p.c_str(), oldMode), 0);
            ASSERT_EQ(::lchown(p.c_str(), oldOwner, oldOwner), 0);
            const auto old = platform::moveToTrash(p);
            ASSERT_TRUE(old);
            fs::create_directories(p);
            ASSERT_EQ(::chmod(p.c_str(), 0700), 0);
            const fs::path f = p / "f";
            std::ofstream(f) << "private";
            const fs::path undoFile = writeUndoFile({trashAsRemoval(f, kept)}, 100);
            ASSERT_EQ(::rmdir(p.c_str()), 0);

            EXPECT_EQ(KZRestoreRemovedFiles().restoreFiles({undoFile}).restored, 1u);
            EXPECT_EQ(kztest::readFile(f), "private");
            expectFolder(p, 0700, ::geteuid(), ::getegid());
            EXPECT_TRUE(aclOf(p, kAccessAcl).isEmpty());
            EXPECT_TRUE(fs::is_directory(*old)) << "the old folder stays in the Trash";
        }
    }
    emptyTrash();
}

// G (0755) lets everybody in but `shutOut`, and hands that on to what is
// made in it; f leaves it, then G itself. Every way back gives the G made
// again both ACLs before f goes in.
void madeWithItsAcls(const fs::path& top, uid_t shutOut)
{
    const char* const ways[] = {"its file's removal alone", "with the folder's removal", "undo of the file's move",
                                "an ACL the kernel refuses"};
    const QByteArray acl = aclShuttingOut(shutOut);
    for (int w = 0; w < 4; ++w) {
        SCOPED_TRACE(ways[w]);
        emptyTrash();
        const fs::path g = top / ("G" + std::to_string(w));
        const fs::path f = g / "f";
        fs::create_directories(g);
        ASSERT_EQ(::chmod(g.c_str(), 0755), 0);
        ASSERT_EQ(::setxattr(g.c_str(), kDefaultAcl, acl.constData(), size_t(acl.size()), 0), 0);
        ASSERT_EQ(::setxattr(g.c_str(), kAccessAcl, acl.constData(), size_t(acl.size()), 0), 0);
        std::ofstream(f) << "not for everybody";

        KZRestoreRemovedFiles restore;
        if (w == 2) {
            KZUndoMovedItem moved{top / "dest" / ("f" + std::to_string(w)), f};
            moved.oldFolderAttributes = folderOf(f);
            fs::create_directories(moved.currPosition.parent_path());
            fs::rename(f, moved.currPosition);
            ASSERT_TRUE(platform::moveToTrash(g));
            EXPECT_EQ(restore.doUndoMove({{moved}, {}, {}}).restored, 1u);
        } else {
            KZPersistentUndoRecord record = trashAsRemoval(f);
            if (w == 3)
                record.oldFolderAttributes->accessAcl = "not an ACL";
            const fs::path filesUndo = writeUndoFile({record}, 100);
            const fs::path folderUndo = writeUndoFile({trashAsRemoval(g)}, 200);
            if (w == 1)
                EXPECT_EQ(restore.restoreFiles({filesUndo, folderUndo}).restored, 2u);
            else
                EXPECT_EQ(restore.restoreFiles({filesUndo}).restored, 1u);
        }
        EXPECT_EQ(kztest::readFile(f), "not for everybody");
        if (w == 3) {
            // Half given is not given: private, with nothing handed on.
            expectFolder(g, 0700, ::geteuid(), ::getegid());
            continue;
        }
        expectFolder(g, 0755, ::geteuid(), ::getegid());
        EXPECT_EQ(aclOf(g, kAccessAcl), acl);
        EXPECT_EQ(aclOf(g, kDefaultAcl), acl);
    }
    emptyTrash();
}

// Where the ordinary user's part of a case below, run in a process of its
// own, finds the folder it works in.
constexpr const char* kUsersFolderVar = "KZ_TEST_USERS_FOLDER";

} // namespace

// The ordinary user's part of the case below.
TEST(KZRestoreMadeFoldersAsUser, DISABLED_AFolderOfThePlaceThatSomethingElseTrashedGivesNothing)
{
    if (!actingAsTheUserTold())
        GTEST_SKIP() << "runs only in the process the case below starts";
    madeAsTheRecordSays(toldPath(kUsersFolderVar), 65534);
}

TEST(KZRestoreMadeFolders, AFolderOfThePlaceThatSomethingElseTrashedGivesNothing)
{
    kztest::UserFolder dir;
    if (::geteuid() != 0) {
        madeAsTheRecordSays(dir / "mine", ::geteuid());
        return;
    }
    madeAsTheRecordSays(dir / "root", 65534);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const fs::path user = dir.mkdir("user");
    ASSERT_EQ(::lchown(user.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(passesAsUserAfresh(65534, dir / "data",
                                   "KZRestoreMadeFoldersAsUser.DISABLED_AFolderOfThePlaceThatSomethingElseTrashedGivesNothing",
                                   {std::string(kUsersFolderVar) + "=" + user.native()}))
        << "as the ordinary user";

    // Through the removal itself, to the Trash and by a move, as root: the
    // folder made again keeps uid 65534 out of what it holds.
    for (const bool toTrash : {true, false}) {
        SCOPED_TRACE(toTrash ? "restore" : "undo");
        emptyTrash();
        Fixture fx;
        ASSERT_EQ(::chmod(fx.dir.path().c_str(), 0755), 0);
        const fs::path p = fx.dir / "r/P";
        fs::create_directories(p);
        ASSERT_EQ(::chmod(p.c_str(), 0777), 0);
        ASSERT_TRUE(platform::moveToTrash(p));
        const auto all = fx.items({{"keep/f", 1}, {"r/P/f", 1}});
        ASSERT_EQ(::chmod(p.c_str(), 0700), 0);
        fx.panel->isMoveToTrash = toTrash;
        fx.panel->urlToMove = fx.dir / "dest";
        fs::create_directories(fx.panel->urlToMove);
        auto engine = fx.engine({all[1]}, all);
        engine->doMove();
        ASSERT_EQ(::rmdir(p.c_str()), 0);
        KZRestoreRemovedFiles restore;
        if (toTrash)
            EXPECT_EQ(restore.restoreFiles(KZUndoFile::list(homeTrash())).restored, 1u);
        else
            EXPECT_EQ(restore.doUndoMove({engine->standardUndo(), {}, {}}).restored, 1u);
        expectFolder(p, 0700, 0, 0);
        EXPECT_TRUE(reaches(65534, fx.dir / "r"));
        EXPECT_FALSE(reaches(65534, p / "f"));
    }
    emptyTrash();
}

// The ordinary user's part of the case below.
TEST(KZRestoreMadeFoldersAsUser, DISABLED_AFolderMadeAgainKeepsTheAclsItHad)
{
    if (!actingAsTheUserTold())
        GTEST_SKIP() << "runs only in the process the case below starts";
    madeWithItsAcls(toldPath(kUsersFolderVar), 1234);
}

TEST(KZRestoreMadeFolders, AFolderMadeAgainKeepsTheAclsItHad)
{
    kztest::UserFolder dir;
    if (::geteuid() != 0) {
        madeWithItsAcls(dir / "mine", 1234);
        return;
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    madeWithItsAcls(dir / "root", 65534);
    EXPECT_TRUE(reaches(65534, dir / "root"));
    for (int w = 0; w < 3; ++w)
        EXPECT_FALSE(reaches(65534, dir / ("root/G" + std::to_string(w)))) << w;

    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const fs::path user = dir.mkdir("user");
    ASSERT_EQ(::lchown(user.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(passesAsUserAfresh(65534, dir / "data", "KZRestoreMadeFoldersAsUser.DISABLED_AFolderMadeAgainKeepsTheAclsItHad",
                                   {std::string(kUsersFolderVar) + "=" + user.native()}))
        << "as the ordinary user";
    EXPECT_TRUE(reaches(1234, user));
    for (int w = 0; w < 3; ++w)
        EXPECT_FALSE(reaches(1234, user / ("G" + std::to_string(w)))) << w;
}

namespace {

// The process dies at its first change of an owner: what a restore killed
// right after it made a folder leaves.
bool dieAtTheFirstChangeOfOwner()
{
#if defined(__x86_64__)
    constexpr quint32 arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr quint32 arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fchown, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fchownat, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
           && ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

} // namespace

// Root restores user 1234's folder P, whose files and then P itself were
// trashed, and is killed right after it made P: the next restore still
// gives P to its user as it was, never merges the files into a folder of
// root's, and the kill left nothing more open than private.
TEST(KZRestoreMadeFolders, ARestoreKilledAfterMakingAFolderLeavesNoneHalfMade)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user takes root";
    kztest::UserFolder dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    for (const bool withFolder : {true, false}) {
        SCOPED_TRACE(withFolder ? "with the folder's removal" : "the files' removal alone");
        emptyTrash();
        const fs::path r = dir / (withFolder ? "r1" : "r2");
        const fs::path p = r / "P";
        const std::vector<fs::path> files = {dir.write(p / "a", "A"), dir.write(p / "b", "B")};
        for (const fs::path& item : {p, files[0], files[1]})
            ASSERT_EQ(::lchown(item.c_str(), 1234, 1234), 0);
        ASSERT_EQ(::chmod(p.c_str(), 0750), 0);
        std::vector<fs::path> undoFiles = {writeUndoFile({trashAsRemoval(files[0]), trashAsRemoval(files[1])}, 100)};
        if (withFolder)
            undoFiles.push_back(writeUndoFile({trashAsRemoval(p)}, 200));
        else
            ASSERT_EQ(::rmdir(p.c_str()), 0);

        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            if (!dieAtTheFirstChangeOfOwner())
                ::_exit(10);
            KZRestoreRemovedFiles().restoreFiles(undoFiles);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 10)
            GTEST_SKIP() << "no system call filter here";
        ASSERT_TRUE(WIFSIGNALED(status)) << "killed at the folder's owner";
        for (const auto& entry : fs::directory_iterator(r)) {
            // The kill left no folder at P, or one as private as can be.
            const auto st = platform::statPath(entry.path(), false);
            EXPECT_TRUE(st && st->isDir() && (st->mode & 07777) == 0700 && fs::is_empty(entry.path()))
                << entry.path();
        }

        const auto result = KZRestoreRemovedFiles().restoreFiles(undoFiles);
        EXPECT_EQ(result.restored, withFolder ? 3u : 2u);
        EXPECT_EQ(result.notRestored.total(), 0u);
        expectFolder(p, 0750, 1234, 1234);
        for (const fs::path& file : files)
            EXPECT_TRUE(reaches(1234, file)) << file;
    }
    emptyTrash();
}

namespace {

bool quietly(const std::string& command)
{
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

} // namespace

// A btrfs disk mounted without ACLs (noacl) answers ENOTSUP for an ACL that
// is still on its disk. G (0755) shuts uid 65534 out by its ACL; f left G,
// then G went to the Trash. Restore and Undo, run while the disk shows no
// ACLs, make G again private: with the ACLs back, uid 65534 still cannot
// list it. The attributes a removal reads in that state are unknown too.
TEST(KZRestoreMadeFolders, AnAclThatCannotBeReadLeavesTheFolderMadePrivate)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device";
    emptyTrash();
    kztest::UserFolder dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const fs::path image = dir / "btrfs.img";
    const fs::path at = dir / "disk";
    fs::create_directories(at);
    const auto outcome = kztest::runWithPrivateMounts([&] {
        const auto mount = [&](const char* options) {
            return quietly("mount -o loop," + std::string(options) + " " + image.native() + " " + at.native());
        };
        if (!quietly("truncate -s 128M " + image.native()) || !quietly("mkfs.btrfs -q -f " + image.native())
            || !mount("acl"))
            ::_exit(77);
        const QByteArray acl = aclShuttingOut(65534);
        std::vector<fs::path> undoFiles;
        for (const char* name : {"restored", "undone"}) {
            const fs::path g = at / name / "G";
            fs::create_directories(g);
            ASSERT_EQ(::chmod((at / name).c_str(), 0755), 0);
            ASSERT_EQ(::chmod(g.c_str(), 0755), 0);
            ASSERT_EQ(::setxattr(g.c_str(), kAccessAcl, acl.constData(), size_t(acl.size()), 0), 0);
            std::ofstream(g / "f") << "not for everybody";
        }
        ASSERT_EQ(::chmod(at.c_str(), 0755), 0);
        const fs::path restored = at / "restored/G";
        undoFiles.push_back(writeUndoFile({trashAsRemoval(restored / "f")}, 100));
        undoFiles.push_back(writeUndoFile({trashAsRemoval(restored)}, 200));

        ASSERT_EQ(unplug(at), 0) << std::strerror(errno);
        if (!mount("noacl"))
            ::_exit(77);
        const fs::path undone = at / "undone/G";
        EXPECT_FALSE(folderOf(undone / "f")) << "an ACL the disk does not show is unknown, not absent";
        KZUndoMovedItem moved{at / "dest/f", undone / "f"};
        moved.oldFolderAttributes = folderOf(undone / "f");
        fs::create_directories(at / "dest");
        fs::rename(undone / "f", moved.currPosition);
        ASSERT_TRUE(platform::moveToTrash(undone));

        KZRestoreRemovedFiles restore;
        EXPECT_EQ(restore.restoreFiles(undoFiles).restored, 2u);
        EXPECT_EQ(restore.doUndoMove({{moved}, {}, {}}).restored, 1u);
        for (const fs::path& g : {restored, undone}) {
            SCOPED_TRACE(g.native());
            EXPECT_EQ(kztest::readFile(g / "f"), "not for everybody");
            expectFolder(g, 0700, 0, 0);
        }
        ASSERT_EQ(unplug(at), 0) << std::strerror(errno);
        ASSERT_TRUE(mount("acl"));
        EXPECT_TRUE(reaches(65534, at / "restored"));
        EXPECT_FALSE(reaches(65534, restored / "f"));
        EXPECT_FALSE(reaches(65534, undone / "f"));
        ::umount2(at.c_str(), 0);
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no loop device, btrfs or private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
    emptyTrash();
}
