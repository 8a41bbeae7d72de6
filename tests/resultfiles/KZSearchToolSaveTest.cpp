#include "resultfiles/KZSaveResult.h"
#include "resultfiles/KZSavedResultFormat.h"

#include "platform/Bookmark.h"
#include "platform/FileStat.h"
#include "platform/PropertyList.h"
#include "platform/StringTable.h"
#include "result/model/ModelTestSupport.h"
#include "settings/KZSourceItem.h"
#include "support/LibraryFixtures.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Group and mark of every saved item, by the path its bookmark finds.
std::map<fs::path, std::pair<qint64, bool>> savedItems(const fs::path& file)
{
    QString error;
    const auto saved = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)), &error);
    EXPECT_TRUE(saved.has_value()) << error.toStdString();
    std::map<fs::path, std::pair<qint64, bool>> items;
    if (!saved)
        return items;
    for (const KZSavedItem& item : saved->items) {
        const auto resolved = platform::resolveBookmark(item.alias);
        EXPECT_TRUE(resolved.has_value());
        if (resolved)
            items[resolved->path] = {item.groupId, item.isMarked};
    }
    return items;
}

// Each group keeps exactly one unmarked member.
void expectOneKeptPerGroup(const std::map<fs::path, std::pair<qint64, bool>>& items)
{
    std::map<qint64, int> kept;
    for (const auto& [path, entry] : items)
        kept[entry.first] += entry.second ? 0 : 1;
    for (const auto& [group, count] : kept)
        EXPECT_EQ(count, 1) << "group " << group;
}

