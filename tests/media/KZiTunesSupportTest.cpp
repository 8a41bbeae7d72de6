#include "media/KZiTunesSupport.h"
#include "media/KZApplescript.h"
#include "media/KZiTunesLibrary.h"
#include "media/KZAppsSupport.h"
#include "support/MediaFakes.h"

#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "services/KZMusicLibraryFolders.h"
#include "settings/KZDefaultsKeys.h"
#include "support/LibraryFixtures.h"
#include "support/ScriptedPresenter.h"
#include "support/TestSupport.h"
#include "support/UnreadExports.h"
#include "services/KZErrorDelegate.h"

#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using kztest::MusicLibraryBuilder;

namespace {

QString str(const char* text)
{
    return QString::fromUtf8(text);
}

const KZiTunesTrack* byName(const KZiTunesLibrary& library, const QString& name)
{
    for (const KZiTunesTrack& track : library.mediaItems())
        if (track.songName == name)
            return &track;
    return nullptr;
}

// A shared reader on a library file named by the default, as the program
// starts it; the media folder is handed to the file services.
class MusicLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZiTunesSupport::setSharedControl(nullptr);
        defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(libraryFile.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
    }
    void TearDown() override
    {
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setRefusalTeller({});
        KZiTunesSupport::setSharedControl(nullptr);
    }

    kztest::ScopedDefaults defaults;
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Music/iTunes/iTunes Media");
    const fs::path libraryFile = dir / "Music/iTunes/iTunes Library.xml";
};

} // namespace

TEST(KZiTunesLibrary, TracksFromTheExport)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    const fs::path song = dir.write("Media/song one.wav", "RIFF");
    const fs::path odd = dir.write(std::string("Media/caf\xFF\xE9.wav"), "RIFF");
    MusicLibraryBuilder builder(media);
    builder.fileTrack(10, 255, song, str("One"), str("Artist"), str("Album"), 239900, 1411)
        .fileTrack(9, 0x00000000000ABCDEULL, odd, str("Odd name"))
        .fileTrack(11, 0xFEDCBA9876543210ULL, media / "gone.wav", str("Gone"))
        .entry(12, {{str("Persistent ID"), MusicLibraryBuilder::persistentIDText(12)},
                    {str("Track Type"), str("URL")},
                    {str("Location"), MusicLibraryBuilder::fileURL(song)},
                    {str("Name"), str("Stream")}})
        .entry(13, {{str("Persistent ID"), MusicLibraryBuilder::persistentIDText(13)},
                    {str("Track Type"), str("Remote")},
                    {str("Location"), MusicLibraryBuilder::fileURL(song)},
                    {str("Name"), str("Cloud")}})
        .entry(14, {{str("Persistent ID"), MusicLibraryBuilder::persistentIDText(14)},
                    {str("Location"), str("http://example.com/a.mp3")},
                    {str("Name"), str("Web")}})
        .entry(15, {{str("Persistent ID"), MusicLibraryBuilder::persistentIDText(15)},
                    {str("Track Type"), str("File")},
                    {str("Location"), MusicLibraryBuilder::fileURL(song, false)},
                    {str("Name"), qint64(42)}}) // a name that is not text
        .entry(16, {{str("Persistent ID"), str("not hex")},
                    {str("Location"), MusicLibraryBuilder::fileURL(song)},
                    {str("Name"), str("No identity")}})
        .entry(17, {{str("Persistent ID"), MusicLibraryBuilder::persistentIDText(17)}, {str("Name"), str("Nowhere")}})
        .fileTrack(18, 18, dir / "Media/100% #1?+ a%2Fb.wav", str("Escapes"))
        .entry(19, {{str("Persistent ID"), MusicLibraryBuilder::persistentIDText(19)},
                    {str("Location"), QString(str("file:///") + QFile::decodeName(dir.path().c_str()).mid(1)
                                              + str("/Media/Grüße.wav"))}, // written unescaped
                    {str("Name"), str("Raw")}});
    const fs::path file = builder.write(dir / "iTunes Library.xml");

    QString error;
    const auto library = KZiTunesLibrary::fromFile(file, &error);
    ASSERT_TRUE(library) << error.toStdString();
    EXPECT_EQ(library->musicFolderLocation(), media);

    // By track number (9 before 10), URL, remote, web, unidentified and
    // unplaced tracks left out, a missing file kept.
    const auto& tracks = library->mediaItems();
    ASSERT_EQ(tracks.size(), 6u);
    EXPECT_EQ(tracks[4].url, dir / "Media/100% #1?+ a%2Fb.wav");
    EXPECT_EQ(tracks[5].url, dir / "Media/Grüße.wav");
    EXPECT_EQ(tracks[0].trackID, str("abcde"));
    EXPECT_EQ(tracks[0].url.native(), odd.native()); // the 0xFF byte survives
    EXPECT_EQ(tracks[1].trackID, str("ff"));
    EXPECT_EQ(tracks[1].url, song);
    EXPECT_EQ(tracks[2].trackID, str("fedcba9876543210"));
    EXPECT_EQ(tracks[2].songName, str("Gone"));
    EXPECT_EQ(tracks[3].trackID, str("f"));
    EXPECT_EQ(tracks[3].url, song); // "file:///" form
    EXPECT_EQ(tracks[3].songName, str(""));
    EXPECT_EQ(tracks[3].artist, str(""));
    EXPECT_EQ(tracks[3].album, str(""));

    const KZiTunesTrack* one = library->trackWithID(str("ff"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->songName, str("One"));
    EXPECT_EQ(one->artist, str("Artist"));
    EXPECT_EQ(one->album, str("Album"));
    EXPECT_EQ(one->duration(), 239u);
    EXPECT_EQ(one->bitRate, 1411u);
    EXPECT_EQ(library->trackWithID(str("FF")), nullptr);
    EXPECT_EQ(library->trackWithID(str("00ff")), nullptr);
    EXPECT_EQ(library->trackWithID(str("c")), nullptr); // the remote track
    EXPECT_EQ(byName(*library, str("Web")), nullptr);
}

