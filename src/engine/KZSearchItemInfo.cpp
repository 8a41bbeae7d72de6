#include "engine/KZSearchItemInfo.h"

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

void KZSearchItemInfo::initializeVariables()
{
    url_.clear();
    originalName_ = QString();
    appSuppInfo_.reset();
    imageRecord_.reset();
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
    return extensionOfName(originalName_);
}

QString KZSearchItemInfo::nameWithOption(bool withoutExtension) const
{
    return withoutExtension ? nameWithoutExtension(originalName_) : originalName_;
}