// A folder beside the sandbox's home Trash, on its disk, removed at the end.
struct ToolFolder {
    fs::path root = kztest::sandboxHome() / ("tools-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
    ToolFolder() { fs::create_directories(root); }
    ~ToolFolder()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    static inline int count = 0;
};

// Runs a tool; answers its standard output, with its exit code and standard
// error in the places given.
QByteArray run(const fs::path& tool, const QStringList& arguments, int* exitCode, QString* errors)
{
    QProcess process;
    process.start(QString::fromStdString(tool.string()), arguments);
    if (!process.waitForFinished(60000))
        return {};
    *exitCode = process.exitCode();
    *errors = QString::fromUtf8(process.readAllStandardError());
    return process.readAllStandardOutput();
}

QString text(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

TEST(KZSearchToolSave, ASavedSearchMarksAllButOneCopyOfEachGroup)
{
    kztest::TempDir dir;
    const KZFoundItemArray items = modeltest::makeItems({{dir.write("a", "x"), 1, -1, 3, 0, 100.0},
                                                        {dir.write("b", "x"), 1, -1, 3, 0, 200.0},
                                                        {dir.write("c", "yy"), 2, -1, 3, 0, 100.0},
                                                        {dir.write("d", "yy"), 2, -1, 3, 0, 50.0},
                                                        {dir.write("e", "yy"), 2, -1, 3, 0, 70.0}});
    QString error;
    ASSERT_TRUE(KZSaveResult::saveSearchResult(items, {}, {}, dir / "r.maravex", &error)) << error.toStdString();
    const auto saved = savedItems(dir / "r.maravex");
    ASSERT_EQ(saved.size(), 5u);
    EXPECT_FALSE(saved.at(dir / "b").second); // the newest copy stays
    EXPECT_FALSE(saved.at(dir / "c").second);
    expectOneKeptPerGroup(saved);

    EXPECT_FALSE(KZSaveResult::saveSearchResult({}, {}, {}, dir / "none.maravex", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no duplicates")));
    EXPECT_FALSE(fs::exists(dir / "none.maravex"));
}

TEST(KZSearchToolSave, TheCommandLineSearchSavesWhatItPrints)
{
    const fs::path tool = KZ_SEARCH_TOOL;
    if (!fs::exists(tool))
        GTEST_SKIP() << "maravex-search is not built";
    kztest::TempDir dir;
    dir.write("tree/one/a.txt", "duplicate content");
    dir.write("tree/two/a.txt", "duplicate content");
    dir.write("tree/two/b.txt", "duplicate content");
    dir.write("tree/c.bin", "another pair");
    dir.write("tree/d.bin", "another pair");
    dir.write("tree/unique.txt", "alone");
    const fs::path file = dir / "search.maravex";

    QProcess search;
    search.start(QString::fromStdString(tool.string()),
                 {QStringLiteral("--save"), QString::fromStdString(file.string()),
                  QString::fromStdString((dir / "tree").string())});
    ASSERT_TRUE(search.waitForFinished(60000));
    ASSERT_EQ(search.exitCode(), 0) << search.readAllStandardError().toStdString();

    // The printed records: group, size and path.
    std::map<fs::path, qint64> printed;
    for (const QByteArray& line : search.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3)
            printed[fs::path(fields[2].toStdString())] = fields[0].toLongLong();
    }
    ASSERT_EQ(printed.size(), 5u);

    // The tool prints groups numbered by path, the file keeps the engine's
    // numbers: the same groups under other numbers, one to one.
    const auto saved = savedItems(file);
    ASSERT_EQ(saved.size(), printed.size());
    std::map<qint64, qint64> savedToPrinted;
    std::map<qint64, qint64> printedToSaved;
    for (const auto& [path, group] : printed) {
        ASSERT_TRUE(saved.count(path)) << path;
        const qint64 savedGroup = saved.at(path).first;
        EXPECT_EQ(savedToPrinted.emplace(savedGroup, group).first->second, group) << path;
        EXPECT_EQ(printedToSaved.emplace(group, savedGroup).first->second, savedGroup) << path;
    }
    EXPECT_EQ(savedToPrinted.size(), 2u);
    expectOneKeptPerGroup(saved);
}

// Search, save, delete the kept copy of one group, reopen the saved result
// and remove its marked items to the Trash: every group still has a copy.
TEST(KZSearchToolSave, ARemovalFromAStaleSavedResultKeepsACopyOfEveryGroup)
{
    const fs::path searchTool = KZ_SEARCH_TOOL, removeTool = KZ_REMOVE_TOOL;
    if (!fs::exists(searchTool) || !fs::exists(removeTool))
        GTEST_SKIP() << "the command-line tools are not built";
    // Beside the sandbox's home Trash, on its disk.
    const fs::path root = kztest::sandboxHome() / ("reopen-" + std::to_string(::getpid()));
    fs::create_directories(root);
    const auto cleanup = [&root] {
        std::error_code ec;
        fs::remove_all(root, ec);
    };
    for (const char* folder : {"one", "two", "three"}) {
        fs::create_directories(root / folder);
        std::ofstream(root / folder / "a.txt") << "first group's content";
        std::ofstream(root / folder / "b.bin") << "second group, longer content";
    }
    const fs::path file = root / "result.maravex";
    QProcess search;
    search.start(QString::fromStdString(searchTool.string()),
                 {QStringLiteral("--save"), QString::fromStdString(file.string()),
                  QString::fromStdString(root.string())});
    ASSERT_TRUE(search.waitForFinished(60000));
    ASSERT_EQ(search.exitCode(), 0) << search.readAllStandardError().toStdString();

    // The kept copy of one group goes away after saving.
    const auto saved = savedItems(file);
    ASSERT_EQ(saved.size(), 6u);
    std::map<qint64, std::vector<fs::path>> groups;
    fs::path deleted;
    for (const auto& [path, entry] : saved) {
        groups[entry.first].push_back(path);
        if (!entry.second && deleted.empty())
            deleted = path;
    }
    ASSERT_EQ(groups.size(), 2u);
    ASSERT_TRUE(fs::remove(deleted));

    QProcess remove;
    remove.start(QString::fromStdString(removeTool.string()),
                 {QStringLiteral("--trash"), QStringLiteral("--saved"), QString::fromStdString(file.string())});
    ASSERT_TRUE(remove.waitForFinished(60000));
    const QString report = QString::fromUtf8(remove.readAllStandardError());
    EXPECT_EQ(remove.exitCode(), 0) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("unmarked"))) << "the user is told: " << report.toStdString();
    for (const auto& [group, members] : groups) {
        const auto present = std::count_if(members.begin(), members.end(), [](const fs::path& p) { return fs::exists(p); });
        EXPECT_GE(present, 1) << "group " << group;
    }
    const QList<QByteArray> lines = remove.readAllStandardOutput().split('\n');
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const QByteArray& l) { return l.startsWith("removed\t"); }), 3)
        << "two of the intact group, one of the stale one";
    cleanup();
}

