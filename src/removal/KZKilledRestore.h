#pragma once

#include "removal/KZRemovalJournal.h"

#include <filesystem>
#include <functional>

#include <time.h>

// What a Restore killed part-way left, found by the journal it kept: a
// Restore removes the .trashinfo of an item it put back only once the undo
// file no longer lists the item, so a kill between the two leaves a
// .trashinfo that nothing names any more, and a kill in a rewrite leaves
// its temporary file.
namespace KZKilledRestore {

// Takes away, in `trashDir` (the Trash the journal lies in), the temporary
// files the journal's rewrites announced, and the .trashinfo of each item
// the Restore announced that its undo file no longer lists and that is
// back at its place (as KZItemWhereabouts::whereIs answers it). An item
// the file still lists keeps its .trashinfo: it is what tells the next
// Restore that the item left the Trash. An item moved back on a disk that
// dates a moved file by the clock, killed before it had its own dates back,
// gets them first. `journalDevice` is the device of the file system the
// journal (and the undo files beside it) lie on, `lastWritten` the
// journal's last change; `step` is heard after each removal. Answers how
// many went.
int finish(const std::filesystem::path& trashDir, const KZRemovalJournal::Contents& contents, quint64 journalDevice,
           const timespec& lastWritten, const std::function<void()>& step);

} // namespace KZKilledRestore
