#include "media/KZiTunesLibrary.h"
#include "media/KZiTunesSupport.h"

#include "platform/UserDefaults.h"
#include "services/KZFilesUtilities.h"
#include "services/KZMusicLibraryFolders.h"
#include "settings/KZDefaultsKeys.h"
#include "support/HeldMusicReader.h"
#include "support/LibraryFixtures.h"
#include "support/TestSupport.h"
#include "support/UnreadExports.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <thread>

namespace fs = std::filesystem;
using kztest::MusicLibraryBuilder;

namespace {

// The library named by the default, read the way the search window reads it
// aside: readIfDue on a thread of its own.
class MusicReadingAside : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZiTunesSupport::setSharedControl(nullptr);
        defaults->setValue(KZDefaultsKey::iTunes_library_path, QFile::decodeName(libraryFile.c_str()));
        KZiTunesSupport::installMediaFolderProvider();
        KZiTunesSupport::setRefusalTeller([this](const fs::path&, const QString& reason) { told << reason; });
        MusicLibraryBuilder(media).fileTrack(1, 1, media / "a.wav", QStringLiteral("A")).write(libraryFile);
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
    const fs::path media = dir.mkdir("Music/Media");
    const fs::path libraryFile = dir / "Music/Library.xml";
    QStringList told;
};

} // namespace

// A reading under way holds no lock: whether one is due is answered while
// it waits; stopped, it keeps nothing, and the next one reads the file.
TEST_F(MusicReadingAside, AReadingHoldsNoLockAndAStoppedOneKeepsNothing)
{
    KZiTunesSupport& music = KZiTunesSupport::sharedControl();
    ASSERT_TRUE(music.readingIsDue());
    {
        kztest::HeldMusicReader held;
        std::atomic<bool> stop{false};
        bool stopped = false;
        std::optional<KZiTunesSupport::Refusal> refusal;
        std::thread reading([&] { refusal = music.readIfDue(&stop, &stopped); });
        ASSERT_TRUE(held.waitEntered());
        EXPECT_TRUE(music.readingIsDue());
        stop = true;
        ASSERT_TRUE(held.waitAllLeft());
        reading.join();
        EXPECT_TRUE(stopped);
        EXPECT_TRUE(held.sawStop());
        EXPECT_FALSE(refusal);
        EXPECT_TRUE(music.readingIsDue()) << "a stopped reading keeps nothing";
    }
    bool stopped = true;
    EXPECT_FALSE(music.readIfDue(nullptr, &stopped));
    EXPECT_FALSE(stopped);
    EXPECT_FALSE(music.readingIsDue());
    EXPECT_EQ(music.mediaItems().size(), 1u);
    EXPECT_EQ(music.musicFolderLocation(), media);
}

// The library changed while it was read: that reading is not kept, and is
// read again next time; a caller of library() still gets a whole reading.
TEST_F(MusicReadingAside, AReadingOvertakenByAChangeIsNotKept)
{
    KZiTunesSupport& music = KZiTunesSupport::sharedControl();
    std::shared_ptr<const KZiTunesLibrary> got;
    {
        kztest::HeldMusicReader held;
        std::thread reading([&] { got = music.library(); });
        ASSERT_TRUE(held.waitEntered());
        MusicLibraryBuilder(media)
            .fileTrack(1, 1, media / "a.wav", QStringLiteral("A"))
            .fileTrack(2, 2, media / "b.wav", QStringLiteral("B"))
            .write(libraryFile);
        music.noteUpdatedLibrary();
        held.release();
        reading.join();
    }
    ASSERT_TRUE(got);
    EXPECT_TRUE(music.readingIsDue());
    EXPECT_EQ(music.mediaItems().size(), 2u);
}

// A reading aside hands its refusal back instead of telling it, so that it
// never waits for the window's thread; told by the caller, it is told once.
TEST_F(MusicReadingAside, ARefusalIsHandedBackAndToldOnce)
{
    kztest::writeUnreadExport(libraryFile, kztest::UnreadExport::Broken, media);
    KZiTunesSupport& music = KZiTunesSupport::sharedControl();
    std::optional<KZiTunesSupport::Refusal> refusal;
    std::thread([&] { refusal = music.readIfDue(); }).join();
    ASSERT_TRUE(refusal);
    EXPECT_TRUE(told.isEmpty());
    EXPECT_EQ(refusal->file, libraryFile);
    EXPECT_FALSE(refusal->reason.isEmpty());
    // Kept as refused: what stands for the media folder is known at once.
    EXPECT_FALSE(music.readingIsDue());
    EXPECT_EQ(KZMusicLibraryFolders::keptOutFolders(), std::vector<fs::path>{media});
    KZiTunesSupport::tellRefusal(*refusal);
    EXPECT_FALSE(music.library());
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains(QFile::decodeName(libraryFile.c_str()))) << told[0].toStdString();
}

// A raised stop ends the streamed reading before its next piece, and keeps
// the whole reading from starting, with the reason saying so.
TEST(KZiTunesLibraryStop, ARaisedStopEndsEitherReading)
{
    kztest::TempDir dir;
    const fs::path media = dir.mkdir("Media");
    const fs::path streamed = dir.path() / "streamed.xml";
    std::ofstream(streamed, std::ios::binary) << MusicLibraryBuilder::applicationExport(media, 300).toStdString();
    // A comment leaves the file to the whole reading.
    const fs::path whole = dir.path() / "whole.xml";
    std::ofstream(whole, std::ios::binary)
        << MusicLibraryBuilder::applicationExport(media, 30).replace("<dict>", "<!-- x --><dict>").toStdString();
    for (const fs::path& file : {streamed, whole}) {
        SCOPED_TRACE(file.filename().string());
        ASSERT_TRUE(KZiTunesLibrary::fromFile(file));
        const std::atomic<bool> stop{true};
        QString error;
        EXPECT_FALSE(KZiTunesLibrary::fromFile(file, &error, &stop));
        EXPECT_TRUE(error.contains(QFile::decodeName(file.c_str()))) << error.toStdString();
    }
}
