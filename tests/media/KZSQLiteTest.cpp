#include "media/KZSQLite.h"

#include "support/LibraryFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

QString str(const char* text)
{
    return QString::fromUtf8(text);
}

std::vector<std::string> listing(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(entry.path().native());
    std::sort(names.begin(), names.end());
    return names;
}

// Every entry below `folder` with its size, a digest of its bytes and its
// modification time.
std::map<std::string, std::string> contents(const fs::path& folder)
{
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string bytes;
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        found[entry.path().lexically_relative(folder).native()]
            = std::to_string(bytes.size()) + " bytes, digest " + std::to_string(std::hash<std::string>{}(bytes))
            + ", changed " + std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count());
    }
    return found;
}

// Points the temporary folder somewhere a test can look into.
class ScopedTemporaryFolder {
public:
    explicit ScopedTemporaryFolder(const fs::path& folder)
    {
        if (const char* old = std::getenv("TMPDIR"))
            old_ = old;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~ScopedTemporaryFolder()
    {
        if (old_)
            ::setenv("TMPDIR", old_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    ScopedTemporaryFolder(const ScopedTemporaryFolder&) = delete;
    ScopedTemporaryFolder& operator=(const ScopedTemporaryFolder&) = delete;

private:
    std::optional<std::string> old_;
};

QStringList uuids(const std::optional<KZSQLite::Rows>& rows)
{
    QStringList found;
    for (const KZSQLite::Row& row : rows.value_or(KZSQLite::Rows()))
        found << row.value(QStringLiteral("uuid")).toString();
    return found;
}

// A database with the values that list mode or a split read gets wrong.
fs::path awkwardDatabase(const kztest::TempDir& dir)
{
    const fs::path db = dir / "awkward.db";
    EXPECT_EQ(kztest::runSQLiteScript(db, "CREATE TABLE t (id INTEGER, a TEXT, b TEXT);\n"
                                          "INSERT INTO t VALUES (1, 'x|y', 'line\none');\n"
                                          "INSERT INTO t VALUES (2, NULL, 'say \"hi\", twice');\n"
                                          "INSERT INTO t VALUES (3, 'crlf' || char(13, 10) || 'end', '');\n"
                                          "INSERT INTO t VALUES (4, 'Grüße 日本 😀', ' padded ');\n"),
              "");
    return db;
}

const QString kFields = QStringLiteral("id, a, b");
const QString kSelect = QStringLiteral("select id, a, b from t");

// A photo library in WAL mode whose log holds the row of "new", the
// database itself only that of "old".
fs::path walLibrary(const kztest::TempDir& dir)
{
    return kztest::PhotosLibraryBuilder(dir / "Family.photoslibrary")
        .image(str("old"), "old.jpg")
        .inWAL()
        .image(str("new"), "new.jpg")
        .build();
}

} // namespace

TEST(KZSQLite, ValuesKeepTheirRowsAndNoRowsIsNotAFailure)
{
    kztest::TempDir dir;
    const fs::path db = awkwardDatabase(dir);
    const auto before = listing(dir.path());

    QString error;
    const auto rows = KZSQLite::sharedControl().dataFromSQLDatabase(db, kSelect, kFields, &error);
    ASSERT_TRUE(rows) << error.toStdString();
    ASSERT_EQ(rows->size(), 4);
    const QStringList expected[] = {
        {str("1"), str("x|y"), str("line\none")},
        {str("2"), str(""), str("say \"hi\", twice")},
        {str("3"), str("crlf\r\nend"), str("")},
        {str("4"), str("Grüße 日本 😀"), str(" padded ")},
    };
    for (int i = 0; i < 4; ++i) {
        const KZSQLite::Row& row = rows->at(i);
        EXPECT_EQ(row.size(), 3);
        EXPECT_EQ(row.value(str("id")).toString(), expected[i][0]);
        EXPECT_EQ(row.value(str("a")).toString(), expected[i][1]);
        EXPECT_EQ(row.value(str("b")).toString(), expected[i][2]);
    }

    // One field: a row whose only value is NULL is still a row.
    const auto single = KZSQLite::sharedControl().dataFromSQLDatabase(db, str("select a from t where id = 2"), str("a"));
    ASSERT_TRUE(single);
    ASSERT_EQ(single->size(), 1);
    EXPECT_EQ(single->front().value(str("a")).toString(), str(""));

    const auto none = KZSQLite::sharedControl().dataFromSQLDatabase(db, kSelect + str(" where id > 9"), kFields, &error);
    ASSERT_TRUE(none) << error.toStdString();
    EXPECT_TRUE(none->isEmpty());

    // Read-only: no journal or other file appears beside the database.
    EXPECT_EQ(listing(dir.path()), before);
}

TEST(KZSQLite, FailuresAreToldApartFromEmptyResults)
{
    kztest::TempDir dir;
    const fs::path db = awkwardDatabase(dir);
    KZSQLite& runner = KZSQLite::sharedControl();
    QString error;

    EXPECT_FALSE(runner.dataFromSQLDatabase(db, str("select a from missing"), str("a"), &error));
    EXPECT_TRUE(error.contains(str("missing"))) << error.toStdString();

    // A missing database is never created, not even as an empty file.
    const fs::path gone = dir / "library" / "gone.db";
    fs::create_directories(gone.parent_path());
    EXPECT_FALSE(runner.dataFromSQLDatabase(gone, kSelect, kFields, &error));
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::is_empty(gone.parent_path()));
    EXPECT_FALSE(runner.dataFromSQLDatabase(dir.path(), kSelect, kFields)); // a folder
    EXPECT_FALSE(runner.dataFromSQLDatabase(dir.write("text.db", "not a database"), kSelect, kFields));
    // More columns than field names would shift every value.
    EXPECT_FALSE(runner.dataFromSQLDatabase(db, kSelect, str("id, a"), &error));

    EXPECT_FALSE(KZSQLite(dir / "no-such-tool").dataFromSQLDatabase(db, kSelect, kFields, &error));
    EXPECT_FALSE(error.isEmpty());

    // A tool that prints rows but complains, or exits with a failure.
    const fs::path complaining = dir.write("complaining", "#!/bin/sh\necho '1,a,b'\necho 'Error: oops' >&2\n");
    const fs::path failing = dir.write("failing", "#!/bin/sh\necho '1,a,b'\nexit 1\n");
    const fs::path hanging = dir.write("hanging", "#!/bin/sh\necho '1,a,b'\nsleep 30\n");
    for (const fs::path& tool : {complaining, failing, hanging})
        fs::permissions(tool, fs::perms::owner_all);
    EXPECT_FALSE(KZSQLite(complaining).dataFromSQLDatabase(db, kSelect, kFields, &error));
    EXPECT_TRUE(error.contains(str("oops"))) << error.toStdString();
    EXPECT_FALSE(KZSQLite(failing).dataFromSQLDatabase(db, kSelect, kFields));
    EXPECT_FALSE(KZSQLite(hanging, 300ms).dataFromSQLDatabase(db, kSelect, kFields, &error));
    EXPECT_TRUE(error.contains(str("stopped"))) << error.toStdString();
}

TEST(KZSQLite, LargeOutputsArriveWhole)
{
    kztest::TempDir dir;
    const fs::path db = dir / "large.db";
    // 100,000 rows, and values of two- and four-byte characters long enough
    // that every read of the pipe ends inside one of them somewhere.
    ASSERT_EQ(kztest::runSQLiteScript(
                  db, "CREATE TABLE big (n INTEGER, v TEXT);\n"
                      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 100000)\n"
                      "INSERT INTO big SELECT x, 'row ' || x FROM c;\n"
                      "CREATE TABLE wide (v TEXT);\n"
                      "INSERT INTO wide VALUES (replace(hex(zeroblob(50001)), '00', 'é'));\n"
                      "INSERT INTO wide VALUES ('a' || replace(hex(zeroblob(30001)), '00', '😀'));\n"),
              "");
    QString error;
    const auto rows = KZSQLite::sharedControl().dataFromSQLDatabase(db, str("select n, v from big"), str("n, v"), &error);
    ASSERT_TRUE(rows) << error.toStdString();
    ASSERT_EQ(rows->size(), 100000);
    EXPECT_EQ(rows->front().value(str("v")).toString(), str("row 1"));
    EXPECT_EQ(rows->at(54320).value(str("n")).toString(), str("54321"));
    EXPECT_EQ(rows->back().value(str("v")).toString(), str("row 100000"));

