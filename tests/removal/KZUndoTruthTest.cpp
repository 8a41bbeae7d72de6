// Undo and restore against a tree changed behind their back: nothing the
// user made is deleted, nothing hangs, and what did not go back is counted.

#include "RemovalTestSupport.h"

#include "platform/Bookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/StringTable.h"
#include "removal/KZRestoreList.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

using namespace Qt::StringLiterals;
using namespace removaltest;
using Result = KZRestoreRemovedFiles::ItemResult;

namespace {

KZPersistentUndoRecord trashWithRecord(const fs::path& item)
{
    KZPersistentUndoRecord record;
    record.oldPosition = item;
    const auto moved = platform::moveToTrash(item);
    EXPECT_TRUE(moved) << item;
    record.currPosition = moved.value_or(fs::path());
    record.bookmark = platform::createBookmark(record.currPosition);
    return record;
}

KZUndoMovedItem copyRecord(const fs::path& copy, const fs::path& original)
{
    return KZUndoMovedItem{copy, original, false, true, KZCopyIdentity::capture(copy)};
}

// What an Undo of `dict` in the running program hands back.
std::optional<KZRestoreRemovedFiles::UndoOutcome> undone(const KZUndoDict& dict)
{
    KZRestoreRemovedFiles restore;
    std::optional<KZRestoreRemovedFiles::UndoOutcome> told;
    restore.undoMove(dict, [&](const KZRestoreRemovedFiles::UndoOutcome& outcome) { told = outcome; });
    restore.waitUntilIdle();
    return told;
}

// The informative text of the one alert that tells `outcome`.
QString toldWhy(const ScopedAlerts& alerts, const KZRestoreRemovedFiles::UndoOutcome& outcome)
{
    KZRestoreRemovedFiles::tellOutcome(outcome.restored, outcome.notRestored.total(), outcome.notRestored.reasonKey(),
                                       false);
    EXPECT_EQ(alerts.shown(), 1u);
    return alerts.shown() == 1u ? alerts.presenter->calls.at(0).alert.informativeText : QString();
}

// Bounds a call that must never wait on a pipe.
template <typename F>
auto quickly(F&& call)
{
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    return result;
}

} // namespace

TEST(KZUndoTruth, ACopyChangedSinceTheRemovalIsNeverDeleted)
{
    struct Case {
        const char* label;
        std::function<KZUndoMovedItem(kztest::TempDir&)> build;
    };
    const std::vector<Case> cases = {
        {"the copy was edited",
         [](kztest::TempDir& d) {
             d.write("src/a", "A");
             auto record = copyRecord(d.write("dest/a", "A"), d / "src/a");
             std::ofstream(d / "dest/a", std::ios::app) << " and the user's edit";
             return record;
         }},
        {"the user's folder took the copy's place",
         [](kztest::TempDir& d) {
             d.write("src/f/x", "X");
             d.write("dest/f/x", "X");
             auto record = copyRecord(d / "dest/f", d / "src/f");
             fs::remove_all(d / "dest/f");
             d.write("dest/f/precious", "P");
             return record;
         }},
        {"a file was added inside the copied folder",
         [](kztest::TempDir& d) {
             d.write("src/f/x", "X");
             d.write("dest/f/x", "X");
             auto record = copyRecord(d / "dest/f", d / "src/f");
             d.write("dest/f/deep/precious", "P");
             return record;
         }},
        {"a record from before copies were described",
         [](kztest::TempDir& d) {
             d.write("src/a", "A");
             return KZUndoMovedItem{d.write("dest/a", "A"), d / "src/a", false, true};
         }},
    };
    for (const auto& c : cases) {
        kztest::TempDir dir;
        KZRestoreRemovedFiles restore;
        const KZUndoMovedItem item = c.build(dir);
        KZRestoreRemovedFiles::NotRestored notRestored;
        const auto results = restore.undoMovedFiles({item}, false, &notRestored);
        EXPECT_EQ(results.at(0), Result::CopyKept) << c.label;
        EXPECT_TRUE(fs::exists(item.currPosition)) << c.label;
        EXPECT_EQ(notRestored.copyKept, 1u) << c.label;
        EXPECT_EQ(restore.notRestoredCount.load(), 1u) << c.label;
    }

    // Unchanged, with the original still in place: the copy goes, and only it.
    kztest::TempDir dir;
    dir.write("src/f/x", "X");
    dir.write("dest/f/x", "X");
    const auto item = copyRecord(dir / "dest/f", dir / "src/f");
    KZRestoreRemovedFiles restore;
    EXPECT_EQ(restore.undoMovedFiles({item}, false).at(0), Result::CopyDeleted);
    EXPECT_FALSE(fs::exists(dir / "dest/f"));
    EXPECT_EQ(kztest::readFile(dir / "src/f/x"), "X");

    // A destination the user reached through a link of theirs: the copy is
    // checked and deleted in the folder the link leads to, and the link stays.
    dir.write("src/b", "B");
    fs::create_directories(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "linked");
    dir.write("real/b", "B");
    const auto linked = copyRecord(dir / "linked/b", dir / "src/b");
    EXPECT_EQ(restore.undoMovedFiles({linked}, false).at(0), Result::CopyDeleted);
    EXPECT_FALSE(fs::exists(dir / "real/b"));
    EXPECT_TRUE(fs::is_symlink(dir / "linked"));
    EXPECT_EQ(kztest::readFile(dir / "src/b"), "B");
}

