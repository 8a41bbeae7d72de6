#pragma once

#include "media/KZImageDecoding.h"

namespace kzmedia {

// The decoder built on the image library: any format it reads (through its
// plug-ins too), every picture converted to 8-bit RGBA first, so that the
// same pixels saved as PNG or BMP, or with other metadata, give the same rows.
bool decodeImageRGBA(const char* data, std::size_t size, quint32* width, quint32* height, ImageRowFn row,
                     void* context);

} // namespace kzmedia
