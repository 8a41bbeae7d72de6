// Every job killed after each of its changing steps in turn, on every kind
// of disk: Trash removal, move, hard links, Restore, Undo of a move, a move
// to another disk (a copy) and Undo of copies, on a tree of three items (a folder among them where the
// job takes folders), with and without the disk unplugged and plugged back
// between the kill and the next start, and as the ordinary user on the
// sticks. The job runs once in a traced child that counts its changing
// calls (ChangingCalls.h); then, for every k, it runs again killed right
// after call k, the next start folds what it left, and a Restore runs to
// the end. After each: every item lies exactly once, at its place or where
// the job puts it with its record listed; nothing is left behind (no empty
// reservation, no .trashinfo without its item, no journal); no record is
// listed whose item is back; the report counts what came back and calls
// nothing gone.
//
// CI runs the quick table (a replug only on FUSE disks, the ordinary user
// only after one); every combination:
//   KZ_STEPS_WIDE=1 kz_removal_tests --gtest_filter='*KZEveryStepKilled*'
// KZ_STEPS_ONLY takes "replug=0|1", "uid=65534|-1" and "k=N" (comma
// separated) to run one case again; failures are printed one a line.

#include "ChangingCalls.h"
#include "FuseMounts.h"
#include "LoopDisks.h"
#include "RemovalTestSupport.h"

#include "platform/Trash.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

extern char** environ;

using namespace removaltest;

