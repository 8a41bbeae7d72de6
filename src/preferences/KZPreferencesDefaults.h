#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform {
class UserDefaults;
}

// What the preference panes read from and write to the user's defaults.
// Every read is type-checked: the defaults file can be edited by hand, and a
// value of the wrong type must show as empty (with a log line), never crash
// a pane or be mistaken for a real value.
namespace KZPreferencesDefaults {

// The dictionaries of the array stored under `key`. A value that is not an
// array reads as empty; entries that are not dictionaries are left out. Both
// are logged.
QList<QVariantMap> dictionaries(const platform::UserDefaults& defaults, const QString& key);
// Writes `rows` back as the array under `key`.
void setDictionaries(platform::UserDefaults& defaults, const QString& key, const QList<QVariantMap>& rows);

// A whole, non-negative number (integers and booleans of a property list);
// nothing for strings, fractions, negative numbers and other types.
std::optional<quint64> unsignedValue(const QVariant& value);
// A string, or nothing for another type.
std::optional<QString> stringValue(const QVariant& value);
// The strings of an array of strings; other entries are left out, another
// type reads as empty.
QStringList stringList(const QVariant& value);

// Sets the four general settings back to their registered values.
void restoreValues(platform::UserDefaults& defaults);
// Shows every suppressed alert again: the 15 suppression flags go back to NO.
void restoreWarnings(platform::UserDefaults& defaults);
// The registered value of `key` (the factory value when none is registered).
QVariant registeredValue(const platform::UserDefaults& defaults, const QString& key);
// Sets `key` back to its registered value.
void restoreKey(platform::UserDefaults& defaults, const QString& key);

// A path with "//" runs, "." components and a trailing "/" taken out, so that
// two spellings of one folder compare equal. Nothing else is changed: ".."
// stays (it may cross a symbolic link) and letter case counts.
QString lexicallyNormalized(const QString& path);

} // namespace KZPreferencesDefaults
