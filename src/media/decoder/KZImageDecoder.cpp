#include "media/decoder/KZImageDecoder.h"

#include <QByteArrayView>
#include <QImage>

#include <limits>

namespace kzmedia {

bool decodeImageRGBA(const char* data, std::size_t size, quint32* width, quint32* height, ImageRowFn row,
                     void* context)
{
    if (!data || size == 0 || size > std::size_t(std::numeric_limits<qsizetype>::max()))
        return false;
    QImage image = QImage::fromData(QByteArrayView(data, qsizetype(size)));
    if (image.isNull())
        return false;
    image = image.convertToFormat(QImage::Format_RGBA8888);
    if (image.isNull())
        return false;
    *width = quint32(image.width());
    *height = quint32(image.height());
    // Row by row: the padding at the end of a scan line is no pixel.
    const std::size_t rowBytes = std::size_t(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y) {
        if (!row(context, image.constScanLine(y), rowBytes))
            return false;
    }
    return true;
}

} // namespace kzmedia