    const auto wide = KZSQLite::sharedControl().dataFromSQLDatabase(db, str("select v from wide"), str("v"));
    ASSERT_TRUE(wide);
    ASSERT_EQ(wide->size(), 2);
    EXPECT_EQ(wide->at(0).value(str("v")).toString(), QString(50001, QChar(0xE9)));
    QString emoji = str("a");
    for (int i = 0; i < 30001; ++i)
        emoji += str("😀");
    EXPECT_EQ(wide->at(1).value(str("v")).toString(), emoji);
}

TEST(KZSQLite, UserSettingsAndParallelCallsChangeNothing)
{
    kztest::TempDir dir;
    const fs::path db = awkwardDatabase(dir);
    // A ~/.sqliterc that switches modes and headers must not reach the output.
    const fs::path rc = kztest::sandboxHome() / ".sqliterc";
    std::ofstream(rc) << ".headers on\n.mode list\n.nullvalue NULL\n";
    const auto rows = KZSQLite::sharedControl().dataFromSQLDatabase(db, kSelect, kFields);
    fs::remove(rc);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 4);
    EXPECT_EQ(rows->at(0).value(str("a")).toString(), str("x|y"));
    EXPECT_EQ(rows->at(1).value(str("a")).toString(), str(""));

    const auto expected = *rows;
    std::atomic<int> matches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                const auto again = KZSQLite::sharedControl().dataFromSQLDatabase(db, kSelect, kFields);
                if (again && *again == expected)
                    ++matches;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(matches.load(), 40);
}

