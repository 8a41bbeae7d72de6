#include "preferences/KZLimitationsList.h"

#include "platform/UserDefaults.h"
#include "preferences/KZPreferencesDefaults.h"
#include "settings/KZDefaultsKeys.h"

#include <algorithm>

namespace {
namespace R = KZDefaultsRowKey;
}

KZLimitationsList::KZLimitationsList(platform::UserDefaults& defaults, List list) : defaults_(defaults), list_(list) {}

QString KZLimitationsList::keyOf(List list)
{
    return list == List::Locations ? KZDefaultsKey::locations_excluded : KZDefaultsKey::extensions_excluded;
}

QString KZLimitationsList::valueKeyOf(List list)
{
    return list == List::Locations ? R::locations_excl : R::extensions_excl;
}

QList<QVariantMap> KZLimitationsList::rows() const
{
    return KZPreferencesDefaults::dictionaries(defaults_, key());
}

QString KZLimitationsList::valueAt(const QVariantMap& row) const
{
    return KZPreferencesDefaults::stringValue(row.value(valueKey())).value_or(QString());
}

bool KZLimitationsList::isChecked(const QVariantMap& row)
{
    const QVariant value = row.value(R::check_col);
    return KZPreferencesDefaults::unsignedValue(value).value_or(0) != 0;
}

void KZLimitationsList::write(const QList<QVariantMap>& rows)
{
    KZPreferencesDefaults::setDictionaries(defaults_, key(), rows);
}

qsizetype KZLimitationsList::indexOfLocation(const QList<QVariantMap>& rows, const QString& path)
{
    const QString wanted = KZPreferencesDefaults::lexicallyNormalized(path);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto listed = KZPreferencesDefaults::stringValue(rows.at(i).value(R::locations_excl));
        if (listed && KZPreferencesDefaults::lexicallyNormalized(*listed) == wanted)
            return i;
    }
    return -1;
}

int KZLimitationsList::addLocations(const QStringList& paths)
{
    if (list_ != List::Locations || paths.isEmpty())
        return 0;
    QList<QVariantMap> all = rows();
    int added = 0;
    for (const QString& path : paths) {
        if (path.isEmpty() || indexOfLocation(all, path) >= 0)
            continue;
        all.append({{R::locations_excl, path}, {R::check_col, true}});
        ++added;
    }
    write(all);
    return added;
}

qsizetype KZLimitationsList::addExtensionRow()
{
    if (list_ != List::Extensions)
        return -1;
    QList<QVariantMap> all = rows();
    all.append({{R::extensions_excl, QString()}, {R::check_col, true}});
    write(all);
    return all.size() - 1;
}

void KZLimitationsList::setExtensionTokens(qsizetype row, const QStringList& tokens)
{
    QList<QVariantMap> all = rows();
    if (list_ != List::Extensions || row < 0 || row >= all.size())
        return;
    if (tokens.isEmpty()) {
        all.removeAt(row);
    } else {
        const QString joined = tokens.join(QLatin1Char(','));
        if (valueAt(all.at(row)) == joined)
            return;
        all[row].insert(R::extensions_excl, joined);
    }
    write(all);
}

void KZLimitationsList::setChecked(qsizetype row, bool checked)
{
    QList<QVariantMap> all = rows();
    if (row < 0 || row >= all.size())
        return;
    all[row].insert(R::check_col, checked);
    write(all);
}

void KZLimitationsList::removeRows(QList<qsizetype> indexes)
{
    QList<QVariantMap> all = rows();
    std::sort(indexes.begin(), indexes.end(), std::greater<>());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    bool removed = false;
    for (qsizetype row : indexes) {
        if (row >= 0 && row < all.size()) {
            all.removeAt(row);
            removed = true;
        }
    }
    if (removed)
        write(all);
}

void KZLimitationsList::restore()
{
    KZPreferencesDefaults::restoreKey(defaults_, key());
}

QStringList KZLimitationsList::tokensOf(const QString& text)
{
    QStringList tokens;
    for (const QString& piece : text.split(QLatin1Char(','))) {
        const QString token = piece.trimmed();
        if (!token.isEmpty())
            tokens.append(token);
    }
    return tokens;
}
