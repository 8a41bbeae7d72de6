#pragma once

#include <QImage>
#include <QSize>

namespace KZPlaceholderImages {

// Images that need no icon theme (the theme look-ups live in the UI
// layer). Sizes are in pixels.
QImage placeholderImageWithSize(QSize size);
QImage ghostIconWithIcon(const QImage& icon, QSize size);

} // namespace KZPlaceholderImages
