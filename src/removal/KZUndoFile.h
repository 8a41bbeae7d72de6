#pragma once

#include "removal/KZUndoRecords.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The file a Trash removal leaves in the home trash so that its items can be
// put back after the program has quit: an XML property list
// {"rootData": [bookmark data], "undoItems": [{"currPosition": bookmark data,
// "oldPosition": path, "aliasWasCreated": bool, "isiTunesItem": true,
// "oldFolder": {"owner", "group", "mode", "accessACL", "defaultACL"}}]},
// named after the moment it was written. A path is bytes: "oldPosition" is
// text when its bytes are UTF-8, else data holding the bytes themselves.
// "oldFolder" (the folder the item left, as it was then) is missing from
// files of earlier versions.
//
// The trash is a folder any program of the user may write to, so nothing
// read back is trusted: every entry is checked before it may move a file,
// and an entry that fails the check is kept in the file rather than dropped.
namespace KZUndoFile {

inline const QString namePrefix = QStringLiteral(".Maravex4_");

// Seconds since 2001-01-01 00:00:00 GMT.
double nowSinceReferenceDate();
QString fileNameFor(double secondsSinceReferenceDate);
// The leading number after the prefix; 0 when there is none.
double secondsOfFileName(const QString& name);

// Writes the file into trashDir/files/ with its .trashinfo. Both are created
// exclusively: an earlier undo file is never replaced, a taken name is
// bumped to the next free moment. Nothing is written for no records, nor a
// file larger than read() takes (it could never be restored from).
// `beforeCreate`, when given, hears each name once its .trashinfo is
// reserved and before the file is created under it; `beforeInfo` hears it
// before its .trashinfo is made (which may find the name taken).
std::optional<std::filesystem::path> write(const std::filesystem::path& trashDir, const QVariantList& rootData,
                                           const std::vector<KZPersistentUndoRecord>& records,
                                           double secondsSinceReferenceDate, QString* error = nullptr,
                                           const std::function<void(const std::string& name)>& beforeCreate = {},
                                           const std::function<void(const std::string& name)>& beforeInfo = {});

struct Entry {
    QVariantMap raw;                    // as read, written back when the entry stays
    bool valid = false;                 // every field had the right type and form
    QByteArray currPosition;            // bookmark of the item in the trash
    std::filesystem::path oldPosition;  // absolute, without "." or ".." steps
    bool aliasWasCreated = false;
    bool isiTunesItem = false;
    // None where the file kept none, or kept it in a form not ours: the
    // item still goes back, into a folder made private.
    std::optional<platform::FolderAttributes> oldFolder;
};

struct Contents {
    QVariantList rootData;
    std::vector<Entry> entries;
};

// nullopt for a file that cannot be read or is not such a dictionary.
// A file in the form the program writes is read as it streams by, up to
// kMaxUndoFileSize; any other form of property list (binary, or XML with a
// DOCTYPE of its own, comments, CDATA and the like) is read whole by the
// property-list reader, which costs several times more and so takes files
// only up to kMaxOtherUndoFileSize.
std::optional<Contents> read(const std::filesystem::path& file, QString* error = nullptr);

// The undo file of a removal of a million items fits with room to spare.
inline constexpr quint64 kMaxUndoFileSize = quint64(1) << 30;
inline constexpr quint64 kMaxOtherUndoFileSize = quint64(128) << 20;

// The two ways read() takes, apart, so that they can be held to the same
// answer. readStreamed sets *otherForm, and answers nullopt, for a file it
// leaves to the other way, with *error saying where the file leaves the
// program's form ("line 12: a comment"); readWhole reads any form up to
// kMaxOtherUndoFileSize.
std::optional<Contents> readStreamed(const std::filesystem::path& file, QString* error, bool* otherForm);
std::optional<Contents> readWhole(const std::filesystem::path& file, QString* error = nullptr);

// Replaces the file with the given entries; with none left the file and its
// .trashinfo are deleted. The new content is written to a temporary file in
// the trash folder itself, outside files/, so that a rewrite killed half way
// never leaves anything that lists as an undo file. `beforeReplace`, when
// given, hears that temporary file once it is whole and before it replaces
// the file; `beforeTemporary` hears its place before it is made.
bool rewrite(const std::filesystem::path& file, const QVariantList& rootData, const std::vector<Entry>& keep,
             QString* error = nullptr,
             const std::function<void(const std::filesystem::path& temporary)>& beforeReplace = {},
             const std::function<void(const std::filesystem::path& temporary)>& beforeTemporary = {});
// A name a rewrite gives its temporary file.
bool isTemporaryName(const std::string& name);

// The entry of an item in the Trash at `currPosition` (its bookmark) that
// left `oldPosition`, as read() would give it from a file that lists it.
Entry entryFor(const QByteArray& currPosition, const std::filesystem::path& oldPosition);

// The name is the prefix followed by nothing but the number of a moment.
bool isUndoFileName(const std::string& name);

// The undo files of trashDir/files/, in the folder's order; only regular
// files (never a link or a pipe named like one) with an undo file's name.
std::vector<std::filesystem::path> list(const std::filesystem::path& trashDir);

// Deletes what rewrites killed half way left in trashDir, once it is older
// than a rewrite takes (another one may be under way right now); answers
// how many went.
int removeStaleTemporaries(const std::filesystem::path& trashDir);

// Deletes the .trashinfo of an item lying in some trash's files/ folder.
bool removeTrashInfoOf(const std::filesystem::path& trashedItem);

// The path is absolute and has no "." or ".." steps, no empty name and no NUL.
bool isCleanAbsolutePath(const std::string& path);

} // namespace KZUndoFile
