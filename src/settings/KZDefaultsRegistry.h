#pragma once

#include <QSet>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace platform {
class UserDefaults;
}

// The factory values of every preference, registered at launch before any
// other start-up step reads a default, and the factory file-type label table
// that decides the result window's tabs.
//
// Registered values are a fall-back kept in memory: the user's own values
// live in the defaults file and win. A subset of the keys also gets an
// initial value, which the preferences window's restore buttons go back to;
// keys outside that subset ("is_first_run", "disable_lables", the label
// counter, ...) are never touched by a restore.
//
// Colours in the label table and in "disable_lable_colors" are stored as
// separate double components from 0 to 1 under the KZLabelKey colour keys,
// so the table stays a plain property list that other versions can read.
class KZDefaultsRegistry {
public:
    // Registers defaultValues() and hands the initial-value subset to the
    // defaults' revert-to-initial-values operation.
    static void setupDefaultsPreferences();
    static void setupDefaultsPreferences(platform::UserDefaults& defaults);

    // Whether the texts a window shows (label names, placeholders) are looked
    // up in the string tables or left as their keys.
    enum class Texts { Localized, Keys };

    // The same registration for a program that searches but shows no window:
    // every value is the factory one except the shown texts, which stay their
    // keys, so that start-up neither reads nor parses the string tables.
    static void setupSearchDefaults(platform::UserDefaults& defaults);

    // Every registered key with its factory value, built anew on each call
    // (label names in the current language).
    static QVariantMap defaultValues(Texts texts = Texts::Localized);

    // The keys that get an initial value, in registration order.
    static const QStringList& initialValueKeys();
    // The 15 alert-suppression flags: NO shows the alert, YES suppresses it.
    static const QStringList& alertSuppressionKeys();

    // The eight factory labels, in table order.
    static QVariantList fileTypeLabels(Texts texts = Texts::Localized);
    // The neutral colours every tab uses while labels are disabled.
    static QVariantMap disableLabelColors();
    // The nine factory rows of "extensions_excluded".
    static QVariantList excludedExtensions();

    // The stored "security_moving_to_trash" as removal acts on it: 1 asks,
    // 2 keeps a group's last member, any other number (0 included) removes
    // it like the others. Unset, or a hand-edited value that is no number,
    // keeps the last member: the preferences show the same.
    static qint16 lastCopyLevel(const QVariant& stored);

    // The user-visible file-type labels of the current table (the standard
    // defaults), last label first, leaving out the fixed labels 0, 1, 2 and
    // any tag in `excludedTags`. Each entry: "labels_extension" (the
    // extensions as an array of strings), "file_type_tag" (unsigned) and,
    // when the label has one, "labels_type_array".
    static QVariantList fileTagsExcludingTags(const std::optional<QSet<quint64>>& excludedTags = std::nullopt);

private:
    // Registers `values` and hands their initial-value subset to `defaults`.
    static void registerValues(platform::UserDefaults& defaults, const QVariantMap& values);
};
