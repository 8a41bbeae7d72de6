#include "preferences/KZPreferencesDefaults.h"
#include "preferences/KZLimitationsList.h"

#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace K = KZDefaultsKey;
namespace D = KZPreferencesDefaults;
using namespace Qt::StringLiterals;

namespace {

class PreferencesDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZDefaultsRegistry::setupDefaultsPreferences(*defaults);
        platform::setLogSink([this](const QString& line) { log.append(line); });
    }
    void TearDown() override { platform::setLogSink({}); }

    // Every key the user domain could hold, set away from its factory value.
    void changeEverything()
    {
        for (const QString& key : KZDefaultsRegistry::alertSuppressionKeys())
            defaults->setValue(key, true);
        defaults->setValue(K::reduce_transparence, true);
        defaults->setValue(K::report_empty_folders, 2);
        defaults->setValue(K::check_image_metadata_option, 1);
        defaults->setValue(K::security_moving_to_trash, 3);
        defaults->setValue(K::locations_excluded, QVariantList{QVariantMap{{u"locations_excl"_s, u"/srv"_s}}});
        defaults->setValue(K::extensions_excluded, QVariantList{});
        defaults->setValue(K::file_type_labels, QVariantList{QVariantMap{{u"file_type_tag"_s, 3}}});
        defaults->setValue(K::last_file_type_tag, 40);
        defaults->setValue(K::disable_lables, true);
        defaults->setValue(K::is_first_run, false);
    }

    QVariantMap snapshot(const QStringList& except) const
    {
        QVariantMap values;
        for (const QString& key : KZDefaultsRegistry::defaultValues().keys()) {
            if (!except.contains(key))
                values.insert(key, defaults->value(key));
        }
        return values;
    }

    kztest::ScopedDefaults defaults;
    QStringList log;
};

} // namespace

TEST_F(PreferencesDefaultsTest, RestoreValuesTouchesExactlyTheFourGeneralSettings)
{
    changeEverything();
    const QStringList general{K::reduce_transparence, K::report_empty_folders, K::check_image_metadata_option,
                              K::security_moving_to_trash};
    const QVariantMap others = snapshot(general);
    D::restoreValues(*defaults);
    EXPECT_EQ(snapshot(general), others);
    EXPECT_FALSE(defaults->boolForKey(K::reduce_transparence));
    EXPECT_EQ(defaults->integerForKey(K::report_empty_folders), 0);
    EXPECT_EQ(defaults->integerForKey(K::check_image_metadata_option), 0);
    EXPECT_EQ(defaults->integerForKey(K::security_moving_to_trash), 2);
}

TEST_F(PreferencesDefaultsTest, RestoreWarningsTouchesExactlyTheFifteenAlertFlags)
{
    changeEverything();
    const QStringList alerts = KZDefaultsRegistry::alertSuppressionKeys();
    ASSERT_EQ(alerts.size(), 15);
    const QVariantMap others = snapshot(alerts);
    D::restoreWarnings(*defaults);
    EXPECT_EQ(snapshot(alerts), others);
    for (const QString& key : alerts)
        EXPECT_FALSE(defaults->boolForKey(key)) << key.toStdString();
}

TEST_F(PreferencesDefaultsTest, ValuesOfTheWrongTypeReadAsNothing)
{
    defaults->setValue(K::locations_excluded, u"/home"_s);
    EXPECT_TRUE(D::dictionaries(*defaults, K::locations_excluded).isEmpty());
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.first().contains(u"locations_excluded"_s));

    defaults->setValue(K::extensions_excluded, QVariantList{u"txt"_s, QVariantMap{{u"extensions_excl"_s, u"a"_s}}, 4});
    EXPECT_EQ(D::dictionaries(*defaults, K::extensions_excluded).size(), 1);

    EXPECT_EQ(D::unsignedValue(QVariant(qint64(9))), 9u);
    EXPECT_EQ(D::unsignedValue(QVariant(std::numeric_limits<quint64>::max())), std::numeric_limits<quint64>::max());
    EXPECT_EQ(D::unsignedValue(QVariant(3.0)), 3u);
    EXPECT_FALSE(D::unsignedValue(QVariant(u"3"_s)));
    EXPECT_FALSE(D::unsignedValue(QVariant(qint64(-1))));
    EXPECT_FALSE(D::unsignedValue(QVariant(2.5)));
    EXPECT_FALSE(D::unsignedValue(QVariant(1e30)));
    EXPECT_FALSE(D::unsignedValue(QVariant()));
}

TEST(PreferencesPathTest, LexicalNormalisationKeepsCaseAndParentSteps)
{
    EXPECT_EQ(D::lexicallyNormalized(u"/Users/ann/Photos/"_s), u"/Users/ann/Photos"_s);
    EXPECT_EQ(D::lexicallyNormalized(u"//Users///ann/./Photos"_s), u"/Users/ann/Photos"_s);
    EXPECT_EQ(D::lexicallyNormalized(u"/"_s), u"/"_s);
    EXPECT_EQ(D::lexicallyNormalized(u"///"_s), u"/"_s);
    EXPECT_EQ(D::lexicallyNormalized(u"/a/../b"_s), u"/a/../b"_s);
    EXPECT_NE(D::lexicallyNormalized(u"/data/Photos"_s), D::lexicallyNormalized(u"/data/photos"_s));
}