TEST(KZSQLite, CSVRecords)
{
    const auto records = KZSQLite::parseCSV("1,\"a\r\nb\",\r\n2,\"\"\"\",x\n3");
    ASSERT_TRUE(records);
    const QList<QStringList> expected{{str("1"), str("a\r\nb"), str("")}, {str("2"), str("\""), str("x")}, {str("3")}};
    EXPECT_EQ(*records, expected);
    EXPECT_FALSE(KZSQLite::parseCSV("1,\"unfinished\n"));
    EXPECT_TRUE(KZSQLite::parseCSV("")->isEmpty());
}

// A library whose database is in WAL mode is read with the rows of its log,
// and neither the package nor the temporary folder keeps a trace of it.
TEST(KZSQLite, AWALDatabaseIsReadWithoutWritingBesideIt)
{
    kztest::TempDir dir, scratch;
    const ScopedTemporaryFolder temporary(scratch.path());
    const fs::path package = walLibrary(dir);
    const fs::path db = package / "database" / "Photos.db";
    ASSERT_TRUE(fs::exists(db.native() + "-wal"));
    ASSERT_FALSE(fs::exists(db.native() + "-shm"));
    const QString select = str("select uuid from RKVersion order by uuid");
    KZSQLite& runner = KZSQLite::sharedControl();
    QString error;

    auto before = contents(package);
    EXPECT_EQ(uuids(runner.dataFromSQLDatabase(db, select, str("uuid"), &error)), (QStringList{str("new"), str("old")}))
        << error.toStdString();
    EXPECT_EQ(contents(package), before);
    EXPECT_TRUE(fs::is_empty(scratch.path()));

    // The index the owning program left is neither needed nor touched, and
    // neither are folders we may not write to; parallel reads each copy
    // for themselves.
    dir.write("Family.photoslibrary/database/Photos.db-shm", std::string(32768, '\x7f'));
    fs::permissions(db.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    before = contents(package);
    std::atomic<int> complete{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] { complete += uuids(runner.dataFromSQLDatabase(db, select, str("uuid"))).size() == 2; });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(complete.load(), 4);
    fs::permissions(db.parent_path(), fs::perms::owner_all);
    EXPECT_EQ(contents(package), before);

    // A failing statement leaves no copy behind either.
    EXPECT_FALSE(runner.dataFromSQLDatabase(db, str("select uuid from missing"), str("uuid"), &error));
    EXPECT_TRUE(error.contains(str("missing"))) << error.toStdString();
    EXPECT_TRUE(fs::is_empty(scratch.path()));

    // In WAL mode without a log file: the tool would create both files.
    const fs::path folded = dir / "folded" / "Photos.db";
    fs::create_directories(folded.parent_path());
    ASSERT_EQ(kztest::runSQLiteScript(folded, "PRAGMA journal_mode=WAL;\nCREATE TABLE t (uuid TEXT);\n"
                                              "INSERT INTO t VALUES ('only');\n"),
              "");
    ASSERT_FALSE(fs::exists(folded.native() + "-wal"));
    before = contents(folded.parent_path());
    EXPECT_EQ(uuids(runner.dataFromSQLDatabase(folded, str("select uuid from t"), str("uuid"))), QStringList{str("only")});
    EXPECT_EQ(contents(folded.parent_path()), before);
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}

