#pragma once

#include "media/KZSongInfo.h"

#include <QString>
#include <QtGlobal>

#include <filesystem>
#include <memory>

// Reads the tags, duration and bit rate of an audio file that is not a track
// of the music library.
//
// The reader keeps no state, so any number of threads may use it at once.
// It never fails as a whole: a file that cannot be opened or read (missing,
// empty, truncated, damaged, or not audio at all whatever its name says)
// gives a record holding only what could be read.
class KZSongTagCntrl {
public:
    // The container formats the reader tells apart. An extension only hints
    // at one; the file's first bytes decide.
    enum class FileType { Unknown, MPEG, WAVE, AIFF, MP4, FLAC };

    static KZSongTagCntrl& sharedControl();
    // Replaces the shared reader (tests); nullptr makes the next call build
    // a fresh one.
    static void setSharedControl(std::unique_ptr<KZSongTagCntrl> instance);

    KZSongTagCntrl() = default;
    virtual ~KZSongTagCntrl() = default;
    KZSongTagCntrl(const KZSongTagCntrl&) = delete;
    KZSongTagCntrl& operator=(const KZSongTagCntrl&) = delete;

    // The tags of the file and, when `isDuration` is set, its duration and
    // bit rate. `extension` may be empty: the file's own is taken then.
    virtual KZSongInfo songMetatadaWithURL(const std::filesystem::path& url, const QString& extension,
                                           bool isDuration) const;

    // Title, album, artist, genre and year; the rest stays at its default.
    KZSongInfo songMetadataUsingCoreAudioWithURL(const std::filesystem::path& url, bool isDuration) const;
    // Fills the duration (whole seconds, truncated) and the bit rate (kbit/s).
    void songDurationWithURL(const std::filesystem::path& url, KZSongInfo& info, const QString& fileExtension) const;

    // The type an extension suggests, compared exactly ("MP3" suggests none).
    static FileType hintForFileExtension(const QString& extension);
    // The type the file's first bytes show; Unknown when they show none.
    static FileType typeOfContent(const std::filesystem::path& url);

    // The year of a date tag: its leading four digits when they stand alone
    // or begin a date ("2019", "2019-05-03", "2019/05/03 12:34:56"); a null
    // QString for anything else.
    static QString yearOfDateTag(const QString& text);
};
