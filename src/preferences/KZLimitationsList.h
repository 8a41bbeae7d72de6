#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace platform {
class UserDefaults;
}

// The two exclusion lists of the Limitations pane: "locations_excluded"
// (rows {"locations_excl": path, "check_col": in force}) and
// "extensions_excluded" (rows {"extensions_excl": "a,b,c", "check_col"}).
// Every change reads the stored list, changes a copy and writes the whole
// list back. Rows are the stored list's indexes as the pane shows them.
// Main thread only.
class KZLimitationsList {
public:
    enum class List { Locations, Extensions };

    KZLimitationsList(platform::UserDefaults& defaults, List list);

    static QString keyOf(List list);
    static QString valueKeyOf(List list);
    QString key() const { return keyOf(list_); }
    QString valueKey() const { return valueKeyOf(list_); }

    // The stored rows, type-checked (see KZPreferencesDefaults).
    QList<QVariantMap> rows() const;
    // The row's path or extension string; empty for a value of another type.
    QString valueAt(const QVariantMap& row) const;
    static bool isChecked(const QVariantMap& row);

    // Locations only: appends the paths in their order, in force, leaving out
    // those already listed (compared exactly after lexical normalisation: on
    // this system "Photos" and "photos" are two folders). Writes the list
    // unless `paths` is empty; answers how many were added.
    int addLocations(const QStringList& paths);
    // Index of the first row whose path names `path`, or -1.
    static qsizetype indexOfLocation(const QList<QVariantMap>& rows, const QString& path);

    // Extensions only: appends an empty row in force; answers its index.
    qsizetype addExtensionRow();
    // Extensions only: the row's tokens joined with ","; a row left without
    // tokens is removed. The stored string changes only when the tokens do.
    void setExtensionTokens(qsizetype row, const QStringList& tokens);

    void setChecked(qsizetype row, bool checked);
    // Removes the rows, highest index first, so that the others keep theirs.
    void removeRows(QList<qsizetype> rows);
    // Puts back this list's factory value; the other list stays.
    void restore();

    // Tokens typed into one row: separated by commas, surrounding blanks
    // dropped, empty tokens left out.
    static QStringList tokensOf(const QString& text);

private:
    void write(const QList<QVariantMap>& rows);

    platform::UserDefaults& defaults_;
    List list_;
};