// Several statements on one WAL database read one copy of it; the first
// failure is the answer for all of them and leaves no copy behind.
TEST(KZSQLite, StatementsInTurnAnswerInOrderOrFailTogether)
{
    kztest::TempDir dir, scratch;
    const ScopedTemporaryFolder temporary(scratch.path());
    const fs::path package = walLibrary(dir);
    const fs::path db = package / "database" / "Photos.db";
    KZSQLite& runner = KZSQLite::sharedControl();
    const KZSQLite::Query descending{str("select uuid from RKVersion order by uuid desc"), str("uuid")};
    const KZSQLite::Query ascending{str("select uuid from RKVersion order by uuid"), str("uuid")};
    const auto before = contents(package);
    QString error;

    const auto answers = runner.dataFromSQLDatabase(db, {descending, ascending}, &error);
    ASSERT_TRUE(answers) << error.toStdString();
    ASSERT_EQ(answers->size(), 2u);
    EXPECT_EQ(uuids((*answers)[0]), (QStringList{str("old"), str("new")}));
    EXPECT_EQ(uuids((*answers)[1]), (QStringList{str("new"), str("old")}));

    const KZSQLite::Query missing{str("select uuid from missing"), str("uuid")};
    EXPECT_FALSE(runner.dataFromSQLDatabase(db, {ascending, missing, descending}, &error));
    EXPECT_TRUE(error.contains(str("missing"))) << error.toStdString();
    EXPECT_EQ(contents(package), before);
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}

