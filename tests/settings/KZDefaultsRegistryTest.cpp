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

namespace K = KZDefaultsKey;
namespace L = KZLabelKey;

namespace {

QString str(const char* s) { return QString::fromUtf8(s); }

// A fresh defaults file for each test, installed as the shared instance, as
// on a first launch.
class DefaultsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(
            std::make_unique<platform::UserDefaults>(dir / "defaults.plist"));
        KZDefaultsRegistry::setupDefaultsPreferences();
    }
    void TearDown() override { platform::UserDefaults::setStandard(nullptr); }

    platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

    QList<quint64> tagsOf(const QVariantList& entries)
    {
        QList<quint64> tags;
        for (const QVariant& e : entries)
            tags.append(e.toMap().value(L::file_type_tag).toULongLong());
        return tags;
    }

    kztest::TempDir dir;
};

TEST_F(DefaultsRegistryTest, FirstLaunchReadsTheFactoryValues)
{
    const QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    ASSERT_EQ(labels.size(), 8);
    EXPECT_EQ(tagsOf(labels), (QList<quint64>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(defaults().integerForKey(K::last_file_type_tag), 8);
    EXPECT_TRUE(defaults().boolForKey(K::is_first_run));
    EXPECT_TRUE(defaults().boolForKey(K::show_result_by_group));
    EXPECT_TRUE(defaults().boolForKey(K::show_marked_info));
    EXPECT_FALSE(defaults().boolForKey(K::list_splitView_is_vertical));
    EXPECT_FALSE(defaults().boolForKey(K::disable_lables));
    EXPECT_FALSE(defaults().boolForKey(K::reduce_transparence));
    EXPECT_EQ(defaults().integerForKey(K::report_empty_folders), 0);
    EXPECT_EQ(defaults().integerForKey(K::check_image_metadata_option), 0);
    EXPECT_EQ(defaults().integerForKey(K::security_moving_to_trash), 2);

    // The string table has no entry for it, so the key itself is the path.
    const QVariantList locations = defaults().arrayForKey(K::locations_excluded);
    ASSERT_EQ(locations.size(), 1);
    EXPECT_EQ(locations.first().toMap(),
              (QVariantMap{{KZDefaultsRowKey::locations_excl, str("/Applications")},
                           {KZDefaultsRowKey::check_col, true}}));

    // Nothing is written on a first launch: registration lives in memory.
    EXPECT_TRUE(defaults().registeredDefaults().contains(K::is_first_run));
    const auto onDisk = platform::PropertyList::readFile(dir / "defaults.plist");
    EXPECT_TRUE(!onDisk || !onDisk->toMap().contains(K::is_first_run));
}

TEST_F(DefaultsRegistryTest, EveryRegisteredKeyIsKnownAndTheSplitViewKeysAreNot)
{
    const QVariantMap registered = defaults().registeredDefaults();
    EXPECT_EQ(registered.size(), 29);
    for (const QString& key : KZDefaultsRegistry::alertSuppressionKeys()) {
        ASSERT_TRUE(registered.contains(key)) << key.toStdString();
        EXPECT_EQ(registered.value(key), QVariant(false)) << key.toStdString();
    }
    EXPECT_EQ(KZDefaultsRegistry::alertSuppressionKeys().size(), 15);
    for (const QString& key : {K::main_splitview_settings, K::list_ver_splitview_settings,
                               K::list_hor_splitview_settings})
        EXPECT_FALSE(defaults().value(key).isValid()) << key.toStdString();
}

TEST_F(DefaultsRegistryTest, DefaultValuesAreAPropertyList)
{
    // The values are written into the defaults file as soon as a user changes
    // them, so each must survive the property-list form unchanged.
    const QVariantMap values = KZDefaultsRegistry::defaultValues();
    QString error;
    const QByteArray xml = platform::PropertyList::toData(values, platform::PropertyList::Format::Xml, &error);
    ASSERT_FALSE(xml.isEmpty()) << error.toStdString();
    const auto back = platform::PropertyList::fromData(xml, &error);
    ASSERT_TRUE(back.has_value()) << error.toStdString();
    EXPECT_EQ(back->toMap(), values);
}

TEST_F(DefaultsRegistryTest, ExcludedExtensionsAreTheNineRowsInOrder)
{
    const QStringList expected = {
        str("a,so,h,m,c,cpp,pch"),          str("py,hpp,h++,c++,swift,rb"),
        str("json,css,js,java,swift,jar"),  str("lib,dylib,pth,db,dll,ocx"),
        str("rpl,hds,framework,build,plist"), str("info,def,properties,proofingtool"),
        str("bup,ar,hds,tmp,hg,vsd"),       str("xsd,xsl,lprj,entitlements,xib"),
        str("xcconfig,sparsebundle,dsym"),
    };
    const QVariantList rows = defaults().arrayForKey(K::extensions_excluded);
    ASSERT_EQ(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QVariantMap row = rows.at(i).toMap();
        EXPECT_EQ(row.size(), 2);
        EXPECT_EQ(row.value(KZDefaultsRowKey::extensions_excl).toString(), expected.at(i)) << i;
        EXPECT_EQ(row.value(KZDefaultsRowKey::check_col), QVariant(true)) << i;
    }
}

TEST_F(DefaultsRegistryTest, FactoryLabelTable)
{
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    struct Row {
        const char* nameKey;
        double red, green, blue;
        bool customizable, separator;
        const char* placeholderKey; // fixed labels only
        QString extensions;
        QStringList groups, types;
    };
    const Row rows[] = {
        {"all_dupes", 0.799, 0.84, 0.986, false, false, "placeholder_labels_all", {}, {}, {}},
        {"others", 0.819, 0.909, 0.682, false, false, "placeholder_labels_others", {}, {}, {}},
        {"folders", 0.662, 0.831, 0.96, false, true, "placeholder_labels_folders", {}, {}, {}},
        {"images", 0.611, 0.713, 1.0, true, false, nullptr, files.imagesExtensions(),
         files.arrayImagesExtensions(), files.imagesOSTypesArray()},
        {"music", 0.705, 0.85, 0.76, true, false, nullptr, files.musicExtensions(),
         files.arrayMusicExtensions(), files.musicOSTypesArray()},
        {"movies", 0.968, 0.729, 0.521, true, false, nullptr, files.moviesExtensions(),
         files.arrayMoviesExtensions(), files.moviesOSTypesArray()},
        {"archive", 0.98, 0.823, 0.698, true, false, nullptr, files.archiveExtensions(),
         files.arrayArchiveExtensions(), files.archiveOSTYpesArray()},
        {"documents", 0.941, 0.8, 0.505, true, false, nullptr, files.documentExtensions(),
         files.arrayDocumentExtensions(), files.documentOSTypesArray()},
    };
    const QVariantList labels = KZDefaultsRegistry::fileTypeLabels();
    ASSERT_EQ(labels.size(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(rows[i].nameKey);
        const Row& r = rows[i];
        const QVariantMap label = labels.at(i).toMap();
        EXPECT_EQ(label.value(L::file_type_tag).toLongLong(), i);
        EXPECT_EQ(label.value(L::label_name).toString(), platform::localizedString(str(r.nameKey)));
        EXPECT_EQ(label.value(L::red_label_on_color).toDouble(), r.red);
        EXPECT_EQ(label.value(L::green_label_on_color).toDouble(), r.green);
        EXPECT_EQ(label.value(L::blue_label_on_color).toDouble(), r.blue);
        EXPECT_EQ(label.value(L::red_label_off_color).toDouble(), r.red);
        EXPECT_EQ(label.value(L::green_label_off_color).toDouble(), r.green);
        EXPECT_EQ(label.value(L::blue_label_off_color).toDouble(), r.blue);
        EXPECT_EQ(label.value(L::alpha_label_on_color).toDouble(), 0.8);
        // Tables written by earlier versions hold exactly this double.
        EXPECT_EQ(label.value(L::alpha_label_off_color).toDouble(), 0.6000000000000001);
        EXPECT_EQ(label.value(L::customizable_tag).toString(),
                  r.customizable ? L::customizable : L::not_customizable);
        EXPECT_EQ(label.value(L::draw_separator), QVariant(r.separator));
        if (r.placeholderKey) {
            EXPECT_EQ(label.size(), 13);
            EXPECT_EQ(label.value(L::placeholder_string).toString(),
                      platform::localizedString(str(r.placeholderKey)));
            EXPECT_FALSE(label.contains(L::labels_extension));
            EXPECT_FALSE(label.contains(L::labels_extension_array));
            EXPECT_FALSE(label.contains(L::labels_type_array));
        } else {
            EXPECT_EQ(label.size(), 15);
            EXPECT_FALSE(label.contains(L::placeholder_string));
            EXPECT_FALSE(r.extensions.isEmpty());
            EXPECT_EQ(label.value(L::labels_extension).toString(), r.extensions);
            EXPECT_EQ(label.value(L::labels_extension_array).toStringList(), r.groups);
            EXPECT_EQ(label.value(L::labels_type_array).toStringList(), r.types);
        }
    }
}

QVariant someOtherValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return !v.toBool();
    case QMetaType::QVariantList:
        return QVariantList{QVariantMap{{str("changed"), true}}};
    case QMetaType::QVariantMap:
        return QVariantMap{{str("changed"), true}};
    default:
        return v.toLongLong() + 5;
    }
}

TEST_F(DefaultsRegistryTest, RevertRestoresExactlyTheInitialValueKeys)
{
    const QStringList initial = KZDefaultsRegistry::initialValueKeys();
    ASSERT_EQ(initial.size(), 21);
    EXPECT_EQ(QSet<QString>(initial.begin(), initial.end()).size(), 21);
    const QSet<QString> outside = {K::last_file_type_tag, K::disable_lables, K::disable_lable_colors,
                                   K::security_moving_to_trash, K::show_result_by_group,
                                   K::list_splitView_is_vertical, K::show_marked_info, K::is_first_run};

    const QVariantMap registered = defaults().registeredDefaults();
    QVariantMap changed;
    for (auto it = registered.begin(); it != registered.end(); ++it) {
        changed.insert(it.key(), someOtherValue(it.value()));
        defaults().setValue(it.key(), changed.value(it.key()));
    }
    const QVariant splitView = QVariantList{str("{{0, 0}, {200, 300}}"), str("{{201, 0}, {300, 300}}")};
    defaults().setValue(K::main_splitview_settings, splitView);

    defaults().revertToInitialValues();

    for (auto it = registered.begin(); it != registered.end(); ++it) {
        const QString& key = it.key();
        SCOPED_TRACE(key.toStdString());
        if (initial.contains(key)) {
            EXPECT_FALSE(outside.contains(key));
            EXPECT_EQ(defaults().value(key), it.value());
        } else {
            EXPECT_TRUE(outside.contains(key));
            EXPECT_EQ(defaults().value(key), changed.value(key));
        }
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
        QVariantMap images = labels[3].toMap();
        images[L::label_name] = str("Pictures");
        labels[3] = images;
        first.setValue(K::file_type_labels, labels);
        first.setValue(K::is_first_run, false);
        first.setValue(K::security_moving_to_trash, 3);
        first.setValue(K::ask_close_iTunes, true);
        ASSERT_TRUE(first.lastError().isEmpty()) << first.lastError().toStdString();
    }

    platform::UserDefaults second(file);
    // Only what the user changed was stored; the factory values come back
    // with the next launch's registration.
    EXPECT_FALSE(second.value(K::show_result_by_group).isValid());
    KZDefaultsRegistry::setupDefaultsPreferences(second);
    EXPECT_EQ(second.arrayForKey(K::file_type_labels), labels);
    EXPECT_FALSE(second.boolForKey(K::is_first_run));
    EXPECT_EQ(second.integerForKey(K::security_moving_to_trash), 3);
    EXPECT_TRUE(second.boolForKey(K::ask_close_iTunes));
    EXPECT_TRUE(second.boolForKey(K::show_result_by_group));

    // A restore after the restart still reaches the factory table.
    second.revertToInitialValues();
    EXPECT_EQ(second.arrayForKey(K::file_type_labels), KZDefaultsRegistry::fileTypeLabels());
    EXPECT_FALSE(second.boolForKey(K::ask_close_iTunes));
    EXPECT_FALSE(second.boolForKey(K::is_first_run));

    second.setValue(K::report_empty_folders, 2);
    second.reload();
    EXPECT_EQ(second.integerForKey(K::report_empty_folders), 2);
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

// ---- fileTagsExcludingTags ------------------------------------------------

TEST_F(DefaultsRegistryTest, FileTagsOfTheFactoryTable)
{
    struct Case {
        const char* name;
        std::optional<QSet<quint64>> excluded;
        QList<quint64> tags;
    };
    const Case cases[] = {
        {"all", std::nullopt, {7, 6, 5, 4, 3}},
        {"empty set", QSet<quint64>{}, {7, 6, 5, 4, 3}},
        {"four and six", QSet<quint64>{4, 6}, {7, 5, 3}},
        {"fixed tags are never listed anyway", QSet<quint64>{0, 1, 2, 3}, {7, 6, 5, 4}},
        {"every label", QSet<quint64>{3, 4, 5, 6, 7}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tagsOf(KZDefaultsRegistry::fileTagsExcludingTags(c.excluded)), c.tags);
    }
}

TEST_F(DefaultsRegistryTest, FileTagEntriesCarryTheLabelLists)
{
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    const QVariantList entries = KZDefaultsRegistry::fileTagsExcludingTags();
    ASSERT_EQ(entries.size(), 5);
    const QVariantMap images = entries.at(4).toMap();
    EXPECT_EQ(images.size(), 3);
    EXPECT_EQ(images.value(L::file_type_tag).typeId(), QMetaType::ULongLong);
    EXPECT_EQ(images.value(L::labels_extension).toStringList(), files.imagesExtensions().split(QLatin1Char(',')));
    EXPECT_EQ(images.value(L::labels_type_array).toStringList(), files.imagesOSTypesArray());
}

TEST_F(DefaultsRegistryTest, FileTagsOfAUserTable)
{
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    // A user label with no extensions yet, and one from an older table
    // without type codes.
    labels.append(QVariantMap{{L::file_type_tag, 8}, {L::label_name, str("Empty")},
                              {L::labels_extension, QString()},
                              {L::labels_type_array, QVariantList{}}});
    labels.append(QVariantMap{{L::file_type_tag, 9}, {L::label_name, str("Old")},
                              {L::labels_extension, str("psd,ai")}});
    // Nothing to match at all: left out.
    labels.append(QVariantMap{{L::file_type_tag, 10}, {L::label_name, str("Bare")}});
    defaults().setValue(K::file_type_labels, labels);

    const QVariantList entries = KZDefaultsRegistry::fileTagsExcludingTags();
    EXPECT_EQ(tagsOf(entries), (QList<quint64>{9, 8, 7, 6, 5, 4, 3}));

    const QVariantMap old = entries.at(0).toMap();
    EXPECT_EQ(old.value(L::labels_extension).toStringList(), (QStringList{str("psd"), str("ai")}));
    EXPECT_FALSE(old.contains(L::labels_type_array));

    const QVariantMap empty = entries.at(1).toMap();
    EXPECT_EQ(empty.value(L::labels_extension).toStringList(), QStringList{QString()});
    EXPECT_TRUE(empty.contains(L::labels_type_array));
}

TEST_F(DefaultsRegistryTest, FileTagsOfAnEmptyOrDamagedTable)
{
    defaults().setValue(K::file_type_labels, QVariantList{});
    EXPECT_TRUE(KZDefaultsRegistry::fileTagsExcludingTags().isEmpty());
    defaults().setValue(K::file_type_labels, str("not a table"));
    EXPECT_TRUE(KZDefaultsRegistry::fileTagsExcludingTags().isEmpty());
    defaults().setValue(K::file_type_labels, QVariantList{str("x"), 3, QVariantMap{}});
    EXPECT_TRUE(KZDefaultsRegistry::fileTagsExcludingTags().isEmpty());
}

} // namespace
