#pragma once

#include <QImage>

// The two pictures of the second welcome page, drawn here: the search window
// holding a few folders, then the progress ring finding their duplicates.
namespace KZWelcomePictures {
QImage searchWindowPicture(int side);
QImage progressPicture(int side);
}
