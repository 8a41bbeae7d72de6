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

namespace {

QString str(const char* s) { return QString::fromUtf8(s); }
double widened(double v) { return static_cast<double>(static_cast<float>(v)); }

// Records the tab notifications in the order they are posted.
class TabPosts {
public:
    TabPosts()
    {
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const QString& name : {KZNotification::updateTabsUserDefault,
                                    KZNotification::updateOtherSourceListInfo})
            subs_.push_back(center.addObserver(name, {}, [this](const platform::Notification& n) {
                std::lock_guard guard(mutex_);
                posts_.push_back(n);
            }));
    }
    // Names of the posts about `label` (its pointer or its tag), oldest first.
    QStringList about(const KZFileTypeLabel& label) const
    {
        std::lock_guard guard(mutex_);
        QStringList names;
        for (const platform::Notification& n : posts_) {
            if (n.object == platform::NotificationObject(static_cast<const void*>(&label))
                || n.object == platform::NotificationObject::number(static_cast<qint64>(label.tag())))
                names.append(n.name);
        }
        return names;
    }
    std::vector<platform::Notification> all() const
    {
        std::lock_guard guard(mutex_);
        return posts_;
    }
    void clear()
    {
        std::lock_guard guard(mutex_);
        posts_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<platform::Notification> posts_;
    std::vector<platform::Subscription> subs_;
};

const QString& tabs = KZNotification::updateTabsUserDefault;
const QString& sources = KZNotification::updateOtherSourceListInfo;

class FileTypeLabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStandard(
            std::make_unique<platform::UserDefaults>(dir / "defaults.plist"));
        KZDefaultsRegistry::setupDefaultsPreferences();
    }
    void TearDown() override { platform::UserDefaults::setStandard(nullptr); }

    platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

    void renameLabel(int index, const QString& name)
    {
        QVariantList labels = defaults().arrayForKey(K::file_type_labels);
        QVariantMap label = labels[index].toMap();
        label[L::label_name] = name;
        labels[index] = label;
        defaults().setValue(K::file_type_labels, labels);
    }

    static void post(const QString& name)
    {
        platform::NotificationCenter::defaultCenter().post(name, platform::bundleIdentifier());
    }

    kztest::TempDir dir;
};

TEST_F(FileTypeLabelTest, NewImagesLabelTakesItsLookFromTheTable)
{
    KZFileTypeLabel label(3);
    EXPECT_EQ(label.name(), platform::localizedString(str("images")));
    EXPECT_EQ(label.redOnColor(), widened(0.611));
    EXPECT_EQ(label.greenOnColor(), widened(0.713));
    EXPECT_EQ(label.blueOnColor(), 1.0);
    EXPECT_EQ(label.onAlphaValue(), widened(0.8));
    EXPECT_EQ(label.redOffColor(), widened(0.611));
    EXPECT_EQ(label.offAlphaValue(), widened(0.6));
    EXPECT_EQ(label.reduceTransparence(), 0);
    EXPECT_EQ(label.size(), 0u);
    EXPECT_EQ(label.filesCount(), 0u);
    EXPECT_TRUE(label.canBeRemoved());
    EXPECT_FALSE(label.showSingleName());
    EXPECT_TRUE(label.observersAreRegistered());
    EXPECT_EQ(label.onColor(), QColor::fromRgbF(0.611f, 0.713f, 1.0f, 0.8f));
    EXPECT_EQ(label.offColor(), QColor::fromRgbF(0.611f, 0.713f, 1.0f, 0.6f));
}

TEST_F(FileTypeLabelTest, SpecialTabsHaveTheFixedLook)
{
    struct Case {
        quint64 tag;
        QString name;
    };
    const Case cases[] = {
        {static_cast<quint64>(KZTag::missingTracks), platform::localizedString(str("deads_tab_name"))},
        {static_cast<quint64>(KZTag::emptyFolders), platform::localizedString(str("empty_folders"))},
        {100000000003ULL, QString()},
        {static_cast<quint64>(KZTag::specialTabsStart), QString()},
    };
    // A user label carrying a special tag must not lend the tab its look.
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    QVariantMap impostor = labels[3].toMap();
    impostor[L::file_type_tag] = 100000000003LL;
    labels.append(impostor);
    defaults().setValue(K::file_type_labels, labels);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        KZFileTypeLabel label(c.tag);
        EXPECT_EQ(label.name(), c.name);
        EXPECT_EQ(label.firstChar(), c.name.left(1));
        for (double v : {label.redOnColor(), label.redOffColor()})
            EXPECT_EQ(v, widened(0.828));
        for (double v : {label.greenOnColor(), label.greenOffColor()})
            EXPECT_EQ(v, widened(0.851));
        for (double v : {label.blueOnColor(), label.blueOffColor()})
            EXPECT_EQ(v, widened(0.883));
        EXPECT_EQ(label.onAlphaValue(), widened(0.8));
        EXPECT_EQ(label.offAlphaValue(), widened(0.8));
    }
}

