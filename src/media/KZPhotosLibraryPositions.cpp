#include "media/KZPhotosLibraryPositions.h"

namespace fs = std::filesystem;

QString KZPhotosLibraryPositions::positionWithImageUUID(const QString& uuid) const
{
    const auto album = albumByUUID_.constFind(uuid.toCaseFolded());
    if (album == albumByUUID_.constEnd())
        return libraryText_;
    return libraryText_ + QStringLiteral(" -> ") + *album;
}

QString KZPhotosLibraryPositions::positionWithImagePath(const fs::path& imagePath) const
{
    const auto found = uuidByPath_.find(imagePath.lexically_normal().native());
    if (found == uuidByPath_.end())
        return libraryText_;
    return positionWithImageUUID(found->second);
}
