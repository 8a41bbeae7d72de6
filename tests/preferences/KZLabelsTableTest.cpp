#include "preferences/KZLabelsTable.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZFileTypeLabel.h"
#include "settings/KZNotificationNames.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace K = KZDefaultsKey;
namespace L = KZLabelKey;
using namespace Qt::StringLiterals;

namespace {

class LabelsTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZDefaultsRegistry::setupDefaultsPreferences(*defaults);
        for (const QString& name : {KZNotification::removeObservers, KZNotification::addObservers, u"updateTableView"_s})
            subscriptions.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, platform::bundleIdentifier(), [this, name](const platform::Notification&) {
                    posts.append(name);
                    // What the observers of a removal would read meanwhile.
                    tagsSeen.append(static_cast<int>(table.labels().size()));
                }));
    }

    QList<quint64> tags() const
    {
        QList<quint64> result;
        for (const QVariantMap& label : table.labels())
            result.append(KZLabelsTable::tagOf(label).value_or(999));
        return result;
    }

    kztest::ScopedDefaults defaults;
    KZLabelsTable table{*defaults};
    QStringList posts;
    QList<int> tagsSeen;
    std::vector<platform::Subscription> subscriptions;
};

} // namespace

TEST_F(LabelsTableTest, NewTagsFollowTheCounterAndAreNeverReused)
{
    quint64 tag = 0;
    ASSERT_EQ(table.addLabel(&tag), KZLabelsTable::AddResult::Added);
    EXPECT_EQ(tag, 9u);
    EXPECT_EQ(defaults->integerForKey(K::last_file_type_tag), 9);
    const QVariantMap added = *table.labelWithTag(9);
    EXPECT_EQ(added.value(L::label_name), QString());
    EXPECT_EQ(added.value(L::customizable_tag), L::customizable);
    EXPECT_EQ(added.value(L::red_label_on_color).toDouble(), 0.843);
    EXPECT_FALSE(added.contains(L::labels_type_array));

    ASSERT_TRUE(table.removeLabel(9));
    ASSERT_EQ(table.addLabel(&tag), KZLabelsTable::AddResult::Added);
    EXPECT_EQ(tag, 10u);

    table.restoreLabels();
    EXPECT_EQ(defaults->integerForKey(K::last_file_type_tag), 8);
    ASSERT_EQ(table.addLabel(&tag), KZLabelsTable::AddResult::Added);
    EXPECT_EQ(tag, 9u);
}

TEST_F(LabelsTableTest, ATagInTheTableAboveTheCounterIsNotHandedOutAgain)
{
    // A table edited by hand, or written by another version, with a higher tag.
    QList<QVariantMap> labels = table.labels();
    labels.last().insert(L::file_type_tag, 30);
    QVariantList list;
    for (const QVariantMap& label : labels)
        list.append(label);
    defaults->setValue(K::file_type_labels, list);
    EXPECT_EQ(table.nextTag(), 31u);
}

TEST_F(LabelsTableTest, ACounterAtTheTopNeverWrapsToTagZero)
{
    defaults->setValue(K::last_file_type_tag, std::numeric_limits<quint64>::max());
    EXPECT_FALSE(table.nextTag());
    quint64 tag = 77;
    EXPECT_EQ(table.addLabel(&tag), KZLabelsTable::AddResult::NoTagLeft);
    EXPECT_EQ(tag, 77u);
    EXPECT_EQ(table.labels().size(), 8);

    // The tags from 100000000000 on belong to the program's own tabs.
    defaults->setValue(K::last_file_type_tag, quint64(99999999998));
    EXPECT_EQ(table.nextTag(), 99999999999u);
    defaults->setValue(K::last_file_type_tag, quint64(99999999999));
    EXPECT_FALSE(table.nextTag());

    // A counter that is no number leaves the table's own tags to go by.
    defaults->setValue(K::last_file_type_tag, u"lots"_s);
    EXPECT_EQ(table.nextTag(), 8u);
}

TEST_F(LabelsTableTest, TheTableHoldsAtMostTwelveLabels)
{
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(table.addLabel(), KZLabelsTable::AddResult::Added);
    EXPECT_FALSE(table.canAddLabel());
    EXPECT_EQ(table.addLabel(), KZLabelsTable::AddResult::TableFull);
    EXPECT_EQ(table.labels().size(), 12);
    EXPECT_EQ(defaults->integerForKey(K::last_file_type_tag), 12);
}

TEST_F(LabelsTableTest, RemovingFindsTheLabelByTagAndPostsInOrder)
{
    ASSERT_TRUE(table.removeLabel(5));
    EXPECT_EQ(tags(), (QList<quint64>{0, 1, 2, 3, 4, 6, 7}));
    EXPECT_EQ(posts, (QStringList{KZNotification::removeObservers, KZNotification::addObservers, u"updateTableView"_s}));
    // Removed before "addObservers", so that the label models never see the write.
    EXPECT_EQ(tagsSeen, (QList<int>{8, 7, 7}));
    EXPECT_EQ(defaults->integerForKey(K::last_file_type_tag), 8);

    // A row made before the removal asks again for tag 5: nothing happens,
    // no other label is touched.
    posts.clear();
    EXPECT_FALSE(table.removeLabel(5));
    EXPECT_FALSE(table.renameLabel(5, u"gone"_s));
    EXPECT_FALSE(table.recolourLabel(5, 1, 0, 0));
    EXPECT_TRUE(posts.isEmpty());
    EXPECT_EQ(tags(), (QList<quint64>{0, 1, 2, 3, 4, 6, 7}));
}