TEST(KZiTunesLibrary, DamagedExportsAreRefused)
{
    kztest::TempDir dir;
    const fs::path files[] = {dir / "missing.xml", dir.write("empty.xml", ""),
                              dir.write("truncated.xml", "<?xml version=\"1.0\"?><plist><dict><key>Tracks</key><dict>"),
                              dir.write("array.xml", "<plist version=\"1.0\"><array/></plist>"),
                              dir.write("other.xml", "<plist version=\"1.0\"><dict><key>a</key><true/></dict></plist>")};
    for (const fs::path& file : files) {
        QString error;
        EXPECT_EQ(KZiTunesLibrary::fromFile(file, &error), nullptr) << file;
        EXPECT_FALSE(error.isEmpty()) << file;
    }
    // Entries of the wrong kind are passed over, the rest is read.
    const auto library = KZiTunesLibrary::fromDictionary(
        {{str("Tracks"), QVariantMap{{str("1"), str("not a track")}, {str("2"), QVariantList{}}}},
         {str("Music Folder"), qint64(3)}});
    ASSERT_TRUE(library);
    EXPECT_TRUE(library->mediaItems().empty());
    EXPECT_TRUE(library->musicFolderLocation().empty());
}

// An export nested deep enough to crash the reader is refused, and so is one
// larger than any real library (sparse, it costs nothing on disk) before it
// is read whole. In a child, so that a crash fails the test.
TEST(KZiTunesLibrary, ExportsTooDeepOrTooLargeAreRefused)
{
    kztest::expectCleanRunInChild([] {
        kztest::TempDir dir;
        const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Tracks</key><dict/>";
        std::string deep = xml + "<key>Playlists</key>";
        for (int level = 0; level < 200000; ++level)
            deep += "<array><!--</array>-->";
        const fs::path large = dir.write("large.xml", xml + "</dict></plist>");
        fs::resize_file(large, (quint64(1) << 30) + 1);
        for (const auto& [file, why] : {std::pair(dir.write("deep.xml", deep), "nested too deeply"),
                                        std::pair(large, "too large")}) {
            QString error;
            EXPECT_EQ(KZiTunesLibrary::fromFile(file, &error), nullptr) << why;
            EXPECT_TRUE(error.contains(QString::fromLatin1(why))) << error.toStdString();
        }
    });
}