// Search and save; then each group's kept copy is rewritten with its old
// size and dates, edited, or replaced by a folder; the tool's removal from
// the saved result loses no content and still removes the untouched group's
// marked copy.
TEST(KZSearchToolSave, ARemovalFromASavedResultWhoseKeptCopiesChangedLosesNoContent)
{
    const fs::path searchTool = KZ_SEARCH_TOOL, removeTool = KZ_REMOVE_TOOL;
    if (!fs::exists(searchTool) || !fs::exists(removeTool))
        GTEST_SKIP() << "the command-line tools are not built";
    ToolFolder folder;
    const fs::path& root = folder.root;
    const std::vector<std::string> contents{"rewritten in place", "edited, dated anew", "a folder took its place",
                                            "left as it was"};
    for (size_t i = 0; i < contents.size(); ++i)
        for (const char* side : {"x", "y"}) {
            fs::create_directories(root / side);
            std::ofstream(root / side / ("f" + std::to_string(i))) << contents[i];
        }
    const fs::path file = root / "result.maravex";
    int code = 0;
    QString errors;
    run(searchTool, {QStringLiteral("--save"), text(file), text(root / "x"), text(root / "y")}, &code, &errors);
    ASSERT_EQ(code, 0) << errors.toStdString();

    // Each group's kept and marked copy, by the content they hold.
    std::map<std::string, std::pair<fs::path, fs::path>> pairs;
    for (const auto& [path, entry] : savedItems(file))
        (entry.second ? pairs[kztest::readFile(path)].second : pairs[kztest::readFile(path)].first) = path;
    ASSERT_EQ(pairs.size(), contents.size());

    const fs::path rewritten = pairs[contents[0]].first;
    const auto st = platform::statPath(rewritten, false);
    std::ofstream(rewritten, std::ios::trunc) << "REWRITTEN IN PLACE";
    const timespec dates[2] = {st->accessed, st->modified};
    ASSERT_EQ(::utimensat(AT_FDCWD, rewritten.c_str(), dates, 0), 0);
    const fs::path edited = pairs[contents[1]].first;
    std::ofstream(edited, std::ios::trunc) << "EDITED, DATED ANEW";
    const timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, edited.c_str(), later, 0), 0);
    const fs::path replaced = pairs[contents[2]].first;
    fs::remove(replaced);
    fs::create_directory(replaced);
    std::ofstream(replaced / "notes.txt") << "the user's";

    const QByteArray out = run(removeTool, {QStringLiteral("--trash"), QStringLiteral("--saved"), text(file)}, &code, &errors);
    EXPECT_EQ(code, 0) << errors.toStdString();
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(kztest::readFile(pairs[contents[i]].second), contents[i]) << "its kept copy was " << contents[i];
    EXPECT_EQ(kztest::readFile(replaced / "notes.txt"), "the user's");
    EXPECT_FALSE(fs::exists(pairs[contents[3]].second));
    EXPECT_EQ(out.count("removed\t"), 1) << out.toStdString();
}

