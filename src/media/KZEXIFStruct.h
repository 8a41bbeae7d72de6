#pragma once

#include <QString>
#include <QtGlobal>

// The photo values of one image: what the result list and the preview show
// of it. Numbers missing from the file stay 0 and texts stay null.
class KZEXIFStruct {
public:
    // Degrees as stored, without sign: the hemisphere is in the reference.
    double latitude() const { return latitude_; }
    void setLatitude(double value) { latitude_ = value; }
    double longitude() const { return longitude_; }
    void setLongitude(double value) { longitude_ = value; }
    // Seconds since 1 January 2001 00:00:00 GMT; 0 when the file has none.
    double dateTakenSecs() const { return dateTakenSecs_; }
    void setDateTakenSecs(double value) { dateTakenSecs_ = value; }

    QString latitudeRef() const { return latitudeRef_; }
    void setLatitudeRef(const QString& value) { latitudeRef_ = value; }
    QString longitudeRef() const { return longitudeRef_; }
    void setLongitudeRef(const QString& value) { longitudeRef_ = value; }
    QString camera() const { return camera_; }
    void setCamera(const QString& value) { camera_ = value; }

    // The size as the picture is displayed, after its orientation.
    quint64 width() const { return width_; }
    void setWidth(quint64 value) { width_ = value; }
    quint64 height() const { return height_; }
    void setHeight(quint64 value) { height_ = value; }
    // 1 to 8.
    qint16 orientation() const { return orientation_; }
    void setOrientation(qint16 value) { orientation_ = value; }
    qint16 subSecs() const { return subSecs_; }
    void setSubSecs(qint16 value) { subSecs_ = value; }

private:
    double latitude_ = 0;
    double longitude_ = 0;
    double dateTakenSecs_ = 0;
    QString latitudeRef_;
    QString longitudeRef_;
    QString camera_;
    quint64 width_ = 0;
    quint64 height_ = 0;
    qint16 orientation_ = 0;
    qint16 subSecs_ = 0;
};