// A track's numbers are input: a time, a bit rate or a track number
// written as a real out of range (1e30, infinity) or negative reads as
// none, never as whatever an unchecked conversion makes of it.
TEST(KZiTunesLibrary, NumbersOutOfRangeReadAsNone)
{
    kztest::TempDir dir;
    const fs::path song = dir.write("Media/a.wav", "RIFF");
    const double infinity = std::numeric_limits<double>::infinity();
    QVariantMap tracks;
    int number = 1;
    for (const double wild : {1e30, infinity, -infinity, std::nan(""), -5.0, 1.8446744073709552e19}) {
        tracks.insert(QString::number(number),
                      QVariantMap{{str("Persistent ID"), QString::number(number, 16)},
                                  {str("Location"), MusicLibraryBuilder::fileURL(song)},
                                  {str("Total Time"), wild},
                                  {str("Bit Rate"), wild},
                                  {str("Track ID"), wild}});
        ++number;
    }
    tracks.insert(str("9"), QVariantMap{{str("Persistent ID"), str("9")},
                                        {str("Location"), MusicLibraryBuilder::fileURL(song)},
                                        {str("Total Time"), 1234.9},
                                        {str("Bit Rate"), qint64(320)}});
    const auto library = KZiTunesLibrary::fromDictionary({{str("Tracks"), tracks}});
    ASSERT_TRUE(library);
    ASSERT_EQ(library->mediaItems().size(), 7u);
    for (const KZiTunesTrack& track : library->mediaItems()) {
        SCOPED_TRACE(track.trackID.toStdString());
        if (track.trackID == str("9")) {
            EXPECT_EQ(track.totalTime, 1234u);
            EXPECT_EQ(track.bitRate, 320u);
            continue;
        }
        EXPECT_EQ(track.totalTime, 0u);
        EXPECT_EQ(track.bitRate, 0u);
    }
    // A "file://localhost/" location is the same local file.
    EXPECT_EQ(KZFilesUtilities::pathOfLocalFileURL(str("file://localhost") + QString::fromStdString(song.native())),
              song);
}

TEST_F(MusicLibraryTest, SharedReaderMetadataPositionsAndMediaFolder)
{
    KZiTunesSupport& reader = KZiTunesSupport::sharedControl();
    // No library yet: an empty reader, never a missing one.
    EXPECT_TRUE(reader.mediaItems().empty());
    EXPECT_FALSE(reader.songMetadataWithTrackID(str("ff")));
    EXPECT_EQ(KZFilesUtilities::sharedControl().iTunesFolderLocationPath(), fs::path());

    MusicLibraryBuilder(media)
        .fileTrack(1, 255, media / "a.wav", str("A"), str("Band"), str("Album"), 1500, 320)
        .fileTrack(2, 256, media / "b.wav", str("B"), str("Band"))
        .write(libraryFile);
    // A file that appears later is read: a failed reading is not kept for good.
    ASSERT_EQ(reader.mediaItems().size(), 2u);
    EXPECT_EQ(reader.musicFolderLocation(), media);
    EXPECT_EQ(KZFilesUtilities::sharedControl().iTunesFolderLocationPath(), media);
    EXPECT_EQ(KZFilesUtilities::sharedControl().isiTunesURL(media), 2);

    const auto song = reader.songMetadataWithTrackID(str("ff"));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->duration(), 1u);
    EXPECT_EQ(song->bitRate, 320u);
    EXPECT_EQ(reader.libraryPositionWithTrackID(str("ff")),
              platform::localizedString(str("iTunes Library")) + str(" -> Album"));
    EXPECT_EQ(reader.libraryPositionWithTrackID(str("100")), std::nullopt); // no album title
    EXPECT_EQ(reader.libraryPositionWithTrackID(str("123")), std::nullopt);
}

