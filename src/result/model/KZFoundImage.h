#pragma once

#include "result/model/KZFoundItem.h"

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <mutex>

class KZEXIFStruct;

// A found item that is an image: it also answers the photo's date taken,
// pixel size, camera and GPS position for the list and the preview.
//
// The values are read from the file's metadata on the first request of any
// of them, and again on later requests for as long as no pixel size could be
// read (the file was gone or unreadable). The read and every field sit
// behind the image's own lock, so concurrent first requests make one read
// and all see its result.
class KZFoundImage : public KZFoundItem {
public:
    static KZFoundItemRef itemWithTreeNode(const TreeToCheck& node);
    explicit KZFoundImage(const TreeToCheck& node);

    // Seconds since 1 January 2001 GMT; 0 when the picture has no date.
    double dateTaken();
    // Degrees as stored, positive; the hemisphere is in the reference.
    double latitude();
    double longitude();
    quint64 width();
    quint64 height();
    // "" when the picture has none.
    QString latitudeRef();
    QString longitudeRef();
    QString camera();

    QString formattedDateTaken();
    // The date taken as a number when there is one, else an invalid value.
    QVariant cfDateTaken();
    QString formattedLatitude();
    QString formattedLongitude();
    // "<width> x <height>", or "" until both are known.
    QString formattedImageSize();

    bool modelIsAlreadyTaken() const;
    // Reads the values unless a pixel size is known already.
    void imageExif();
    void setExifVariables(const KZEXIFStruct& exif);

private:
    // The field after a read when none was made yet; "" for a null text.
    template <typename T>
    T readField(T KZFoundImage::*field);
    QString readText(QString KZFoundImage::*field);

    mutable std::recursive_mutex imageLock_;
    double dateTaken_ = 0;
    double latitude_ = 0;
    double longitude_ = 0;
    QString latitudeRef_;
    QString longitudeRef_;
    quint64 width_ = 0;
    quint64 height_ = 0;
    QString camera_;
    bool modelIsAlreadyTaken_ = false;
};
