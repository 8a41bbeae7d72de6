#include "MediaFileFixtures.h"

#include <QImage>

#include <tpropertymap.h>
#include <wavfile.h>

// The library's 0.27 interface hands its objects out in std::auto_ptr.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <fstream>

namespace fs = std::filesystem;

namespace kztest {

namespace {

const char* const kTestNamespace = "http://example.org/maravex-tests/";

void putLE(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

} // namespace

fs::path writeWav(const fs::path& file, const WavShape& shape)
{
    const std::uint32_t blockAlign = static_cast<std::uint32_t>(shape.channels * shape.bitsPerSample / 8);
    const std::uint32_t byteRate = static_cast<std::uint32_t>(shape.sampleRate) * blockAlign;
    const auto frames = static_cast<std::uint32_t>(shape.seconds * shape.sampleRate);
    const std::uint32_t dataSize = frames * blockAlign;

    std::string bytes = "RIFF";
    putLE(bytes, 36 + dataSize, 4);
    bytes += "WAVEfmt ";
    putLE(bytes, 16, 4);
    putLE(bytes, 1, 2); // PCM
    putLE(bytes, static_cast<std::uint32_t>(shape.channels), 2);
    putLE(bytes, static_cast<std::uint32_t>(shape.sampleRate), 4);
    putLE(bytes, byteRate, 4);
    putLE(bytes, blockAlign, 2);
    putLE(bytes, static_cast<std::uint32_t>(shape.bitsPerSample), 2);
    bytes += "data";
    putLE(bytes, dataSize, 4);
    // Silence: 8-bit samples are unsigned around 128, wider ones signed.
    bytes.append(dataSize, shape.bitsPerSample == 8 ? '\x80' : '\0');

    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    return file;
}

bool tagWav(const fs::path& file, const SongTags& tags)
{
    TagLib::RIFF::WAV::File wav(file.c_str(), false);
    if (!wav.isValid())
        return false;
    TagLib::PropertyMap properties;
    const auto put = [&](const char* key, const QString& value) {
        if (!value.isNull())
            properties.insert(key, TagLib::StringList(TagLib::String(value.toStdString(), TagLib::String::UTF8)));
    };
    put("TITLE", tags.title);
    put("ARTIST", tags.artist);
    put("ALBUM", tags.album);
    put("GENRE", tags.genre);
    put("DATE", tags.date);
    wav.setProperties(properties);
    return wav.save();
}

fs::path writeImage(const fs::path& file, int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(0xff3366aa);
    fs::create_directories(file.parent_path());
    image.save(QString::fromStdString(file.string()), format);
    return file;
}

bool setImageMetadata(const fs::path& file, const MetadataEntries& entries)
{
    try {
        Exiv2::XmpProperties::registerNs(kTestNamespace, "kz");
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.string());
        image->readMetadata();
        for (const auto& [key, value] : entries) {
            if (key.rfind("Xmp.", 0) == 0)
                image->xmpData()[key] = value;
            else
                image->exifData()[key] = value;
        }
        image->writeMetadata();
        // The reader meets the tests' own namespace as a stranger.
        Exiv2::XmpProperties::unregisterNs(kTestNamespace);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace kztest