// A photo library searched and saved by the tool, then removed from the
// saved result to the Trash and to a folder: every master stays in the
// package.
TEST(KZSearchToolSave, ASavedPhotoLibrarySearchMovesNoMasterOutOfThePackage)
{
    const fs::path searchTool = KZ_SEARCH_TOOL, removeTool = KZ_REMOVE_TOOL;
    if (!fs::exists(searchTool) || !fs::exists(removeTool))
        GTEST_SKIP() << "the command-line tools are not built";
    ToolFolder folder;
    kztest::PhotosLibraryBuilder builder(folder.root / "Pictures.photoslibrary");
    for (int i = 0; i < 20; ++i)
        builder.image(QStringLiteral("img%1").arg(i), "2024/p" + std::to_string(i) + ".bmp", std::nullopt, 40 + 10 * (i / 2));
    const fs::path package = builder.build();
    const fs::path file = folder.root / "photos.maravex";
    int code = 0;
    QString errors;
    run(searchTool, {QStringLiteral("--save"), text(file), text(package)}, &code, &errors);
    ASSERT_EQ(code, 0) << errors.toStdString();
    ASSERT_EQ(savedItems(file).size(), 20u);

    const fs::path moved = folder.root / "moved";
    fs::create_directories(moved);
    for (const QStringList& job : {QStringList{QStringLiteral("--trash")}, QStringList{QStringLiteral("--move-to"), text(moved)}}) {
        const QByteArray out = run(removeTool, job + QStringList{QStringLiteral("--saved"), text(file)}, &code, &errors);
        EXPECT_EQ(code, 0) << errors.toStdString();
        EXPECT_EQ(out.count("removed\t"), 0) << out.toStdString();
        for (int i = 0; i < 20; ++i)
            EXPECT_TRUE(fs::exists(package / "Masters/2024" / ("p" + std::to_string(i) + ".bmp"))) << i;
    }
    EXPECT_TRUE(fs::is_empty(moved));
}

// A saved result holding a marked track of a music library: the tool leaves
// the track in the library, to the Trash and to a folder, and reports it
// kept with the reason, while the plain file beside it goes.
TEST(KZSearchToolSave, ASavedMusicLibraryTrackIsReportedKeptAndStays)
{
    const fs::path removeTool = KZ_REMOVE_TOOL;
    if (!fs::exists(removeTool))
        GTEST_SKIP() << "the command-line tools are not built";
    ToolFolder folder;
    const fs::path& root = folder.root;
    const fs::path track = root / "Music/iTunes Media/a.mp3", loose = root / "loose/a.mp3";
    const fs::path older = root / "docs/x", newer = root / "keep/x";
    for (const auto& [path, content] : {std::pair(track, "song"), std::pair(loose, "song"), std::pair(older, "plain"),
                                        std::pair(newer, "plain")}) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << content;
    }
    // The older copy of each group is the one marked.
    const timespec dates[2] = {{0, UTIME_OMIT}, {1500000000, 0}};
    for (const fs::path& path : {track, older})
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), dates, 0), 0);
    const KZFoundItemArray items = modeltest::makeItems(
        {{.path = track, .group = 1, .owner = KZAppSuppInfo::ITunes}, {.path = loose, .group = 1},
         {.path = older, .group = 2}, {.path = newer, .group = 2}});
    items[0]->setTrackID(QStringLiteral("00FF00FF00FF00FF"));
    const fs::path file = root / "music.maravex";
    QString error;
    ASSERT_TRUE(KZSaveResult::saveSearchResult(items, {}, {KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(root)}})},
                                               file, &error))
        << error.toStdString();
    ASSERT_TRUE(savedItems(file).at(track).second) << "the track is marked";

    const fs::path moved = root / "moved";
    fs::create_directories(moved);
    for (const QStringList& job : {QStringList{QStringLiteral("--move-to"), text(moved)}, QStringList{QStringLiteral("--trash")}}) {
        int code = 0;
        QString errors;
        const QByteArray out = run(removeTool, job + QStringList{QStringLiteral("--saved"), text(file)}, &code, &errors);
        EXPECT_EQ(code, 0) << errors.toStdString();
        const QByteArray line = QByteArray("kept\tmusic_not_removed\t") + QByteArray::fromStdString(track.string());
        EXPECT_TRUE(out.split('\n').contains(line))
            << out.toStdString();
        EXPECT_TRUE(errors.contains(platform::localizedString(QStringLiteral("music_not_removed_sing"), QStringLiteral("Errors"))))
            << errors.toStdString();
        EXPECT_EQ(kztest::readFile(track), "song");
        EXPECT_FALSE(fs::exists(moved / "Music")) << job.join(u' ').toStdString();
    }
    EXPECT_FALSE(fs::exists(older)) << "the plain file beside the track goes";
}

