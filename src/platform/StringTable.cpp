#include "platform/StringTable.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Resources.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;

namespace platform {

namespace {

using Table = QHash<QString, QString>;

std::mutex g_mutex;
std::map<QString, std::shared_ptr<const Table>> g_tables;

// The table, and a line for the log when it could not be loaded (written by
// the caller outside the lock, in case the log sink shows localized text).
std::shared_ptr<const Table> loadTable(const QString& name, QString* problem)
{
    auto table = std::make_shared<Table>();
    // Table names come from the program, but a name with a separator would
    // read a file outside the string folder.
    if (name.isEmpty() || name.contains(u'/') || name.startsWith(u'.'))
        return table;
    const fs::path path = resourcePath(fs::path("strings") / "en"
                                       / platform::pathFromText(name + QLatin1String(".json")));
    if (path.empty()) {
        *problem = QStringLiteral("String table “%1” not found; keys are shown instead.").arg(name);
        return table;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        *problem = QStringLiteral("String table “%1” could not be read; keys are shown instead.").arg(name);
        return table;
    }
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &parseError);
    if (!doc.isObject()) {
        *problem = QStringLiteral("String table “%1” is damaged (%2); keys are shown instead.")
                       .arg(name, doc.isNull() ? parseError.errorString() : QStringLiteral("not an object"));
        return table;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isString())
            table->insert(it.key(), it.value().toString());
    }
    return table;
}

} // namespace

QString localizedString(const QString& key, const QString& tableName)
{
    std::shared_ptr<const Table> table;
    QString problem;
    {
        // Loading under the lock keeps two threads from reading one file
        // twice; it happens once per table.
        std::lock_guard lock(g_mutex);
        auto& slot = g_tables[tableName];
        if (!slot)
            slot = loadTable(tableName, &problem);
        table = slot;
    }
    if (!problem.isEmpty())
        logLine(problem);
    const auto it = table->constFind(key);
    return it != table->cend() ? *it : key;
}

void resetStringTables()
{
    std::lock_guard lock(g_mutex);
    g_tables.clear();
}

} // namespace platform
