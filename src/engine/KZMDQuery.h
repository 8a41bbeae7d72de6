#pragma once

#include "engine/KZLocationGrouping.h"

#include <QDateTime>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

// One saved search as a source: reads the ".savedSearch" property list
// ("RawQueryDict" with "RawQuery" and "SearchScopes"), walks its scopes and
// answers the items its query selects, as the metadata index would list
// them: every match, folders and what lies inside them alike.
class KZMDQuery {
public:
    struct Options {
        std::filesystem::path home;
        QDateTime now;              // of $time.now and $time.today
        bool includeHidden = false; // names with a leading dot, and what they hold
        std::function<bool()> wasStopped;
    };

    // Nothing when the file cannot be read, its query cannot be parsed, its
    // scopes are missing or damaged, or a scope does not exist; the reason is
    // then in `error`. A stop answers
    // what was found so far. Attributes that match nothing are logged, each
    // once per query.
    static std::optional<std::vector<KZLocationEntry>> run(const std::filesystem::path& savedSearch,
                                                           const Options& options, QString* error = nullptr);
};
