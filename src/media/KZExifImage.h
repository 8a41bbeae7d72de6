#pragma once

#include "media/KZEXIFStruct.h"

#include <QString>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>

// Reads what the result window shows of a photo from the image file's
// metadata, without decoding the picture: pixel size, orientation, date
// taken, camera and GPS position.
//
// The reader keeps no state and may be called from any thread. A damaged,
// truncated, empty or mis-named file never makes it throw: it gives nothing,
// or the values it could read.
class KZExifImage {
public:
    // Which camera fields make up the camera text.
    enum Options : quint16 { MakeAndModel = 0, ModelOnly = 1, MakeOnly = 2 };

    static KZExifImage& sharedControl();
    // Replaces the shared reader (tests); nullptr makes the next call build
    // a fresh one.
    static void setSharedControl(std::unique_ptr<KZExifImage> instance);

    KZExifImage();
    virtual ~KZExifImage() = default;
    KZExifImage(const KZExifImage&) = delete;
    KZExifImage& operator=(const KZExifImage&) = delete;

    // Nothing when the file is not an image the reader knows or its
    // metadata cannot be read.
    virtual std::optional<KZEXIFStruct> exifInfoWithURL(const std::filesystem::path& url, quint16 options) const;

    // The fraction of a second that sub-second digits express: "5" is 0.5,
    // "050" is 0.050. Anything that does not begin with a digit is 0.
    static double subSecondsFromDigits(const QString& text);

    // Prepares the metadata library once for the whole process: its XML
    // parser is not safe to start from two threads at once, and its own
    // warnings about odd files are not the user's business.
    static void prepareLibrary();
};
