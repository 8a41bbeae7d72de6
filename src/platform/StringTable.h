#pragma once

#include <QString>

namespace platform {

// Localised text of `key` from resources/strings/<lang>/<table>.json (English
// only for now). A missing key, table or file answers the key itself, so a
// gap shows up on screen instead of an empty label.
QString localizedString(const QString& key, const QString& table = QStringLiteral("Default"));

// Forgets the loaded tables (tests that switch resource folders).
void resetStringTables();

} // namespace platform