namespace {

// Copy: a move into a folder on another disk, which copies and leaves the
// items where they are.
enum class Job { Trash, Move, Links, Restore, UndoMove, UndoCopies, Copy };
enum class Disk { Ext4, Ext4NoBirth, FuseExt4, Exfat, Vfat };

const char* nameOf(Job job)
{
    switch (job) {
    case Job::Trash:
        return "Trash";
    case Job::Move:
        return "Move";
    case Job::Links:
        return "Links";
    case Job::Restore:
        return "Restore";
    case Job::UndoMove:
        return "UndoMove";
    case Job::UndoCopies:
        return "UndoCopies";
    case Job::Copy:
        return "Copy";
    }
    return "?";
}

const char* nameOf(Disk disk)
{
    switch (disk) {
    case Disk::Ext4:
        return "ext4";
    case Disk::Ext4NoBirth:
        return "ext4_128";
    case Disk::FuseExt4:
        return "fuse2fs";
    case Disk::Exfat:
        return "exfat_fuse";
    case Disk::Vfat:
        return "vfat_fuse";
    }
    return "?";
}

bool isStick(Disk disk)
{
    return disk == Disk::Exfat || disk == Disk::Vfat;
}

// Jobs whose items end in a Trash, and that a Restore finishes.
bool trashes(Job job)
{
    return job == Job::Trash || job == Job::Links || job == Job::Restore;
}

constexpr int kUnavailable = 77;

int envNumber(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

// ---- The child ------------------------------------------------------------------------

const char* const kRoleVar = "KZ_STEPS_ROLE"; // "job" or "after"
const char* const kJobVar = "KZ_STEPS_JOB";
const char* const kRootVar = "KZ_STEPS_ROOT";
const char* const kCopiesVar = "KZ_STEPS_COPIES";
const char* const kDataVar = "KZ_STEPS_DATA";
const char* const kUidVar = "KZ_STEPS_UID";
const char* const kResultVar = "KZ_STEPS_RESULT";

// The items of the tree: r/<name>, each with its duplicate k/<name>.
std::vector<std::string> itemNames(Job job)
{
    if (job == Job::Links)
        return {"f0", "f1", "f2"}; // hard links are made to files alone
    return {"f0", "f1", "d2"};
}

std::string contentOf(int i)
{
    return "item " + std::to_string(i) + "\n";
}

// A user's files are older than the job that removes them: a disk that
// dates a moved entry by the clock (FAT through FUSE) then shows the move,
// where files made a moment before the job would hide it within one of its
// two-second ticks. An even second, which FAT keeps as it is.
constexpr time_t kItemDate = 1767268800; // 2026-01-01 12:00:00 UTC

void datedAsAUsersFile(const fs::path& item)
{
    const timespec times[2] = {{kItemDate, 0}, {kItemDate, 0}};
    ::utimensat(AT_FDCWD, item.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Wherever an item lies at the end, its file keeps the date it had.
std::optional<std::string> redated(const fs::path& item)
{
    std::error_code ec;
    const fs::path file = fs::is_directory(fs::symlink_status(item, ec)) ? item / "inner" : item;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || st.st_mtim.tv_sec == kItemDate)
        return std::nullopt;
    return file.native() + " is dated " + std::to_string(st.st_mtim.tv_sec - kItemDate)
        + " s from the date it had";
}

void makeTree(const fs::path& root, Job job)
{
    const auto names = itemNames(job);
    for (const char* folder : {"r", "k", "dest"})
        fs::create_directories(root / folder);
    for (size_t i = 0; i < names.size(); ++i) {
        const bool folder = names[i][0] == 'd';
        for (const char* side : {"r", "k"}) {
            const fs::path item = root / side / names[i];
            const std::string content = side[0] == 'r' ? contentOf(int(i)) : "kept " + std::to_string(i) + "\n";
            if (folder) {
                fs::create_directories(item);
                std::ofstream(item / "inner") << content;
                datedAsAUsersFile(item / "inner");
            } else {
                std::ofstream(item) << content;
            }
            datedAsAUsersFile(item);
        }
    }
}

// The job's start and end, for the tracer; nothing when untraced.
void mark()
{
    ::raise(SIGUSR2);
}

struct Removal {
    std::shared_ptr<RecordingPanel> panel = std::make_shared<RecordingPanel>();
    std::shared_ptr<KZRemove> engine;
};

// The tree's items removed as `job` removes them.
Removal removeItems(const fs::path& root, Job job, const fs::path& copies)
{
    const auto names = itemNames(job);
    std::vector<modeltest::ItemShape> shapes;
    for (size_t i = 0; i < names.size(); ++i)
        for (const char* side : {"r", "k"})
            shapes.push_back({.path = root / side / names[i],
                              .group = qint64(i + 1),
                              .marked = side[0] == 'r',
                              .isDirectory = names[i][0] == 'd'});
    const KZFoundItemArray all = modeltest::makeItems(shapes);
    KZFoundItemArray marked;
    KZFoundItemArray kept;
    for (const auto& item : all)
        (item->isMarked() ? marked : kept).append(item);
    Removal removal;
    removal.panel->itemsArefiles = job == Job::Links;
    removal.panel->isMoveToTrash = trashes(job);
    if (job == Job::Move || job == Job::UndoMove)
        removal.panel->urlToMove = root / "dest";
    if (job == Job::UndoCopies || job == Job::Copy)
        removal.panel->urlToMove = copies;
    if (job == Job::Links) {
        removal.panel->isCreateAlias = true;
        removal.panel->mastersAlias = kept;
    }
    removal.panel->itemsToRemove = marked;
    removal.panel->resultItems = all;
    removal.engine = std::make_shared<KZRemove>(removal.panel, std::make_shared<KZRemovalFileSystem>());
    removal.engine->doMove();
    return removal;
}

struct RestoreReport {
    int listed = 0;
    quint64 restored = 0;
    quint64 notRestored = 0;
    quint64 gone = 0;
    // Kept in the Trash, as nothing its disk keeps tells the item from
    // another (a folder where the disk gives no birth time).
    quint64 notChecked = 0;
    std::string why;
};

// The records Restore lists, each item once, and their undo files.
int listedEntries(std::set<fs::path>* files = nullptr)
{
    KZRestoreList list(platform::homeTrashDirectory());
    list.permanentItems();
    int listed = 0;
    std::set<fs::path> read;
    for (const auto& row : list.rows()) {
        if (!read.insert(row.path).second)
            continue;
        if (const auto contents = KZUndoFile::read(row.path))
            for (const auto& entry : contents->entries)
                listed += KZRestoreRemovedFiles::isListed(entry);
    }
    if (files)
        *files = read;
    return listed;
}

// Every row Restore lists, restored.
RestoreReport restoreAll()
{
    RestoreReport report;
    std::set<fs::path> files;
    report.listed = listedEntries(&files);
    KZRestoreRemovedFiles engine;
    const auto result = engine.restoreFiles({files.begin(), files.end()});
    report.restored = result.restored;
    report.notRestored = result.notRestored.total();
    const auto& n = result.notRestored;
    report.gone = n.gone;
    report.notChecked = n.notChecked;
    for (const auto& [name, count] : {std::pair{"occupied", n.occupied}, {"gone", n.gone},
                                      {"missingVolume", n.missingVolume}, {"failed", n.failed},
                                      {"disconnected", n.disconnected}, {"changed", n.changed},
                                      {"unproved", n.unproved}, {"notInTrash", n.notInTrash},
                                      {"holderDisconnected", n.holderDisconnected},
                                      {"possibleCopy", n.possibleCopy}, {"twinDisks", n.twinDisks},
                                      {"notChecked", n.notChecked}, {"copyKept", n.copyKept}})
        if (count)
            report.why += std::string(name) + '=' + std::to_string(count) + ' ';
    return report;
}

int runJob(const fs::path& root, Job job, const fs::path& copies)
{
    ScopedAlerts alerts;
    // The step before the job itself, not counted: what it undoes or
    // restores.
    Removal before;
    if (job == Job::Restore)
        removeItems(root, Job::Trash, copies);
    if (job == Job::UndoMove || job == Job::UndoCopies)
        before = removeItems(root, job, copies);
    mark();
    if (job == Job::Restore) {
        restoreAll();
    } else if (job == Job::UndoMove || job == Job::UndoCopies) {
        KZRestoreRemovedFiles engine;
        engine.doUndoMove(KZUndoDict{before.engine->standardUndo(), {}, before.engine->createdFolderUndo()});
    } else {
        removeItems(root, job, copies);
    }
    mark();
    return 0;
}

// The next start, then a Restore of what is listed; the report written to
// `result`.
int runAfter(const fs::path& result)
{
    ScopedAlerts alerts;
    KZRemovalJournal::recoverInterrupted(platform::homeTrashDirectory());
    const RestoreReport report = restoreAll();
    const int listedAfter = listedEntries();
    std::ofstream out(result);
    out << report.listed << ' ' << report.restored << ' ' << report.notRestored << ' ' << report.gone << ' '
        << listedAfter << ' ' << report.notChecked << '\n'
        << report.why << '\n';
    return out ? 0 : 2;
}

struct StepsChild : ::testing::Environment {
    void SetUp() override
    {
        const char* role = std::getenv(kRoleVar);
        if (!role)
            return;
        std::signal(SIGUSR2, SIG_IGN);
        ::setenv("XDG_DATA_HOME", std::getenv(kDataVar), 1);
        const int uid = envNumber(kUidVar, -1);
        if (uid >= 0 && !becomeUser(uid))
            ::_exit(3);
        int status = 0;
        if (std::string(role) == "job")
            status = runJob(std::getenv(kRootVar), Job(envNumber(kJobVar, 0)), std::getenv(kCopiesVar));
        else
            status = runAfter(std::getenv(kResultVar));
        std::fflush(nullptr);
        ::_exit(status);
    }
};
[[maybe_unused]] ::testing::Environment* const stepsChild = ::testing::AddGlobalTestEnvironment(new StepsChild);

// ---- The disks ------------------------------------------------------------------------

// A disk of `kind` made in `folder`, mounted at folder/mnt, for `uid` (-1:
// the user running the tests): unplugged and plugged back at the same
// place on request.
class TestDisk {
public:
    TestDisk(Disk kind, const fs::path& folder, int uid) : kind_(kind), folder_(folder), at_(folder / "mnt")
    {
        fs::create_directories(at_);
        if (isStick(kind)) {
            // fusefat lets no other user in unless told to.
            const std::string ids = uid < 0 ? ""
                : std::string(kind == Disk::Vfat ? "allow_other," : "") + "uid=" + std::to_string(uid)
                    + ",gid=" + std::to_string(uid);
            stick_ = std::make_unique<kztest::FuseStick>(kind == Disk::Exfat ? kztest::FuseKind::Exfat
                                                                             : kztest::FuseKind::Vfat,
                                                         folder, ids);
            made_ = stick_->made();
            return;
        }
        const fs::path image = folder / "disk.img";
        const std::string mkfs = kind == Disk::Ext4NoBirth ? "mkfs.ext4 -q -I 128 " : "mkfs.ext4 -q ";
        made_ = kztest::shell("truncate -s 32M " + image.native()) && kztest::shell(mkfs + image.native());
        if (made_ && kind != Disk::FuseExt4) {
            device_ = kztest::LoopDevice(image);
            made_ = device_.attached();
        }
        made_ = made_ && plugIn();
        if (made_ && uid >= 0)
            made_ = ::chown(at_.c_str(), uid_t(uid), gid_t(uid)) == 0;
        if (!made_) {
            unplug();
            device_.detach();
        }
    }
    ~TestDisk()
    {
        if (!stick_) {
            unplug();
            ::umount2(at_.c_str(), MNT_DETACH);
        }
    }

    bool made() const { return made_; }
    const fs::path& at() const { return at_; }

    bool replug()
    {
        if (stick_)
            return stick_->replug();
        return unplug() && plugIn();
    }

private:
    bool plugIn()
    {
        if (kind_ == Disk::FuseExt4)
            return kztest::shell("timeout -k 2 10 fuse2fs -o allow_other " + (folder_ / "disk.img").native() + " "
                                 + at_.native());
        return kztest::shell("mount " + device_.name() + " " + at_.native());
    }
    bool unplug()
    {
        kztest::syncDisk(at_);
        return kztest::unplugMount(at_) == 0;
    }

    Disk kind_;
    fs::path folder_;
    fs::path at_;
    std::unique_ptr<kztest::FuseStick> stick_;
    kztest::LoopDevice device_;
    bool made_ = false;
};

// ---- What lies where ------------------------------------------------------------------

void removeContents(const fs::path& folder)
{
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() != "lost+found")
            fs::remove_all(it->path(), ec);
}

void chownTree(const fs::path& root, int uid)
{
    std::error_code ec;
    ::lchown(root.c_str(), uid_t(uid), gid_t(uid));
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        ::lchown(it->path().c_str(), uid_t(uid), gid_t(uid)); // refused on a disk without owners
}

std::string readAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Where each item lies (its folder, for a folder item), over `roots`, and
// what else is there that should not be.
struct Look {
    std::map<int, std::vector<fs::path>> places;
    std::vector<std::string> leftovers;
};

Look look(const std::vector<fs::path>& roots, const std::vector<std::string>& names)
{
    Look found;
    for (const fs::path& root : roots) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
             it.increment(ec)) {
            const fs::path& p = it->path();
            if (p.filename() == "lost+found") {
                it.disable_recursion_pending();
                continue;
            }
            struct stat st {};
            if (::lstat(p.c_str(), &st) != 0)
                continue;
            if (S_ISREG(st.st_mode) && st.st_size == 0)
                found.leftovers.push_back("an empty file " + p.native());
            if (!S_ISREG(st.st_mode) || st.st_size > 64)
                continue;
            const std::string text = readAll(p);
            for (size_t i = 0; i < names.size(); ++i)
                if (text == contentOf(int(i)))
                    found.places[int(i)].push_back(names[i][0] == 'd' ? p.parent_path() : p);
        }
    }
    return found;
}

