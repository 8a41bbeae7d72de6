#pragma once

// A panel that records what the engine tells it, a file layer whose steps can
// be made to fail, and results built from real files.

#include "FuseMounts.h"
#include "ScriptedPresenter.h"
#include "TestSupport.h"
#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "platform/OperationQueue.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"
#include "removal/KZRemovalFileSystem.h"
#include "removal/KZRemovalPanel.h"
#include "removal/KZRemove.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "removal/KZUndoRecords.h"
#include "result/model/ModelTestSupport.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZDefaultsKeys.h"

#include <QStringList>

#include <grp.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace removaltest {

namespace fs = std::filesystem;

struct RecordingPanel : KZRemovalPanel {
    void statusDidChange(const QString& key) override
    {
        std::lock_guard guard(mutex);
        statuses << key;
    }
    void statusFormatDidChange(const QString& key, const QStringList& args) override
    {
        std::lock_guard guard(mutex);
        statuses << key + QLatin1Char(':') + args.join(QLatin1Char(','));
    }
    void workDidEnd() override { ++ended; }
    QStringList statusList() const
    {
        std::lock_guard guard(mutex);
        return statuses;
    }
    mutable std::mutex mutex;
    QStringList statuses;
    std::atomic<int> ended{0};
};

// Each operation first asks `before` (operation name, path); a non-zero
// answer fails the operation with that errno. `calls` lists what was asked.
struct InjectingFileSystem : KZRemovalFileSystem {
    std::function<int(const std::string&, const fs::path&)> before = [](const std::string&, const fs::path&) { return 0; };
    std::function<std::optional<bool>(const fs::path&)> local = [](const fs::path&) { return std::optional<bool>(true); };
    // Whether the item's volume has a Trash it can go to; empty: as the disk says.
    std::function<std::optional<bool>(const fs::path&)> trashable = [](const fs::path&) { return std::nullopt; };
    std::vector<std::pair<std::string, fs::path>> calls;

    int ask(const std::string& op, const fs::path& path, int* err)
    {
        calls.emplace_back(op, path);
        const int code = before(op, path);
        if (code && err)
            *err = code;
        return code;
    }
    std::optional<fs::path> moveToTrash(const platform::AnchoredItem& item, int* err) override
    {
        if (ask("trash", item.path(), err))
            return std::nullopt;
        return KZRemovalFileSystem::moveToTrash(item, err);
    }
    bool moveNoReplace(const platform::AnchoredItem& from, const platform::AnchoredItem& to, int* err) override
    {
        return !ask("move", from.path(), err) && KZRemovalFileSystem::moveNoReplace(from, to, err);
    }
    bool moveBack(const fs::path& from, const platform::AnchoredItem& to, int* err) override
    {
        return !ask("move_back", from, err) && KZRemovalFileSystem::moveBack(from, to, err);
    }
    bool copyTree(const platform::AnchoredItem& from, const platform::AnchoredItem& to,
                  const platform::StopTest& stopped, int* err) override
    {
        return !ask("copy", from.path(), err) && KZRemovalFileSystem::copyTree(from, to, stopped, err);
    }
    bool removeTree(const platform::AnchoredItem& item, const platform::StopTest& stopped, int* err,
                    bool* deletedSome) override
    {
        if (deletedSome)
            *deletedSome = false;
        return !ask("delete", item.path(), err) && KZRemovalFileSystem::removeTree(item, stopped, err, deletedSome);
    }
    int mountInside(const platform::AnchoredItem& item) override
    {
        if (const int code = ask("mount_check", item.path(), nullptr))
            return code;
        return KZRemovalFileSystem::mountInside(item);
    }
    bool link(const platform::AnchoredItem& existing, const platform::AnchoredItem& at, int* err) override
    {
        return !ask("link", at.path(), err) && KZRemovalFileSystem::link(existing, at, err);
    }
    std::optional<bool> isLocalVolume(const fs::path& path) override { return local(path); }
    bool canTrash(const fs::path& path) override
    {
        const auto answer = trashable(path);
        return answer ? *answer : KZRemovalFileSystem::canTrash(path);
    }
    bool isLocked(const fs::path& path) override
    {
        calls.emplace_back("locked", path);
        return before("locked", path) != 0 || KZRemovalFileSystem::isLocked(path);
    }
};

// The shared alert service answers from a script for as long as this lives.
struct ScopedAlerts {
    std::shared_ptr<kztest::ScriptedPresenter> presenter = std::make_shared<kztest::ScriptedPresenter>();
    ScopedAlerts() { KZErrorDelegate::sharedControl().setPresenter(presenter); }
    ~ScopedAlerts() { KZErrorDelegate::sharedControl().setPresenter(nullptr); }
    std::size_t shown() const { return presenter->shown(); }
};

