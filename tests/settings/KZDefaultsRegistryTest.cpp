#include "platform/PropertyList.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QSet>

#include <memory>
#include <vector>

namespace K = KZDefaultsKey;
namespace L = KZLabelKey;

namespace {

QString str(const char* s) { return QString::fromUtf8(s); }

QList<quint64> tagsOf(const QVariantList& entries)
{
    QList<quint64> tags;
    for (const QVariant& e : entries)
        tags.append(e.toMap().value(L::file_type_tag).toULongLong());
    return tags;
}

// A fresh defaults file for each test, installed as the shared instance, as
// on a first launch.
class DefaultsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { KZDefaultsRegistry::setupDefaultsPreferences(); }

    platform::UserDefaults& defaults() { return *defaults_; }

    kztest::ScopedDefaults defaults_;
    const kztest::TempDir& dir = defaults_.dir();
};

TEST_F(DefaultsRegistryTest, FirstLaunchRegistersTheFactoryValues)
{
    EXPECT_EQ(tagsOf(defaults().arrayForKey(K::file_type_labels)), (QList<quint64>{0, 1, 2, 3, 4, 5, 6, 7}));
    const std::pair<QString, QVariant> factory[] = {
        {K::last_file_type_tag, quint64(8)}, {K::is_first_run, true},          {K::show_result_by_group, true},
        {K::show_marked_info, true},         {K::list_splitView_is_vertical, false}, {K::disable_lables, false},
        {K::reduce_transparence, false},     {K::report_empty_folders, 0},     {K::check_image_metadata_option, 0},
        {K::security_moving_to_trash, 2}};
    for (const auto& [key, value] : factory)
        EXPECT_EQ(defaults().value(key), value) << key.toStdString();
    // The string table has no entry for it, so the key itself is the path.
    const QVariantMap applications{{KZDefaultsRowKey::locations_excl, str("/Applications")},
                                   {KZDefaultsRowKey::check_col, true}};
    EXPECT_EQ(defaults().arrayForKey(K::locations_excluded), QVariantList{applications});
    QVariantList extensionRows;
    for (const char* row : {"a,so,h,m,c,cpp,pch", "py,hpp,h++,c++,swift,rb", "json,css,js,java,swift,jar",
                            "lib,dylib,pth,db,dll,ocx", "rpl,hds,framework,build,plist",
                            "info,def,properties,proofingtool", "bup,ar,hds,tmp,hg,vsd",
                            "xsd,xsl,lprj,entitlements,xib", "xcconfig,sparsebundle,dsym"})
        extensionRows.append(
            QVariantMap{{KZDefaultsRowKey::extensions_excl, str(row)}, {KZDefaultsRowKey::check_col, true}});
    EXPECT_EQ(defaults().arrayForKey(K::extensions_excluded), extensionRows);

    const QVariantMap registered = defaults().registeredDefaults();
    EXPECT_EQ(registered.size(), 30);
    EXPECT_EQ(KZDefaultsRegistry::alertSuppressionKeys().size(), 15);
    for (const QString& key : KZDefaultsRegistry::alertSuppressionKeys())
        EXPECT_EQ(registered.value(key), QVariant(false)) << key.toStdString();

    // Registration lives in memory: nothing is written on a first launch.
    EXPECT_FALSE(std::filesystem::exists(dir / "defaults.plist"));
    // A value is written to the defaults file once the user changes it, so
    // each must survive the property-list form unchanged.
    const QVariantMap values = KZDefaultsRegistry::defaultValues();
    const auto back = platform::PropertyList::fromData(
        platform::PropertyList::toData(values, platform::PropertyList::Format::Xml));
    EXPECT_EQ(back.value_or(QVariant()).toMap(), values);
}