TEST_F(MusicLibraryTest, ReloadSwapsWholeLibraries)
{
    KZiTunesSupport& reader = KZiTunesSupport::sharedControl();
    MusicLibraryBuilder small(media);
    small.fileTrack(1, 1, media / "1.wav", str("1"));
    small.write(libraryFile);
    MusicLibraryBuilder large(media);
    for (quint64 i = 1; i <= 200; ++i)
        large.fileTrack(i, i, media / (std::to_string(i) + ".wav"), QString::number(i));

    const auto first = reader.library();
    ASSERT_TRUE(first);
    large.write(libraryFile);
    EXPECT_EQ(reader.library(), first); // kept until told that the library changed
    reader.noteUpdatedLibrary();
    ASSERT_EQ(reader.mediaItems().size(), 200u);
    EXPECT_EQ(first->mediaItems().size(), 1u); // a holder keeps its reading

    // Readers on 8 threads while the library is told to reload: each sees
    // one whole reading, never a mix or a missing reader.
    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            while (!stop) {
                const auto library = KZiTunesSupport::sharedControl().library();
                if (!library || library->mediaItems().size() != 200
                    || !library->trackWithID(str("c8")) || library->trackWithID(str("c8"))->songName != str("200"))
                    ++inconsistent;
            }
        });
    for (int i = 0; i < 20; ++i) {
        reader.noteUpdatedLibrary();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(inconsistent.load(), 0);

    // Another path in the default is another library.
    const fs::path other = dir / "Other.xml";
    MusicLibraryBuilder().write(other);
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(other.c_str()));
    EXPECT_TRUE(reader.mediaItems().empty());
    EXPECT_EQ(reader.musicFolderLocation(), fs::path());
}

TEST_F(MusicLibraryTest, TracksDeletedThroughTheApplicationAreReadAgain)
{
    kztest::ScopedScriptRunner scripts;
    KZiTunesSupport::followLibraryChanges();
    MusicLibraryBuilder before(media);
    before.fileTrack(1, 1, media / "1.wav", str("1"));
    before.fileTrack(2, 2, media / "2.wav", str("2"));
    before.write(libraryFile);
    ASSERT_EQ(KZiTunesSupport::sharedControl().mediaItems().size(), 2u);

    // The application removed the track and wrote its export again.
    MusicLibraryBuilder after(media);
    after.fileTrack(1, 1, media / "1.wav", str("1"));
    after.write(libraryFile);
    EXPECT_TRUE(KZApplescript::sharedControl().notifyDeletion(QStringLiteral("2")));
    EXPECT_EQ(KZiTunesSupport::sharedControl().mediaItems().size(), 1u);
    KZApplescript::setMusicLibraryDidChange({});
    KZAppsSupport::setSharedControl(nullptr);
}

// An export that is there but cannot be read still owns its files: the media
// folder named at its head (or, where none can be read, the folder that holds
// the export) is what the file services keep out, and the refusal is told
// once for each state of the file, naming it.
TEST_F(MusicLibraryTest, AnExportThatCannotBeReadKeepsItsFolderAndIsToldOnce)
{
    using kztest::UnreadExport;
    struct Case {
        UnreadExport form;
        bool namesMedia;
        fs::path keptOut;
    };
    const fs::path libraryFolder = libraryFile.parent_path();
    for (const Case& c : {Case{UnreadExport::Broken, true, media}, Case{UnreadExport::OverLimit, true, media},
                          Case{UnreadExport::Broken, false, libraryFolder},
                          Case{UnreadExport::Fifo, false, libraryFolder}}) {
        SCOPED_TRACE(std::string(kztest::nameOf(c.form)) + (c.namesMedia ? " naming its media folder" : ""));
        KZiTunesSupport::setSharedControl(nullptr);
        std::error_code ec;
        fs::remove(libraryFile, ec);
        QStringList told;
        KZiTunesSupport::setRefusalTeller([&told](const fs::path&, const QString& reason) { told << reason; });
        kztest::writeUnreadExport(libraryFile, c.form, c.namesMedia ? media : fs::path());

        KZiTunesSupport& reader = KZiTunesSupport::sharedControl();
        EXPECT_FALSE(reader.library());
        EXPECT_TRUE(reader.mediaItems().empty());
        EXPECT_EQ(KZMusicLibraryFolders::keptOutFolders(), std::vector<fs::path>{c.keptOut});
        // The media folder keeps its place among the sources as when read.
        if (c.namesMedia) {
            EXPECT_EQ(KZFilesUtilities::sharedControl().isiTunesURL(libraryFolder), 1);
        }
        EXPECT_FALSE(reader.songMetadataWithTrackID(str("ff")));
        ASSERT_EQ(told.size(), 1) << "told once, not at every question";
        EXPECT_TRUE(told[0].contains(QFile::decodeName(libraryFile.c_str()))) << told[0].toStdString();

        // Gone, nothing is kept; there again and readable, the library
        // speaks for itself.
        fs::remove(libraryFile);
        reader.noteUpdatedLibrary();
        EXPECT_TRUE(KZMusicLibraryFolders::keptOutFolders().empty());
        MusicLibraryBuilder(media).fileTrack(1, 1, media / "a.wav", str("A")).write(libraryFile);
        reader.noteUpdatedLibrary();
        EXPECT_EQ(KZMusicLibraryFolders::keptOutFolders(), std::vector<fs::path>{media});
        EXPECT_EQ(told.size(), 1);
    }
}

