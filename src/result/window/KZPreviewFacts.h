#pragma once

#include "result/model/KZFoundItem.h"

#include <QSize>
#include <QString>
#include <QtGlobal>

// What is known of a found picture or song beyond its file: the facts a
// preview card shows under the picture or beside the song. Until the found
// items carry them, the facts come from here; every empty text is shown as
// "unknown", never guessed.
struct KZPreviewImageFacts {
    QString dateTaken;
    QString camera;
    QString latitude;
    QString longitude;
    // Pixels; 0 while not read.
    quint32 width = 0;
    quint32 height = 0;
};

struct KZPreviewSongFacts {
    QString songName;
    QString artist;
    QString album;
    QString time;
    QString bitRate;
};

// Where the preview asks for those facts. The shared instance answers the
// pixel size of pictures that a preview has already decoded and nothing
// else; a metadata reader replaces it with setShared(). Any thread.
class KZPreviewFacts {
public:
    virtual ~KZPreviewFacts() = default;
    virtual KZPreviewImageFacts imageFacts(const KZFoundItemRef& item) const;
    virtual KZPreviewSongFacts songFacts(const KZFoundItemRef& item) const;
    // A decoder read the picture's size from the file itself.
    virtual void notePixelSize(const KZFoundItemRef& item, QSize size);

    static KZPreviewFacts& shared();
    // Null puts the built-in answer back. The caller keeps ownership.
    static void setShared(KZPreviewFacts* facts);
};
