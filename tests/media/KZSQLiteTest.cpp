#include "media/KZSQLite.h"

#include "support/LibraryFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

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
