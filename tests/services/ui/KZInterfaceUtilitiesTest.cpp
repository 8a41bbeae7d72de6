#include "services/ui/KZInterfaceUtilities.h"
#include "services/ui/KZOpenPanel.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct Answer {
    QVariant response;
    QVariant context;
};

class InterfaceUtilitiesTest : public ::testing::Test {
protected:
    void TearDown() override { KZInterfaceUtilities::setPanelAnswerProvider({}); }

    static KZInterfaceUtilities& utils() { return KZInterfaceUtilities::sharedControl(); }
    static QString str(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
};

TEST_F(InterfaceUtilitiesTest, PanelAnswerShapes)
{
    const QString folder = QStringLiteral("/tmp/some folder");
    QWidget window;
    QObject delegate;

    struct Row {
        const char* name;
        QVariantMap settings;
        int response;
        bool answeredBeforeReturn;
        bool contextIsMap;
    };
    const QVariantMap userInfo{{QStringLiteral("sourceRow"), 3}};
    const Row rows[] = {
        {"modal, no userInfo", {}, 1, true, false},
        {"modal, cancelled", {}, 0, true, false},
        {"modal, userInfo", {{QStringLiteral("userInfo"), userInfo}}, 1, true, true},
        {"sheet", {{QStringLiteral("window"), QVariant::fromValue<QObject*>(&window)}}, 1, false, false},
        {"sheet, userInfo, delegate",
         {{QStringLiteral("window"), QVariant::fromValue<QObject*>(&window)},
          {QStringLiteral("userInfo"), userInfo},
          {QStringLiteral("delegate"), QVariant::fromValue<QObject*>(&delegate)}},
         0, false, true},
    };
    for (const Row& r : rows) {
        KZInterfaceUtilities::setPanelAnswerProvider([&](const KZOpenPanel&) {
            return KZInterfaceUtilities::PanelAnswer{r.response, {folder}};
        });
        std::optional<Answer> answer;
        utils().askForDirectories([&](const QVariant& response, const QVariant& context) {
            answer = Answer{response, context};
        }, r.settings);
        EXPECT_EQ(answer.has_value(), r.answeredBeforeReturn) << r.name;
        ASSERT_TRUE(kztest::processEventsUntil([&] { return answer.has_value(); })) << r.name;
        EXPECT_EQ(answer->response.toInt(), r.response) << r.name;
        const QVariantList expectedUrls = r.response == 1 ? QVariantList{QUrl::fromLocalFile(folder)} : QVariantList{};
        if (r.contextIsMap) {
            const QVariantMap map = answer->context.toMap();
            EXPECT_EQ(map.value(QStringLiteral("sourceRow")).toInt(), 3) << r.name;
            EXPECT_EQ(map.value(QStringLiteral("urls")).toList(), expectedUrls) << r.name;
        } else {
            EXPECT_EQ(answer->context.typeId(), QMetaType::QVariantList) << r.name;
            EXPECT_EQ(answer->context.toList(), expectedUrls) << r.name;
        }
    }
}

TEST_F(InterfaceUtilitiesTest, PanelConfiguration)
{
    struct Row {
        QVariantMap settings;
        QStringList types;
        bool multiple;
        bool create;
        QString message;
    };
    const Row rows[] = {
        {{}, {QStringLiteral("photoslibrary")}, false, false, {}},
        {{{QStringLiteral("includeSmartFolder"), false}}, {QStringLiteral("photoslibrary")}, false, false, {}},
        {{{QStringLiteral("includeSmartFolder"), true},
          {QStringLiteral("allowsMultipleSelection"), true},
          {QStringLiteral("canCreateDirectories"), true},
          {QStringLiteral("prompt"), QStringLiteral("ask_add_location")}},
         {QStringLiteral("photoslibrary"), QStringLiteral("savedSearch")}, true, true,
         QStringLiteral("Choose the folder whose copies are to be marked")},
        {{{QStringLiteral("prompt"), QStringLiteral("no_such_prompt")}}, {QStringLiteral("photoslibrary")}, false, false,
         {}},
    };
    for (const Row& r : rows) {
        std::optional<KZInterfaceUtilities::PanelAnswer> seen;
        KZInterfaceUtilities::setPanelAnswerProvider([&](const KZOpenPanel& panel) {
            EXPECT_TRUE(panel.testOption(QFileDialog::DontUseNativeDialog));
            EXPECT_EQ(panel.allowedFileTypes(), r.types);
            EXPECT_EQ(panel.allowsMultipleSelection(), r.multiple);
            EXPECT_EQ(panel.canCreateDirectories(), r.create);
            EXPECT_EQ(panel.message(), r.message);
            // The prompt is the message above the list; the title stays short.
            EXPECT_FALSE(panel.windowTitle().isEmpty());
            if (!r.message.isEmpty()) {
                EXPECT_NE(panel.windowTitle(), r.message);
            }
            seen = KZInterfaceUtilities::PanelAnswer{};
            return *seen;
        });
        utils().askForDirectories([](const QVariant&, const QVariant&) {}, r.settings);
        EXPECT_TRUE(seen.has_value());
    }
}

TEST_F(InterfaceUtilitiesTest, ThePanelOpensWhereItIsAskedToStart)
{
    kztest::TempDir dir;
    const std::filesystem::path folder = dir.mkdir("Pictures");
    const std::filesystem::path library = dir.mkdir("Pictures/Trip.photoslibrary");
    const std::filesystem::path file = dir.write("Pictures/a.jpg", "x");
    const QString home = KZOpenPanel::startDirectory();
    struct Row {
        QString asked;
        QString opens;
    };
    const Row rows[] = {
        {str(folder), str(folder)},
        // Standing inside a library would choose it.
        {str(library), str(folder)},
        {str(file), str(folder)},
        {str(folder / "gone"), home},
        {{}, home},
    };
    for (const Row& r : rows) {
        QString opened;
        KZInterfaceUtilities::setPanelAnswerProvider([&](const KZOpenPanel& panel) {
            opened = panel.directory().absolutePath();
            return KZInterfaceUtilities::PanelAnswer{};
        });
        utils().askForDirectories([](const QVariant&, const QVariant&) {}, {{QStringLiteral("directory"), r.asked}});
        EXPECT_EQ(QDir(opened).canonicalPath(), QDir(r.opens).canonicalPath()) << r.asked.toStdString();
    }
}

TEST_F(InterfaceUtilitiesTest, AnAskerThatWentAwayGetsNoAnswer)
{
    QWidget window;
    auto* delegate = new QObject;
    KZInterfaceUtilities::setPanelAnswerProvider([](const KZOpenPanel&) {
        return KZInterfaceUtilities::PanelAnswer{1, {QStringLiteral("/tmp")}};
    });
    bool answered = false;
    utils().askForDirectories([&](const QVariant&, const QVariant&) { answered = true; },
                              {{QStringLiteral("window"), QVariant::fromValue<QObject*>(&window)},
                               {QStringLiteral("delegate"), QVariant::fromValue<QObject*>(delegate)}});
    delete delegate;
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_FALSE(answered);
}

TEST_F(InterfaceUtilitiesTest, WhatThePanelLetsChoose)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Folder");
    const auto library = dir.mkdir("Photos Library.photoslibrary");
    const auto app = dir.mkdir("Tool.app");
    const auto search = dir.write("Recent.savedSearch", "<plist/>");
    const auto text = dir.write("notes.txt", "x");