// A FUSE disk hides a file unlinked while open under a name of its own
// until the file's release, which the kernel sends once the process that
// held it has gone, without waiting for the disk: a moment for them.
void waitForFuseReleases(const std::vector<fs::path>& folders)
{
    const auto hidden = [&folders] {
        for (const fs::path& folder : folders) {
            std::error_code ec;
            for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
                if (it->path().filename().native().starts_with(".fuse_hidden"))
                    return true;
        }
        return false;
    };
    for (int tries = 0; tries < 50 && hidden(); ++tries)
        ::usleep(100000);
}

// An undo file that lists nothing, every record of it kept for the disk
// itself after its item went back from a disk that may be a copy.
bool keptForTheDiskItself(const fs::path& file)
{
    const auto contents = KZUndoFile::read(file);
    return contents && !contents->entries.empty()
        && std::all_of(contents->entries.begin(), contents->entries.end(), [&](const KZUndoFile::Entry& entry) {
               return KZRestoreRemovedFiles::wasPutBackFromPossibleCopy(entry)
                   && !KZRestoreRemovedFiles::isListed(entry, file);
           });
}

std::vector<fs::path> entriesOf(const fs::path& folder)
{
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    return entries;
}

// ---- The table ------------------------------------------------------------------------

struct Case {
    Job job;
    Disk disk;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(nameOf(info.param.job)) + "_" + nameOf(info.param.disk);
}