// A library whose log is a pipe, a link to an endless device or a link at
// all is refused at once with the reason, and nothing of the attempt stays
// in the temporary folder; a pipe at the rollback journal's place is refused
// before the tool could wait on it.
TEST(KZSQLite, ALogThatIsNoRegularFileIsRefusedAtOnce)
{
    kztest::TempDir dir, scratch;
    const ScopedTemporaryFolder temporary(scratch.path());
    const fs::path package = walLibrary(dir);
    const fs::path db = package / "database" / "Photos.db";
    const fs::path wal(db.native() + "-wal");
    const QString select = str("select uuid from RKVersion");
    KZSQLite& runner = KZSQLite::sharedControl();

    // Were /dev/zero copied, the copy would end at this bound, not at a full disk.
    rlimit oldLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    const rlimit bound{64 << 20, oldLimit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &bound), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);

    const auto refused = [&](const char* what) {
        QString error;
        EXPECT_FALSE(runner.dataFromSQLDatabase(db, select, str("uuid"), &error)) << what;
        EXPECT_TRUE(error.contains(str("not a regular file"))) << what << ": " << error.toStdString();
        EXPECT_TRUE(fs::is_empty(scratch.path())) << what;
    };
    fs::remove(wal);
    fs::create_symlink("/dev/zero", wal);
    refused("a link to /dev/zero");
    fs::remove(wal);
    ASSERT_EQ(::mkfifo(wal.c_str(), 0600), 0);
    refused("a pipe");
    fs::remove(wal);

    const fs::path rollback = dir / "rollback" / "Photos.db";
    fs::create_directories(rollback.parent_path());
    ASSERT_EQ(kztest::runSQLiteScript(rollback, "CREATE TABLE t (uuid TEXT);\nINSERT INTO t VALUES ('one');\n"), "");
    const fs::path journal(rollback.native() + "-journal");
    ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
    QString error;
    EXPECT_FALSE(runner.dataFromSQLDatabase(rollback, str("select uuid from t"), str("uuid"), &error));
    EXPECT_TRUE(error.contains(str("not a regular file"))) << error.toStdString();
    EXPECT_EQ(fs::symlink_status(journal).type(), fs::file_type::fifo);

    std::signal(SIGXFSZ, oldHandler);
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
}

// Private copies that a killed run left are removed by the next read, but
// only our own folders whose process is gone; one in use, another user's, a
// link or anything not named as ours stays.
TEST(KZSQLite, CopiesLeftByAKilledRunAreRemovedAndNothingElse)
{
    kztest::TempDir dir, scratch;
    const ScopedTemporaryFolder temporary(scratch.path());
    const fs::path db = walLibrary(dir) / "database" / "Photos.db";

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string gone = "maravex-sqlite-" + std::to_string(child) + "-";
    const std::string alive = "maravex-sqlite-" + std::to_string(::getppid()) + "-";

    scratch.write(gone + "aB3dE9/Photos.db-wal", std::string(4096, 'x'));
    scratch.write(alive + "aB3dE9/Photos.db", "in use");
    scratch.write("maravex-sqlite-Xy12Zq/Photos.db", "not named with its owner");
    scratch.write("other-" + std::to_string(child) + "-aB3dE9/keep", "not ours");
    fs::create_symlink(dir.path(), scratch / (gone + "link00"));
    const fs::path foreign = scratch.mkdir(gone + "nobody");
    scratch.write(gone + "nobody/keep", "another user's");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }

    QString error;
    ASSERT_TRUE(KZSQLite::sharedControl().dataFromSQLDatabase(db, str("select uuid from RKVersion"), str("uuid"), &error))
        << error.toStdString();
    EXPECT_FALSE(fs::exists(scratch / (gone + "aB3dE9")));
    EXPECT_TRUE(fs::exists(scratch / (alive + "aB3dE9/Photos.db")));
    EXPECT_TRUE(fs::exists(scratch / "maravex-sqlite-Xy12Zq/Photos.db"));
    EXPECT_TRUE(fs::exists(scratch / ("other-" + std::to_string(child) + "-aB3dE9/keep")));
    EXPECT_TRUE(fs::is_symlink(scratch / (gone + "link00")));
    EXPECT_TRUE(fs::exists(dir.path()));
    if (root) {
        EXPECT_TRUE(fs::exists(foreign / "keep"));
    } else {
        EXPECT_FALSE(fs::exists(foreign)); // our own after all
    }
}

