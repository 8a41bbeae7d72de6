#include "platform/Log.h"
#include "platform/Resources.h"
#include "support/TestSupport.h"
#include "services/ui/KZGradientBackView.h"
#include "services/ui/KZImageLayerView.h"
#include "services/ui/KZImageView.h"
#include "services/ui/KZImages.h"
#include "services/ui/KZThemeImageSwitchButton.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

using Cell = KZThemeImageSwitchTypeCell;

// Images told apart by their colour: each name gets its own red value.
class FakeImages {
public:
    explicit FakeImages(std::initializer_list<const char*> names)
    {
        int red = 10;
        for (const char* name : names) {
            QImage image(12, 12, QImage::Format_ARGB32);
            image.fill(QColor(red, 0, 0));
            images_[QString::fromUtf8(name)] = image;
            red += 10;
        }
    }
    Cell::ImageLookup lookup() const
    {
        return [this](const QString& name) {
            auto it = images_.find(name);
            return it == images_.end() ? QImage() : it->second;
        };
    }
    // The name of the image, found by its colour; "" for none.
    QString nameOf(const QImage& image) const
    {
        for (const auto& [name, candidate] : images_)
            if (!image.isNull() && candidate.pixel(0, 0) == image.pixel(0, 0))
                return name;
        return {};
    }

private:
    std::map<QString, QImage> images_;
};

class SharedControlsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        Cell::setSystemControlTint(Cell::BlueControlTint);
        KZImages::unregisterAll();
        platform::setLogSink({});
    }
};

TEST_F(SharedControlsTest, SwitchImagesFallBackByTintAndPress)
{
    const FakeImages all({"on-blue", "on-graphite", "on-blue-pressed", "on-graphite-pressed", "off", "off-pressed"});
    const FakeImages sparse({"on-blue", "off"});
    const FakeImages plain({"tick", "tick-pressed", "cross"});
    const FakeImages twoHyphens({"on-dark-blue", "on-blue", "off"});

    struct Row {
        const FakeImages* images;
        const char* on;
        const char* off;
        Cell::ControlTint tint;
        int state;
        bool pressed;
        const char* shown;
    };
    const Row rows[] = {
        {&all, "on-blue", "off", Cell::BlueControlTint, 1, false, "on-blue"},
        {&all, "on-blue", "off", Cell::GraphiteControlTint, 1, false, "on-graphite"},
        {&all, "on-blue", "off", Cell::BlueControlTint, 1, true, "on-blue-pressed"},
        {&all, "on-blue", "off", Cell::GraphiteControlTint, 1, true, "on-graphite-pressed"},
        {&all, "on-blue", "off", Cell::GraphiteControlTint, 0, false, "off"},
        {&all, "on-blue", "off", Cell::BlueControlTint, 0, true, "off-pressed"},
        {&all, "on-blue", "off", Cell::BlueControlTint, -1, false, "off"}, // mixed shows off
        // Missing tinted forms: the graphite tint falls back to nothing
        // tinted, so the plain key; a blue-only set has none.
        {&sparse, "on-blue", "off", Cell::GraphiteControlTint, 1, false, ""},
        {&sparse, "on-blue", "off", Cell::BlueControlTint, 1, true, ""},
        {&sparse, "on-blue", "off", Cell::BlueControlTint, 0, true, "off"},
        // No hyphen: the plain keys serve both tints.
        {&plain, "tick", "cross", Cell::BlueControlTint, 1, false, "tick"},
        {&plain, "tick", "cross", Cell::GraphiteControlTint, 1, false, "tick"},
        {&plain, "tick", "cross", Cell::GraphiteControlTint, 1, true, "tick-pressed"},
        {&plain, "tick", "cross", Cell::BlueControlTint, 0, true, "cross"},
        // Split at the first hyphen: "dark-blue" is not "blue", so graphite.
        {&twoHyphens, "on-dark-blue", "off", Cell::GraphiteControlTint, 1, false, "on-dark-blue"},
        {&twoHyphens, "on-dark-blue", "off", Cell::BlueControlTint, 1, false, "on-blue"},
    };
    for (const Row& r : rows) {
        Cell::setSystemControlTint(r.tint);
        Cell cell;
        ASSERT_TRUE(cell.setImagesWithDefaultImages(QString::fromUtf8(r.on), QString::fromUtf8(r.off),
                                                    r.images->lookup()));
        EXPECT_EQ(r.images->nameOf(cell.imageWithState(r.state, r.pressed)), QString::fromUtf8(r.shown))
            << r.on << " tint " << r.tint << " state " << r.state << " pressed " << r.pressed;
    }
}