// What KZ_STEPS_ONLY keeps: -2 for any.
struct Only {
    int replug = -2;
    int uid = -2;
    int k = -2;
};

Only onlyFromEnvironment()
{
    Only only;
    const char* text = std::getenv("KZ_STEPS_ONLY");
    if (!text)
        return only;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        const auto eq = part.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = part.substr(0, eq);
        const int value = std::atoi(part.c_str() + eq + 1);
        (key == "replug" ? only.replug : key == "uid" ? only.uid : only.k) = value;
    }
    return only;
}

class KZEveryStepKilled : public ::testing::TestWithParam<Case> {
protected:
    struct Run {
        Job job;
        Disk disk;
        bool replug;
        int uid;
        TestDisk* disk_;
        fs::path data;   // the data home (its Trash is the home Trash)
        fs::path copies; // on another disk than the tree
        fs::path scratch;
    };

    fs::path root(const Run& run) const { return run.disk_->at() / "tree"; }
    fs::path diskTrash(const Run& run) const
    {
        return run.disk_->at() / (".Trash-" + std::to_string(run.uid < 0 ? ::getuid() : uid_t(run.uid)));
    }
    fs::path homeTrash(const Run& run) const { return run.data / "Trash"; }

    void prepare(const Run& run)
    {
        removeContents(run.disk_->at());
        removeContents(run.data);
        removeContents(run.copies);
        makeTree(root(run), run.job);
        if (run.uid >= 0) {
            chownTree(run.disk_->at(), run.uid);
            chownTree(run.data, run.uid);
            chownTree(run.copies, run.uid);
        }
    }