// Undo of a move that left a hard link: the link goes only through the old
// place's own folder. That folder swapped for a link to another one, where a
// link of the same bytes stands too, leaves both folders as they were.
TEST(KZUndoTruth, TheUndoOfALinkedMoveNeverActsThroughAFolderSwappedForALink)
{
    kztest::TempDir dir;
    dir.write("keep/x", "same bytes");
    fs::create_directories(dir / "d");
    fs::create_hard_link(dir / "keep/x", dir / "d/x");
    dir.write("dest/x", "same bytes");
    fs::create_directories(dir / "other");
    fs::create_hard_link(dir / "keep/x", dir / "other/x");
    fs::rename(dir / "d", dir / "d.aside");
    fs::create_directory_symlink(dir / "other", dir / "d");

    KZRestoreRemovedFiles restore;
    const KZUndoMovedItem item{dir / "dest/x", dir / "d/x", true, false};
    EXPECT_NE(restore.undoMovedFiles({item}, false).at(0), Result::Restored);
    EXPECT_EQ(kztest::readFile(dir / "dest/x"), "same bytes") << "the moved item stays where it is";
    EXPECT_EQ(platform::statPath(dir / "other/x", false)->inode, platform::statPath(dir / "keep/x", false)->inode)
        << "the other folder's link is untouched";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "other"), fs::directory_iterator()), 1);

    // Through its real folder the same undo puts the item back.
    fs::remove(dir / "d");
    fs::rename(dir / "d.aside", dir / "d");
    EXPECT_EQ(restore.undoMovedFiles({item}, false).at(0), Result::Restored);
    EXPECT_FALSE(fs::exists(dir / "dest/x"));
    EXPECT_EQ(platform::statPath(dir / "d/x", false)->links, 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "d"), fs::directory_iterator()), 1) << "no name set aside";
}

TEST(KZUndoTruth, AFolderMergeThatPutEveryEntryBackCountsAsRestored)
{
    kztest::TempDir dir;
    dir.write("src/f/users", "U");
    dir.write("trash/f/a", "A");
    dir.write("trash/f/sub/b", "B");
    dir.mkdir("src/f/sub");
    KZRestoreRemovedFiles restore;
    KZRestoreRemovedFiles::NotRestored notRestored;
    const auto results = restore.undoMovedFiles({{dir / "trash/f", dir / "src/f"}}, false, &notRestored);
    EXPECT_EQ(results.at(0), Result::Restored);
    EXPECT_EQ(restore.restoredItems.load(), 1u);
    EXPECT_EQ(notRestored.total(), 0u);
    EXPECT_FALSE(fs::exists(dir / "trash/f"));
    EXPECT_EQ(kztest::readFile(dir / "src/f/a"), "A");
    EXPECT_EQ(kztest::readFile(dir / "src/f/sub/b"), "B");
    EXPECT_EQ(kztest::readFile(dir / "src/f/users"), "U");
}

