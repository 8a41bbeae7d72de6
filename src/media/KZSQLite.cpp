#include "media/KZSQLite.h"

#include "platform/ChildProcess.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

platform::SharedInstance<KZSQLite>& shared()
{
    static platform::SharedInstance<KZSQLite> instance([] { return std::make_unique<KZSQLite>(); });
    return instance;
}

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

KZSQLite::KZSQLite(fs::path tool, std::chrono::milliseconds timeout) : tool_(std::move(tool)), timeout_(timeout) {}

KZSQLite& KZSQLite::sharedControl()
{
    return shared().get();
}

void KZSQLite::setSharedControl(std::unique_ptr<KZSQLite> instance)
{
    shared().replace(std::move(instance));
}

std::optional<QList<QStringList>> KZSQLite::parseCSV(const QByteArray& output)
{
    // Fields are split on the bytes and decoded one by one from the whole
    // output, so a character is never cut in two.
    QList<QStringList> records;
    QStringList record;
    QByteArray field;
    bool quoted = false;      // inside a quoted value
    bool fieldStarted = false; // something of the current record was read
    const qsizetype n = output.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = output.at(i);
        if (quoted) {
            if (c != '"') {
                field.append(c);
            } else if (i + 1 < n && output.at(i + 1) == '"') {
                field.append('"');
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            quoted = true;
            fieldStarted = true;
            break;
        case ',':
            record.append(QString::fromUtf8(field));
            field.clear();
            fieldStarted = true;
            break;
        case '\r':
            if (i + 1 < n && output.at(i + 1) == '\n')
                break; // the "\r\n" row end
            field.append(c);
            fieldStarted = true;
            break;
        case '\n':
            record.append(QString::fromUtf8(field));
            records.append(record);
            record.clear();
            field.clear();
            fieldStarted = false;
            break;
        default:
            field.append(c);
            fieldStarted = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (fieldStarted || !record.isEmpty()) { // a last row without its line end
        record.append(QString::fromUtf8(field));
        records.append(record);
    }
    return records;
}

std::optional<KZSQLite::Rows> KZSQLite::dataFromSQLDatabase(const fs::path& database, const QString& sqlFormula,
                                                            const QString& fields, QString* error) const
{
    std::error_code ec;
    const fs::path absolute = database.empty() ? fs::path() : fs::absolute(database, ec);
    // Checked before the tool runs: even read-only, a database it cannot
    // find is an error we would rather name ourselves.
    if (absolute.empty() || ec || !fs::is_regular_file(absolute, ec)) {
        fail(error, QStringLiteral("no database file at %1").arg(platform::pathText(database)));
        return std::nullopt;
    }
    const QStringList names = fields.split(QStringLiteral(", "));

    const platform::ProcessOutput run = platform::runProcess(
        tool_, {"-batch", "-readonly", "-init", "/dev/null", "-csv", absolute.native(), sqlFormula.toStdString()},
        timeout_);
    if (!run.started) {
        fail(error, QStringLiteral("%1 could not be run: %2").arg(platform::pathText(tool_), run.error));
        return std::nullopt;
    }
    if (run.timedOut) {
        fail(error,
             QStringLiteral("%1 did not finish in %2 s and was stopped")
                 .arg(platform::pathText(tool_))
                 .arg(double(timeout_.count()) / 1000.0));
        return std::nullopt;
    }
    if (!run.succeededQuietly()) {
        const QString said = QString::fromUtf8(run.standardError).trimmed();
        fail(error,
             QStringLiteral("%1 failed (exit status %2)%3")
                 .arg(platform::pathText(tool_))
                 .arg(run.exitCode)
                 .arg(said.isEmpty() ? QString() : QStringLiteral(": ") + said));
        return std::nullopt;
    }

    const std::optional<QList<QStringList>> records = parseCSV(run.standardOutput);
    if (!records) {
        fail(error, QStringLiteral("%1 printed an unfinished quoted value").arg(platform::pathText(tool_)));
        return std::nullopt;
    }
    Rows rows;
    rows.reserve(records->size());
    for (const QStringList& record : *records) {
        if (record.size() != names.size()) {
            fail(error, QStringLiteral("a row of %1 values does not fit the %2 fields \"%3\"")
                            .arg(record.size())
                            .arg(names.size())
                            .arg(fields));
            return std::nullopt;
        }
        Row row;
        for (qsizetype i = 0; i < names.size(); ++i)
            row.insert(names.at(i), record.at(i));
        rows.append(std::move(row));
    }
    return rows;
}
