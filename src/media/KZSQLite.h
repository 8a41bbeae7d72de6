#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

// Runs SQL statements against an SQLite database file through the
// sqlite3 command-line tool, so that a damaged database can only make the
// tool fail, never this program. Nothing is ever created or changed beside
// the database: the tool is started read-only, and a database in WAL mode,
// for which even a read-only tool would leave its "-shm" and "-wal" files
// there, is read from a private copy of it and its log in the temporary
// folder, removed afterwards; the copy keeps the holes of a sparse file and
// never takes more than the room left in that folder. The tool never reads
// the user's ~/.sqliterc and prints CSV (a value holding "|", a comma or a
// line break keeps its row). What it may print, the rows taken from that,
// and the tool's own memory are bounded in proportion to the database's size
// on disk, and the tool keeps its temporary tables in memory: a small
// database that answers without end, or sorts without end, is refused, not
// read into memory or spilled into the temporary folder. So is the tool's
// time: a few seconds for a small database, more for a larger one, never
// more than the timeout the runner was made with, for all the queries of
// one read together.
//
// Thread safety: every call owns its child process and buffers; any number
// of threads may call at once.
class KZSQLite {
public:
    using Row = QVariantMap; // field name -> text (NULL is the empty string)
    using Rows = QList<Row>;

    static constexpr std::chrono::milliseconds kDefaultTimeout{120000};

    explicit KZSQLite(std::filesystem::path tool = "/usr/bin/sqlite3",
                      std::chrono::milliseconds timeout = kDefaultTimeout);

    static KZSQLite& sharedControl();

    // Removes the private copies that killed runs left in the temporary
    // folder (see platform::removeStaleTemporaryFolders); every read does it
    // once per process, and a program's start may ask for it at once.
    static void removeStaleCopies();
    // Tests; nullptr restores the standard runner.
    static void setSharedControl(std::unique_ptr<KZSQLite> instance);

    // The rows of `sqlFormula` in the tool's order, each mapping the names of
    // `fields` (separated by ", ", in the order of the selected columns) to
    // that column's text. No matching row is an empty list; a failure (no
    // such database file, the tool missing, a non-zero exit, anything on its
    // standard error, a time-out, a row whose column count differs from the
    // field list, a WAL database that could not be copied or would not fit
    // the temporary folder, a log or journal beside the database that is not
    // a regular file, more output or rows than the database's size allows)
    // is std::nullopt with the reason in `error`.
    std::optional<Rows> dataFromSQLDatabase(const std::filesystem::path& database, const QString& sqlFormula,
                                            const QString& fields, QString* error = nullptr) const;

    struct Query {
        QString sqlFormula;
        QString fields;
    };
    // The rows of each query in turn, as above, all read from one state of
    // the database: a WAL database is copied once for all of them. The first
    // failure ends the reading and is the answer.
    std::optional<std::vector<Rows>> dataFromSQLDatabase(const std::filesystem::path& database,
                                                         const std::vector<Query>& queries,
                                                         QString* error = nullptr) const;

    // The records of the tool's CSV output; std::nullopt when a quoted value
    // is not closed, or when there are more than `maxRecords` (`tooMany` is
    // then set, and parsing stops there). Exposed for tests.
    static std::optional<QList<QStringList>> parseCSV(const QByteArray& output,
                                                      qsizetype maxRecords = std::numeric_limits<qsizetype>::max(),
                                                      bool* tooMany = nullptr);

private:
    struct OutputBound {
        quint64 bytes = 0;  // of both streams together
        qsizetype rows = 0;
        quint64 memory = 0; // the tool's own heap
        // When the tool's work on the database must have ended, for all
        // the queries together.
        std::chrono::steady_clock::time_point deadline;
        std::chrono::milliseconds time{0};
    };
    // One query run by the tool on `read`, the database itself or its copy.
    std::optional<Rows> rowsOf(const std::filesystem::path& read, const Query& query, const OutputBound& bound,
                               QString* error) const;

    std::filesystem::path tool_;
    std::chrono::milliseconds timeout_;
};