TEST_F(LabelsTableTest, RenamingStoresTitleCase)
{
    EXPECT_EQ(KZLabelsTable::titleCase(u"rAW photos"_s), u"Raw Photos"_s);
    EXPECT_EQ(KZLabelsTable::titleCase(u"hi-res AUDIO, 2024 mixes"_s), u"Hi-Res Audio, 2024 Mixes"_s);
    EXPECT_EQ(KZLabelsTable::titleCase(u"éCOLE"_s), u"École"_s);
    EXPECT_EQ(KZLabelsTable::titleCase(u"istanbul"_s, QLocale(QLocale::Turkish)), u"İstanbul"_s);

    EXPECT_EQ(table.renameLabel(6, u"  zIP files "_s), u"Zip Files"_s);
    EXPECT_EQ(table.labelWithTag(6)->value(L::label_name), u"Zip Files"_s);
    // Clearing the name stores nothing.
    EXPECT_FALSE(table.renameLabel(6, u"   "_s));
    EXPECT_EQ(table.labelWithTag(6)->value(L::label_name), u"Zip Files"_s);
}

TEST_F(LabelsTableTest, RecolouringKeepsBothAlphas)
{
    ASSERT_TRUE(table.recolourLabel(4, 0.1, 0.2, 0.3));
    const QVariantMap label = *table.labelWithTag(4);
    EXPECT_EQ(label.value(L::red_label_on_color).toDouble(), double(0.1f));
    EXPECT_EQ(label.value(L::red_label_off_color).toDouble(), double(0.1f));
    EXPECT_EQ(label.value(L::green_label_off_color).toDouble(), double(0.2f));
    EXPECT_EQ(label.value(L::blue_label_on_color).toDouble(), double(0.3f));
    EXPECT_DOUBLE_EQ(label.value(L::alpha_label_on_color).toDouble(), 0.8);
    EXPECT_DOUBLE_EQ(label.value(L::alpha_label_off_color).toDouble(), 0.6);
}

TEST_F(LabelsTableTest, RestoringReachesTheLabelModelsOfOpenResults)
{
    KZFileTypeLabel model(3);
    table.renameLabel(3, u"pictures"_s);
    ASSERT_EQ(model.name(), u"Pictures"_s);
    posts.clear();
    table.restoreLabels();
    EXPECT_EQ(posts.mid(0, 2), (QStringList{KZNotification::removeObservers, KZNotification::addObservers}));
    EXPECT_EQ(model.name(), platform::localizedString(u"images"_s));
    EXPECT_TRUE(model.observersAreRegistered());
}

TEST_F(LabelsTableTest, CommittingExtensionsKeepsEverythingElseAsStoredNow)
{
    table.renameLabel(5, u"films"_s);
    table.recolourLabel(5, 0.5, 0.5, 0.5);
    const KZLabelsTable::ExtensionsCommit commit = table.commitExtensions(5, {u"mov,mp4"_s, u"mkv"_s});
    ASSERT_TRUE(commit.written);
    EXPECT_TRUE(commit.extensionsChanged);
    const QVariantMap label = *table.labelWithTag(5);
    EXPECT_EQ(label.value(L::label_name), u"Films"_s);
    EXPECT_EQ(label.value(L::red_label_on_color).toDouble(), 0.5);
    EXPECT_EQ(label.value(L::labels_extension), u"mov,mp4,mkv"_s);
    EXPECT_EQ(label.value(L::labels_extension_array), (QVariantList{u"mov,mp4"_s, u"mkv"_s}));
    EXPECT_TRUE(label.contains(L::labels_type_array));
    EXPECT_EQ(posts, QStringList{u"updateTableView"_s});

    // An unnamed label gets a name; the same extensions again are no change.
    quint64 tag = 0;
    table.addLabel(&tag);
    EXPECT_TRUE(table.commitExtensions(tag, {u"raw"_s}).extensionsChanged);
    EXPECT_EQ(table.labelWithTag(tag)->value(L::label_name), platform::localizedString(u"user_added"_s));
    EXPECT_FALSE(table.commitExtensions(tag, {u"raw"_s}).extensionsChanged);

    // A label removed meanwhile: nothing written, nothing posted.
    table.removeLabel(tag);
    posts.clear();
    const QVariant before = defaults->value(K::file_type_labels);
    EXPECT_FALSE(table.commitExtensions(tag, {u"x"_s}).written);
    EXPECT_EQ(defaults->value(K::file_type_labels), before);
    EXPECT_TRUE(posts.isEmpty());
}

TEST_F(LabelsTableTest, AHandEditedTableNeverCrashesAndNeverMatchesTagZeroByMistake)
{
    defaults->setValue(K::file_type_labels, u"images"_s);
    EXPECT_TRUE(table.labels().isEmpty());
    EXPECT_EQ(table.addLabel(), KZLabelsTable::AddResult::Added);
    EXPECT_EQ(table.labels().size(), 1);

    // A tag written as text is no tag: it must not read as 0.
    defaults->setValue(K::file_type_labels,
                       QVariantList{QVariantMap{{L::file_type_tag, u"seven"_s}, {L::label_name, u"A"_s}},
                                    QVariantMap{{L::file_type_tag, 0}, {L::label_name, u"All"_s}}});
    EXPECT_TRUE(table.renameLabel(0, u"every copy"_s));
    EXPECT_EQ(table.labels().at(0).value(L::label_name), u"A"_s);
    EXPECT_EQ(table.labels().at(1).value(L::label_name), u"Every Copy"_s);
}