TEST_F(SharedControlsTest, SwitchImageKeys)
{
    const FakeImages images({"on-blue", "on-graphite", "on-blue-pressed", "on-graphite-pressed", "off", "off-pressed"});
    const auto dictionary = Cell::imagesWithDefaultImages(QStringLiteral("on-blue"), QStringLiteral("off"),
                                                          images.lookup());
    ASSERT_TRUE(dictionary);
    QStringList keys = dictionary->keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{QStringLiteral("kBlueOnImage"), QStringLiteral("kBluePressedOnImage"),
                                 QStringLiteral("kGraphiteOnImage"), QStringLiteral("kGraphitePressedOnImage"),
                                 QStringLiteral("kOffImage"), QStringLiteral("kPressedOffImage")}));
}

TEST_F(SharedControlsTest, SwitchWithoutAnImageNameShowsNothing)
{
    QStringList logged;
    platform::setLogSink([&](const QString& line) { logged << line; });
    const FakeImages images({"on-blue", "off"});
    KZThemeImageSwitchButton button;
    EXPECT_FALSE(button.setImageNames(QString(), QStringLiteral("off"), images.lookup()));
    EXPECT_TRUE(button.cell().images().isEmpty());
    EXPECT_TRUE(button.currentImage().isNull());
    EXPECT_FALSE(button.setImageNames(QStringLiteral("on-blue"), QString(), images.lookup()));
    ASSERT_EQ(logged.size(), 2);
    EXPECT_EQ(logged[0], QStringLiteral("No alternate image is provided. It is needed for the switch buttons"));
    EXPECT_EQ(logged[1], QStringLiteral("No image is provided. It is needed for the switch buttons"));
}

TEST_F(SharedControlsTest, SwitchTogglesOnlyOnAReleaseInside)
{
    const FakeImages images({"on-blue", "on-graphite", "off", "off-pressed"});
    KZThemeImageSwitchButton button;
    ASSERT_TRUE(button.setImageNames(QStringLiteral("on-blue"), QStringLiteral("off"), images.lookup()));
    button.resize(button.sizeHint());
    button.show();
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    EXPECT_EQ(button.state(), 0);

    // Pressed: the pressed off image; dragged out and released: nothing.
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(images.nameOf(button.currentImage()), QStringLiteral("off-pressed"));
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 40), button.mapToGlobal(QPointF(40, 40)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &move);
    EXPECT_EQ(images.nameOf(button.currentImage()), QStringLiteral("off"));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(button.state(), 0);
    EXPECT_EQ(clicked.count(), 0);

    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.state(), 1);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(images.nameOf(button.currentImage()), QStringLiteral("on-blue"));

    // The tint follows the system's while the button lives.
    Cell::setSystemControlTint(Cell::GraphiteControlTint);
    EXPECT_EQ(images.nameOf(button.currentImage()), QStringLiteral("on-graphite"));

    button.setNewState(0); // from code: no action
    EXPECT_EQ(button.state(), 0);
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(SharedControlsTest, ImageViewFadesWithoutDisablingItself)
{
    QImage red(20, 20, QImage::Format_ARGB32);
    red.fill(Qt::red);
    KZImages::registerImage(QStringLiteral("test-red"), red);
    KZImageView view(QStringLiteral("test-red"));
    EXPECT_EQ(view.image().pixel(5, 5), red.pixel(5, 5));
    view.setEnabled(false);
    EXPECT_TRUE(view.QWidget::isEnabled());
    EXPECT_FALSE(view.showsEnabledImage());
    EXPECT_EQ(view.image().size(), red.size());
    EXPECT_NEAR(qAlpha(view.image().pixel(5, 5)), 128, 2);
    view.setEnabled(true);
    EXPECT_EQ(view.image().pixel(5, 5), red.pixel(5, 5));

    KZImageView unknown(QStringLiteral("no-such-image"));
    unknown.setEnabled(false);
    EXPECT_TRUE(unknown.image().isNull());
}