// Without a tool of its own to tell it, the refusal is an error alert naming
// the file, shown once however often the library is asked for.
TEST_F(MusicLibraryTest, ARefusalIsOneAlertNamingTheFile)
{
    KZErrorDelegate::setSharedControl(nullptr);
    auto presenter = std::make_shared<kztest::ScriptedPresenter>();
    KZErrorDelegate::sharedControl().setPresenter(presenter);
    const auto restore = qScopeGuard([] { KZErrorDelegate::setSharedControl(nullptr); });
    kztest::writeUnreadExport(libraryFile, kztest::UnreadExport::OverLimit, media);

    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(KZiTunesSupport::sharedControl().mediaItems().empty());
        EXPECT_EQ(KZMusicLibraryFolders::keptOutFolders(), std::vector<fs::path>{media});
    }
    ASSERT_EQ(presenter->shown(), 1u);
    const KZAlertPresenter::Alert& alert = presenter->calls[0].alert;
    EXPECT_TRUE(alert.messageText.startsWith(str("The music library was not read."))) << alert.messageText.toStdString();
    EXPECT_TRUE(alert.messageText.contains(QFile::decodeName(libraryFile.c_str())));
    EXPECT_FALSE(alert.informativeText.isEmpty());
}

namespace {

// Runs `check` where permissions bind: tests run as root, so in a child that
// gave its privileges up. 0: it held, 1: it did not, 2: no such child.
int runUnprivileged(const std::function<bool()>& check)
{
    if (::geteuid() != 0)
        return check() ? 0 : 1;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(!(::setgid(65534) == 0 && ::setuid(65534) == 0) ? 2 : check() ? 0 : 1);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 1;
    return WEXITSTATUS(status);
}

} // namespace

// While the export cannot be read, what can be learned of its media folder
// stays out: the "Music Folder" entry wherever the file holds it at the top,
// never a track's; where no entry can be read (a damaged head, a file the
// user may not open), the folder that holds the export and the music
// application's default media folders, and a media folder elsewhere is not
// known.
TEST(KZiTunesSupportUnread, KeepsOutWhatCanBeLearnedOfTheMediaFolder)
{
    kztest::UserFolder dir;
    kztest::ScopedDefaults defaults;
    const kztest::EnvGuard home("HOME");
    ::setenv("HOME", dir.path().c_str(), 1);
    const fs::path media = dir.mkdir("Elsewhere/Media");
    const fs::path usual = dir.mkdir("Music/iTunes/iTunes Media");
    const fs::path file = dir / "Music/Library/Library.xml";
    defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(file.c_str()));
    KZiTunesSupport::setRefusalTeller([](const fs::path&, const QString&) {});
    KZiTunesSupport::installMediaFolderProvider();
    const auto restore = qScopeGuard([] {
        KZFilesUtilities::setiTunesFolderProvider({});
        KZMusicLibraryFolders::setUnreadLibraryProvider({});
        KZiTunesSupport::setRefusalTeller({});
        KZiTunesSupport::setSharedControl(nullptr);
    });
    const std::vector<fs::path> unknown{file.parent_path(), usual};
    using kztest::LateEntry;
    for (const auto& [where, keptOut] : {std::pair{LateEntry::PastTheHead, std::vector<fs::path>{media}},
                                         std::pair{LateEntry::AfterTheTracks, std::vector<fs::path>{media}},
                                         std::pair{LateEntry::DamagedHead, unknown}}) {
        SCOPED_TRACE(int(where));
        KZiTunesSupport::setSharedControl(nullptr);
        kztest::writeExportWithLateEntry(file, where, media);
        EXPECT_EQ(KZMusicLibraryFolders::keptOutFolders(), keptOut);
    }

    KZiTunesSupport::setSharedControl(nullptr);
    MusicLibraryBuilder(media).fileTrack(1, 1, media / "a.wav", str("A")).write(file);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(file.c_str(), 0);
    EXPECT_EQ(runUnprivileged([&] { return KZMusicLibraryFolders::keptOutFolders() == unknown; }), 0);
}
