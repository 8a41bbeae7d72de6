#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZFileTypeLabel.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace K = KZDefaultsKey;
namespace L = KZLabelKey;
using namespace Qt::Literals::StringLiterals;

namespace {

double widened(double v) { return static_cast<double>(static_cast<float>(v)); }
QString localized(const char* key) { return platform::localizedString(QString::fromLatin1(key)); }

const QString& tabs = KZNotification::updateTabsUserDefault;
const QString& sources = KZNotification::updateOtherSourceListInfo;

// Records the tab notifications in the order they are posted.
class TabPosts {
public:
    TabPosts()
    {
        for (const QString& name : {tabs, sources})
            subs_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, {}, [this](const platform::Notification& n) { posts.push_back(n); }));
    }
    // Names of the posts about `label` (its pointer or its tag), oldest first.
    QStringList about(const KZFileTypeLabel& label) const
    {
        QStringList names;
        for (const platform::Notification& n : posts) {
            if (n.object == platform::NotificationObject(static_cast<const void*>(&label))
                || n.object == platform::NotificationObject::number(static_cast<qint64>(label.tag())))
                names.append(n.name);
        }
        return names;
    }

    std::vector<platform::Notification> posts;

private:
    std::vector<platform::Subscription> subs_;
};

class FileTypeLabelTest : public ::testing::Test {
protected:
    void SetUp() override { KZDefaultsRegistry::setupDefaultsPreferences(); }

    platform::UserDefaults& defaults() { return *defaults_; }

    void editLabel(int index, const QString& key, const QVariant& value)
    {
        QVariantList labels = defaults().arrayForKey(K::file_type_labels);
        QVariantMap label = labels[index].toMap();
        label[key] = value;
        labels[index] = label;
        defaults().setValue(K::file_type_labels, labels);
    }

    static void post(const QString& name)
    {
        platform::NotificationCenter::defaultCenter().post(name, platform::bundleIdentifier());
    }

    kztest::ScopedDefaults defaults_;
};

TEST_F(FileTypeLabelTest, SpecialTabsHaveTheFixedLook)
{
    // A user label carrying a special tag must not lend the tab its look.
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    QVariantMap impostor = labels[3].toMap();
    impostor[L::file_type_tag] = 100000000003LL;
    labels.append(impostor);
    defaults().setValue(K::file_type_labels, labels);

    const std::pair<quint64, QString> cases[] = {
        {KZTag::missingTracks, localized("deads_tab_name")},
        {KZTag::emptyFolders, localized("empty_folders")},
        {100000000003ULL, QString()},
        {KZTag::specialTabsStart, QString()},
    };
    for (const auto& [tag, name] : cases) {
        SCOPED_TRACE(tag);
        KZFileTypeLabel label(tag);
        EXPECT_EQ(label.name(), name);
        EXPECT_EQ(label.firstChar(), name.left(1));
        EXPECT_EQ(label.onColor(), QColor::fromRgbF(0.828f, 0.851f, 0.883f, 0.8f));
        EXPECT_EQ(label.offColor(), label.onColor());
    }
}

TEST_F(FileTypeLabelTest, LookFollowsTransparencyAndDisabling)
{
    KZFileTypeLabel music(4);
    KZFileTypeLabel deads(KZTag::missingTracks);
    const QColor own = QColor::fromRgbF(0.705f, 0.85f, 0.76f, 0.8f);
    EXPECT_EQ(music.onColor(), own);
    EXPECT_EQ(music.offColor(), QColor::fromRgbF(0.705f, 0.85f, 0.76f, 0.6f));

    defaults().setValue(K::reduce_transparence, true);
    for (const KZFileTypeLabel* l : {&music, &deads})
        EXPECT_TRUE(l->onAlphaValue() == 1.0 && l->offAlphaValue() == 1.0);
    {
        TabPosts posts;
        defaults().setValue(K::reduce_transparence, false);
        EXPECT_EQ(music.offAlphaValue(), widened(0.6));
        EXPECT_EQ(deads.offAlphaValue(), widened(0.8));
        EXPECT_EQ(posts.about(music), QStringList{tabs});
        EXPECT_EQ(posts.about(deads), QStringList{tabs});
    }

    // Disabled, every tab shows the neutral colours and every change is reported.
    const QString deadsName = deads.name();
    defaults().setValue(K::disable_lables, true);
    for (const KZFileTypeLabel* l : {&music, &deads}) {
        EXPECT_EQ(l->onColor(), QColor::fromRgbF(0.843f, 0.843f, 0.843f, 0.8f));
        EXPECT_EQ(l->offColor(), l->onColor());
    }
    EXPECT_EQ(deads.name(), deadsName);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"another label renamed", [&] { editLabel(7, L::label_name, u"Papers"_s); }},
        {"transparency", [&] { defaults().setValue(K::reduce_transparence, true); }},
    };
    for (const auto& [what, apply] : changes) {
        SCOPED_TRACE(what);
        TabPosts posts;
        apply();
        EXPECT_TRUE(posts.about(music).contains(tabs));
        EXPECT_TRUE(posts.about(deads).contains(tabs));
    }

    // Enabling again brings each tab's own look back.
    defaults().setValue(K::reduce_transparence, false);
    defaults().setValue(K::disable_lables, false);
    EXPECT_EQ(music.onColor(), own);
    EXPECT_EQ(deads.onColor(), QColor::fromRgbF(0.828f, 0.851f, 0.883f, 0.8f));
}