    KZOpenPanel plainPanel;
    plainPanel.setAllowedFileTypes({QStringLiteral("photoslibrary")});
    KZOpenPanel smartPanel;
    smartPanel.setAllowedFileTypes({QStringLiteral("photoslibrary"), QStringLiteral("savedSearch")});

    struct Row { std::filesystem::path path; bool plain; bool smart; };
    const Row rows[] = {
        {folder, true, true},
        {library, true, true},  // a folder document of an allowed type
        {app, false, false},    // a folder document of another type is not a folder here
        {search, false, true},  // saved searches only when asked for
        {text, false, false},
        {dir / "missing", false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(plainPanel.canChoose(str(r.path)), r.plain) << r.path;
        EXPECT_EQ(smartPanel.canChoose(str(r.path)), r.smart) << r.path;
    }
    EXPECT_FALSE(plainPanel.canChoose(QString()));

    // Opening a library chooses it instead of entering it.
    plainPanel.setDirectory(str(dir.path()));
    Q_EMIT plainPanel.directoryEntered(str(library));
    EXPECT_EQ(plainPanel.result(), QDialog::Accepted);
    EXPECT_EQ(plainPanel.chosenPaths(), QStringList{str(library)});
    EXPECT_EQ(plainPanel.directory().absolutePath(), str(dir.path()));

    // Another folder document is not entered either, but cannot be chosen.
    KZOpenPanel appPanel;
    appPanel.setAllowedFileTypes({QStringLiteral("photoslibrary")});
    Q_EMIT appPanel.directoryEntered(str(app));
    EXPECT_NE(appPanel.result(), QDialog::Accepted);
    EXPECT_EQ(appPanel.directory().absolutePath(), str(dir.path()));
}

TEST_F(InterfaceUtilitiesTest, ThePanelOpensAtHomeOrTheLastChoiceAndShowsFoldersWithoutNamingLibraries)
{
    kztest::TempDir dir;
    const auto chosen = dir.mkdir("Pictures");
    const auto library = dir.mkdir("Pictures/Family.photoslibrary");
    dir.write("Pictures/notes.txt", "x");

    KZOpenPanel first;
    first.setAllowedFileTypes({QStringLiteral("photoslibrary")});
    // Home (the test's own), not the folder the program was started in.
    if (KZOpenPanel::startDirectory() == QDir::homePath()) {
        EXPECT_EQ(first.directory().absolutePath(), QDir::homePath());
    }
    // The filter shows folders (libraries are folders) and names no type.
    EXPECT_TRUE(first.testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_FALSE(first.filter().testFlag(QDir::Files));
    EXPECT_TRUE(first.filter().testFlag(QDir::AllDirs));
    for (const QString& filter : first.nameFilters())
        EXPECT_FALSE(filter.contains(QStringLiteral("photoslibrary"))) << filter.toStdString();

    first.selectFile(str(chosen));
    first.accept();
    ASSERT_EQ(first.chosenPaths(), QStringList{str(chosen)});
    KZOpenPanel next;
    next.setAllowedFileTypes({QStringLiteral("photoslibrary")});
    EXPECT_EQ(next.directory().absolutePath(), str(chosen));

    // A library chosen cannot be entered: the next panel opens beside it.
    Q_EMIT next.directoryEntered(str(library));
    ASSERT_EQ(next.result(), QDialog::Accepted);
    EXPECT_EQ(KZOpenPanel().directory().absolutePath(), str(chosen));
}

TEST_F(InterfaceUtilitiesTest, ModalPanelAnswersWhatTheUserChose)
{
    kztest::TempDir dir;
    const auto folder = dir.mkdir("Chosen");
    const auto text = dir.write("notes.txt", "x");
    bool refusedFile = false;
    QTimer::singleShot(0, [&] {
        auto* panel = qobject_cast<KZOpenPanel*>(QApplication::activeModalWidget());
        ASSERT_NE(panel, nullptr);
        panel->setDirectory(str(dir.path()));
        panel->selectFile(str(text));
        panel->accept();
        refusedFile = panel->isVisible();
        panel->selectFile(str(folder));
        panel->accept();
    });
    std::optional<Answer> answer;
    utils().askForDirectories([&](const QVariant& response, const QVariant& context) {
        answer = Answer{response, context};
    }, {{QStringLiteral("userInfo"), QVariantMap{}}});
    ASSERT_TRUE(answer);
    EXPECT_TRUE(refusedFile);
    EXPECT_EQ(answer->response.toInt(), 1);
    EXPECT_EQ(answer->context.toMap().value(QStringLiteral("urls")).toList(),
              QVariantList{QUrl::fromLocalFile(str(folder))});
}

// A path put into the name field without the keys (a completion picked from
// its list, a paste) leaves Qt's list holding the folders it matched on the
// way: only the folder named is chosen, never the folder the panel shows.
TEST_F(InterfaceUtilitiesTest, APathPutIntoTheNameFieldChoosesThatFolderAlone)
{
    kztest::TempDir dir;
    const auto base = dir.mkdir("base");
    const auto inner = dir.mkdir("base/inner");
    KZOpenPanel panel;
    panel.setAllowedFileTypes({QStringLiteral("photoslibrary")});
    panel.setAllowsMultipleSelection(true);
    panel.setDirectory(str(base));
    panel.show();
    auto* field = panel.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    panel.setFocus();
    field->setText(str(base));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return !panel.selectedFiles().isEmpty(); }));
    field->setText(str(inner));
    ASSERT_TRUE(kztest::processEventsUntil([&] { return panel.selectedFiles().contains(str(inner)); }));
    panel.accept();
    EXPECT_EQ(panel.result(), QDialog::Accepted);
    EXPECT_EQ(panel.chosenPaths(), QStringList{str(inner)});

    // Folders side by side stay, each once.
    EXPECT_EQ(KZOpenPanel::withoutHoldingFolders({u"/a/b"_s, u"/a/bc"_s, u"/a/b"_s, u"/a"_s}),
              (QStringList{u"/a/b"_s, u"/a/bc"_s}));
}

