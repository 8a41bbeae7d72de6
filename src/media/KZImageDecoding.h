#pragma once

#include <QtGlobal>

#include <cstddef>
#include <filesystem>
#include <string>

// Turning an encoded picture into pixels needs the image library, and with
// it the windowing and font libraries: several MiB resident from start,
// which a search that never compares pictures by their pixels should not
// pay. Programs with windows link the decoder and install it at start; the
// headless search tool leaves it out, and the first picture it decodes
// loads the decoder module that lies beside the executable.
namespace kzmedia {

// Receives one scan line of the picture, top to bottom: 4 bytes (RGBA) per
// pixel, no padding. Returning false stops the decoding.
using ImageRowFn = bool (*)(void* context, const unsigned char* row, std::size_t bytes);

// Decodes `size` bytes of an encoded picture, setting its width and height
// before the first row. False when the bytes are no picture the decoder
// reads, or when `row` stopped it.
using ImageDecodeFn = bool (*)(const char* data, std::size_t size, quint32* width, quint32* height,
                               ImageRowFn row, void* context);

// The decoder module's file name and its one entry point (an ImageDecodeFn).
inline constexpr const char* kImageDecoderModuleName = "maravex-image-decoder.so";
inline constexpr const char* kImageDecoderEntryPoint = "maravex_decode_image_rgba";

// Makes `decode` the decoder of the process (nullptr: back to the module).
void installImageDecoder(ImageDecodeFn decode);

// The installed decoder; without one, the module beside the executable,
// loaded on the first call. Nullptr when neither is there (reported once
// on standard error), so that pictures are compared by their bytes.
ImageDecodeFn imageDecoder();

// The decoder of the module in `file`; nullptr and the reason when the
// module cannot be loaded or lacks the entry point.
ImageDecodeFn loadImageDecoder(const std::filesystem::path& file, std::string* error);

} // namespace kzmedia