TEST_F(FileTypeLabelTest, ReduceTransparenceMakesTheTabOpaqueAndBack)
{
    TabPosts posts;
    KZFileTypeLabel label(5);
    KZFileTypeLabel deads(static_cast<quint64>(KZTag::missingTracks));

    defaults().setValue(K::reduce_transparence, true);
    for (const KZFileTypeLabel* l : {&label, &deads}) {
        EXPECT_EQ(l->onAlphaValue(), 1.0);
        EXPECT_EQ(l->offAlphaValue(), 1.0);
        EXPECT_EQ(l->reduceTransparence(), 1);
    }
    posts.clear();

    defaults().setValue(K::reduce_transparence, false);
    EXPECT_EQ(label.onAlphaValue(), widened(0.8));
    EXPECT_EQ(label.offAlphaValue(), widened(0.6));
    EXPECT_EQ(deads.offAlphaValue(), widened(0.8));
    EXPECT_EQ(posts.about(label), QStringList{tabs});
    EXPECT_EQ(posts.about(deads), QStringList{tabs});
}

TEST_F(FileTypeLabelTest, DisabledLabelsShowTheNeutralColoursAndReportEveryChange)
{
    KZFileTypeLabel label(4);
    KZFileTypeLabel empty(static_cast<quint64>(KZTag::emptyFolders));
    const QString emptyName = empty.name();
    defaults().setValue(K::disable_lables, true);

    for (const KZFileTypeLabel* l : {&label, &empty}) {
        for (double v : {l->redOnColor(), l->greenOnColor(), l->blueOnColor(), l->redOffColor(),
                         l->greenOffColor(), l->blueOffColor()})
            EXPECT_EQ(v, widened(0.843));
        EXPECT_EQ(l->onAlphaValue(), widened(0.8));
        EXPECT_EQ(l->offAlphaValue(), widened(0.8));
    }
    EXPECT_EQ(empty.name(), emptyName);

    struct Change {
        const char* what;
        std::function<void(platform::UserDefaults&)> apply;
    };
    const Change changes[] = {
        {"another label renamed",
         [](platform::UserDefaults& d) {
             QVariantList labels = d.arrayForKey(K::file_type_labels);
             QVariantMap other = labels[7].toMap();
             other[L::label_name] = str("Papers");
             labels[7] = other;
             d.setValue(K::file_type_labels, labels);
         }},
        {"transparency", [](platform::UserDefaults& d) { d.setValue(K::reduce_transparence, true); }},
        {"transparency back", [](platform::UserDefaults& d) { d.setValue(K::reduce_transparence, false); }},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        TabPosts posts;
        c.apply(defaults());
        EXPECT_TRUE(posts.about(label).contains(tabs));
        EXPECT_TRUE(posts.about(empty).contains(tabs));
    }

    // Enabling again brings each tab's own look back.
    defaults().setValue(K::disable_lables, false);
    EXPECT_EQ(label.redOnColor(), widened(0.705));
    EXPECT_EQ(empty.redOnColor(), widened(0.828));
}

TEST_F(FileTypeLabelTest, RenamingALabelUpdatesTheTabThenTheSourcesList)
{
    KZFileTypeLabel music(4);
    KZFileTypeLabel movies(5);
    TabPosts posts;

    renameLabel(4, str("Songs"));
    EXPECT_EQ(music.name(), str("Songs"));
    EXPECT_EQ(music.firstChar(), str("S"));
    EXPECT_EQ(posts.about(music), (QStringList{tabs, sources}));
    EXPECT_TRUE(posts.about(movies).isEmpty());

    const auto all = posts.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].object, platform::NotificationObject::number(4));
    EXPECT_TRUE(all[0].userInfo.isEmpty());
    EXPECT_TRUE(all[1].userInfo.isEmpty());
}

TEST_F(FileTypeLabelTest, RecolouringALabelIsPickedUp)
{
    KZFileTypeLabel archive(6);
    TabPosts posts;
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    QVariantMap label = labels[6].toMap();
    label[L::blue_label_on_color] = 0.25;
    label[L::blue_label_off_color] = 0.25;
    labels[6] = label;
    defaults().setValue(K::file_type_labels, labels);

    EXPECT_EQ(archive.blueOnColor(), 0.25);
    EXPECT_EQ(archive.blueOffColor(), 0.25);
    EXPECT_EQ(posts.about(archive), (QStringList{tabs, sources}));

    // The same table again changes nothing the tab shows.
    posts.clear();
    defaults().setValue(K::file_type_labels, labels);
    EXPECT_TRUE(posts.about(archive).isEmpty());
}