TEST_F(InterfaceUtilitiesTest, SheetAnswersWhenItCloses)
{
    kztest::TempDir dir;
    const auto library = dir.mkdir("Photos Library.photoslibrary");
    QWidget window;
    window.show();
    std::optional<Answer> answer;
    utils().askForDirectories([&](const QVariant& response, const QVariant& context) {
        answer = Answer{response, context};
    }, {{QStringLiteral("window"), QVariant::fromValue<QObject*>(&window)}});
    EXPECT_FALSE(answer);
    QPointer<KZOpenPanel> panel = window.findChild<KZOpenPanel*>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(panel->isVisible());
    panel->setDirectory(str(dir.path()));
    panel->selectFile(str(library));
    panel->accept();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return answer.has_value() && !panel; }));
    EXPECT_EQ(answer->response.toInt(), 1);
    EXPECT_EQ(answer->context.toList(), QVariantList{QUrl::fromLocalFile(str(library))});
}

TEST_F(InterfaceUtilitiesTest, AttributedText)
{
    const auto plain = utils().attributedStringWithString(QStringLiteral("Name"), QString(), 13, Qt::red, true,
                                                          Qt::AlignRight, KZLineBreakMode::ByTruncatingMiddle);
    ASSERT_EQ(plain.runs().size(), 1);
    const auto& run = plain.runs().first();
    EXPECT_EQ(run.text, QStringLiteral("Name"));
    EXPECT_TRUE(run.font->bold());
    EXPECT_EQ(run.font->pointSizeF(), 13);
    EXPECT_EQ(*run.color, QColor(Qt::red));
    EXPECT_EQ(run.paragraphStyle->alignment, Qt::AlignRight);
    EXPECT_EQ(run.paragraphStyle->lineBreakMode, KZLineBreakMode::ByTruncatingMiddle);

    const auto named = utils().attributedStringWithString(QStringLiteral("x"), QStringLiteral("Monospace"), 11,
                                                          Qt::black, true, Qt::AlignLeft,
                                                          KZLineBreakMode::ByClipping);
    EXPECT_EQ(named.runs().first().font->family(), QStringLiteral("Monospace"));
    EXPECT_FALSE(named.runs().first().font->bold()); // a named font is taken as it is

    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    const auto withIcon = utils().attributedString(QStringLiteral("3 items"), icon, nullptr, -1.0);
    EXPECT_EQ(withIcon.string(), QStringLiteral(" \uFFFC 3 items"));
    ASSERT_EQ(withIcon.runs().size(), 3);
    EXPECT_EQ(withIcon.runs()[1].imageFileName, QStringLiteral("cico"));
    EXPECT_EQ(withIcon.runs()[1].baselineOffset, -1.0);

    // The placeholder inside a styled text takes the icon; the text keeps
    // its attributes on both sides.
    const auto styled = utils().attributedStringWithString(QStringLiteral("Found [image] in [image]"), QString(), 14,
                                                           Qt::darkGray, false, Qt::AlignHCenter,
                                                           KZLineBreakMode::ByTruncatingTail);
    QImage big(32, 20, QImage::Format_ARGB32);
    big.fill(Qt::green);
    const auto replaced = utils().attributedString(QString(), big, &styled, 0);
    EXPECT_EQ(replaced.string(), QStringLiteral("Found \uFFFC in [image]"));
    EXPECT_EQ(replaced.runs()[1].imageFileName, QStringLiteral("pippo"));
    EXPECT_EQ(replaced.runs()[0].font, styled.runs()[0].font);
    EXPECT_EQ(replaced.runs()[2].color, styled.runs()[0].color);
    EXPECT_EQ(replaced.paragraphStyle().alignment, Qt::AlignHCenter);

    const auto none = utils().attributedStringWithString(QStringLiteral("no image"), QString(), 12, Qt::black, false,
                                                         Qt::AlignLeft, KZLineBreakMode::ByClipping);
    EXPECT_EQ(utils().attributedString(QString(), icon, &none, 0), none);
}

