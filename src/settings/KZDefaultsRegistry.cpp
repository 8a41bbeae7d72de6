#include "settings/KZDefaultsRegistry.h"

#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZPlistValue.h"
#include "settings/KZTags.h"

namespace {

QVariantList toVariantList(const QStringList& strings)
{
    QVariantList list;
    list.reserve(strings.size());
    for (const QString& s : strings)
        list.append(s);
    return list;
}

struct LabelColour {
    double red, green, blue;
};

// One label dictionary with the factory colours: the same RGB selected and
// unselected; unselected is 0.2 less opaque, computed rather than written out
// so that the stored value is the very double older tables hold.
using Texts = KZDefaultsRegistry::Texts;

QString shownText(const QString& key, Texts texts)
{
    return texts == Texts::Localized ? platform::localizedString(key) : key;
}

QVariantMap labelWithColour(const QString& nameKey, LabelColour colour, qint64 tag,
                            bool customizable, bool drawSeparator, Texts texts)
{
    const double onAlpha = 0.8;
    const double offAlpha = onAlpha - 0.2;
    return {
        {KZLabelKey::label_name, shownText(nameKey, texts)},
        {KZLabelKey::red_label_on_color, colour.red},
        {KZLabelKey::green_label_on_color, colour.green},
        {KZLabelKey::blue_label_on_color, colour.blue},
        {KZLabelKey::alpha_label_on_color, onAlpha},
        {KZLabelKey::red_label_off_color, colour.red},
        {KZLabelKey::green_label_off_color, colour.green},
        {KZLabelKey::blue_label_off_color, colour.blue},
        {KZLabelKey::alpha_label_off_color, offAlpha},
        {KZLabelKey::customizable_tag,
         customizable ? KZLabelKey::customizable : KZLabelKey::not_customizable},
        {KZLabelKey::draw_separator, drawSeparator},
        {KZLabelKey::file_type_tag, tag},
    };
}

QVariantMap fixedLabel(const QString& nameKey, LabelColour colour, qint64 tag, bool drawSeparator,
                       const QString& placeholderKey, Texts texts)
{
    QVariantMap label = labelWithColour(nameKey, colour, tag, false, drawSeparator, texts);
    label.insert(KZLabelKey::placeholder_string, shownText(placeholderKey, texts));
    return label;
}

QVariantMap fileTypeLabel(const QString& nameKey, LabelColour colour, qint64 tag,
                          const QString& extensions, const QStringList& extensionGroups,
                          const QStringList& types, Texts texts)
{
    QVariantMap label = labelWithColour(nameKey, colour, tag, true, false, texts);
    label.insert(KZLabelKey::labels_extension, extensions);
    label.insert(KZLabelKey::labels_extension_array, toVariantList(extensionGroups));
    label.insert(KZLabelKey::labels_type_array, toVariantList(types));
    return label;
}

QVariantMap enabledRow(const QString& key, const QString& value)
{
    return {{key, value}, {KZDefaultsRowKey::check_col, true}};
}

} // namespace

void KZDefaultsRegistry::setupDefaultsPreferences()
{
    setupDefaultsPreferences(platform::UserDefaults::standard());
}

void KZDefaultsRegistry::setupDefaultsPreferences(platform::UserDefaults& defaults)
{
    registerValues(defaults, defaultValues());
}

void KZDefaultsRegistry::setupSearchDefaults(platform::UserDefaults& defaults)
{
    registerValues(defaults, defaultValues(Texts::Keys));
}

void KZDefaultsRegistry::registerValues(platform::UserDefaults& defaults, const QVariantMap& values)
{
    defaults.registerDefaults(values);

    QVariantMap initial;
    for (const QString& key : initialValueKeys())
        initial.insert(key, values.value(key));
    defaults.setInitialValues(initial);
}