TEST(KZUndoTruth, PipesAndLinksNamedLikeUndoFilesNeverHangNorLeadOutsideTheTrash)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto record = trashWithRecord(dir.write("src/a", "A"));
    const fs::path real = *KZUndoFile::write(homeTrash(), {}, {record}, 50.0);
    const fs::path files = homeTrash() / "files";
    const fs::path fifo = files / ".Maravex4_10.000000";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A link to a property list outside the Trash, holding other keys.
    const fs::path outside = dir / "settings.plist";
    const QVariantMap settings{{u"rootData"_s, QVariantList{}}, {u"undoItems"_s, QVariantList{}},
                               {u"userKey"_s, u"kept"_s}};
    ASSERT_TRUE(platform::PropertyList::writeFile(outside, settings, platform::PropertyList::Format::Xml));
    const fs::path link = files / ".Maravex4_20.000000";
    fs::create_symlink(outside, link);

    EXPECT_EQ(KZUndoFile::list(homeTrash()), std::vector<fs::path>{real});
    EXPECT_TRUE(KZRestoreList::areTherePermanentFiles(homeTrash()));
    EXPECT_FALSE(quickly([&] { return KZUndoFile::read(fifo); }));
    EXPECT_FALSE(quickly([&] { return platform::PropertyList::readFile(fifo); }));
    EXPECT_FALSE(KZUndoFile::read(link));
    EXPECT_FALSE(KZUndoFile::rewrite(link, {}, {KZUndoFile::Entry{}}));
    EXPECT_FALSE(KZUndoFile::rewrite(link, {}, {}));
    EXPECT_TRUE(fs::is_symlink(link));

    // A restore handed both goes through, touches neither, and keeps them.
    KZRestoreRemovedFiles restore;
    const auto result = quickly([&] { return restore.restoreFiles({fifo, link, real}); });
    EXPECT_EQ(result.restored, 1u);
    EXPECT_EQ(result.unreadable.size(), 2u);
    EXPECT_EQ(kztest::readFile(dir / "src/a"), "A");
    const auto after = platform::PropertyList::readDictionary(outside);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, settings);

    // A link that a rewrite was asked to write is replaced itself, never its target.
    ASSERT_TRUE(platform::PropertyList::writeFile(link, QVariantMap{{u"a"_s, 1}}, platform::PropertyList::Format::Xml,
                                                  nullptr, platform::PropertyList::Links::Refuse));
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(*platform::PropertyList::readDictionary(outside), settings);
}

// Anyone may put a file named like an undo file in the Trash: one nested
// deep enough to crash the reader is refused, and so is one that claims
// gigabytes (sparse, it costs nothing on disk) before it is read whole. In a
// child, so that a crash fails the test.
TEST(KZUndoTruth, UndoFilesTooDeepOrTooLargeAreRefusedBeforeTheyAreRead)
{
    kztest::expectCleanRunInChild([] {
        emptyTrash();
        const fs::path files = homeTrash() / "files";
        fs::create_directories(files);
        const fs::path deep = files / ".Maravex4_30.000000";
        const QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
        {
            std::ofstream out(deep, std::ios::binary);
            out << QByteArray(xml + QByteArray("<array><!--</array>-->").repeated(200000)).toStdString();
        }
        const fs::path large = files / ".Maravex4_40.000000";
        {
            std::ofstream out(large, std::ios::binary);
            out << QByteArray(xml + "<dict/></plist>").toStdString();
        }
        fs::resize_file(large, quint64(1100) << 20);
        for (const auto& [file, why] : {std::pair(deep, "nested too deeply"), std::pair(large, "too large")}) {
            QString error;
            EXPECT_FALSE(KZUndoFile::read(file, &error)) << why;
            EXPECT_TRUE(error.contains(QString::fromLatin1(why))) << error.toStdString();
        }
    });
}

