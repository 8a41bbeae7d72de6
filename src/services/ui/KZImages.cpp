#include "services/ui/KZImages.h"

#include "platform/Paths.h"
#include "platform/Resources.h"

#include <QApplication>
#include <QConicalGradient>
#include <QHash>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

QHash<QString, std::function<QImage()>>& registry()
{
    static QHash<QString, std::function<QImage()>> images;
    return images;
}

QHash<QString, QImage>& resourceCache()
{
    static QHash<QString, QImage> cache;
    return cache;
}

// The accent of every progress display, and the dark teal it sits on.
const QColor kAccent = QColor::fromRgbF(0.552f, 0.835f, 0.882f);
const QColor kDeepTeal = QColor::fromRgbF(0.052f, 0.335f, 0.382f);

void drawSheet(QPainter& p, const QRectF& r, qreal fold, const QColor& paper, const QColor& edge)
{
    QPainterPath sheet;
    sheet.moveTo(r.topLeft());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.bottomRight());
    sheet.lineTo(r.bottomLeft());
    sheet.closeSubpath();
    p.setPen(QPen(edge, r.width() * 0.025));
    p.setBrush(paper);
    p.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    corner.closeSubpath();
    p.setBrush(paper.darker(115));
    p.drawPath(corner);
}

QImage drawApplicationIcon(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / 256.0, pixels / 256.0);

    // A round-cornered tile in the program's teal, lit from the top.
    const QRectF tile(12, 12, 232, 232);
    QLinearGradient body(tile.topLeft(), tile.bottomLeft());
    body.setColorAt(0.0, QColor::fromRgbF(0.402f, 0.685f, 0.732f));
    body.setColorAt(1.0, kDeepTeal);
    p.setPen(QPen(QColor::fromRgbF(0.03f, 0.22f, 0.26f), 3));
    p.setBrush(body);
    p.drawRoundedRect(tile, 52, 52);

    // Two equal sheets, one behind the other: the copies the program finds.
    p.save();
    p.translate(104, 120);
    p.rotate(-9);
    drawSheet(p, QRectF(-52, -68, 104, 136), 28, QColor::fromRgbF(0.86f, 0.94f, 0.96f),
              QColor::fromRgbF(0.2f, 0.42f, 0.47f));
    p.restore();
    p.save();
    p.translate(150, 136);
    p.rotate(7);
    drawSheet(p, QRectF(-52, -68, 104, 136), 28, Qt::white, QColor::fromRgbF(0.2f, 0.42f, 0.47f));
    // The equals sign on the front sheet.
    p.setPen(Qt::NoPen);
    p.setBrush(kDeepTeal);
    p.drawRoundedRect(QRectF(-30, -14, 60, 12), 6, 6);
    p.drawRoundedRect(QRectF(-30, 10, 60, 12), 6, 6);
    p.restore();

    // A soft highlight over the upper half of the tile.
    QLinearGradient gloss(0, 12, 0, 128);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 70));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(14, 14, 228, 114), 50, 50);
    return image;
}

} // namespace

QImage KZImages::imageNamed(const QString& name)
{
    if (name.isEmpty())
        return {};
    auto& images = registry();
    if (auto it = images.constFind(name); it != images.constEnd())
        return (*it)();

    auto& cache = resourceCache();
    if (auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    // Names come from code, but a name with a separator must still never
    // reach outside the images folder.
    if (!name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.'))) {
        const auto path = platform::resourcePath(std::filesystem::path("images")
                                                 / platform::pathFromText(name + QLatin1String(".png")));
        if (!path.empty()) {
            QImage image(platform::pathText(path));
            if (!image.isNull()) {
                cache.insert(name, image);
                return image;
            }
        }
    }

    if (name == QLatin1String("spinner"))
        return spinnerImage(qApp ? qApp->devicePixelRatio() : 1.0);
    if (name == QLatin1String("AppIcon") || name == QLatin1String("NSApplicationIcon"))
        return applicationIcon();
    return {};
}

void KZImages::registerImage(const QString& name, const QImage& image)
{
    if (image.isNull()) {
        registry().remove(name);
        return;
    }
    registry().insert(name, [image] { return image; });
}

void KZImages::registerImage(const QString& name, std::function<QImage()> painter)
{
    if (!painter) {
        registry().remove(name);
        return;
    }
    registry().insert(name, std::move(painter));
}

void KZImages::unregisterAll()
{
    registry().clear();
    resourceCache().clear();
}

QImage KZImages::applicationIcon(int pixels)
{
    if (pixels <= 0)
        return {};
    if (qApp) {
        const QIcon icon = QApplication::windowIcon();
        if (!icon.isNull() && !icon.availableSizes().isEmpty())
            return icon.pixmap(QSize(pixels, pixels)).toImage();
    }
    static QHash<int, QImage> drawn;
    auto it = drawn.find(pixels);
    if (it == drawn.end())
        it = drawn.insert(pixels, drawApplicationIcon(pixels));
    return *it;
}

QImage KZImages::spinnerImage(qreal devicePixelRatio)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int side = int(std::ceil(316 * ratio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A comet on the disc's ring: a bright head with a tail that fades over
    // three quarters of a turn. The head leads when the image turns
    // clockwise, which is how the disc spins.
    const QPointF centre(158, 158);
    const qreal radius = 153;
    QConicalGradient tail(centre, 90);
    QColor head = kAccent;
    QColor clear = kAccent;
    clear.setAlphaF(0);
    tail.setColorAt(0.0, head);
    tail.setColorAt(0.75, clear);
    tail.setColorAt(1.0, clear);
    p.setPen(QPen(QBrush(tail), 7, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius, radius);
    p.setPen(Qt::NoPen);
    p.setBrush(head.lighter(115));
    p.drawEllipse(QPointF(centre.x(), centre.y() - radius), 5.5, 5.5);
    return image;
}
