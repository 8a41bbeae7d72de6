#include "preferences/KZLimitationsList.h"

#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace K = KZDefaultsKey;
namespace R = KZDefaultsRowKey;
using List = KZLimitationsList::List;
using namespace Qt::StringLiterals;

namespace {

class LimitationsListTest : public ::testing::Test {
protected:
    void SetUp() override { KZDefaultsRegistry::setupDefaultsPreferences(*defaults); }

    QStringList values(const KZLimitationsList& list) const
    {
        QStringList result;
        for (const QVariantMap& row : list.rows())
            result.append(list.valueAt(row));
        return result;
    }

    kztest::ScopedDefaults defaults;
    KZLimitationsList locations{*defaults, List::Locations};
    KZLimitationsList extensions{*defaults, List::Extensions};
};

} // namespace

TEST_F(LimitationsListTest, LocationsAreComparedExactlyAfterNormalisation)
{
    defaults->setValue(K::locations_excluded, QVariantList{});
    EXPECT_EQ(locations.addLocations({u"/data/Photos"_s}), 1);
    // Another folder on this system, which the user wants left out too.
    EXPECT_EQ(locations.addLocations({u"/data/photos"_s}), 1);
    // The same folder spelt differently adds nothing.
    EXPECT_EQ(locations.addLocations({u"/data/Photos/"_s, u"//data/./Photos"_s}), 0);
    EXPECT_EQ(values(locations), (QStringList{u"/data/Photos"_s, u"/data/photos"_s}));
}

TEST_F(LimitationsListTest, ChosenFoldersAreAddedInOrderAndInForce)
{
    defaults->setValue(K::locations_excluded, QVariantList{QVariantMap{{R::locations_excl, u"/b"_s}, {R::check_col, false}}});
    EXPECT_EQ(locations.addLocations({u"/c"_s, u"/b"_s, u"/a"_s}), 2);
    const QList<QVariantMap> rows = locations.rows();
    EXPECT_EQ(values(locations), (QStringList{u"/b"_s, u"/c"_s, u"/a"_s}));
    EXPECT_FALSE(KZLimitationsList::isChecked(rows.at(0)));
    EXPECT_TRUE(KZLimitationsList::isChecked(rows.at(1)));
    EXPECT_EQ(rows.at(2).keys(), (QStringList{R::check_col, R::locations_excl}));
    // A cancelled or empty answer writes nothing.
    EXPECT_EQ(locations.addLocations({}), 0);
}

TEST_F(LimitationsListTest, TokenEditsStoreJoinedTokensAndDropEmptyRows)
{
    const qsizetype row = extensions.addExtensionRow();
    EXPECT_EQ(row, 9);
    EXPECT_EQ(extensions.rows().at(9).value(R::extensions_excl), QString());
    EXPECT_TRUE(KZLimitationsList::isChecked(extensions.rows().at(9)));

    extensions.setExtensionTokens(9, KZLimitationsList::tokensOf(u" log ,  Bak,,tmp2 "_s));
    EXPECT_EQ(values(extensions).at(9), u"log,Bak,tmp2"_s);

    // A row left without tokens disappears.
    extensions.setExtensionTokens(9, KZLimitationsList::tokensOf(u" , "_s));
    EXPECT_EQ(extensions.rows().size(), 9);

    // The same tokens leave the stored string as it was.
    const QVariant before = defaults->value(K::extensions_excluded);
    extensions.setExtensionTokens(0, {u"a"_s, u"so"_s, u"h"_s, u"m"_s, u"c"_s, u"cpp"_s, u"pch"_s});
    EXPECT_EQ(defaults->value(K::extensions_excluded), before);
    // A row that is no longer there changes nothing.
    extensions.setExtensionTokens(40, {u"x"_s});
    EXPECT_EQ(defaults->value(K::extensions_excluded), before);
}

TEST_F(LimitationsListTest, RemovingRowsKeepsTheOthersInOrder)
{
    QVariantList five;
    for (const QString& path : {u"/0"_s, u"/1"_s, u"/2"_s, u"/3"_s, u"/4"_s})
        five.append(QVariantMap{{R::locations_excl, path}, {R::check_col, true}});
    defaults->setValue(K::locations_excluded, five);
    locations.removeRows({1, 3});
    EXPECT_EQ(values(locations), (QStringList{u"/0"_s, u"/2"_s, u"/4"_s}));
    locations.setChecked(1, false);
    EXPECT_FALSE(KZLimitationsList::isChecked(locations.rows().at(1)));
}

TEST_F(LimitationsListTest, RestoreTakesBackOnlyTheListInFront)
{
    defaults->setValue(K::extensions_excluded, QVariantList{});
    locations.addLocations({u"/srv/media"_s});
    extensions.restore();
    EXPECT_EQ(extensions.rows().size(), 9);
    EXPECT_EQ(values(locations).last(), u"/srv/media"_s);
    locations.restore();
    EXPECT_EQ(locations.rows().size(), 1);
}

TEST_F(LimitationsListTest, AStringWhereTheListBelongsReadsAsEmpty)
{
    defaults->setValue(K::locations_excluded, u"/Applications"_s);
    EXPECT_TRUE(locations.rows().isEmpty());
    EXPECT_EQ(locations.addLocations({u"/opt"_s}), 1);
    EXPECT_EQ(values(locations), QStringList{u"/opt"_s});
}