struct Fixture {
    // Cases hand it, or what it holds, to an ordinary user.
    kztest::UserFolder dir;
    kztest::ScopedDefaults defaults;
    ScopedAlerts alerts;
    std::shared_ptr<RecordingPanel> panel = std::make_shared<RecordingPanel>();
    std::shared_ptr<InjectingFileSystem> fs = std::make_shared<InjectingFileSystem>();

    Fixture() { setLevel(2); }
    void setLevel(int level) { defaults->setValue(KZDefaultsKey::security_moving_to_trash, level); }

    // Items of real files, `group` each; files are written with `content`.
    KZFoundItemArray items(const std::vector<std::pair<std::string, qint64>>& relGroups,
                           const std::string& content = "same bytes")
    {
        std::vector<modeltest::ItemShape> shapes;
        for (const auto& [rel, group] : relGroups) {
            const fs::path path = fs::exists(dir / rel) ? dir / rel : dir.write(rel, content);
            shapes.push_back({.path = path, .group = group, .marked = true,
                              .isDirectory = fs::is_directory(path)});
        }
        return modeltest::makeItems(shapes);
    }
    std::shared_ptr<KZRemove> engine(const KZFoundItemArray& remove, const KZFoundItemArray& all)
    {
        panel->itemsToRemove = remove;
        panel->resultItems = all;
        return std::make_shared<KZRemove>(panel, fs);
    }
};

// The process works in `folder` for as long as this lives, so that whatever
// a relative path would reach lands in a folder the test can look into.
struct ScopedWorkingFolder {
    fs::path before = fs::current_path();
    explicit ScopedWorkingFolder(const fs::path& folder) { fs::current_path(folder); }
    ~ScopedWorkingFolder() { fs::current_path(before); }
};

inline fs::path trashFiles()
{
    return platform::homeTrashDirectory() / "files";
}

inline fs::path homeTrash()
{
    return platform::homeTrashDirectory();
}

// The records Restore lists in `trash`. Records of items put back from a
// disk that may be a copy of its own stay for the disk itself, unlisted
// until a connected disk holds their items in its Trash again.
inline std::size_t listedRecords(const fs::path& trash)
{
    KZRestoreList list(trash);
    list.permanentItems();
    return list.rows().size();
}

// Entries of the Trash's `files` (or `info`) beside its undo files (and
// their .trashinfo), which may hold such unlisted records.
inline std::size_t entriesBesideUndoFiles(const fs::path& trash, const char* part)
{
    std::error_code ec;
    std::size_t n = 0;
    for (fs::directory_iterator it(trash / part, ec), end; !ec && it != end; it.increment(ec))
        n += it->path().filename().native().rfind(".Maravex4_", 0) == 0 ? 0 : 1;
    return n;
}

// An undo file in the home Trash for `records`, as a removal at `seconds`
// would leave it.
inline fs::path writeUndoFile(const std::vector<KZPersistentUndoRecord>& records, double seconds)
{
    QString error;
    const auto file = KZUndoFile::write(homeTrash(), {}, records, seconds, &error);
    EXPECT_TRUE(file) << error.toStdString();
    return file.value_or(fs::path());
}

// The entries of a folder, leaving out the undo files (and journals) that a Trash pass
// writes beside what it trashed.
inline std::size_t countIn(const fs::path& folder)
{
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); ++it)
        if (!it->path().filename().string().starts_with(".Maravex4"))
            ++n;
    return n;
}

inline void emptyTrash()
{
    std::error_code ec;
    fs::remove_all(platform::homeTrashDirectory(), ec);
}

// Trashes `item` the way a removal does and answers its record, with the
// device and inode it has in the Trash.
inline KZPersistentUndoRecord trashWithIdentity(const fs::path& item)
{
    KZPersistentUndoRecord record;
    record.oldPosition = item;
    const auto moved = platform::moveToTrash(item);
    EXPECT_TRUE(moved) << item;
    record.currPosition = moved.value_or(fs::path());
    if (const auto st = platform::statPath(record.currPosition, false)) {
        record.device = quint64(st->device);
        record.inode = st->inode;
    }
    record.bookmark = platform::createBookmark(record.currPosition);
    return record;
}

// Runs `body` in a child that is the user `uid` (its group of the same
// number, no others), with its Trash in `dataHome` and its temporary
// folders where it may make them; answers whether it passed.
inline bool passesAsUser(uid_t uid, const fs::path& dataHome, const std::function<void()>& body)
{
    std::fflush(stdout);
    const int failuresBefore = kztest::failuresOfCurrentTest();
    const fs::path temporary = kztest::placeWritableBy(uid);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0)
            ::_exit(10);
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
        ::setenv("TMPDIR", temporary.c_str(), 1);
        kztest::runInChild(body);
        std::fflush(stdout);
        ::_exit(kztest::failuresOfCurrentTest() > failuresBefore ? 1 : 0);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Where passesAsUserAfresh() tells its case the user it is to be, that
