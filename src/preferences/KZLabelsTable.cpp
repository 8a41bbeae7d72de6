#include "preferences/KZLabelsTable.h"

#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "preferences/KZPreferencesDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

namespace L = KZLabelKey;

const QString kUpdateTableView = QStringLiteral("updateTableView");

void post(const QString& name)
{
    platform::NotificationCenter::defaultCenter().post(name, platform::bundleIdentifier());
}

QVariantList variantList(const QStringList& strings)
{
    QVariantList list;
    list.reserve(strings.size());
    for (const QString& s : strings)
        list.append(s);
    return list;
}

} // namespace

KZLabelsTable::KZLabelsTable(platform::UserDefaults& defaults) : defaults_(defaults) {}

QList<QVariantMap> KZLabelsTable::labels() const
{
    return KZPreferencesDefaults::dictionaries(defaults_, KZDefaultsKey::file_type_labels);
}

void KZLabelsTable::writeLabels(const QList<QVariantMap>& labels)
{
    KZPreferencesDefaults::setDictionaries(defaults_, KZDefaultsKey::file_type_labels, labels);
}

std::optional<quint64> KZLabelsTable::tagOf(const QVariantMap& label)
{
    return KZPreferencesDefaults::unsignedValue(label.value(L::file_type_tag));
}

std::optional<qsizetype> KZLabelsTable::indexOfTag(const QList<QVariantMap>& labels, quint64 tag)
{
    for (qsizetype i = 0; i < labels.size(); ++i) {
        if (tagOf(labels.at(i)) == tag)
            return i;
    }
    return std::nullopt;
}

std::optional<QVariantMap> KZLabelsTable::labelWithTag(quint64 tag) const
{
    const QList<QVariantMap> all = labels();
    if (const auto index = indexOfTag(all, tag))
        return all.at(*index);
    return std::nullopt;
}

std::optional<quint64> KZLabelsTable::nextTag() const
{
    const QVariant stored = defaults_.value(KZDefaultsKey::last_file_type_tag);
    quint64 highest = 0;
    if (const auto last = KZPreferencesDefaults::unsignedValue(stored))
        highest = *last;
    else if (stored.isValid())
        platform::logLine(QStringLiteral("The preference \"last_file_type_tag\" holds no whole number; "
                                         "new labels are numbered from the table's tags"));
    for (const QVariantMap& label : labels()) {
        if (const auto tag = tagOf(label))
            highest = std::max(highest, *tag);
    }
    // Compared before adding, so that the highest tag of all cannot wrap to 0.
    if (highest >= KZTag::specialTabsStart - 1)
        return std::nullopt;
    return highest + 1;
}

KZLabelsTable::AddResult KZLabelsTable::addLabel(quint64* tag)
{
    QList<QVariantMap> all = labels();
    if (all.size() >= maximumLabels)
        return AddResult::TableFull;
    const std::optional<quint64> next = nextTag();
    if (!next)
        return AddResult::NoTagLeft;

    QVariantMap label;
    label.insert(L::label_name, QString());
    QVariantMap neutral = defaults_.dictionaryForKey(KZDefaultsKey::disable_lable_colors);
    const QVariantMap factory = KZDefaultsRegistry::disableLabelColors();
    for (auto it = factory.constBegin(); it != factory.constEnd(); ++it) {
        const QVariant value = neutral.value(it.key());
        const bool isNumber = value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong
            || value.typeId() == QMetaType::Int;
        label.insert(it.key(), isNumber ? QVariant(value.toDouble()) : it.value());
    }
    label.insert(L::customizable_tag, L::customizable);
    label.insert(L::draw_separator, false);
    label.insert(L::file_type_tag, *next);
    label.insert(L::labels_extension, QString());
    label.insert(L::labels_extension_array, QVariantList());
    all.append(label);
    writeLabels(all);
    defaults_.setValue(KZDefaultsKey::last_file_type_tag, *next);
    if (tag)
        *tag = *next;
    return AddResult::Added;
}

