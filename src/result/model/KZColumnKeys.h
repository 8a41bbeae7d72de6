#pragma once

#include <QString>

// Column identifiers of the result list. They double as the keys of its sort
// descriptors, and found items and group rows both answer them, so that a
// cell or a sort never has to know which kind of row it holds.
namespace KZColumnKey {

inline const QString name_col = QStringLiteral("name_col");
inline const QString kind_col = QStringLiteral("kind_col");
inline const QString size_col = QStringLiteral("size_col");
inline const QString date_modified_col = QStringLiteral("date_modified_col");
inline const QString location_tag_col = QStringLiteral("location_tag_col");
inline const QString check_col = QStringLiteral("check_col");
inline const QString dupe_group_col = QStringLiteral("dupe_group_col");

// Keys that only group rows answer.
inline const QString size_col_ungrouped = QStringLiteral("size_col_ungrouped");
inline const QString checkedSize = QStringLiteral("checkedSize");
inline const QString items_in_group = QStringLiteral("items_in_group");
inline const QString icon = QStringLiteral("icon");
inline const QString isInvisible = QStringLiteral("isInvisible");
inline const QString isDirectory = QStringLiteral("isDirectory");

} // namespace KZColumnKey
