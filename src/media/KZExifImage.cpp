#include "media/KZExifImage.h"

#include "platform/FileStat.h"
#include "platform/SharedInstance.h"
#include "services/KZDateUtilities.h"

// The library's 0.27 interface hands its objects out in std::auto_ptr.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>

namespace fs = std::filesystem;

namespace {

platform::SharedInstance<KZExifImage>& sharedInstance()
{
    static platform::SharedInstance<KZExifImage> instance([] { return std::make_unique<KZExifImage>(); });
    return instance;
}

const Exiv2::Exifdatum* findExif(const Exiv2::ExifData& data, const char* key)
{
    const auto found = data.findKey(Exiv2::ExifKey(key));
    return found == data.end() ? nullptr : &*found;
}

// A text value up to its first NUL (cameras pad their strings with them).
QString exifText(const Exiv2::ExifData& data, const char* key)
{
    const Exiv2::Exifdatum* datum = findExif(data, key);
    if (!datum)
        return {};
    std::string text = datum->toString();
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A non-negative whole number; nothing when it is missing or not a number.
std::optional<quint64> exifCount(const Exiv2::ExifData& data, const char* key)
{
    const Exiv2::Exifdatum* datum = findExif(data, key);
    if (!datum || datum->count() < 1)
        return std::nullopt;
    const Exiv2::Rational value = datum->toRational(0);
    if (value.second == 0 || value.first < 0 || value.second < 0)
        return std::nullopt;
    return static_cast<quint64>(value.first / value.second);
}

// Degrees, minutes and seconds as one number of degrees. A part whose
// denominator is 0 makes the whole position missing (0), as a division by
// it would make it infinite.
double exifDegrees(const Exiv2::ExifData& data, const char* key)
{
    const Exiv2::Exifdatum* datum = findExif(data, key);
    if (!datum)
        return 0;
    double degrees = 0;
    double unit = 1;
    const long parts = std::min<long>(datum->count(), 3);
    for (long i = 0; i < parts; ++i, unit *= 60) {
        const Exiv2::Rational part = datum->toRational(i);
        if (part.second == 0)
            return 0;
        degrees += static_cast<double>(part.first) / part.second / unit;
    }
    return std::isfinite(degrees) ? std::fabs(degrees) : 0;
}

QString cameraText(const Exiv2::ExifData& data, quint16 options)
{
    const QString model = options == KZExifImage::MakeOnly ? QString() : exifText(data, "Exif.Image.Model").trimmed();
    const QString make = options == KZExifImage::ModelOnly ? QString() : exifText(data, "Exif.Image.Make").trimmed();
    if (!make.isEmpty() && !model.isEmpty())
        return make + u", " + model;
    if (!model.isEmpty())
        return model;
    if (!make.isEmpty())
        return make;
    return {};
}

double dateTaken(const Exiv2::ExifData& data)
{
    QString text = exifText(data, "Exif.Photo.DateTimeOriginal");
    if (text.isEmpty())
        return 0;
    // The date's colons become slashes; the time's stay.
    for (qsizetype i = 0; i < std::min<qsizetype>(10, text.size()); ++i) {
        if (text.at(i) == u':')
            text[i] = u'/';
    }
    const QDateTime date = KZDateUtilities::dateWithString(text);
    if (!date.isValid())
        return 0;
    return KZDateUtilities::timeIntervalSinceReferenceDate(date)
        + KZExifImage::subSecondsFromDigits(exifText(data, "Exif.Photo.SubSecTimeOriginal"));
}

void readInto(KZEXIFStruct& exif, const Exiv2::Image& image, quint16 options)
{
    const Exiv2::ExifData& data = image.exifData();
    quint64 width = static_cast<quint64>(std::max(0, image.pixelWidth()));
    quint64 height = static_cast<quint64>(std::max(0, image.pixelHeight()));
    qint64 orientation = static_cast<qint64>(exifCount(data, "Exif.Image.Orientation").value_or(0));

    exif.setDateTakenSecs(dateTaken(data));
    if (height == 0)
        height = exifCount(data, "Exif.Photo.PixelYDimension").value_or(0);
    if (width == 0)
        width = exifCount(data, "Exif.Photo.PixelXDimension").value_or(0);
    exif.setCamera(cameraText(data, options));

    if (orientation < 1 || orientation > 8)
        orientation = 1;
    // Turned a quarter: the stored rows are the displayed columns.
    if (orientation >= 5 && height < width)
        std::swap(width, height);
    exif.setOrientation(static_cast<qint16>(orientation));
    exif.setWidth(width);
    exif.setHeight(height);

    exif.setLatitude(exifDegrees(data, "Exif.GPSInfo.GPSLatitude"));
    exif.setLongitude(exifDegrees(data, "Exif.GPSInfo.GPSLongitude"));
    if (const QString ref = exifText(data, "Exif.GPSInfo.GPSLatitudeRef").trimmed(); !ref.isEmpty())
        exif.setLatitudeRef(ref);
    if (const QString ref = exifText(data, "Exif.GPSInfo.GPSLongitudeRef").trimmed(); !ref.isEmpty())
        exif.setLongitudeRef(ref);
}

} // namespace

KZExifImage& KZExifImage::sharedControl()
{
    return sharedInstance().get();
}

void KZExifImage::setSharedControl(std::unique_ptr<KZExifImage> instance)
{
    sharedInstance().replace(std::move(instance));
}

KZExifImage::KZExifImage()
{
    prepareLibrary();
}

void KZExifImage::prepareLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        // A packet may name namespaces the parser does not know yet; their
        // registration is shared by every thread and goes through this lock.
        static std::mutex registration;
        Exiv2::XmpParser::initialize(
            [](void* data, bool lock) {
                auto* mutex = static_cast<std::mutex*>(data);
                lock ? mutex->lock() : mutex->unlock();
            },
            &registration);
    });
}

std::optional<KZEXIFStruct> KZExifImage::exifInfoWithURL(const fs::path& url, quint16 options) const
{
    prepareLibrary();
    // Only a regular file: the library would wait forever on a pipe.
    const auto st = platform::statPath(url, true);
    if (!st || !st->isRegular())
        return std::nullopt;
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(url.string());
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        KZEXIFStruct exif;
        readInto(exif, *image, options);
        return exif;
    } catch (...) {
        // Unknown formats, damaged or truncated files: the library throws.
        return std::nullopt;
    }
}

double KZExifImage::subSecondsFromDigits(const QString& text)
{
    const QString trimmed = text.trimmed();
    double fraction = 0;
    double scale = 0.1;
    // Nine digits reach nanoseconds; further ones change nothing a display shows.
    for (qsizetype i = 0; i < std::min<qsizetype>(trimmed.size(), 9); ++i, scale /= 10) {
        const QChar digit = trimmed.at(i);
        if (digit < u'0' || digit > u'9')
            break;
        fraction += (digit.unicode() - u'0') * scale;
    }
    return fraction;
}