// A found item whose path is longer than the system takes in one piece is
// reached folder by folder: the saved file keeps it, with nothing left out.
TEST(KZSearchToolSave, TheCommandLineSaveKeepsAnItemBeyondTheLongestPath)
{
    const fs::path tool = KZ_SEARCH_TOOL;
    if (!fs::exists(tool))
        GTEST_SKIP() << "maravex-search is not built";
    kztest::TempDir dir;
    dir.write("tree/a.txt", "duplicate content");
    dir.write("tree/b.txt", "duplicate content");
    const fs::path deep = kztest::makeFolderChain(dir / "tree", 20, std::string(250, 'd'),
                                                  {{"c.txt", "duplicate content"}});
    ASSERT_FALSE(deep.empty());
    ASSERT_GT(deep.native().size(), 4096u);
    const fs::path file = dir / "search.maravex";

    int exitCode = -1;
    QString errors;
    const QByteArray printed = run(tool, {QStringLiteral("--save"), QString::fromStdString(file.string()),
                                          QString::fromStdString((dir / "tree").string())},
                                   &exitCode, &errors);
    EXPECT_EQ(printed.count('\n'), 3) << printed.toStdString() << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("The result was saved without"))) << errors.toStdString();
    EXPECT_EQ(exitCode, 0) << errors.toStdString();
    EXPECT_EQ(savedItems(file).size(), 3u);
    // The chain is deeper than a path may be: it goes as it was made.
    kztest::removeFolderChain(dir / "tree", std::string(250, 'd'));
}

namespace {

// Searches `sources` with the tool, saves the result, and removes its marked
// items from the saved file with `job`: every marked item goes and the
// reopening tells nothing, as nothing changed on disk in between.
void expectTheSavedResultRemovesAllItsMarks(const fs::path& root, const QStringList& sources, const QStringList& job)
{
    const fs::path searchTool = KZ_SEARCH_TOOL, removeTool = KZ_REMOVE_TOOL;
    const fs::path file = root / "result.maravex";
    int code = 0;
    QString errors;
    run(searchTool, QStringList{QStringLiteral("--save"), text(file)} + sources, &code, &errors);
    ASSERT_EQ(code, 0) << errors.toStdString();
    const auto saved = savedItems(file);
    std::set<fs::path> marked;
    for (const auto& [path, entry] : saved)
        if (entry.second)
            marked.insert(path);
    ASSERT_FALSE(marked.empty());

    const QByteArray out = run(removeTool, job + QStringList{QStringLiteral("--saved"), text(file)}, &code, &errors);
    EXPECT_EQ(code, 0) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("left out"))) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("unmarked"))) << errors.toStdString();
    std::set<fs::path> removed;
    for (const QByteArray& line : out.split('\n'))
        if (line.startsWith("removed\t"))
            removed.insert(fs::path(line.split('\t').value(2).toStdString()));
    EXPECT_EQ(removed, marked) << out.toStdString();
    std::map<qint64, int> left;
    for (const auto& [path, entry] : saved)
        left[entry.first] += fs::exists(fs::symlink_status(path)) ? 1 : 0;
    for (const auto& [group, count] : left)
        EXPECT_EQ(count, 1) << "group " << group;
}

} // namespace

