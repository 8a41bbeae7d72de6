#pragma once

// Audio and image files made by the tests themselves: WAV files written
// byte by byte and tagged through TagLib, JPEG and PNG files written with
// QImage and given EXIF and XMP entries through Exiv2.

#include <QString>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kztest {

struct WavShape {
    int sampleRate = 8000;
    int channels = 1;
    int bitsPerSample = 8;
    // Length of the sound; the data holds this many frames' worth, rounded down.
    double seconds = 1.0;
};

// A PCM WAV file of silence; answers `file`.
std::filesystem::path writeWav(const std::filesystem::path& file, const WavShape& shape = {});

// Tags to write into an audio file; a null text writes nothing.
struct SongTags {
    QString title{};
    QString artist{};
    QString album{};
    QString genre{};
    QString date{};
};

// Writes the tags into a WAV file (its ID3 and INFO chunks); false when
// TagLib could not save them.
bool tagWav(const std::filesystem::path& file, const SongTags& tags);

// A plain-coloured picture of that size; `format` is "JPG" or "PNG".
std::filesystem::path writeImage(const std::filesystem::path& file, int width, int height, const char* format = "JPG");

// Sets metadata entries through Exiv2 by key ("Exif.Image.Orientation",
// "Exif.GPSInfo.GPSLatitude", "Xmp.dc.title", ...), each value as text in
// the library's own reading form ("6", "52/1 30/1 0/1"); false on failure.
// Keys "Xmp.kz.<name>" use a namespace of the tests' own, which the reader
// has never heard of.
using MetadataEntries = std::vector<std::pair<std::string, std::string>>;
bool setImageMetadata(const std::filesystem::path& file, const MetadataEntries& entries);

} // namespace kztest
