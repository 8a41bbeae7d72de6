// The entry point of the decoder module that the headless search tool loads
// on its first picture.
#include "media/decoder/KZImageDecoder.h"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) bool maravex_decode_image_rgba(
    const char* data, std::size_t size, quint32* width, quint32* height, kzmedia::ImageRowFn row, void* context)
{
    return kzmedia::decodeImageRGBA(data, size, width, height, row, context);
}

// The loader looks the entry point up by name: a mismatch of its type would
// only show at run time.
static_assert(std::is_same_v<decltype(&maravex_decode_image_rgba), kzmedia::ImageDecodeFn>);
