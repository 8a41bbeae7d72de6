#pragma once

#include "result/model/KZFoundItem.h"

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <mutex>

class KZSongInfo;

// A found item that is a sound: it also answers the song's tags, duration
// and bit rate for the list and the preview.
//
// The tags are read on the first request of any of them, at most once per
// item whatever the outcome, from the music library for a library track
// that it still knows, else from the file. The read and every field sit
// behind the song's own lock, so concurrent first requests make one read
// and all see its result.
class KZFoundSong : public KZFoundItem {
public:
    static KZFoundItemRef itemWithTreeNode(const TreeToCheck& node);
    explicit KZFoundSong(const TreeToCheck& node);

    // "" when the song has no such tag.
    QString songName();
    QString artist();
    QString album();
    QString genre();
    QString year();
    // Whole seconds and kbit/s; 0 when they cannot be read.
    qint64 duration();
    quint32 bitRate();

    QString formattedTime();
    QString formattedBitRate();
    QVariant cfBitRate();

    bool tagAlreadyTaken() const;
    // Reads the tags unless they were asked for already.
    void headerSongInfo();
    void songTag();
    void setSongVariables(const KZSongInfo& info);

private:
    QString textField(QString KZFoundSong::*field);

    mutable std::recursive_mutex songLock_;
    QString songName_;
    QString artist_;
    QString album_;
    QString genre_;
    QString year_;
    qint64 duration_ = 0;
    quint32 bitRate_ = 0;
    bool tagAlreadyTaken_ = false;
};
