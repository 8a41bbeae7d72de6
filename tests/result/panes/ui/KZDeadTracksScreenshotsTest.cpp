// A picture of the missing-tracks tab fed with tracks by hand, for people to
// look at. Runs only when MARAVEX_SHOTS_DIR names a folder
// (scripts/screenshots.sh sets it).

#include "TestSupport.h"

#include "platform/NotificationCenter.h"
#include "result/model/KZListNotifications.h"
#include "result/panes/ui/KZDeadTracksCntrl.h"
#include "settings/KZTags.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QVariantMap track(const char* id, const char* song, const char* album, const char* artist, const char* file)
{
    return {{QStringLiteral("trackID"), QLatin1StringView(id)},
            {QStringLiteral("songName"), QLatin1StringView(song)},
            {QStringLiteral("album"), QLatin1StringView(album)},
            {QStringLiteral("artist"), QLatin1StringView(artist)},
            {QStringLiteral("path"), QLatin1StringView(file)}};
}

void save(QWidget& window, const QString& file)
{
    const QPixmap shot = window.grab();
    QImage canvas(shot.size() + QSize(80, 80), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(0x5d, 0x6b, 0x7d));
    QPainter painter(&canvas);
    painter.drawPixmap(40, 40, shot);
    painter.end();
    EXPECT_TRUE(canvas.save(file));
}

TEST(DeadTracksShots, AStoppedSearchWithSixMissingTracksAndAnEmptyOne)
{
    const QString dir = qEnvironmentVariable("MARAVEX_SHOTS_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "pictures only when MARAVEX_SHOTS_DIR is set";
    QDir().mkpath(dir);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Maravex"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 6, 12, 10);
    auto* selection = new QLabel(QStringLiteral("1 selected"));
    auto* remove = new QPushButton(QStringLiteral("Remove"));
    bar->addWidget(selection, 1);
    bar->addWidget(remove);

    QVariantMap unmarked = track("5e0c1a22b7", "Night Drive", "Coastlines", "The Harbour Lights",
                                 "/home/anna/Music/The Harbour Lights/Coastlines/04 Night Drive.mp3");
    unmarked.insert(QStringLiteral("isMarked"), false);
    const QVariantList deads{
        track("1f3a9b04c2d1e7aa", "Morning Light", "Coastlines", "The Harbour Lights",
              "/home/anna/Music/The Harbour Lights/Coastlines/01 Morning Light.mp3"),
        track("2b7c11de0098f3c4", "Paper Boats", "Coastlines", "The Harbour Lights",
              "/home/anna/Music/The Harbour Lights/Coastlines/02 Paper Boats.mp3"),
        unmarked,
        track("7a0042cc13e95b10", "Cold Coffee", "Small Hours", "Mina Varga",
              "/media/anna/Backup/Music/Mina Varga/Small Hours/07 Cold Coffee.m4a"),
        track("8d54e10f2a6b3c77", "Lanterns", "Small Hours", "Mina Varga",
              "/media/anna/Backup/Music/Mina Varga/Small Hours/09 Lanterns.m4a"),
        track("c41b7e2d9f0a1358", "Interlude (Live)", "Live at the Roundhouse", "Otto & The Owls",
              "/home/anna/Music/Otto & The Owls/Live at the Roundhouse/12 Interlude (Live).flac")};
    KZDeadTracksCntrl tab({{QStringLiteral("fileType"), QVariant::fromValue(KZFileTypeLabel::create(KZTag::missingTracks))},
                           {QStringLiteral("KZResultFoundDeads"), deads},
                           {QStringLiteral("KZResultRemoveButton"), QVariant::fromValue<QObject*>(remove)},
                           {QStringLiteral("KZResultSelectionInfoField"), QVariant::fromValue<QObject*>(selection)},
                           {QStringLiteral("KZResultSearchWasStoppedByUser"), true}});
    layout->addWidget(tab.resultView(), 1);
    layout->addLayout(bar);
    window.resize(940, 430);
    window.move(80, 80);
    window.show();
    platform::NotificationCenter::defaultCenter().post(KZNotification::superviewDidUnhide,
                                                       static_cast<const void*>(tab.resultView()));
    tab.tableView()->selectRow(1);
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(700));

    save(window, dir + QStringLiteral("/result-missing-tracks-fed.png"));

    KZDeadTracksCntrl empty({{QStringLiteral("fileType"), QVariant::fromValue(KZFileTypeLabel::create(KZTag::missingTracks))},
                             {QStringLiteral("KZResultRemoveButton"), QVariant::fromValue<QObject*>(remove)}});
    layout->replaceWidget(tab.resultView(), empty.resultView());
    tab.resultView()->hide();
    platform::NotificationCenter::defaultCenter().post(KZNotification::superviewDidUnhide,
                                                       static_cast<const void*>(empty.resultView()));
    kztest::processEventsUntil([] { return false; }, std::chrono::milliseconds(700));
    save(window, dir + QStringLiteral("/result-missing-tracks-empty.png"));
}

} // namespace