bool KZLabelsTable::removeLabel(quint64 tag)
{
    QList<QVariantMap> all = labels();
    const auto index = indexOfTag(all, tag);
    if (!index)
        return false;
    post(KZNotification::removeObservers);
    all.removeAt(*index);
    writeLabels(all);
    post(KZNotification::addObservers);
    post(kUpdateTableView);
    return true;
}

QString KZLabelsTable::titleCase(const QString& text, const QLocale& locale)
{
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    QString result;
    result.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        words.setPosition(start);
        const bool wordStart = words.boundaryReasons().testFlag(QTextBoundaryFinder::StartOfItem);
        qsizetype end = words.toNextBoundary();
        if (end <= start)
            end = text.size();
        const QString piece = text.mid(start, end - start);
        if (wordStart && !piece.isEmpty()) {
            // The first grapheme, so that a letter with a combining mark is
            // raised as one.
            QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, piece);
            qsizetype first = graphemes.toNextBoundary();
            if (first <= 0)
                first = piece.size();
            result += locale.toUpper(piece.left(first)) + locale.toLower(piece.mid(first));
        } else {
            result += locale.toLower(piece);
        }
        start = end;
    }
    return result;
}

std::optional<QString> KZLabelsTable::renameLabel(quint64 tag, const QString& typed, const QLocale& locale)
{
    const QString name = titleCase(typed.trimmed(), locale);
    if (name.isEmpty())
        return std::nullopt;
    QList<QVariantMap> all = labels();
    const auto index = indexOfTag(all, tag);
    if (!index)
        return std::nullopt;
    all[*index].insert(L::label_name, name);
    writeLabels(all);
    return name;
}

bool KZLabelsTable::recolourLabel(quint64 tag, double red, double green, double blue)
{
    QList<QVariantMap> all = labels();
    const auto index = indexOfTag(all, tag);
    if (!index)
        return false;
    QVariantMap& label = all[*index];
    const double r = static_cast<float>(red), g = static_cast<float>(green), b = static_cast<float>(blue);
    label.insert(L::red_label_on_color, r);
    label.insert(L::green_label_on_color, g);
    label.insert(L::blue_label_on_color, b);
    label.insert(L::red_label_off_color, r);
    label.insert(L::green_label_off_color, g);
    label.insert(L::blue_label_off_color, b);
    writeLabels(all);
    return true;
}

void KZLabelsTable::restoreLabels()
{
    // The label models stand aside and are back before the one write: the
    // defaults tell observers only of a change, so a write made while they
    // stood aside followed by the same write again would reach none of them,
    // and open results would keep the old names and colours.
    post(KZNotification::removeObservers);
    post(KZNotification::addObservers);
    KZPreferencesDefaults::restoreKey(defaults_, KZDefaultsKey::file_type_labels);
    defaults_.setValue(KZDefaultsKey::last_file_type_tag, static_cast<quint64>(labels().size()));
}

KZLabelsTable::ExtensionsCommit KZLabelsTable::commitExtensions(quint64 tag, const QStringList& groups)
{
    ExtensionsCommit commit;
    QList<QVariantMap> all = labels();
    const auto index = indexOfTag(all, tag);
    if (!index)
        return commit;
    QVariantMap& label = all[*index];
    const QString before = KZPreferencesDefaults::stringValue(label.value(L::labels_extension)).value_or(QString());
    const QString joined = groups.join(QLatin1Char(','));
    label.insert(L::labels_extension, joined);
    label.insert(L::labels_extension_array, variantList(groups));
    if (KZPreferencesDefaults::stringValue(label.value(L::label_name)).value_or(QString()).isEmpty())
        label.insert(L::label_name, platform::localizedString(QStringLiteral("user_added")));
    writeLabels(all);
    post(kUpdateTableView);
    commit.written = true;
    commit.extensionsChanged = joined != before;
    commit.label = label;
    return commit;
}