// An undo file that would cost far more than its size to read (a list of
// very many tiny values beside a real entry) is refused: its row in the
// Restore window names it and says why, and a restore of it moves nothing
// and keeps it, its items waiting in the Trash.
TEST(KZUndoTruth, AnUndoFileTooCostlyToReadIsNamedAndItsItemsStayInTheTrash)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto record = trashWithRecord(dir.write("src/kept", "K"));
    const fs::path file = writeUndoFile({record}, 80.0);
    {
        QByteArray xml = QByteArray::fromStdString(kztest::readFile(file));
        const qsizetype end = xml.lastIndexOf("</array>");
        ASSERT_GT(end, 0);
        xml.insert(end, QByteArray("<true/>").repeated(1'500'000));
        std::ofstream(file, std::ios::binary | std::ios::trunc) << xml.toStdString();
    }
    const KZRestoreList::Row row = KZRestoreList::rowOf(file);
    EXPECT_TRUE(row.problem.contains(platform::pathText(file.filename()))) << row.problem.toStdString();
    EXPECT_TRUE(row.problem.contains(u"too many values"_s)) << row.problem.toStdString();
    // The row says when, in the program's words, with no count it cannot know.
    EXPECT_FALSE(row.name.contains(row.problem));
    EXPECT_TRUE(row.name.startsWith(u"Items trashed at "_s)) << row.name.toStdString();
    EXPECT_FALSE(row.name.contains(u"0 item"_s));

    KZRestoreRemovedFiles restore;
    const auto result = restore.restoreFiles({file});
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(result.unreadable, std::vector<fs::path>{file});
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(fs::exists(record.currPosition));
    EXPECT_FALSE(fs::exists(record.oldPosition));
}

TEST(KZUndoTruth, APipeNamedLikeATrashInfoNeverHangsARestore)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto record = trashWithRecord(dir.write("src/a", "A"));
    const fs::path file = *KZUndoFile::write(homeTrash(), {}, {record}, 60.0);
    const fs::path info = homeTrash() / "info" / (record.currPosition.filename().string() + ".trashinfo");
    fs::remove(info);
    ASSERT_EQ(::mkfifo(info.c_str(), 0600), 0);
    EXPECT_FALSE(quickly([&] { return platform::readTrashInfo(record.currPosition); }));
    KZRestoreRemovedFiles restore;
    const auto result = quickly([&] { return restore.restoreFiles({file}); });
    EXPECT_EQ(result.restored, 0u);
    // Proved the item, in the Trash: never said gone while its record stays.
    EXPECT_EQ(result.notRestored.gone, 0u);
    EXPECT_EQ(result.notRestored.changed, 1u);
    EXPECT_TRUE(fs::exists(file)) << "the entry waits in its file";
}

// What did not go back is counted by why, posted, and kept in its file.
TEST(KZUndoTruth, RestoreCountsWhatDidNotGoBackAndKeepsItsFile)
{
    emptyTrash();
    kztest::TempDir dir;
    const auto back = trashWithRecord(dir.write("src/back", "B"));
    const auto occupied = trashWithRecord(dir.write("src/occupied", "O"));
    const fs::path file = *KZUndoFile::write(homeTrash(), {}, {back, occupied}, 70.0);
    dir.write("src/occupied", "user");

    std::vector<QVariantMap> posted;
    KZRestoreRemovedFiles restore;
    auto sub = platform::NotificationCenter::defaultCenter().addObserver(
        u"updateRestoredList"_s, platform::NotificationObject(&restore),
        [&](const platform::Notification& n) { posted.push_back(n.userInfo); });
    restore.restoreItemsOfFile({file}, {QString::fromStdString(file.string())});
    restore.waitUntilIdle();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].value(u"restoredItems"_s).toULongLong(), 1u);
    EXPECT_EQ(posted[0].value(u"notRestoredItems"_s).toULongLong(), 1u);
    EXPECT_EQ(posted[0].value(u"notRestoredReason"_s).toString(), u"not_restored_occupied"_s);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(KZUndoFile::read(file)->entries.size(), 1u);
}