TEST_F(InterfaceUtilitiesTest, MeasuringAndDrawing)
{
    QFont font;
    font.setPointSizeF(13);
    EXPECT_EQ(utils().sizeOfString(QString(), font), QSizeF(0, 0));
    const QSizeF one = utils().sizeOfString(QStringLiteral("Maravex"), font);
    EXPECT_DOUBLE_EQ(one.width(), QFontMetricsF(font).horizontalAdvance(QStringLiteral("Maravex")));
    EXPECT_GT(utils().sizeOfString(QStringLiteral("Maravex\nMaravex"), font).height(), one.height() * 1.5);

    // A long tail-truncated text with an icon stays inside its box.
    const auto text = utils().attributedStringWithString(
        QStringLiteral("[image] a very long name that cannot fit in the box at all"), QString(), 14, Qt::black, false,
        Qt::AlignLeft, KZLineBreakMode::ByTruncatingTail);
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    const auto line = utils().attributedString(QString(), icon, &text, -1.0);
    QImage canvas(200, 40, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        line.draw(painter, QRectF(10, 5, 120, 30));
    }
    int outside = 0, inside = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const bool in = x >= 10 && x < 130 && y >= 5 && y < 35;
            (in ? inside : outside) += qAlpha(canvas.pixel(x, y)) ? 1 : 0;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 100);
    EXPECT_EQ(QColor(canvas.pixel(15, 20)), QColor(Qt::blue)); // the icon leads

    // Wrapping text flows onto several lines inside its box.
    const auto wrapped = utils().attributedStringWithString(
        QStringLiteral("one two three four five six seven eight nine ten"), QString(), 12, Qt::black, false,
        Qt::AlignLeft, KZLineBreakMode::ByWordWrapping);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        wrapped.draw(painter, QRectF(0, 0, 90, 40));
    }
    QList<int> inkedRows;
    outside = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            if (!qAlpha(canvas.pixel(x, y)))
                continue;
            if (x >= 90 || y >= 40)
                ++outside;
            else if (inkedRows.isEmpty() || inkedRows.last() != y)
                inkedRows << y;
        }
    EXPECT_EQ(outside, 0);
    ASSERT_FALSE(inkedRows.isEmpty());
    EXPECT_GT(inkedRows.last() - inkedRows.first(), QFontMetricsF(wrapped.runs().first().font.value()).height());
}

} // namespace
