// Every decision of identity, as one table: item kind × what its file
// system keeps × which disk answers now × what the recorded place holds.
// Restore, Undo, reopening and the recovery of a killed removal all ask
// FileIdentity::prove(); only Proved lets them move an item, drop a record
// or count an item as back.

#include "platform/FileIdentity.h"

#include <gtest/gtest.h>

#include <sstream>

using platform::FileIdentity;
using platform::FileStat;
using platform::Proof;

namespace {

enum class Kind { File, Folder };
// ext4 and xfs; ext4 with 128-byte inodes (a generation, no birth time);
// overlay (a new birth time on every move, no generation).
enum class FileSystem { KeepsBirth, NoBirth, NewBirthOnMove };
// Clone: a byte copy on another block device. SameNumberNothingElse: a disk
// that gives neither a file system identity nor a block device's (FUSE).
enum class Disk {
    SameNumberSameIdentity,
    SameNumberOtherIdentity,
    OtherNumberSameIdentity,
    OtherNumberOtherIdentity,
    Clone,
    SameNumberNothingElse
};
enum class Holds { TheItem, TheItemChanged, NewItemOnFreedInode, Nothing };

constexpr quint64 kDevice = 0x0701;
constexpr quint64 kFsid = 0xc5cdea38337a537fULL;
constexpr quint64 kGeneration = 0x5eed;
constexpr quint64 kVolume = 0xb10c;

struct Observed {
    std::optional<FileStat> stat;
    std::optional<quint64> fileSystem;
    std::optional<quint64> volume;
    std::optional<quint64> generation;
    platform::DiskMarks marks() const { return {fileSystem, volume}; }
};

FileStat recordedStat(Kind kind, FileSystem fs)
{
    FileStat st;
    st.device = kDevice;
    st.inode = 4242;
    st.mode = kind == Kind::Folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    st.size = kind == Kind::Folder ? 4096 : 10;
    st.modified = {1000, 1};
    st.changed = {1000, 5}; // set by the move that put it there
    if (fs != FileSystem::NoBirth)
        st.birth = timespec{900, 7};
    return st;
}

std::optional<quint64> generationOf(FileSystem fs, bool anew)
{
    if (fs == FileSystem::NewBirthOnMove)
        return std::nullopt;
    return anew ? kGeneration + 1 : kGeneration;
}

// What the place shows now, as each file system shows it.
Observed observe(Kind kind, FileSystem fs, Disk disk, Holds holds)
{
    Observed now;
    if (holds == Holds::Nothing)
        return now;
    FileStat st = recordedStat(kind, fs);
    const bool anew = holds == Holds::NewItemOnFreedInode;
    if (holds != Holds::TheItem) {
        st.size += 1;
        st.modified = {2000, 0};
        st.changed = {2000, 0};
    }
    if (anew && st.birth)
        st.birth = timespec{2000, 0};
    now.generation = generationOf(fs, anew);
    now.fileSystem = kFsid;
    now.volume = kVolume;
    switch (disk) {
    case Disk::SameNumberSameIdentity:
        break;
    case Disk::Clone: // a byte copy: every identity written on the disk the same
        now.volume = kVolume + 1;
        break;
    case Disk::SameNumberOtherIdentity:
        now.fileSystem = kFsid + 1;
        now.volume = kVolume + 2;
        break;
    case Disk::OtherNumberSameIdentity:
        st.device = kDevice + 1;
        break;
    case Disk::OtherNumberOtherIdentity:
        st.device = kDevice + 1;
        now.fileSystem = kFsid + 1;
        now.volume = kVolume + 2;
        break;
    case Disk::SameNumberNothingElse:
        now.fileSystem.reset();
        now.volume.reset();
        break;
    }
    now.stat = st;
    return now;
}

// Recorded as the removal records it: once the item lies where it went.
FileIdentity recorded(Kind kind, FileSystem fs)
{
    const FileStat st = recordedStat(kind, fs);
    FileIdentity identity = FileIdentity::of(
        st, {.identity = kFsid, .keepsBirthAcrossRename = fs != FileSystem::NewBirthOnMove, .volume = kVolume});
    if (kind == Kind::Folder && !identity.birth)
        identity.generation = generationOf(fs, false);
    return identity;
}

Proof decide(Kind kind, FileSystem fs, Disk disk, Holds holds)
{
    const Observed now = observe(kind, fs, disk, holds);
    if (!now.stat)
        return Proof::Different; // nothing there is not the item
    return recorded(kind, fs).prove(
        *now.stat, [&now] { return now.marks(); }, [&now] { return now.generation; });
}

Proof expectedOnItsDisk(Kind kind, FileSystem fs, Holds holds);

Proof expected(Kind kind, FileSystem fs, Disk disk, Holds holds)
{
    if (holds == Holds::Nothing || disk == Disk::SameNumberOtherIdentity || disk == Disk::OtherNumberOtherIdentity
        || disk == Disk::Clone)
        return Proof::Different;
    // The same disk; on one not proved, what is not the item still is not.
    const Proof onItsDisk = expectedOnItsDisk(kind, fs, holds);
    if (disk == Disk::SameNumberNothingElse)
        return onItsDisk == Proof::Different ? Proof::Different : Proof::NotProved;
    return onItsDisk;
}

Proof expectedOnItsDisk(Kind kind, FileSystem fs, Holds holds)
{
    switch (holds) {
    case Holds::TheItem:
        return Proof::Proved;
    case Holds::TheItemChanged:
        if (kind == Kind::File)
            return fs == FileSystem::KeepsBirth ? Proof::Proved : Proof::NotProved;
        return fs == FileSystem::NewBirthOnMove ? Proof::NotProved : Proof::Proved;
    case Holds::NewItemOnFreedInode:
        if (kind == Kind::File)
            return fs == FileSystem::KeepsBirth ? Proof::Different : Proof::NotProved;
        return fs == FileSystem::NewBirthOnMove ? Proof::NotProved : Proof::Different;
    case Holds::Nothing:
        break;
    }
    return Proof::Different;
}

const char* name(Proof p)
{
    return p == Proof::Proved ? "proved" : p == Proof::Different ? "different" : "not proved";
}

} // namespace