TEST(KZUndoTruth, TheUserIsToldWhatDidNotGoBackAndWhy)
{
    ScopedAlerts alerts;
    auto alert = [&](std::size_t i) { return alerts.presenter->calls.at(i).alert; };
    using Style = KZAlertPresenter::Style;

    KZRestoreRemovedFiles::tellOutcome(3, 0, {}, false);
    EXPECT_EQ(alerts.shown(), 0u) << "an undo that put everything back says nothing";
    KZRestoreRemovedFiles::tellOutcome(3, 0, {}, true);
    ASSERT_EQ(alerts.shown(), 1u);
    EXPECT_EQ(alert(0).messageText, u"3 items were put back."_s);
    EXPECT_EQ(alert(0).style, Style::Warning) << "an information panel is drawn as an error is";

    KZRestoreRemovedFiles::NotRestored several;
    several.occupied = 1;
    several.gone = 1;
    KZRestoreRemovedFiles::tellOutcome(0, 2, several.reasonKey(), false);
    EXPECT_EQ(alert(1).messageText, u"2 items could not be put back."_s);
    EXPECT_EQ(alert(1).style, Style::Warning);
    EXPECT_TRUE(alert(1).informativeText.contains(u"do not empty the Trash"_s)) << alert(1).informativeText.toStdString();

    KZRestoreRemovedFiles::NotRestored one;
    one.missingVolume = 1;
    KZRestoreRemovedFiles::tellOutcome(1, 1, one.reasonKey(), true);
    EXPECT_EQ(alert(2).messageText, u"One item was put back, but another could not be."_s);
    EXPECT_TRUE(alert(2).informativeText.contains(u"not connected"_s));
    KZRestoreRemovedFiles::tellOutcome(4, 2, one.reasonKey(), true);
    EXPECT_EQ(alert(3).messageText, u"4 items were put back, but 2 could not be."_s);
}

// An Undo on a disk that may be a copy of its own tells what it put back
// there, and a further one what it found already back: the undo stays, for
// the disk itself. What did not go back is told beside, as ever.
TEST(KZUndoTruth, AnUndoOnADiskThatMayBeACopySaysSo)
{
    ScopedAlerts alerts;
    auto alert = [&](std::size_t i) { return alerts.presenter->calls.at(i).alert; };

    KZRestoreRemovedFiles::UndoOutcome putBack;
    putBack.restored = 2;
    putBack.onPossibleCopy = 2;
    KZRestoreRemovedFiles::tellUndoOutcome(putBack);
    ASSERT_EQ(alerts.shown(), 1u);
    EXPECT_EQ(alert(0).messageText, u"2 items were put back on a disk that cannot be told from a copy of it."_s);
    EXPECT_TRUE(alert(0).informativeText.contains(u"the undo was kept"_s));

    KZRestoreRemovedFiles::UndoOutcome found;
    found.alreadyBack = 1;
    found.notRestored.add(KZRestoreRemovedFiles::ItemResult::AlreadyBack);
    EXPECT_EQ(found.notRestored.total(), 0u) << "already back is no item that did not go back";
    found.notRestored.add(KZRestoreRemovedFiles::ItemResult::OnPossibleCopy);
    KZRestoreRemovedFiles::tellUndoOutcome(found);
    ASSERT_EQ(alerts.shown(), 3u);
    EXPECT_EQ(alert(1).messageText,
              u"One item is already back at its old place, on a disk that cannot be told from a copy of it."_s);
    EXPECT_EQ(alert(2).messageText, u"One item could not be put back."_s);
}

