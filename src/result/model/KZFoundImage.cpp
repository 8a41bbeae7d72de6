#include "result/model/KZFoundImage.h"

#include "media/KZEXIFStruct.h"
#include "media/KZExifImage.h"
#include "services/KZDateUtilities.h"
#include "services/KZNumberUtilities.h"

KZFoundItemRef KZFoundImage::itemWithTreeNode(const TreeToCheck& node)
{
    return std::make_shared<KZFoundImage>(node);
}

KZFoundImage::KZFoundImage(const TreeToCheck& node)
    : KZFoundItem(node)
{
}

template <typename T>
T KZFoundImage::readField(T KZFoundImage::*field)
{
    std::lock_guard guard(imageLock_);
    imageExif();
    return this->*field;
}

QString KZFoundImage::readText(QString KZFoundImage::*field)
{
    const QString text = readField(field);
    return text.isNull() ? QLatin1String("") : text;
}

double KZFoundImage::dateTaken()
{
    return readField(&KZFoundImage::dateTaken_);
}

double KZFoundImage::latitude()
{
    return readField(&KZFoundImage::latitude_);
}

double KZFoundImage::longitude()
{
    return readField(&KZFoundImage::longitude_);
}

quint64 KZFoundImage::width()
{
    return readField(&KZFoundImage::width_);
}

quint64 KZFoundImage::height()
{
    return readField(&KZFoundImage::height_);
}

QString KZFoundImage::latitudeRef()
{
    return readText(&KZFoundImage::latitudeRef_);
}

QString KZFoundImage::longitudeRef()
{
    return readText(&KZFoundImage::longitudeRef_);
}

QString KZFoundImage::camera()
{
    return readText(&KZFoundImage::camera_);
}

QString KZFoundImage::formattedDateTaken()
{
    const double taken = dateTaken();
    if (taken == 0)
        return QLatin1String("");
    return KZDateUtilities::sharedControl().stringWithSeconds(taken, KZDateUtilities::Long, true, true);
}

QVariant KZFoundImage::cfDateTaken()
{
    const double taken = dateTaken();
    return taken > 0 ? QVariant(taken) : QVariant();
}

// Degrees and reference come from one read, so a first request never pairs
// the degrees of before the read with the reference of after it.
QString KZFoundImage::formattedLatitude()
{
    std::lock_guard guard(imageLock_);
    const QString reference = latitudeRef();
    return KZNumberUtilities::mpsFromDegrees(latitude_, reference);
}

QString KZFoundImage::formattedLongitude()
{
    std::lock_guard guard(imageLock_);
    const QString reference = longitudeRef();
    return KZNumberUtilities::mpsFromDegrees(longitude_, reference);
}

QString KZFoundImage::formattedImageSize()
{
    std::lock_guard guard(imageLock_);
    imageExif();
    if (width_ == 0 || height_ == 0)
        return QLatin1String("");
    return QStringLiteral("%1 x %2").arg(width_).arg(height_);
}

bool KZFoundImage::modelIsAlreadyTaken() const
{
    std::lock_guard guard(imageLock_);
    return modelIsAlreadyTaken_;
}

void KZFoundImage::imageExif()
{
    std::lock_guard guard(imageLock_);
    if (width_ != 0 || height_ != 0)
        return;
    const std::filesystem::path location = url();
    if (location.empty())
        return;
    if (const auto exif = KZExifImage::sharedControl().exifInfoWithURL(location, KZExifImage::MakeAndModel)) {
        setExifVariables(*exif);
        modelIsAlreadyTaken_ = true;
    }
}

void KZFoundImage::setExifVariables(const KZEXIFStruct& exif)
{
    std::lock_guard guard(imageLock_);
    dateTaken_ = exif.dateTakenSecs();
    if (exif.latitude() > 0 && exif.latitude() != latitude_)
        latitude_ = exif.latitude();
    if (!exif.latitudeRef().isNull())
        latitudeRef_ = exif.latitudeRef();
    if (exif.longitude() > 0 && exif.longitude() != longitude_)
        longitude_ = exif.longitude();
    if (!exif.longitudeRef().isNull())
        longitudeRef_ = exif.longitudeRef();
    width_ = exif.width();
    height_ = exif.height();
    if (!exif.camera().isNull())
        camera_ = exif.camera();
}
