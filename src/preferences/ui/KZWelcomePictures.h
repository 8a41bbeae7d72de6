#pragma once

#include <QImage>

// The pictures of the welcome pages, drawn here: the search window holding a
// few folders and the progress ring finding their duplicates (page 2), the
// result's groups (page 3), a removal that can be undone (page 4) and a
// letter (page 5).
namespace KZWelcomePictures {
QImage searchWindowPicture(int side);
QImage progressPicture(int side);
QImage resultPicture(int side);
QImage removalPicture(int side);
QImage newsletterPicture(int side);
}