    std::vector<std::string> environmentFor(const Run& run, const char* role, const fs::path& result = {})
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!entry.starts_with("TMPDIR=") && !entry.starts_with("KZ_STEPS_") && !entry.starts_with("GTEST_"))
                env.push_back(entry);
        }
        env.push_back("TMPDIR=" + run.scratch.native());
        env.push_back(std::string(kRoleVar) + "=" + role);
        env.push_back(std::string(kJobVar) + "=" + std::to_string(int(run.job)));
        env.push_back(std::string(kRootVar) + "=" + root(run).native());
        env.push_back(std::string(kCopiesVar) + "=" + run.copies.native());
        env.push_back(std::string(kDataVar) + "=" + run.data.native());
        if (run.uid >= 0)
            env.push_back(std::string(kUidVar) + "=" + std::to_string(run.uid));
        if (!result.empty())
            env.push_back(std::string(kResultVar) + "=" + result.native());
        return env;
    }

    kztest::TracedRun child(const Run& run, const char* role, int killAfter, const fs::path& result = {})
    {
        const std::string self = fs::read_symlink("/proc/self/exe").native();
        // One case, so that the environments are set up; the child's ends
        // the child before it runs.
        return kztest::runTraced(self,
                                 {self, "--gtest_filter=Table/KZEveryStepKilled."
                                        "LeavesEveryItemOnceNothingBehindAndTheReportTrue/Trash_ext4"},
                                 environmentFor(run, role, result), killAfter);
    }

    // One run of the job, killed after call `k` (0: never); the wrongs
    // found, empty when all is right. `calls` answers how many changing
    // calls the job made (the count, when it was not killed).
    std::vector<std::string> once(const Run& run, int k, kztest::TracedRun* job)
    {
        std::vector<std::string> wrong;
        prepare(run);
        *job = child(run, "job", k);
        if (!job->started)
            return {"the job could not be started traced"};
        if (!job->killed && !(WIFEXITED(job->status) && WEXITSTATUS(job->status) == 0))
            return {"the job ended with status " + std::to_string(job->status)};
        // The next start comes later: a .trashinfo the killed moment left
        // is old by then, as the rule for another program's move between
        // its two steps asks. Aged at once: the change it makes to the
        // file is dated with the kill, as an untouched file's is.
        for (const fs::path& trash : {diskTrash(run), homeTrash(run)})
            for (const fs::path& info : entriesOf(trash / "info")) {
                timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 120, 0}};
                ::utimensat(AT_FDCWD, info.c_str(), times, AT_SYMLINK_NOFOLLOW);
            }
        // Unplugged once the FUSE disk has heard the releases of what the
        // killed job had open: a disk taken away before that keeps the
        // names it hid of them, whatever wrote there.
        if (run.replug)
            waitForFuseReleases({run.disk_->at()});
        if (run.replug && !run.disk_->replug())
            return {"the disk could not be plugged back"};
        const auto names = itemNames(run.job);
        const std::vector<fs::path> roots{run.disk_->at(), run.data, run.copies};
        const Look before = look(roots, names);
        // A file under two names, in the Trash and at its place, is a move
        // by link and unlink cut between the two: it still lies where the
        // move took it from, and the next start takes the new name away.
        int inTrash = 0;
        for (const auto& [i, places] : before.places) {
            const bool inATrash = std::any_of(places.begin(), places.end(), [](const fs::path& p) {
                return p.native().find("/Trash") != std::string::npos
                    || p.native().find("/.Trash-") != std::string::npos;
            });
            const bool atPlace = std::count(places.begin(), places.end(), root(run) / "r" / names[size_t(i)]) > 0;
            inTrash += inATrash && !(atPlace && run.job != Job::Restore);
        }
        // Where a link to the kept copy stands at an item's place, Restore
        // rightly finds the place taken: the user takes the link away first.
        if (run.job == Job::Links)
            for (const std::string& name : names) {
                struct stat placed {};
                struct stat kept {};
                const fs::path place = root(run) / "r" / name;
                if (::lstat(place.c_str(), &placed) == 0 && ::lstat((root(run) / "k" / name).c_str(), &kept) == 0
                    && placed.st_ino == kept.st_ino && placed.st_dev == kept.st_dev)
                    ::unlink(place.c_str());
            }
        const fs::path result = run.scratch / "after.txt";
        std::error_code ec;
        fs::remove(result, ec);
        const kztest::TracedRun after = child(run, "after", 0, result);
        if (!WIFEXITED(after.status) || WEXITSTATUS(after.status) != 0)
            wrong.push_back("the next start ended with status " + std::to_string(after.status));
        std::ifstream in(result);
        RestoreReport report;
        int listedAfter = -1;
        in >> report.listed >> report.restored >> report.notRestored >> report.gone >> listedAfter >> report.notChecked;
        std::getline(in, report.why);
        std::getline(in, report.why);

        waitForFuseReleases({root(run), diskTrash(run), homeTrash(run)});
        const Look now = look(roots, names);
        for (const std::string& left : now.leftovers)
            wrong.push_back("left behind: " + left);
        // Where each item may lie at the end: back, or kept in the Trash
        // with its record listed where Restore could not tell it.
        int keptInTrash = 0;
        std::set<fs::path> kept;
        for (size_t i = 0; i < names.size(); ++i) {
            const auto found = now.places.find(int(i));
            const std::vector<fs::path> places = found == now.places.end() ? std::vector<fs::path>{} : found->second;
            const fs::path old = root(run) / "r" / names[i];
            std::vector<fs::path> allowed{old};
            if (run.job == Job::Move || run.job == Job::UndoMove)
                allowed.push_back(root(run) / "dest" / names[i]);
            const bool copies = run.job == Job::UndoCopies || run.job == Job::Copy;
            int atOld = 0;
            int elsewhere = 0;
            for (const fs::path& p : places) {
                const bool atAllowed = std::find(allowed.begin(), allowed.end(), p) != allowed.end();
                if (const auto date = atAllowed ? redated(p) : std::nullopt)
                    wrong.push_back("item " + names[i] + ": " + *date);
                if (p == old)
                    ++atOld;
                else if (atAllowed)
                    ++elsewhere;
                else if (copies && p == run.copies / names[i])
                    continue; // a copy the undo did not reach: the original stays
                else if (trashes(run.job) && places.size() == 1 && p == diskTrash(run) / "files" / names[i])
                    continue; // kept in the Trash: weighed below
                else
                    wrong.push_back("item " + names[i] + " lies at " + p.native());
            }
            if (atOld + elsewhere == 0 && trashes(run.job) && places.size() == 1
                && places[0] == diskTrash(run) / "files" / names[i]) {
                ++keptInTrash;
                kept.insert(places[0]);
                kept.insert(diskTrash(run) / "info" / (names[i] + ".trashinfo"));
                continue;
            }
            if (atOld + elsewhere == 0)
                wrong.push_back("item " + names[i] + (places.empty() ? " is nowhere to be found" : " is not back"));
            if (atOld + elsewhere > 1)
                wrong.push_back("item " + names[i] + " lies " + std::to_string(atOld + elsewhere) + " times");
            if (copies && atOld != 1)
                wrong.push_back("the original of " + names[i] + " left its place");
        }
        // Nothing but the items in their folders.
        for (const char* folder : {"r", "dest"})
            for (const fs::path& entry : entriesOf(root(run) / folder)) {
                const std::string name = entry.filename().native();
                if (std::find(names.begin(), names.end(), name) == names.end())
                    wrong.push_back("left behind: " + entry.native());
            }
        // A copy is whole, or not there: one cut short by the kill would
        // pass for the item.
        for (const fs::path& entry : entriesOf(run.copies)) {
            const auto name = std::find(names.begin(), names.end(), entry.filename().native());
            if (name == names.end()) {
                wrong.push_back("left behind: " + entry.native());
                continue;
            }
            const fs::path file = (*name)[0] == 'd' ? entry / "inner" : entry;
            if (readAll(file) != contentOf(int(name - names.begin()))
                || ((*name)[0] == 'd' && entriesOf(entry).size() != 1))
                wrong.push_back("an unfinished copy: " + entry.native());
        }
        // A disk plugged back that nothing but its file system names cannot
        // be told from a byte copy of it: what a Restore puts back there, the
        // disk itself may still hold in its Trash, and the record stays for
        // it, listed only once a Trash holds that item again.
        if (run.replug)
            for (const fs::path& file : KZUndoFile::list(homeTrash(run)))
                if (keptForTheDiskItself(file)) {
                    kept.insert(file);
                    kept.insert(homeTrash(run) / "info" / (file.filename().native() + ".trashinfo"));
                }
        // A file removed while the FUSE disk still took it for open stays
        // under the disk's hidden name until the disk hears its release,
        // which may never come where a kill cut the opening short: the
        // removal did its part, the disk keeps the bytes.
        const auto hiddenByFuse = [&run](const fs::path& entry) {
            return (run.disk == Disk::FuseExt4 || isStick(run.disk))
                && entry.filename().native().starts_with(".fuse_hidden");
        };
        for (const fs::path& trash : {diskTrash(run), homeTrash(run)})
            for (const char* folder : {"files", "info"})
                for (const fs::path& entry : entriesOf(trash / folder))
                    if (!kept.count(entry) && !hiddenByFuse(entry)
                        && !(keptInTrash > 0 && trash == homeTrash(run)
                             && entry.filename().native().starts_with(".Maravex4_")))
                        wrong.push_back("left in the Trash: " + entry.native());
        if (listedAfter != keptInTrash)
            wrong.push_back(std::to_string(listedAfter) + " records still listed at the end where "
                            + std::to_string(keptInTrash) + " items stay in the Trash");
        // The report of the Restore after the next start.
        if (report.listed != inTrash)
            wrong.push_back("Restore listed " + std::to_string(report.listed) + " where " + std::to_string(inTrash)
                            + " items lay in the Trash");
        if (report.restored != quint64(inTrash - keptInTrash))
            wrong.push_back("Restore said " + std::to_string(report.restored) + " came back where "
                            + std::to_string(inTrash - keptInTrash) + " did");
        if (report.notRestored != quint64(keptInTrash) || report.notChecked != quint64(keptInTrash))
            wrong.push_back("Restore said " + std::to_string(report.notRestored) + " could not be put back: "
                            + report.why);
        return wrong;
    }

    void runTable(const Run& base, int* failedRuns, int* runs)
    {
        const Only only = onlyFromEnvironment();
        if (only.uid != -2 && only.uid != base.uid)
            return;
        if (only.replug != -2 && only.replug != int(base.replug))
            return;
        const std::string label = std::string(nameOf(base.job)) + " on " + nameOf(base.disk) + " replug="
            + (base.replug ? "1" : "0") + " uid=" + std::to_string(base.uid);
        kztest::TracedRun counted;
        const auto whole = once(base, 0, &counted);
        ++*runs;
        for (const std::string& w : whole)
            std::cout << "FAIL " << label << " k=0 (not killed): " << w << "\n";
        *failedRuns += !whole.empty();
        std::string calls;
        for (const std::string& name : counted.names)
            calls += name + " ";
        std::cout << label << ": " << counted.calls << " changing calls: " << calls << "\n";
        for (int k = 1; k <= counted.calls; ++k) {
            if (only.k != -2 && only.k != k)
                continue;
            kztest::TracedRun job;
            const auto wrong = once(base, k, &job);
            ++*runs;
            const std::string what = k <= int(counted.names.size()) ? counted.names[size_t(k - 1)] : "?";
            for (const std::string& w : wrong)
                std::cout << "FAIL " << label << " k=" << k << " (after " << what << "): " << w << "\n";
            *failedRuns += !wrong.empty();
        }
    }
};

