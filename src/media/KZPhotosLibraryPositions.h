#pragma once

#include <QHash>
#include <QString>

#include <filesystem>
#include <string>
#include <unordered_map>

// Album of one image for the result's library-position texts, looked up by
// the image's identifier or by its file; built once per library.
class KZPhotosLibraryPositions {
public:
    // "Photos Library -> Album" for an image in a listed album, the library
    // text alone for any other image.
    QString positionWithImageUUID(const QString& uuid) const;
    QString positionWithImagePath(const std::filesystem::path& imagePath) const;

private:
    friend class KZPhotosSupport;
    QString libraryText_;
    QHash<QString, QString> albumByUUID_;                    // case-folded uuid -> album; first in name order wins
    std::unordered_map<std::string, QString> uuidByPath_;    // absolute path bytes -> image uuid
};