TEST_F(FileTypeLabelTest, LabelMissingFromTheTableKeepsItsLook)
{
    KZFileTypeLabel label(7);
    const double red = label.redOnColor();
    TabPosts posts;
    QVariantList labels = defaults().arrayForKey(K::file_type_labels);
    labels.removeLast();
    defaults().setValue(K::file_type_labels, labels);

    EXPECT_EQ(label.name(), platform::localizedString(str("documents")));
    EXPECT_EQ(label.redOnColor(), red);
    EXPECT_TRUE(posts.about(label).isEmpty());
}

TEST_F(FileTypeLabelTest, ObservationPausesBetweenRemoveAndAddObservers)
{
    KZFileTypeLabel label(3);
    TabPosts posts;

    post(KZNotification::removeObservers);
    EXPECT_FALSE(label.observersAreRegistered());
    post(KZNotification::removeObservers); // a second pause is harmless
    renameLabel(3, str("Photos"));
    defaults().setValue(K::reduce_transparence, true);
    EXPECT_TRUE(posts.all().empty());
    EXPECT_EQ(label.name(), platform::localizedString(str("images")));

    // Only the application's own posts count.
    platform::NotificationCenter::defaultCenter().post(KZNotification::addObservers, str("Other"));
    EXPECT_FALSE(label.observersAreRegistered());

    post(KZNotification::addObservers);
    post(KZNotification::addObservers); // registering twice must not deliver twice
    EXPECT_TRUE(label.observersAreRegistered());
    renameLabel(3, str("Pictures"));
    EXPECT_EQ(label.name(), str("Pictures"));
    EXPECT_EQ(label.onAlphaValue(), 1.0);
    EXPECT_EQ(posts.about(label), (QStringList{tabs, sources}));
}

TEST_F(FileTypeLabelTest, DestroyedLabelIsNeverCalled)
{
    TabPosts posts;
    auto label = KZFileTypeLabel::create(3);
    label.reset();
    renameLabel(3, str("Gone"));
    defaults().setValue(K::disable_lables, true);
    post(KZNotification::addObservers);
    defaults().setValue(K::reduce_transparence, true);
    EXPECT_TRUE(posts.all().empty());
}

TEST_F(FileTypeLabelTest, NamesForTheTabStrip)
{
    KZFileTypeLabel all(0);
    KZFileTypeLabel images(3);
    EXPECT_EQ(all.removeBtnTitle(), platform::localizedString(str("all_dupes_btn_title")));
    EXPECT_EQ(images.removeBtnTitle(), images.name());

    images.setShowSingleName(true);
    const QString format = platform::localizedString(str("single_tab_name"));
    ASSERT_TRUE(format.contains(str("%1")));
    EXPECT_EQ(images.name(), format.arg(platform::localizedString(str("images")).toLower()));
    // The decoration is for display only: the initial and the remove button
    // still use the stored name.
    EXPECT_EQ(images.firstChar(), platform::localizedString(str("images")).left(1));
    EXPECT_EQ(images.removeBtnTitle(), platform::localizedString(str("images")));

    struct Case {
        QString name, first;
    };
    const Case cases[] = {
        {QString(), QString()},
        {str("x"), str("x")},
        {QString::fromUtf8("\xF0\x9D\x84\x9E" "clef"), QString::fromUtf8("\xF0\x9D\x84\x9E")},
        {QString::fromUtf8("\xC3\x89t\xC3\xA9"), QString::fromUtf8("\xC3\x89")},
    };
    for (const Case& c : cases) {
        images.setName(c.name);
        EXPECT_EQ(images.firstChar(), c.first) << c.name.toStdString();
    }
}

TEST_F(FileTypeLabelTest, TravelsInAVariant)
{
    const KZFileTypeLabelRef label = KZFileTypeLabel::create(4);
    const QVariantMap info{{str("KZResultFoundFileTypes"),
                            QVariantMap{{str("4"), QVariant::fromValue(label)}}}};
    const QVariant back = info.value(str("KZResultFoundFileTypes")).toMap().value(str("4"));
    ASSERT_TRUE(back.canConvert<KZFileTypeLabelRef>());
    EXPECT_EQ(back.value<KZFileTypeLabelRef>().get(), label.get());
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
    while (!done) {
        std::lock_guard guard(label.fileTypeLabelLock());
        const double on = label.onAlphaValue();
        const double off = label.offAlphaValue();
        const bool opaque = on == 1.0 && off == 1.0;
        const bool translucent = on == widened(0.8) && off == widened(0.6);
        if (!opaque && !translucent)
            ++torn;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

} // namespace