// A source inside another one (the outer one leaves it to the inner one):
// the saved result's items under the inner source are as much part of it
// as the others, and its marked ones move with them.
TEST(KZSearchToolSave, ASavedSearchOfNestedSourcesRemovesTheInnerSourcesItems)
{
    if (!fs::exists(fs::path(KZ_SEARCH_TOOL)) || !fs::exists(fs::path(KZ_REMOVE_TOOL)))
        GTEST_SKIP() << "the command-line tools are not built";
    ToolFolder folder;
    const fs::path& root = folder.root;
    for (const auto& [path, content] :
         {std::pair("A/notes.txt", "the notes"), std::pair("B/notes.txt", "the notes"),
          std::pair("A/sub/song.mp3", "a song, longer"), std::pair("B/song.mp3", "a song, longer"),
          std::pair("A/sub/pic.png", "a picture, only in A"), std::pair("A/pic.png", "a picture, only in A")}) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << content;
    }
    fs::create_directories(root / "moved");
    expectTheSavedResultRemovesAllItsMarks(root, {text(root / "A"), text(root / "B"), text(root / "A/sub")},
                                           {QStringLiteral("--move-to"), text(root / "moved")});
}

// Hard links to one file are duplicates of each other in a search; the
// saved result keeps both paths, and the marked link goes.
TEST(KZSearchToolSave, ASavedSearchWithHardLinksRemovesTheMarkedLink)
{
    if (!fs::exists(fs::path(KZ_SEARCH_TOOL)) || !fs::exists(fs::path(KZ_REMOVE_TOOL)))
        GTEST_SKIP() << "the command-line tools are not built";
    ToolFolder folder;
    const fs::path& root = folder.root;
    fs::create_directories(root / "tree/links");
    std::ofstream(root / "tree/photo.jpg") << "the photo's bytes";
    fs::create_hard_link(root / "tree/photo.jpg", root / "tree/links/photo.jpg");
    std::ofstream(root / "tree/other.txt") << "a pair";
    std::ofstream(root / "tree/links/other.txt") << "a pair";
    expectTheSavedResultRemovesAllItsMarks(root, {text(root / "tree")}, {QStringLiteral("--trash")});
}

// The removal tool says a saved result's folder records are damaged when they
// are, and sends the user looking for folders only when those are gone.
TEST(KZSearchToolSave, DamagedFolderRecordsAreToldApartFromFoldersThatWent)
{
    const fs::path removeTool = KZ_REMOVE_TOOL;
    if (!fs::exists(removeTool))
        GTEST_SKIP() << "the command-line tools are not built";
    kztest::TempDir dir;
    const auto tell = [&](const QByteArray& alias) {
        KZSavedResult saved;
        KZSavedItem item;
        item.alias = platform::createBookmark(dir.write("kept/a", "a"));
        item.groupId = 1;
        item.countOfItemsInGroup = 1;
        saved.items = {item};
        KZSavedSource source;
        source.alias = alias;
        saved.sources = {source};
        const fs::path file = dir / "result.maravex";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << KZSavedResultFormat::encode(saved).toStdString();
        int code = 0;
        QString errors;
        run(removeTool, {QStringLiteral("--trash"), QStringLiteral("--saved"), text(file)}, &code, &errors);
        EXPECT_EQ(code, 1) << errors.toStdString();
        return errors;
    };
    const QString damaged = tell(QByteArray("not a reference"));
    EXPECT_TRUE(damaged.contains(QStringLiteral("damaged"))) << damaged.toStdString();

    // Its parent goes too: a file made later in the same folder could take
    // the freed inode and pass for the folder renamed.
    const QByteArray went = platform::createBookmark(dir.mkdir("gone/went"));
    fs::remove_all(dir / "gone");
    const QString gone = tell(went);
    EXPECT_TRUE(gone.contains(QStringLiteral("can be found"))) << gone.toStdString();
    EXPECT_FALSE(gone.contains(QStringLiteral("damaged"))) << gone.toStdString();

    // Its parent kept, and a file made there since holds the folder's old
    // inode number (as ext4 hands it out at once; written into the record
    // here, so that any disk shows it): the file is no folder renamed.
    const QByteArray folderRecord = platform::createBookmark(dir.mkdir("parent/went"));
    const auto newcomer = platform::statPath(dir.write("parent/newcomer.maravex", "a file"), false);
    ASSERT_TRUE(newcomer);
    QVariantMap onItsInode = platform::PropertyList::fromData(folderRecord)->toMap();
    onItsInode.insert(QStringLiteral("inode"), newcomer->inode);
    fs::remove(dir / "parent/went");
    const QString stranger =
        tell(platform::PropertyList::toData(onItsInode, platform::PropertyList::Format::Binary));
    EXPECT_TRUE(stranger.contains(QStringLiteral("none of the saved result's folders can be found")))
        << stranger.toStdString();
    EXPECT_FALSE(stranger.contains(QStringLiteral("outside the searched folders"))) << stranger.toStdString();
    EXPECT_TRUE(fs::exists(dir / "parent/newcomer.maravex"));
}