TEST_P(KZEveryStepKilled, LeavesEveryItemOnceNothingBehindAndTheReportTrue)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "loop disks and FUSE mounts need root";
    if (!kztest::tracingAvailable())
        GTEST_SKIP() << "counting a child's calls needs ptrace on x86_64";
    const Case c = GetParam();
    const bool wide = envNumber("KZ_STEPS_WIDE", 0) != 0;
    kztest::TempDir dir;
    int failedRuns = 0;
    int runs = 0;
    const auto outcome = kztest::runWithPrivateMounts([&] {
        std::vector<int> uids{-1};
        if (isStick(c.disk) || wide)
            uids.push_back(int(kztest::kOrdinaryUser));
        for (const int uid : uids) {
            const fs::path folder = dir / ("disk" + std::to_string(uid));
            fs::create_directories(folder);
            TestDisk disk(c.disk, folder, uid);
            if (!disk.made())
                ::_exit(kUnavailable);
            Run run{c.job, c.disk, false, uid, &disk, dir / ("data" + std::to_string(uid)),
                    dir / ("copies" + std::to_string(uid)), dir / ("scratch" + std::to_string(uid))};
            for (const fs::path& p : {run.data, run.copies, run.scratch}) {
                fs::create_directories(p);
                if (uid >= 0) {
                    ASSERT_EQ(::chown(p.c_str(), uid_t(uid), gid_t(uid)), 0);
                }
            }
            if (uid >= 0) {
                ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
            }
            for (const bool replug : {false, true}) {
                // CI's table: a replug where it renumbers the disk's files
                // (FUSE), the ordinary user after one; the rest when wide.
                const bool renumbers = c.disk != Disk::Ext4 && c.disk != Disk::Ext4NoBirth;
                if (!wide && ((replug && !renumbers) || (uid >= 0 && !replug)))
                    continue;
                run.replug = replug;
                runTable(run, &failedRuns, &runs);
            }
        }
        EXPECT_EQ(failedRuns, 0) << failedRuns << " of " << runs << " runs went wrong (listed above)";
        std::fflush(nullptr);
        std::cout.flush();
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << nameOf(c.disk) << " could not be made or mounted here, or no private mount namespace";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

std::vector<Case> table()
{
    std::vector<Case> cases;
    for (const Job job : {Job::Trash, Job::Move, Job::Links, Job::Restore, Job::UndoMove, Job::UndoCopies, Job::Copy})
        for (const Disk disk : {Disk::Ext4, Disk::Ext4NoBirth, Disk::FuseExt4, Disk::Exfat, Disk::Vfat})
            cases.push_back({job, disk});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, KZEveryStepKilled, ::testing::ValuesIn(table()), caseName);

} // namespace