const QStringList& KZDefaultsRegistry::alertSuppressionKeys()
{
    namespace K = KZDefaultsKey;
    static const QStringList keys = {
        K::ask_close_photos,
        K::ask_continue_marking,
        K::SQL_error,
        K::ask_result_start_over,
        K::ask_close_result,
        K::ask_close_iTunes,
        K::ask_show_deads,
        K::remove_user_deleted_tab_from_preferences,
        K::remove_user_deleted_tab,
        K::inform_path_not_found,
        K::show_undo_available,
        K::show_no_marks_found,
        K::ask_result_removing_while_removing,
        K::show_nothing_to_remove,
        K::show_open_saved_file,
    };
    return keys;
}

const QStringList& KZDefaultsRegistry::initialValueKeys()
{
    namespace K = KZDefaultsKey;
    static const QStringList keys = {
        K::reduce_transparence,
        K::report_empty_folders,
        K::locations_excluded,
        K::extensions_excluded,
        K::file_type_labels,
        K::check_image_metadata_option,
        K::ask_close_photos,
        K::ask_continue_marking,
        K::ask_close_result,
        K::ask_close_iTunes,
        K::SQL_error,
        K::ask_result_start_over,
        K::ask_show_deads,
        K::remove_user_deleted_tab_from_preferences,
        K::remove_user_deleted_tab,
        K::inform_path_not_found,
        K::show_undo_available,
        K::show_no_marks_found,
        K::ask_result_removing_while_removing,
        K::show_nothing_to_remove,
        K::show_open_saved_file,
    };
    return keys;
}

QVariantMap KZDefaultsRegistry::defaultValues(Texts texts)
{
    namespace K = KZDefaultsKey;
    QVariantMap values;

    values.insert(K::reduce_transparence, false);
    for (const QString& key : alertSuppressionKeys())
        values.insert(key, false);

    values.insert(K::locations_excluded,
                  QVariantList{enabledRow(KZDefaultsRowKey::locations_excl,
                                          shownText(QStringLiteral("/Applications"), texts))});
    values.insert(K::extensions_excluded, excludedExtensions());

    const QVariantList labels = fileTypeLabels(texts);
    values.insert(K::file_type_labels, labels);
    // New labels are numbered from here on, so the counter starts at the
    // size of the factory table (one past its highest tag).
    values.insert(K::last_file_type_tag, static_cast<quint64>(labels.size()));
    values.insert(K::disable_lables, false);
    values.insert(K::disable_lable_colors, disableLabelColors());

    values.insert(K::report_empty_folders, 0);
    values.insert(K::check_image_metadata_option, 0);
    values.insert(K::security_moving_to_trash, 2);
    values.insert(K::iTunes_library_path, QString(QLatin1String("")));

    values.insert(K::show_result_by_group, true);
    values.insert(K::list_splitView_is_vertical, false);
    values.insert(K::show_marked_info, true);
    values.insert(K::is_first_run, true);
    return values;
}

QVariantList KZDefaultsRegistry::fileTypeLabels(Texts texts)
{
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    return {
        fixedLabel(QStringLiteral("all_dupes"), {0.799, 0.84, 0.986}, KZTag::allDuplicates, false,
                   QStringLiteral("placeholder_labels_all"), texts),
        fixedLabel(QStringLiteral("others"), {0.819, 0.909, 0.682}, KZTag::unlabeledFiles, false,
                   QStringLiteral("placeholder_labels_others"), texts),
        fixedLabel(QStringLiteral("folders"), {0.662, 0.831, 0.96}, KZTag::folders, true,
                   QStringLiteral("placeholder_labels_folders"), texts),
        fileTypeLabel(QStringLiteral("images"), {0.611, 0.713, 1.0}, 3, files.imagesExtensions(),
                      files.arrayImagesExtensions(), files.imagesOSTypesArray(), texts),
        fileTypeLabel(QStringLiteral("music"), {0.705, 0.85, 0.76}, 4, files.musicExtensions(),
                      files.arrayMusicExtensions(), files.musicOSTypesArray(), texts),
        fileTypeLabel(QStringLiteral("movies"), {0.968, 0.729, 0.521}, 5, files.moviesExtensions(),
                      files.arrayMoviesExtensions(), files.moviesOSTypesArray(), texts),
        fileTypeLabel(QStringLiteral("archive"), {0.98, 0.823, 0.698}, 6, files.archiveExtensions(),
                      files.arrayArchiveExtensions(), files.archiveOSTYpesArray(), texts),
        fileTypeLabel(QStringLiteral("documents"), {0.941, 0.8, 0.505}, 7, files.documentExtensions(),
                      files.arrayDocumentExtensions(), files.documentOSTypesArray(), texts),
    };
}