// An item deleted from the folder it was moved to: the undo says it left
// that folder, never that it was taken out of the Trash, where it never was.
// A restore from the Trash keeps saying the Trash.
TEST(KZUndoTruth, AnItemGoneFromTheMovesFolderIsNotSaidToHaveLeftTheTrash)
{
    ScopedAlerts alerts;
    kztest::TempDir dir;
    KZUndoDict dict;
    dict.standardUndo.push_back({dir.write("dest/back", "B"), dir / "src/back"});
    dict.standardUndo.push_back({dir.write("dest/gone", "G"), dir / "src/gone"});
    fs::remove(dir / "dest/gone");
    const auto told = undone(dict);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->notRestored.gone, 1u);
    const QString why = toldWhy(alerts, *told);
    EXPECT_FALSE(why.contains(u"Trash"_s)) << why.toStdString();
    EXPECT_TRUE(why.contains(u"no longer where the move put it"_s)) << why.toStdString();

    KZRestoreRemovedFiles::NotRestored fromTrash;
    fromTrash.gone = 1;
    EXPECT_EQ(fromTrash.reasonKey(), u"not_restored_gone"_s);
}

// Undo of a copy made on another disk that could not delete the copy: the
// user is told about the copy, and that its original never left, never
// that something was left where a move put it. Moved items and copies
// that did not go back for one reason are told as several.
TEST(KZUndoTruth, ACopyThatStaysIsNeverSaidToHaveMoved)
{
    ScopedAlerts alerts;
    kztest::TempDir dir;
    dir.write("src/a", "A");
    KZUndoDict dict;
    dict.standardUndo.push_back(copyRecord(dir.write("dest/a", "A"), dir / "src/a"));
    fs::remove(dir / "dest/a");
    const auto told = undone(dict);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->notRestored.gone, 1u);
    EXPECT_EQ(told->notRestored.reasonKey(), u"not_restored_copy_gone"_s);
    const QString why = toldWhy(alerts, *told);
    EXPECT_FALSE(why.contains(u"move put it"_s)) << why.toStdString();
    EXPECT_TRUE(why.contains(u"original never left"_s)) << why.toStdString();

    const std::pair<Result, const char*> kinds[] = {
        {Result::Missing, "not_restored_copy_gone"},
        {Result::HolderNotConnected, "not_restored_copy_not_connected"},
        {Result::Unproved, "not_restored_copy_unproved"},
    };
    for (const auto& [result, key] : kinds) {
        KZRestoreRemovedFiles::NotRestored copies{.afterMove = true};
        copies.add(result, true);
        copies.add(result, true);
        EXPECT_EQ(copies.reasonKey(), QLatin1StringView(key));
        const QString text = platform::localizedString(QLatin1StringView(key), u"Errors"_s);
        EXPECT_TRUE(text.contains(u"original never left"_s) && !text.contains(u"move put it"_s)) << key;
        copies.add(result, false);
        EXPECT_EQ(copies.reasonKey(), u"not_restored_several_with_copies"_s) << key;
    }
}