// user's Trash and temporary folders.
inline constexpr const char* kAsUserVar = "KZ_TEST_AS_USER";
inline constexpr const char* kAsUserDataVar = "KZ_TEST_AS_USER_DATA";
inline constexpr const char* kAsUserTemporaryVar = "KZ_TEST_AS_USER_TMP";

// Runs the case `name` ("Suite.DISABLED_Case") of this program in a process
// started afresh, as passesAsUser() runs its body: a forked child of this
// process, which has threads, may start none under ThreadSanitizer, and a
// restore or a removal starts some. The case takes what it works on from
// `env` and begins with actingAsTheUserTold(); answers whether it passed.
inline bool passesAsUserAfresh(uid_t uid, const fs::path& dataHome, const std::string& name,
                               std::vector<std::string> env = {})
{
    env.push_back(std::string(kAsUserVar) + "=" + std::to_string(uid));
    env.push_back(std::string(kAsUserDataVar) + "=" + dataHome.native());
    env.push_back(std::string(kAsUserTemporaryVar) + "=" + kztest::placeWritableBy(uid).native());
    return kztest::runTestInFreshProcess(name, false, env) == kztest::Isolated::Passed;
}

// In the case passesAsUserAfresh() runs: from now on the user it names (its
// group of the same number, no others), with the Trash and temporary
// folders it names. False in any other process: the case skips when run by
// hand. A process that cannot become the user ends at once, failed, rather
// than run the case as root.
inline bool actingAsTheUserTold()
{
    if (!kztest::inFreshProcess())
        return false;
    const char* uid = std::getenv(kAsUserVar);
    const char* dataHome = std::getenv(kAsUserDataVar);
    const char* temporary = std::getenv(kAsUserTemporaryVar);
    const uid_t user = uid ? uid_t(std::strtoul(uid, nullptr, 10)) : 0;
    if (user == 0 || !dataHome || !temporary || ::setgroups(0, nullptr) != 0 || ::setgid(gid_t(user)) != 0
        || ::setuid(user) != 0) {
        std::fprintf(stderr, "could not become the user %s\n", uid ? uid : "(none named)");
        std::fflush(stderr);
        std::_Exit(10);
    }
    ::setenv("XDG_DATA_HOME", dataHome, 1);
    ::setenv("TMPDIR", temporary, 1);
    return true;
}

// A path passesAsUserAfresh() handed its case in `var`; empty when missing.
inline fs::path toldPath(const char* var)
{
    const char* value = std::getenv(var);
    return value ? fs::path(value) : fs::path();
}

// In a child started as root, from a folder only root may enter: the user
// `uid` (its group of the same number, no others) from now on, with a home
// of its own where it may make one.
inline bool becomeUser(int uid)
{
    const fs::path temporary = kztest::placeWritableBy(unsigned(uid));
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0)
        return false;
    ::setenv("TMPDIR", temporary.c_str(), 1);
    std::string home = (temporary / "kzuser-XXXXXX").native();
    if (!::mkdtemp(home.data()))
        return false;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        ::setenv(var, home.c_str(), 1);
    return true;
}

// Unmounts the disk at `at` as a user unplugs it; 0, or -1 with errno. The
// found items' bookmarks are made on a queue of their own, and one being
// made holds its folder a moment: the unplug waits for them.
inline int unplug(const fs::path& at)
{
    KZFoundItemFactsQueue().waitUntilAllOperationsAreFinished();
    return kztest::unplugMount(at);
}

// The undos kept because they could not act yet, apart from those kept for
// the disk itself after they put their items back on a disk that nothing
// tells from a copy of its own.
inline std::vector<KZUndoMovedItem> waitingUndo(const std::vector<KZUndoMovedItem>& kept)
{
    std::vector<KZUndoMovedItem> waiting;
    for (const KZUndoMovedItem& item : kept)
        if (!item.putBackOnPossibleCopy)
            waiting.push_back(item);
    return waiting;
}

// Nothing is left for Undo to do: whatever it kept, it kept for the disk
// itself, and a further Undo moves nothing. It finds each item already
// back, or, where moving it back gave it another date (vfat through FUSE
// stamps a renamed file anew), not where the move put it on a disk that may
// be a copy: kept, with nothing concluded.
inline void expectNothingLeftToUndo(const KZRestoreRemovedFiles::UndoOutcome& outcome)
{
    EXPECT_TRUE(waitingUndo(outcome.kept.standardUndo).empty());
    if (outcome.kept.standardUndo.empty())
        return;
    const auto again = KZRestoreRemovedFiles().doUndoMove(outcome.kept);
    EXPECT_EQ(again.restored, 0u);
    EXPECT_EQ(again.onPossibleCopy, 0u);
    EXPECT_EQ(again.notRestored.total(), again.notRestored.possibleCopy);
    EXPECT_EQ(again.alreadyBack + again.notRestored.possibleCopy, outcome.kept.standardUndo.size());
    EXPECT_EQ(again.kept.standardUndo.size(), outcome.kept.standardUndo.size());
}

} // namespace removaltest