// A freed inode is handed to the next new item at once, and a disk attached
// after another was detached is given its device number: neither may ever
// pass for the item that left. What cannot be told is "not proved", never
// "proved".
TEST(IdentityDecision, EveryKindFileSystemDiskAndPlace)
{
    int rows = 0;
    for (Kind kind : {Kind::File, Kind::Folder})
        for (FileSystem fs : {FileSystem::KeepsBirth, FileSystem::NoBirth, FileSystem::NewBirthOnMove})
            for (Disk disk : {Disk::SameNumberSameIdentity, Disk::SameNumberOtherIdentity,
                              Disk::OtherNumberSameIdentity, Disk::OtherNumberOtherIdentity, Disk::Clone,
                              Disk::SameNumberNothingElse})
                for (Holds holds :
                     {Holds::TheItem, Holds::TheItemChanged, Holds::NewItemOnFreedInode, Holds::Nothing}) {
                    ++rows;
                    const Proof got = decide(kind, fs, disk, holds);
                    const Proof want = expected(kind, fs, disk, holds);
                    std::ostringstream row;
                    row << "kind " << int(kind) << ", file system " << int(fs) << ", disk " << int(disk)
                        << ", holds " << int(holds);
                    EXPECT_EQ(got, want) << row.str() << ": " << name(got) << " instead of " << name(want);
                    // The yes-or-no checks agree with the table.
                    if (const Observed now = observe(kind, fs, disk, holds); now.stat) {
                        EXPECT_EQ(recorded(kind, fs).isSameItem(
                                      *now.stat, [&now] { return now.marks(); },
                                      [&now] { return now.generation; }),
                                  want == Proof::Proved)
                            << row.str();
                    }
                }
    EXPECT_EQ(rows, 2 * 3 * 6 * 4);
}

// A folder recorded without birth time, generation or change time (a
// record older than them) proves nothing by its inode; nor does a
// generation that cannot be read now stand in for one that differs.
TEST(IdentityDecision, AFolderWithNothingButItsInodeIsNotProved)
{
    FileStat folder = recordedStat(Kind::Folder, FileSystem::NoBirth);
    FileIdentity older = FileIdentity::readFrom({}, kDevice, folder.inode);
    older.folder = true;
    EXPECT_EQ(older.prove(folder), Proof::NotProved);
    EXPECT_FALSE(older.isSameFolder(folder));

    FileIdentity withGeneration = recorded(Kind::Folder, FileSystem::NoBirth);
    folder.changed = {3000, 0};
    EXPECT_EQ(withGeneration.prove(folder, {}, [] { return std::optional<quint64>(); }), Proof::NotProved);
    EXPECT_EQ(withGeneration.prove(folder, {}, [] { return std::optional<quint64>(kGeneration); }), Proof::Proved);

    QVariantMap stored;
    withGeneration.insertInto(stored);
    EXPECT_EQ(FileIdentity::readFrom(stored, kDevice, folder.inode), withGeneration);
}