// A log that claims far more than it holds (a sparse file) is copied as
// the holes it is: the copy takes the source's blocks, not its size, and
// a small temporary disk reads it. A log whose data would not leave room
// on that disk is refused before a byte is written, with the reason.
TEST(KZSQLite, ASparseLogIsCopiedAsHolesAndNeverPastTheRoomLeft)
{
    kztest::TempDir dir, scratch;
    const fs::path db = walLibrary(dir) / "database" / "Photos.db";
    const fs::path wal(db.native() + "-wal");
    const QString select = str("select uuid from RKVersion order by uuid");

    // The tool shown the copy tells its size and the blocks it takes.
    const fs::path telling =
        dir.write("telling", "#!/bin/sh\nfor a; do read=$statement; statement=$a; done\nstat -c '%s,%b' \"$read-wal\"\n");
    fs::permissions(telling, fs::perms::owner_all);
    {
        const ScopedTemporaryFolder temporary(scratch.path());
        ASSERT_EQ(::truncate(wal.c_str(), off_t(256) << 20), 0);
        QString error;
        const auto told = KZSQLite(telling).dataFromSQLDatabase(db, str("select"), str("size, blocks"), &error);
        ASSERT_TRUE(told && told->size() == 1) << error.toStdString();
        EXPECT_EQ(told->front().value(str("size")).toString(), QString::number(256 << 20));
        EXPECT_LT(told->front().value(str("blocks")).toLongLong(), 4096) << "the holes were written out";
        EXPECT_TRUE(fs::is_empty(scratch.path()));
    }

    const fs::path small = scratch / "small";
    const auto outcome = kztest::runWithPrivateMounts([&] {
        kztest::mountTmpfs(small, "mode=0700,size=16m");
        const ScopedTemporaryFolder temporary(small);
        KZSQLite& runner = KZSQLite::sharedControl();
        QString error;
        ASSERT_EQ(::truncate(wal.c_str(), off_t(20) << 30), 0);
        EXPECT_EQ(uuids(runner.dataFromSQLDatabase(db, select, str("uuid"), &error)),
                  (QStringList{str("new"), str("old")}))
            << error.toStdString();
        EXPECT_TRUE(fs::is_empty(small));

        // A database whose header says WAL is copied on the same road, and
        // one that claims 20 GB beyond its pages is copied as holes too.
        const fs::path claiming = dir / "claiming" / "Photos.db";
        fs::create_directories(claiming.parent_path());
        ASSERT_EQ(kztest::runSQLiteScript(claiming, "PRAGMA journal_mode=WAL;\nCREATE TABLE t (uuid TEXT);\n"
                                                    "INSERT INTO t VALUES ('only');\n"),
                  "");
        ASSERT_EQ(::truncate(claiming.c_str(), off_t(20) << 30), 0);
        EXPECT_EQ(uuids(runner.dataFromSQLDatabase(claiming, str("select uuid from t"), str("uuid"), &error)),
                  QStringList{str("only")})
            << error.toStdString();
        EXPECT_TRUE(fs::is_empty(small));

        // 20 MB of data in the log: more than the disk holds.
        {
            std::ofstream out(wal, std::ios::binary | std::ios::app);
            out.seekp(0, std::ios::end);
            const std::string block(1 << 20, 'x');
            for (int i = 0; i < 20; ++i)
                out << block;
        }
        EXPECT_FALSE(runner.dataFromSQLDatabase(db, select, str("uuid"), &error));
        EXPECT_TRUE(error.contains(str("has room for"))) << error.toStdString();
        EXPECT_TRUE(fs::is_empty(small));
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace for a small temporary disk";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

// A database of a few kilobytes whose view never ends makes the tool print
// without end: it is stopped at a bound that fits the database's size, and
// so are more rows than such a database could hold.
TEST(KZSQLite, AnEndlessAnswerIsStoppedAtABoundFittingTheDatabase)
{
    kztest::UserFolder dir;
    const fs::path db = dir / "endless.db";
    ASSERT_EQ(kztest::runSQLiteScript(
                  db, "CREATE TABLE t (x INTEGER);\n"
                      "CREATE VIEW endless AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)\n"
                      "  SELECT x, 'a row of text that goes on' AS v FROM c;\n"
                      "CREATE VIEW many AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)\n"
                      "  SELECT NULL AS v FROM c LIMIT 300000;\n"
                      "CREATE VIEW sorted AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)\n"
                      "  SELECT x, hex(randomblob(100)) AS v FROM c ORDER BY v;\n"),
              "");
    ASSERT_LT(fs::file_size(db), 100u << 10);
    KZSQLite& runner = KZSQLite::sharedControl();
    QString error;
    EXPECT_FALSE(runner.dataFromSQLDatabase(db, str("select x, v from endless"), str("x, v"), &error));
    EXPECT_TRUE(error.contains(str("was stopped")) && error.contains(str("printed more than")))
        << error.toStdString();
    EXPECT_FALSE(runner.dataFromSQLDatabase(db, str("select v from many"), str("v"), &error));
    EXPECT_TRUE(error.contains(str("more than 250000 rows"))) << error.toStdString();
    // A sort that never ends prints nothing: it ends at the tool's memory
    // bound at once, instead of spilling into the temporary folder until the
    // time-out.
    kztest::TempDir scratch;
    {
        const ScopedTemporaryFolder temporary(scratch.path());
        EXPECT_FALSE(runner.dataFromSQLDatabase(db, str("select x from sorted"), str("x"), &error));
        EXPECT_TRUE(error.contains(str("out of memory"))) << error.toStdString();
    }

    bool tooMany = false;
    EXPECT_FALSE(KZSQLite::parseCSV("1\n2\n3", 2, &tooMany));
    EXPECT_TRUE(tooMany);
    EXPECT_EQ(KZSQLite::parseCSV("1\n2\n", 2, &tooMany)->size(), 2);
    EXPECT_FALSE(tooMany);
}

// A small database whose view loops without ever answering a row holds
// the tool for seconds, not the runner's whole time-out, and the reason
// says so; all the queries of one read share that time.
TEST(KZSQLite, ALoopThatNeverAnswersIsStoppedInSecondsForASmallDatabase)
{
    kztest::TempDir dir;
    const fs::path db = dir / "loops.db";
    ASSERT_EQ(kztest::runSQLiteScript(
                  db, "CREATE TABLE t (x INTEGER);\n"
                      "CREATE VIEW loops AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)\n"
                      "  SELECT x FROM c WHERE x < 0;\n"),
              "");
    const KZSQLite runner("/usr/bin/sqlite3", 60s);
    QString error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(runner.dataFromSQLDatabase(db, {{str("select x from loops"), str("x")},
                                                 {str("select x from loops"), str("x")}},
                                            &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_TRUE(error.contains(str("did not finish")) && error.contains(str("a database of this size")))
        << error.toStdString();
    // An ordinary query is not cut short by it.
    ASSERT_TRUE(runner.dataFromSQLDatabase(db, str("select x from t"), str("x"), &error)) << error.toStdString();
}

// Any read, of a database that needs no copy too, removes what killed runs
// left; a folder that a live run in another process namespace holds locked
// stays.
TEST(KZSQLite, EveryReaderStartSweepsWhatKilledRunsLeft)
{
    kztest::TempDir dir, scratch;
    const ScopedTemporaryFolder temporary(scratch.path());
    const fs::path db = awkwardDatabase(dir);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string gone = "maravex-sqlite-" + std::to_string(child) + "-";
    scratch.write(gone + "aB3dE9/Photos.db-wal", std::string(4096, 'x'));
    scratch.write(gone + "lockd1/Photos.db", "held by a run elsewhere");
    const int held = ::open((scratch / (gone + "lockd1")).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    ASSERT_TRUE(KZSQLite::sharedControl().dataFromSQLDatabase(db, kSelect, kFields));
    EXPECT_FALSE(fs::exists(scratch / (gone + "aB3dE9")));
    EXPECT_TRUE(fs::exists(scratch / (gone + "lockd1/Photos.db")));
    ::close(held);
}
