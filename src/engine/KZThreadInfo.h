#pragma once

#include "engine/KZExcludedInfo.h"

#include <QtGlobal>

#include <memory>

// What the driver hands to a scan worker together with the folder to walk.
class KZThreadInfo {
public:
    KZThreadInfo() = default;
    KZThreadInfo(qint16 label, std::shared_ptr<const KZExcludedInfo> excInfo)
        : label_(label), excInfo_(std::move(excInfo)) {}

    static std::shared_ptr<KZThreadInfo> create(qint16 label = 0,
                                                std::shared_ptr<const KZExcludedInfo> excInfo = {})
    {
        return std::make_shared<KZThreadInfo>(label, std::move(excInfo));
    }

    qint16 label() const { return label_; }
    void setLabel(qint16 label) { label_ = label; }

    const std::shared_ptr<const KZExcludedInfo>& excInfo() const { return excInfo_; }
    void setExcInfo(std::shared_ptr<const KZExcludedInfo> excInfo) { excInfo_ = std::move(excInfo); }

private:
    qint16 label_ = 0;
    std::shared_ptr<const KZExcludedInfo> excInfo_;
};
