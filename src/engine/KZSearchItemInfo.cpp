#include "engine/KZSearchItemInfo.h"

#include <QByteArray>
#include <QFile>

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

std::string KZSearchItemInfo::urlBytes() const
{
    if (!folder_ || folder_->empty())
        return leaf_;
    std::string url;
    url.reserve(folder_->size() + 1 + leaf_.size());
    url = *folder_;
    if (url.back() != '/')
        url += '/';
    url += leaf_;
    return url;
}

const std::shared_ptr<KZAppSuppInfo>& KZSearchItemInfo::appSuppInfo() const
{
    static const std::shared_ptr<KZAppSuppInfo> none;
    return rare_ ? rare_->appSuppInfo : none;
}

QString KZSearchItemInfo::originalName() const
{
    if (!nameFromLocation_)
        return rare_ ? rare_->name : QString();
    if (folder_)
        return QFile::decodeName(QByteArray(leaf_.data(), qsizetype(leaf_.size())));
    // The whole location is in leaf_: its last part, a trailing slash
    // tolerated ("/a/b/" is b).
    std::string_view location(leaf_);
    while (location.size() > 1 && location.back() == '/')
        location.remove_suffix(1);
    const auto slash = location.rfind('/');
    if (slash != std::string_view::npos && location.size() > 1)
        location.remove_prefix(slash + 1);
    return QFile::decodeName(QByteArray(location.data(), qsizetype(location.size())));
}

void KZSearchItemInfo::initializeVariables()
{
    folder_.reset();
    leaf_.clear();
    nameFromLocation_ = false;
    rare_.reset();
    scanRecord_.reset();
    totSize_ = 0;
    multiPurposeInfo_ = 0;
    setFileTypeLabel(0);
    device_ = 0;
    inode_ = 0;
    linkCount_ = 0;
    modificationTime_ = {};
    type_ = 0;
    label_ = -1;
    isLocked_ = false;
    isDirectory_ = false;
    isPackage_ = false;
    setIsImageContent(false);
    isAlias_ = false;
    isApplication_ = false;
    isRegularFile_ = false;
    finderFlags_ = 0;
    hasFinderFlags_ = false;
    contentUnreadable_ = false;
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
