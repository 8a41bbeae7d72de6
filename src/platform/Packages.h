#pragma once

#include "platform/Volumes.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <filesystem>
#include <sys/types.h>
#include <vector>

namespace platform {

// Folder documents: folders that the user handles as one item (applications,
// bundles, rich-text and office documents, photo and media libraries). A
// plain data folder such as "x.lproj" is not one of them.
bool isPackageExtension(QStringView extension); // without the dot, any case

// The text after the last dot of the path's file name; empty when there is
// none, when the name starts with its only dot (".profile") or ends with one.
QString nameExtension(const std::filesystem::path& path);

// A real folder (a symbolic link to one does not count) whose extension is in
// the package table.
bool isPackage(const std::filesystem::path& path);

// Where a path stands towards the photo libraries: the items of a library
// belong to its application, so a search may read them and a removal must
// leave them where they are. A library is a real folder with the extension
// "photoslibrary"; the path is judged both as written and with its links
// followed, and the answer that keeps more items in their place counts (the
// later one below).
enum class PhotoLibraryPlace {
    None,    // no library is involved
    Library, // the path is a library package
    Inside,  // the path lies inside a library package
};
PhotoLibraryPlace photoLibraryPlace(const std::filesystem::path& path);
// The path as written lies inside a library: only the folders whose names
// carry the library's extension are looked at, and no link is followed, so
// that every item of a large result may be asked. For paths whose folders
// hold no links (a removal opens them without following any).
// Both answers also judge every mount of the file system that holds the
// path: an entry is inside a library when any mount whose root holds it
// shows it inside one (a bind mount of the masters at a plain path, or a
// library that is the root of its own file system, mounted once at the
// library's place and again at a plain path, both with root "/").
bool isInsidePhotoLibraryAsWritten(const std::filesystem::path& path);
// The place of a folder on which the mount `mountId` (statx's stx_mnt_id)
// stands, by the mounts of its file system alone: for a walk that met a
// mount point and knows its id already. Reads the mount table only when it
// changed.
PhotoLibraryPlace photoLibraryPlaceOfMountRoot(quint64 mountId);
// Pure: the place of the entry at `inFileSystem` (its path from the root of
// the file system on `device`; `isFolder` for the entry itself) by its own
// names and by the path at which each mount in `mounts` of that file system
// whose root holds it shows it.
PhotoLibraryPlace photoLibraryPlaceThroughMounts(const std::vector<MountEntry>& mounts, dev_t device,
                                                const std::filesystem::path& inFileSystem, bool isFolder);

// An ".app" package, or a desktop entry file (".desktop") whose
// [Desktop Entry] group says Type=Application. Plain executables are not
// counted: many data files carry the execute bit on shared volumes.
bool isApplication(const std::filesystem::path& path);

} // namespace platform