TEST_F(SharedControlsTest, ImagesByName)
{
    kztest::TempDir dir;
    QImage onDisk(8, 8, QImage::Format_ARGB32);
    onDisk.fill(Qt::green);
    std::filesystem::create_directories(dir / "images");
    ASSERT_TRUE(onDisk.save(QString::fromStdString((dir / "images" / "leaf.png").string())));
    QImage outside(8, 8, QImage::Format_ARGB32);
    outside.fill(Qt::red);
    ASSERT_TRUE(outside.save(QString::fromStdString((dir / "secret.png").string())));
    platform::setResourceDirectory(dir.path());

    EXPECT_EQ(KZImages::imageNamed(QStringLiteral("leaf")).pixel(0, 0), onDisk.pixel(0, 0));
    EXPECT_TRUE(KZImages::imageNamed(QStringLiteral("../secret")).isNull()); // never outside the folder
    EXPECT_TRUE(KZImages::imageNamed(QStringLiteral("missing")).isNull());
    EXPECT_TRUE(KZImages::imageNamed(QString()).isNull());
    // A registered image comes before the resources, and the drawn ones last.
    QImage blue(4, 4, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    KZImages::registerImage(QStringLiteral("leaf"), blue);
    EXPECT_EQ(KZImages::imageNamed(QStringLiteral("leaf")).size(), QSize(4, 4));
    KZImages::registerImage(QStringLiteral("leaf"), QImage());
    EXPECT_EQ(KZImages::imageNamed(QStringLiteral("leaf")).size(), QSize(8, 8));
    EXPECT_EQ(KZImages::imageNamed(QStringLiteral("spinner")).deviceIndependentSize(), QSizeF(316, 316));
    EXPECT_FALSE(KZImages::imageNamed(QStringLiteral("AppIcon")).isNull());

    platform::setResourceDirectory({});
}

TEST_F(SharedControlsTest, AppIconFillsItsView)
{
    KZImageLayerView view;
    view.resize(64, 64);
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(qAlpha(shot.pixel(32, 32)), 255);
    EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0); // the tile's rounded corner
    EXPECT_FALSE(KZImages::applicationIcon(16).isNull());
}

TEST_F(SharedControlsTest, GradientPanel)
{
    QWidget parent;
    parent.resize(400, 300);
    auto* view = new KZGradientBackView(&parent);
    view->setPanelGeometry(QRect(20, 20, 300, 200));
    EXPECT_EQ(view->mapToParent(view->panelRect().topLeft().toPoint()), QPoint(20, 20));
    EXPECT_EQ(view->panelRect().size(), QSizeF(300, 200));
    EXPECT_EQ(view->titleRect().top(), view->panelRect().top() + 10);

    auto shot = [&] { return view->grab().toImage().convertToFormat(QImage::Format_ARGB32); };
    EXPECT_EQ(qAlpha(shot().pixel(100, 100)), 0); // nothing until the owner asks for the panel

    view->backgroundLayerWithTitle(QStringLiteral("Welcome"));
    QImage image = shot();
    const QPoint origin = view->panelRect().topLeft().toPoint();
    const QRgb top = image.pixel(origin + QPoint(150, 40));
    const QRgb bottom = image.pixel(origin + QPoint(150, 195));
    EXPECT_EQ(qAlpha(top), 255);
    EXPECT_GT(qRed(top), 240);               // nearly white under a clear top
    EXPECT_LT(qRed(bottom), qRed(top) - 15); // grey at the bottom edge
    // The shadow falls down and to the right, outside the panel.
    EXPECT_GT(qAlpha(image.pixel(origin + QPoint(305, 205))), 0);
    EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0);
    // The title is drawn in dark grey near the top.
    int dark = 0;
    for (int x = 0; x < 300; ++x)
        for (int y = 10; y < 34; ++y)
            dark += qRed(image.pixel(origin + QPoint(x, y))) < 120 ? 1 : 0;
    EXPECT_GT(dark, 20);

    // No width: nothing to paint, and no crash.
    view->setPanelGeometry(QRect(20, 20, 0, 200));
    EXPECT_EQ(view->panelRect().width(), 0);
    image = shot();
    bool anything = false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            anything = anything || qAlpha(image.pixel(x, y)) != 0;
    EXPECT_FALSE(anything);
}

} // namespace