TEST_F(FileTypeLabelTest, EditingALabelUpdatesTheTabThenTheSourcesList)
{
    KZFileTypeLabel music(4);
    KZFileTypeLabel archive(6);
    TabPosts posts;
    editLabel(4, L::label_name, u"Songs"_s);
    EXPECT_EQ(music.name(), u"Songs"_s);
    EXPECT_EQ(music.firstChar(), u"S"_s);
    EXPECT_EQ(posts.about(music), (QStringList{tabs, sources}));
    EXPECT_TRUE(posts.about(archive).isEmpty());
    ASSERT_EQ(posts.posts.size(), 2u);
    EXPECT_EQ(posts.posts[1].object, platform::NotificationObject::number(4));

    posts.posts.clear();
    editLabel(6, L::blue_label_on_color, 0.25);
    EXPECT_EQ(archive.blueOnColor(), 0.25);
    EXPECT_EQ(posts.about(archive), (QStringList{tabs, sources}));

    // The same table again, or a table without the label, changes nothing the tab shows.
    posts.posts.clear();
    editLabel(6, L::blue_label_on_color, 0.25);
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    labels.removeAt(6);
    defaults().setValue(K::file_type_labels, labels);
    EXPECT_EQ(archive.name(), localized("archive"));
    EXPECT_EQ(archive.blueOnColor(), 0.25);
    EXPECT_TRUE(posts.about(archive).isEmpty());
}

TEST_F(FileTypeLabelTest, ObservationPausesBetweenRemoveAndAddObservers)
{
    KZFileTypeLabel label(3);
    TabPosts posts;
    post(KZNotification::removeObservers);
    post(KZNotification::removeObservers); // a second pause is harmless
    EXPECT_FALSE(label.observersAreRegistered());
    editLabel(3, L::label_name, u"Photos"_s);
    defaults().setValue(K::reduce_transparence, true);
    EXPECT_TRUE(posts.posts.empty());
    EXPECT_EQ(label.name(), localized("images"));

    // Only the application's own posts count.
    platform::NotificationCenter::defaultCenter().post(KZNotification::addObservers, u"Other"_s);
    EXPECT_FALSE(label.observersAreRegistered());

    post(KZNotification::addObservers);
    post(KZNotification::addObservers); // registering twice must not deliver twice
    editLabel(3, L::label_name, u"Pictures"_s);
    EXPECT_EQ(label.name(), u"Pictures"_s);
    EXPECT_EQ(label.onAlphaValue(), 1.0);
    EXPECT_EQ(posts.about(label), (QStringList{tabs, sources}));
}

TEST_F(FileTypeLabelTest, DestroyedLabelIsNeverCalled)
{
    TabPosts posts;
    KZFileTypeLabel::create(3).reset();
    editLabel(3, L::label_name, u"Gone"_s);
    defaults().setValue(K::disable_lables, true);
    post(KZNotification::addObservers);
    defaults().setValue(K::reduce_transparence, true);
    EXPECT_TRUE(posts.posts.empty());
}

TEST_F(FileTypeLabelTest, NamesForTheTabStrip)
{
    KZFileTypeLabel images(3);
    EXPECT_EQ(KZFileTypeLabel(0).removeBtnTitle(), localized("all_dupes_btn_title"));
    images.setShowSingleName(true);
    EXPECT_EQ(images.name(), localized("single_tab_name").arg(localized("images").toLower()));
    // The decoration is for display only.
    EXPECT_EQ(images.firstChar(), localized("images").left(1));
    EXPECT_EQ(images.removeBtnTitle(), localized("images"));

    // The initial is a whole character, never half of a surrogate pair.
    images.setName(QString::fromUtf8("\xF0\x9D\x84\x9E" "clef"));
    EXPECT_EQ(images.firstChar(), QString::fromUtf8("\xF0\x9D\x84\x9E"));
    images.setName(QString());
    EXPECT_EQ(images.firstChar(), QString());
}

// A tab view reads a colour under the label's lock while the defaults change
// on another thread; it must never see half of a reload.
TEST_F(FileTypeLabelTest, ColoursChangeAsAWholeUnderTheLock)
{
    KZFileTypeLabel label(3);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i)
            defaults().setValue(K::reduce_transparence, i % 2 == 0);
        done = true;
    });
    int torn = 0;
    const kztest::Deadline deadline;
    while (!done && !deadline.passed()) {
        std::lock_guard guard(label.fileTypeLabelLock());
        const double on = label.onAlphaValue();
        const double off = label.offAlphaValue();
        if (!(on == 1.0 && off == 1.0) && !(on == widened(0.8) && off == widened(0.6)))
            ++torn;
    }
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(torn, 0);
}

} // namespace