// An Undo of copies that fails for several reasons at once (one copy
// deleted, another changed) still says that the originals stayed, and
// never speaks of the Trash, which no copy was in; mixed with a moved item
// that did not go back, it says both.
TEST(KZUndoTruth, CopiesThatStayForSeveralReasonsAreSaidToHaveLeftNoOriginal)
{
    ScopedAlerts alerts;
    kztest::TempDir dir;
    dir.write("src/a", "A");
    dir.write("src/b", "B");
    KZUndoDict dict;
    dict.standardUndo.push_back(copyRecord(dir.write("dest/a", "A"), dir / "src/a"));
    dict.standardUndo.push_back(copyRecord(dir.write("dest/b", "B"), dir / "src/b"));
    fs::remove(dir / "dest/a");
    dir.write("dest/b", "edited");
    const auto told = undone(dict);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->notRestored.copiesGone, 1u);
    EXPECT_EQ(told->notRestored.copyKept, 1u);
    EXPECT_EQ(told->notRestored.reasonKey(), u"not_restored_several_copies"_s);
    const QString why = toldWhy(alerts, *told);
    EXPECT_TRUE(why.contains(u"originals never left their places"_s)) << why.toStdString();
    EXPECT_FALSE(why.contains(u"Trash"_s)) << why.toStdString();
    EXPECT_EQ(kztest::readFile(dir / "dest/b"), "edited") << "the changed copy is the user's";
    EXPECT_EQ(kztest::readFile(dir / "src/a"), "A");

    dict.standardUndo.push_back({dir.write("dest/m", "M"), dir / "src/m"});
    fs::remove(dir / "dest/m");
    const auto mixed = undone(dict);
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->notRestored.total(), 3u);
    EXPECT_EQ(mixed->notRestored.reasonKey(), u"not_restored_several_with_copies"_s);
    const QString text = platform::localizedString(mixed->notRestored.reasonKey(), u"Errors"_s);
    EXPECT_TRUE(text.contains(u"originals never left their places"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"do not empty the Trash"_s)) << text.toStdString();

    // Copies held back for any reason count, however the reasons mix.
    KZRestoreRemovedFiles::NotRestored held{.afterMove = true};
    held.add(Result::TwinDisks, true);
    held.add(Result::Failed, true);
    EXPECT_EQ(held.reasonKey(), u"not_restored_several_copies"_s);
    held.add(Result::Occupied);
    EXPECT_EQ(held.reasonKey(), u"not_restored_several_with_copies"_s);
    KZRestoreRemovedFiles::NotRestored none;
    none.add(Result::Occupied);
    none.add(Result::Failed);
    EXPECT_EQ(none.reasonKey(), u"not_restored_several"_s);
}

TEST(KZUndoTruth, AnInProgramUndoHandsBackWhatItCouldNotPutBack)
{
    kztest::TempDir dir;
    dir.write("src/taken", "user");
    KZUndoDict dict;
    dict.standardUndo.push_back({dir.write("dest/back", "B"), dir / "src/back"});
    dict.standardUndo.push_back({dir.write("dest/taken", "T"), dir / "src/taken"});
    const auto told = undone(dict);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->restored, 1u);
    EXPECT_EQ(told->notRestored.occupied, 1u);
    EXPECT_EQ(told->notRestored.reasonKey(), u"not_restored_occupied"_s);
}

// The heading of an ended Undo counts what it could not put back; an Undo
// of copies put nothing back, its originals never left: its heading says
// that the copies were kept. Mixed with a moved item, the usual heading.
TEST(KZUndoTruth, AnUndoOfCopiesThatFailedIsHeadedAsCopiesKept)
{
    struct Case {
        const char* name;
        int copies;
        int moved;
        QString heading;
    };
    const QString kept1 = platform::localizedString(u"copies_not_undone_sing"_s, u"Errors"_s);
    const QString kept2 = platform::localizedString(u"copies_not_undone_plur"_s, u"Errors"_s).replace(u"%@"_s, u"2"_s);
    const QString back2 = platform::localizedString(u"not_restored_plur"_s, u"Errors"_s).replace(u"%@"_s, u"2"_s);
    for (const Case& c : {Case{"one copy", 1, 0, kept1}, Case{"two copies", 2, 0, kept2},
                          Case{"a copy and a moved item", 1, 1, back2}}) {
        SCOPED_TRACE(c.name);
        ScopedAlerts alerts;
        KZRestoreRemovedFiles::UndoOutcome outcome;
        for (int i = 0; i < c.copies; ++i)
            outcome.notRestored.add(Result::CopyKept, true);
        for (int i = 0; i < c.moved; ++i)
            outcome.notRestored.add(Result::Occupied);
        KZRestoreRemovedFiles::tellUndoOutcome(outcome);
        ASSERT_EQ(alerts.shown(), 1u);
        EXPECT_EQ(alerts.presenter->calls.at(0).alert.messageText, c.heading);
        EXPECT_FALSE(c.heading.isEmpty());
    }
}