QVariantMap KZDefaultsRegistry::disableLabelColors()
{
    const double grey = 0.843, alpha = 0.8;
    return {
        {KZLabelKey::red_label_on_color, grey},
        {KZLabelKey::green_label_on_color, grey},
        {KZLabelKey::blue_label_on_color, grey},
        {KZLabelKey::alpha_label_on_color, alpha},
        {KZLabelKey::red_label_off_color, grey},
        {KZLabelKey::green_label_off_color, grey},
        {KZLabelKey::blue_label_off_color, grey},
        {KZLabelKey::alpha_label_off_color, alpha},
    };
}

qint16 KZDefaultsRegistry::lastCopyLevel(const QVariant& stored)
{
    return KZPlistValue::isNumber(stored) ? qint16(KZPlistValue::toInteger(stored)) : 2;
}

QVariantList KZDefaultsRegistry::excludedExtensions()
{
    // Development files that are seldom worth a duplicate search; "swift" and
    // "hds" stand in two rows each, as users' tables have them.
    static const char16_t* const rows[] = {
        u"a,so,h,m,c,cpp,pch",
        u"py,hpp,h++,c++,swift,rb",
        u"json,css,js,java,swift,jar",
        u"lib,dylib,pth,db,dll,ocx",
        u"rpl,hds,framework,build,plist",
        u"info,def,properties,proofingtool",
        u"bup,ar,hds,tmp,hg,vsd",
        u"xsd,xsl,lprj,entitlements,xib",
        u"xcconfig,sparsebundle,dsym",
    };
    QVariantList list;
    for (const char16_t* row : rows)
        list.append(enabledRow(KZDefaultsRowKey::extensions_excl, QString::fromUtf16(row)));
    return list;
}

QVariantList KZDefaultsRegistry::fileTagsExcludingTags(const std::optional<QSet<quint64>>& excludedTags)
{
    const QVariantList labels =
        platform::UserDefaults::standard().arrayForKey(KZDefaultsKey::file_type_labels);

    QVariantList result;
    // The first entry is the all-duplicates label and is never a file type.
    for (qsizetype i = labels.size() - 1; i >= 1; --i) {
        const QVariantMap label = labels.at(i).toMap();
        const quint64 tag = label.value(KZLabelKey::file_type_tag).toULongLong();
        if (tag == KZTag::allDuplicates
            || tag == KZTag::unlabeledFiles
            || tag == KZTag::folders)
            continue;
        if (excludedTags && excludedTags->contains(tag))
            continue;

        // A label without an extension string has nothing to match. An empty
        // string, or an empty piece of one, names no extension: files without
        // one must not all go to a label whose extensions are still blank.
        const QVariant extensions = label.value(KZLabelKey::labels_extension);
        if (!extensions.isValid())
            continue;
        QVariantMap entry{
            {KZLabelKey::labels_extension,
             toVariantList(extensions.toString().split(QLatin1Char(','), Qt::SkipEmptyParts))},
            {KZLabelKey::file_type_tag, tag},
        };
        if (label.contains(KZLabelKey::labels_type_array))
            entry.insert(KZLabelKey::labels_type_array, label.value(KZLabelKey::labels_type_array));
        result.append(entry);
    }
    return result;
}