TEST_F(DefaultsRegistryTest, FactoryLabelTable)
{
    const KZFilesUtilities& f = KZFilesUtilities::sharedControl();
    const char* names[] = {"all_dupes", "others", "folders", "images", "music", "movies", "archive", "documents"};
    const double rgb[8][3] = {{0.799, 0.84, 0.986}, {0.819, 0.909, 0.682}, {0.662, 0.831, 0.96},
                              {0.611, 0.713, 1.0},  {0.705, 0.85, 0.76},   {0.968, 0.729, 0.521},
                              {0.98, 0.823, 0.698}, {0.941, 0.8, 0.505}};
    const char* placeholders[] = {"placeholder_labels_all", "placeholder_labels_others", "placeholder_labels_folders"};
    const QString extensions[] = {f.imagesExtensions(), f.musicExtensions(), f.moviesExtensions(),
                                  f.archiveExtensions(), f.documentExtensions()};
    const QStringList groups[] = {f.arrayImagesExtensions(), f.arrayMusicExtensions(), f.arrayMoviesExtensions(),
                                  f.arrayArchiveExtensions(), f.arrayDocumentExtensions()};
    const QStringList types[] = {f.imagesOSTypesArray(), f.musicOSTypesArray(), f.moviesOSTypesArray(),
                                 f.archiveOSTYpesArray(), f.documentOSTypesArray()};
    const QVariantList labels = KZDefaultsRegistry::fileTypeLabels();
    ASSERT_EQ(labels.size(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(names[i]);
        const QVariantMap label = labels.at(i).toMap();
        const auto d = [&](const QString& key) { return label.value(key).toDouble(); };
        EXPECT_EQ(label.value(L::file_type_tag).toLongLong(), i);
        EXPECT_EQ(label.value(L::label_name).toString(), platform::localizedString(str(names[i])));
        // Selected and unselected share the colour; tables written by earlier
        // versions hold exactly this unselected alpha.
        EXPECT_EQ((std::vector{d(L::red_label_on_color), d(L::green_label_on_color), d(L::blue_label_on_color),
                               d(L::alpha_label_on_color), d(L::red_label_off_color), d(L::green_label_off_color),
                               d(L::blue_label_off_color), d(L::alpha_label_off_color)}),
                  (std::vector{rgb[i][0], rgb[i][1], rgb[i][2], 0.8, rgb[i][0], rgb[i][1], rgb[i][2],
                               0.6000000000000001}));
        EXPECT_EQ(label.value(L::customizable_tag).toString(), i >= 3 ? L::customizable : L::not_customizable);
        EXPECT_EQ(label.value(L::draw_separator), QVariant(i == 2));
        EXPECT_EQ(label.size(), i < 3 ? 13 : 15);
        if (i < 3) {
            EXPECT_EQ(label.value(L::placeholder_string).toString(), platform::localizedString(str(placeholders[i])));
            continue;
        }
        EXPECT_EQ(label.value(L::labels_extension).toString(), extensions[i - 3]);
        EXPECT_EQ(label.value(L::labels_extension_array).toStringList(), groups[i - 3]);
        EXPECT_EQ(label.value(L::labels_type_array).toStringList(), types[i - 3]);
    }
}

TEST_F(DefaultsRegistryTest, RevertRestoresExactlyTheInitialValueKeys)
{
    const QStringList initial = KZDefaultsRegistry::initialValueKeys();
    ASSERT_EQ(QSet<QString>(initial.begin(), initial.end()).size(), 21);
    const QSet<QString> outside = {K::last_file_type_tag, K::disable_lables, K::disable_lable_colors,
                                   K::security_moving_to_trash, K::show_result_by_group,
                                   K::list_splitView_is_vertical, K::show_marked_info, K::is_first_run,
                                   K::iTunes_library_path};
    const QVariantMap registered = defaults().registeredDefaults();
    QVariantMap changed;
    for (auto it = registered.begin(); it != registered.end(); ++it) {
        const QVariant& v = it.value();
        changed[it.key()] = v.typeId() == QMetaType::Bool ? QVariant(!v.toBool())
            : v.typeId() == QMetaType::QVariantList       ? QVariant(QVariantList{str("changed")})
            : v.typeId() == QMetaType::QVariantMap        ? QVariant(QVariantMap{{str("changed"), true}})
                                                          : QVariant(v.toLongLong() + 5);
        defaults().setValue(it.key(), changed[it.key()]);
    }
    const QVariant splitView = QVariantList{str("{{0, 0}, {200, 300}}"), str("{{201, 0}, {300, 300}}")};
    defaults().setValue(K::main_splitview_settings, splitView);

    defaults().revertToInitialValues();
    for (auto it = registered.begin(); it != registered.end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        EXPECT_NE(initial.contains(it.key()), outside.contains(it.key()));
        EXPECT_EQ(defaults().value(it.key()), initial.contains(it.key()) ? it.value() : changed[it.key()]);
    }
    EXPECT_EQ(defaults().value(K::main_splitview_settings), splitView);
}

TEST_F(DefaultsRegistryTest, UserValuesSurviveARestart)
{
    const std::filesystem::path file = dir / "restart.plist";
    QVariantList labels;
    {
        platform::UserDefaults first(file);
        KZDefaultsRegistry::setupDefaultsPreferences(first);
        labels = first.arrayForKey(K::file_type_labels);
        labels.append(QVariantMap{{L::file_type_tag, 8}, {L::label_name, str("Pictures")}});
        first.setValue(K::file_type_labels, labels);
        first.setValue(K::is_first_run, false);
        first.setValue(K::ask_close_iTunes, true);
        ASSERT_TRUE(first.lastError().isEmpty()) << first.lastError().toStdString();
    }
    platform::UserDefaults second(file);
    // Only what the user changed was stored.
    EXPECT_FALSE(second.value(K::show_result_by_group).isValid());
    KZDefaultsRegistry::setupDefaultsPreferences(second);
    EXPECT_EQ(second.arrayForKey(K::file_type_labels), labels);
    EXPECT_FALSE(second.boolForKey(K::is_first_run));
    EXPECT_TRUE(second.boolForKey(K::ask_close_iTunes));
    EXPECT_TRUE(second.boolForKey(K::show_result_by_group));

    // A restore after the restart still reaches the factory table.
    second.revertToInitialValues();
    EXPECT_EQ(second.arrayForKey(K::file_type_labels), KZDefaultsRegistry::fileTypeLabels());
    EXPECT_FALSE(second.boolForKey(K::ask_close_iTunes));
    EXPECT_FALSE(second.boolForKey(K::is_first_run));
}

// Every key the services and settings look up, and every alert that a
// suppression flag governs, must have a text in the shipped tables: a gap
// would put the raw key on screen.
TEST_F(DefaultsRegistryTest, ShippedStringTablesHaveATextForEveryKeyInUse)
{
    platform::resetStringTables();
    const char* const defaultKeys[] = {
        // Sizes, alert check boxes, unreadable names.
        "byte", "Kb", "Mb", "Gb", "Tb", "apply_to_all", "suppression_message_text", "unknown_file",
        // Labels and tabs.
        "all_dupes", "others", "folders", "images", "music", "movies", "archive", "documents",
        "placeholder_labels_all", "placeholder_labels_others", "placeholder_labels_folders", "deads_tab_name",
        "empty_folders", "single_tab_name", "all_dupes_btn_title",
        // Alerts behind the suppression flags, with their buttons.
        "manage_photos_app", "manage_iTunes_app", "manage_app_msg", "allow_button", "dont_allow_button",
        "ask_mark_speed_info", "continue_button", "dont_continue_button", "search_again", "close_result_window",
        "losing_result_msg", "missing_files_detected", "missing_files_detected_mess", "yes_button", "no_button",
        "remove_user_deleted_tab", "remove_user_deleted_tab_from_preferences", "remove_button",
        "dont_remove_button", "no_item_at_path_sing", "how_to_remove_path_msg", "undo_mark_available",
        "no_items_changed", "close_result_window_while_removing", "ask_open_file", "ask_for_empty_folder",
        "report_button", "dont_report_button"};
    for (const char* key : defaultKeys)
        EXPECT_NE(platform::localizedString(str(key)), str(key)) << key;
    for (const char* key : {"security_alert", "nothing_to_remove"})
        EXPECT_NE(platform::localizedString(str(key), str("Errors")), str(key)) << key;

    // Names fill "%@" places; the tab format takes its name as "%1".
    EXPECT_TRUE(platform::localizedString(str("no_item_at_path_sing")).contains(str("%@")));
    EXPECT_TRUE(platform::localizedString(str("security_alert"), str("Errors")).contains(str("%@")));
    EXPECT_TRUE(platform::localizedString(str("single_tab_name")).contains(str("%1")));
}

// A search without a window registers the same values, with label names and
// placeholders left as their keys.
TEST_F(DefaultsRegistryTest, SearchDefaultsDifferOnlyInShownTexts)
{
    platform::UserDefaults searchOnly(dir.path() / "search.plist");
    KZDefaultsRegistry::setupSearchDefaults(searchOnly);
    QVariantMap keyed = searchOnly.registeredDefaults();
    QVariantMap named = defaults().registeredDefaults();
    const QVariantList keyedLabels = keyed.take(K::file_type_labels).toList();
    const QVariantList namedLabels = named.take(K::file_type_labels).toList();
    EXPECT_EQ(keyed, named);
    EXPECT_EQ(searchOnly.initialValues().keys(), defaults().initialValues().keys());
    ASSERT_EQ(keyedLabels.size(), namedLabels.size());
    for (qsizetype i = 0; i < keyedLabels.size(); ++i) {
        QVariantMap a = keyedLabels.at(i).toMap(), b = namedLabels.at(i).toMap();
        EXPECT_NE(a.take(L::label_name), b.take(L::label_name)) << i;
        a.remove(L::placeholder_string);
        b.remove(L::placeholder_string);
        EXPECT_EQ(a, b) << i;
    }
    EXPECT_EQ(keyedLabels.at(3).toMap().value(L::label_name), str("images"));
}

TEST_F(DefaultsRegistryTest, FileTagsExcludingTags)
{
    const std::pair<std::optional<QSet<quint64>>, QList<quint64>> factory[] = {
        {std::nullopt, {7, 6, 5, 4, 3}},
        {QSet<quint64>{}, {7, 6, 5, 4, 3}},
        {QSet<quint64>{4, 6}, {7, 5, 3}},
        {QSet<quint64>{0, 1, 2, 3}, {7, 6, 5, 4}}, // the fixed tags are never listed anyway
        {QSet<quint64>{3, 4, 5, 6, 7}, {}},
    };
    for (const auto& [excluded, tags] : factory)
        EXPECT_EQ(tagsOf(KZDefaultsRegistry::fileTagsExcludingTags(excluded)), tags);
    const QVariantMap images = KZDefaultsRegistry::fileTagsExcludingTags().at(4).toMap();
    EXPECT_EQ(images.size(), 3);
    EXPECT_EQ(images.value(L::labels_extension).toStringList(),
              KZFilesUtilities::sharedControl().imagesExtensions().split(QLatin1Char(',')));

    // A user label with no extensions yet, one from an older table without
    // type codes, and one with nothing to match at all (left out).
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    labels.append(QVariantMap{{L::file_type_tag, 8}, {L::labels_extension, QString()},
                              {L::labels_type_array, QVariantList{}}});
    labels.append(QVariantMap{{L::file_type_tag, 9}, {L::labels_extension, str("psd,,ai")}});
    labels.append(QVariantMap{{L::file_type_tag, 10}, {L::label_name, str("Bare")}});
    defaults().setValue(K::file_type_labels, labels);
    const QVariantList entries = KZDefaultsRegistry::fileTagsExcludingTags();
    EXPECT_EQ(tagsOf(entries), (QList<quint64>{9, 8, 7, 6, 5, 4, 3}));
    EXPECT_EQ(entries.at(0).toMap(), (QVariantMap{{L::file_type_tag, quint64(9)},
                                                  {L::labels_extension, QVariantList{str("psd"), str("ai")}}}));
    // Blank extensions name none, so extensionless files are not claimed.
    EXPECT_EQ(entries.at(1).toMap().value(L::labels_extension).toStringList(), QStringList{});
    EXPECT_TRUE(entries.at(1).toMap().contains(L::labels_type_array));

    // An empty or damaged table lists nothing.
    for (const QVariant& table : {QVariant(QVariantList{}), QVariant(str("not a table")),
                                  QVariant(QVariantList{str("x"), 3, QVariantMap{}})}) {
        defaults().setValue(K::file_type_labels, table);
        EXPECT_TRUE(KZDefaultsRegistry::fileTagsExcludingTags().isEmpty());
    }
}

} // namespace

TEST(KZDefaultsRegistryTest, TheLastCopyLevelIsReadAsRemovalActsOnIt)
{
    struct Case {
        QVariant stored;
        qint16 level;
    };
    const Case cases[] = {
        {QVariant(), 2},                       // unset: the last member stays
        {QVariant(0), 0},                      // no protection, not the factory level
        {QVariant(1), 1},
        {QVariant(3), 3},
        {QVariant(qlonglong(65537)), 1},       // a signed 16-bit value
        {QVariant(2.9), 2},                    // a fraction is cut, not rounded up
        {QVariant(QStringLiteral("often")), 2}, // hand-edited text keeps the copy
        {QVariant(QVariantList{3}), 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KZDefaultsRegistry::lastCopyLevel(c.stored), c.level) << c.stored.toString().toStdString();
}
