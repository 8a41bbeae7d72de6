#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The tags of one song, as the song-tag reader finds them in an audio file or
// the music library reader in its track list.
//
// A text that was not found is a null QString, told apart from a tag that
// was present but empty. A record is a plain value: whoever keeps one keeps
// a copy, so it needs no lock of its own.
class KZSongInfo {
public:
    QString songName() const { return songName_; }
    void setSongName(const QString& value) { songName_ = value; }
    QString artist() const { return artist_; }
    void setArtist(const QString& value) { artist_ = value; }
    QString album() const { return album_; }
    void setAlbum(const QString& value) { album_ = value; }
    QString genre() const { return genre_; }
    void setGenre(const QString& value) { genre_ = value; }
    QString year() const { return year_; }
    void setYear(const QString& value) { year_ = value; }

    std::optional<quint64> trackID() const { return trackID_; }
    void setTrackID(std::optional<quint64> value) { trackID_ = value; }
    bool isiTunesTrackID() const { return isiTunesTrackID_; }
    void setIsiTunesTrackID(bool value) { isiTunesTrackID_ = value; }
    bool isSyncSong() const { return isSyncSong_; }
    void setIsSyncSong(bool value) { isSyncSong_ = value; }

    // Whole seconds.
    qint64 duration() const { return duration_; }
    void setDuration(qint64 value) { duration_ = value; }
    // kbit/s.
    quint32 bitRate() const { return bitRate_; }
    void setBitRate(quint32 value) { bitRate_ = value; }

private:
    QString songName_;
    QString artist_;
    QString album_;
    QString genre_;
    QString year_;
    std::optional<quint64> trackID_;
    bool isiTunesTrackID_ = false;
    bool isSyncSong_ = false;
    qint64 duration_ = 0;
    quint32 bitRate_ = 0;
};
