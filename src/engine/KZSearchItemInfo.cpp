#include "engine/KZSearchItemInfo.h"

#include "platform/Paths.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Index of the dot that starts the extension, or -1. A name that begins
// with its only dot (".profile") or ends with a dot has none.
qsizetype extensionDot(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot + 1 == name.size())
        return -1;
    return dot;
}

} // namespace

void KZSearchItemInfo::Bytes::assign(std::string_view bytes)
{
    // The new bytes are copied before the old ones go: they may be the same.
    if (bytes.size() <= kTag) {
        char copy[kTag];
        std::memcpy(copy, bytes.data(), bytes.size());
        release();
        std::memcpy(bytes_, copy, bytes.size());
        bytes_[kTag] = char(bytes.size());
        return;
    }
    // A location of 4 GiB and more does not exist: the system refuses far
    // shorter ones.
    const quint32 size = quint32(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
    char* data = new char[size];
    std::memcpy(data, bytes.data(), size);
    release();
    std::memcpy(bytes_, &data, sizeof data);
    std::memcpy(bytes_ + sizeof data, &size, sizeof size);
    bytes_[kTag] = kLarge;
}

void KZSearchItemInfo::Bytes::release()
{
    if (isLarge()) {
        char* data = nullptr;
        std::memcpy(&data, bytes_, sizeof data);
        delete[] data;
    }
    bytes_[kTag] = 0;
}

std::string KZSearchItemInfo::urlBytes() const
{
    const std::string_view leaf = leaf_.view();
    if (!folder_ || folder_->empty())
        return std::string(leaf);
    std::string url;
    url.reserve(folder_->size() + 1 + leaf.size());
    url = *folder_;
    if (url.back() != '/')
        url += '/';
    url += leaf;
    return url;
}

const std::shared_ptr<KZAppSuppInfo>& KZSearchItemInfo::appSuppInfo() const
{
    static const std::shared_ptr<KZAppSuppInfo> none;
    return rare_ ? rare_->appSuppInfo : none;
}

QString KZSearchItemInfo::originalName() const
{
    if (!flag(NameFromLocation))
        return rare_ ? rare_->name : QString();
    const std::string_view leaf = leaf_.view();
    if (folder_)
        return platform::pathText(leaf);
    // The whole location is in leaf_: its last part, a trailing slash
    // tolerated ("/a/b/" is b).
    std::string_view location = leaf;
    while (location.size() > 1 && location.back() == '/')
        location.remove_suffix(1);
    const auto slash = location.rfind('/');
    if (slash != std::string_view::npos && location.size() > 1)
        location.remove_prefix(slash + 1);
    return platform::pathText(location);
}

void KZSearchItemInfo::initializeVariables()
{
    folder_.reset();
    leaf_.clear();
    rare_.reset();
    scanRecord_.reset();
    totSize_ = 0;
    setFileTypeLabel(0);
    device_ = 0;
    inode_ = 0;
    linkCount_ = 0;
    modificationTime_ = 0;
    type_ = 0;
    label_ = -1;
    finderFlags_ = 0;
    flags_.store(0, std::memory_order_relaxed);
}

namespace {

constexpr int kNanosecondBits = 30;
constexpr qint64 kSecondsLimit = qint64(1) << 33; // 34 signed bits

} // namespace

void KZSearchItemInfo::setDevice(quint64 device)
{
    const bool fits = device <= 0xFFFFFFFFu;
    device_ = fits ? quint32(device) : 0;
    if (!fits)
        rare().device = device;
    setFlag(ExactDevice, !fits);
}

timespec KZSearchItemInfo::modificationTime() const
{
    if (flag(ExactModificationTime))
        return rare_->modificationTime;
    timespec time{};
    // The arithmetic shift brings the sign of the seconds back.
    time.tv_sec = std::time_t(qint64(modificationTime_) >> kNanosecondBits);
    time.tv_nsec = long(modificationTime_ & ((quint64(1) << kNanosecondBits) - 1));
    return time;
}

void KZSearchItemInfo::setModificationTime(const timespec& time)
{
    const qint64 seconds = qint64(time.tv_sec);
    const bool fits = seconds >= -kSecondsLimit && seconds < kSecondsLimit && time.tv_nsec >= 0
        && time.tv_nsec < 1'000'000'000;
    modificationTime_ = fits ? (quint64(seconds) << kNanosecondBits) | quint64(time.tv_nsec) : 0;
    if (!fits)
        rare().modificationTime = time;
    setFlag(ExactModificationTime, !fits);
}

QString KZSearchItemInfo::extensionOfName(const QString& name)
{
    const qsizetype dot = extensionDot(name);
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString KZSearchItemInfo::nameWithoutExtension(const QString& name)
{
    const qsizetype dot = extensionDot(name);
    return dot < 0 ? name : name.left(dot);
}

QString KZSearchItemInfo::extension() const
{
    return extensionOfName(originalName());
}

QString KZSearchItemInfo::nameWithOption(bool withoutExtension) const
{
    return withoutExtension ? nameWithoutExtension(originalName()) : originalName();
}