// maravex-search saves its search; the searched folder, or the folder above
// it, is renamed; maravex-remove takes the saved result's items where they
// are now and removes its marked ones. The searched folder moved into
// another folder is not followed, and the tool says it cannot find it.
TEST(KZSearchToolSave, ARemovalFromASavedResultFollowsARenamedSearchedFolder)
{
    const fs::path searchTool = KZ_SEARCH_TOOL, removeTool = KZ_REMOVE_TOOL;
    if (!fs::exists(searchTool) || !fs::exists(removeTool))
        GTEST_SKIP() << "the command-line tools are not built";
    struct Case {
        const char* name;
        const char* from;
        const char* to;
        const char* searchedNow; // nullptr: not found
    };
    for (const Case& kase : {Case{"the searched folder renamed", "top/searched", "top/renamed", "top/renamed"},
                             Case{"the folder above renamed", "top", "top now", "top now/searched"},
                             Case{"moved into another folder", "top/searched", "elsewhere/searched", nullptr}}) {
        SCOPED_TRACE(kase.name);
        ToolFolder folder;
        for (const char* sub : {"one", "two", "three"}) {
            fs::create_directories(folder.root / "top/searched" / sub);
            std::ofstream(folder.root / "top/searched" / sub / "a.txt") << "first group's content";
            std::ofstream(folder.root / "top/searched" / sub / "b.bin") << "second group, longer content";
        }
        fs::create_directories(folder.root / "elsewhere");
        const fs::path file = folder.root / "result.maravex";
        int exitCode = -1;
        QString errors;
        run(searchTool, {QStringLiteral("--save"), text(file), text(folder.root / "top/searched")}, &exitCode, &errors);
        ASSERT_EQ(exitCode, 0) << errors.toStdString();
        fs::rename(folder.root / kase.from, folder.root / kase.to);

        const QByteArray out = run(removeTool, {QStringLiteral("--trash"), QStringLiteral("--saved"), text(file)},
                                   &exitCode, &errors);
        if (!kase.searchedNow) {
            EXPECT_EQ(exitCode, 1);
            EXPECT_TRUE(errors.contains(QStringLiteral("none of the saved result's folders can be found")))
                << errors.toStdString();
            EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder.root / "elsewhere/searched"),
                                    fs::recursive_directory_iterator()),
                      9);
            continue;
        }
        EXPECT_EQ(exitCode, 0) << errors.toStdString();
        EXPECT_FALSE(errors.contains(QStringLiteral("no longer where"))) << errors.toStdString();
        const QList<QByteArray> lines = out.split('\n');
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const QByteArray& l) { return l.startsWith("removed\t"); }),
                  4)
            << out.toStdString();
        for (const char* name : {"a.txt", "b.bin"}) {
            int left = 0;
            for (const char* sub : {"one", "two", "three"})
                left += fs::exists(folder.root / kase.searchedNow / sub / name);
            EXPECT_EQ(left, 1) << name;
        }
    }
}
