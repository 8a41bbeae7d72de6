#include "result/model/KZFoundSong.h"

#include "media/KZSongInfo.h"
#include "media/KZSongTagCntrl.h"
#include "result/model/KZLibraryLookups.h"
#include "services/KZNumberUtilities.h"

KZFoundItemRef KZFoundSong::itemWithTreeNode(const TreeToCheck& node)
{
    return std::make_shared<KZFoundSong>(node);
}

KZFoundSong::KZFoundSong(const TreeToCheck& node)
    : KZFoundItem(node)
{
}

QString KZFoundSong::textField(QString KZFoundSong::*field)
{
    std::lock_guard guard(songLock_);
    if ((this->*field).isNull())
        songTag();
    // A tag the song lacks is not asked for again.
    if ((this->*field).isNull())
        this->*field = QLatin1String("");
    return this->*field;
}

QString KZFoundSong::songName()
{
    return textField(&KZFoundSong::songName_);
}

QString KZFoundSong::artist()
{
    return textField(&KZFoundSong::artist_);
}

QString KZFoundSong::album()
{
    return textField(&KZFoundSong::album_);
}

QString KZFoundSong::genre()
{
    return textField(&KZFoundSong::genre_);
}

QString KZFoundSong::year()
{
    return textField(&KZFoundSong::year_);
}

qint64 KZFoundSong::duration()
{
    std::lock_guard guard(songLock_);
    if (duration_ == 0)
        headerSongInfo();
    return duration_;
}

quint32 KZFoundSong::bitRate()
{
    std::lock_guard guard(songLock_);
    if (bitRate_ == 0)
        headerSongInfo();
    return bitRate_;
}

QString KZFoundSong::formattedTime()
{
    return KZNumberUtilities::secondsToFormatString(duration());
}

QString KZFoundSong::formattedBitRate()
{
    return QStringLiteral("%1 kbps").arg(bitRate());
}

QVariant KZFoundSong::cfBitRate()
{
    return QVariant::fromValue<quint32>(bitRate());
}

bool KZFoundSong::tagAlreadyTaken() const
{
    std::lock_guard guard(songLock_);
    return tagAlreadyTaken_;
}

void KZFoundSong::headerSongInfo()
{
    std::lock_guard guard(songLock_);
    if (!tagAlreadyTaken_)
        songTag();
}

void KZFoundSong::songTag()
{
    std::lock_guard guard(songLock_);
    if (tagAlreadyTaken_)
        return;
    tagAlreadyTaken_ = true;

    std::optional<KZSongInfo> info;
    if (isiTunesItem()) {
        if (const auto lookup = KZLibraryLookups::current().songMetadataWithTrackID)
            info = lookup(trackID());
    }
    // A track the library no longer holds still has its file's own tags.
    if (!info) {
        const std::filesystem::path location = url();
        if (!location.empty())
            info = KZSongTagCntrl::sharedControl().songMetatadaWithURL(location, extension(), true);
    }
    if (info)
        setSongVariables(*info);
}

void KZFoundSong::setSongVariables(const KZSongInfo& info)
{
    std::lock_guard guard(songLock_);
    if (!info.songName().isNull())
        songName_ = info.songName();
    if (!info.artist().isNull())
        artist_ = info.artist();
    if (!info.album().isNull())
        album_ = info.album();
    if (!info.genre().isNull())
        genre_ = info.genre();
    if (!info.year().isNull())
        year_ = info.year();
    duration_ = info.duration();
    bitRate_ = info.bitRate();
}
