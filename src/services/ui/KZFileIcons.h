#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

#include <filesystem>

// The icon look-ups of the file utilities that need the icon theme, and so a
// GUI application: call them on the GUI thread only.
class KZFileIcons {
public:
    // The theme's icon for the item's kind (from its MIME type); a null icon
    // when the theme has none.
    static QIcon iconForItemPath(const std::filesystem::path& path);
    // The item's icon drawn at `size` (pixels); the file utilities'
    // placeholder when there is no item or no icon for it. Never null for a
    // non-empty size.
    static QImage iconOfItemWithURL(const std::filesystem::path& path, QSize size);
    // The theme's icon for an item of this name, by the MIME type its name
    // suggests (the file is not read, so rows of a long list can ask as they
    // are painted), drawn at `size`; the theme's generic file or folder icon
    // when the type has none, the style's own as the last resort. Cached per
    // type. Never null for a non-empty size.
    static QImage kindIconForName(const QString& name, bool isDirectory, QSize size);
    // No application registry exists here: always a null icon.
    static QIcon appIconWithIdentifier(const QString& bundleIdentifier);
};
