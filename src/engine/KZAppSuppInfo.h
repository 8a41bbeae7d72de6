#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// Marks an item as belonging to a media library, so that the result can
// offer library-aware removal and leave library files out of folder scans.
class KZAppSuppInfo {
public:
    enum Owner : qint16 { None = 0, Photos = 1, ITunes = 2 };

    KZAppSuppInfo() = default;
    KZAppSuppInfo(QString trackID, qint16 whichOwnerItem)
        : trackID_(std::move(trackID)), whichOwnerItem_(whichOwnerItem) {}

    static std::shared_ptr<KZAppSuppInfo> create(QString trackID = {}, qint16 whichOwnerItem = None)
    {
        return std::make_shared<KZAppSuppInfo>(std::move(trackID), whichOwnerItem);
    }

    // The library's own identifier, compared as text.
    const QString& trackID() const { return trackID_; }
    void setTrackID(const QString& trackID) { trackID_ = trackID; }

    qint16 whichOwnerItem() const { return whichOwnerItem_; }
    void setWhichOwnerItem(qint16 owner) { whichOwnerItem_ = owner; }

private:
    QString trackID_;
    qint16 whichOwnerItem_ = None;
};
