#include "removal/KZRestoreList.h"

#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "platform/Trash.h"
#include "removal/KZRemovalJournal.h"
#include "removal/KZRestoreRemovedFiles.h"
#include "removal/KZUndoFile.h"
#include "services/KZDateUtilities.h"
#include "services/KZErrorDelegate.h"
#include "services/KZNumberUtilities.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

KZRestoreList::KZRestoreList(fs::path trashDir)
    : trashDir_(std::move(trashDir))
{
}

namespace {

QString whenText(double seconds)
{
    auto& dates = KZDateUtilities::sharedControl();
    const QString time = dates.stringWithSeconds(seconds, 2, false, true);
    const QString date = dates.stringWithSeconds(seconds, 4, true, false);
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(QStringLiteral("_of_")), {time, date});
}

} // namespace

QString KZRestoreList::unreadRowText(double seconds)
{
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(QStringLiteral("removal_unreadable_at")),
                                                   {whenText(seconds)});
}

QString KZRestoreList::rowText(qsizetype count, double seconds)
{
    const QString when = whenText(seconds);
    const QString key = count < 2 ? QStringLiteral("item_trashed_at") : QStringLiteral("items_trashed_at");
    return KZErrorDelegate::replaceContentOfString(platform::localizedString(key),
                                       {KZNumberUtilities::sharedControl().numberToFormatString(double(count)), when});
}

void KZRestoreList::permanentItems()
{
    std::error_code ec;
    if (!fs::is_directory(platform::trashFilesFolder(trashDir_), ec))
        return;
    // A removal that never ended left only its journal: its items are in
    // the Trash all the same, and are listed like any other removal.
    KZRemovalJournal::recoverInterrupted(trashDir_);
    rows_.clear();
    selectedCount_ = 0;
    // The Trash lists its files in no set order; the latest removal, the one
    // a user most often wants back, comes first.
    std::vector<std::pair<double, fs::path>> files;
    for (const fs::path& file : KZUndoFile::list(trashDir_))
        files.emplace_back(KZUndoFile::secondsOfFileName(platform::pathText(file.filename())), file);
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    // A removal whose items all went back from a disk that may have been a
    // copy is kept for the disk itself, and listed once a Trash holds one
    // of them again.
    // Once the disk itself is proved to hold none of them in its Trash,
    // such a file has done its work, and goes.
    // Records whose item a killed Restore already put back go first: they
    // are neither listed nor counted again.
    for (const auto& [seconds, file] : files)
        KZRestoreRemovedFiles::dropPutBack(file);
    for (const auto& [seconds, file] : files) {
        if (!platform::statPath(file, false))
            continue;
        if (Row row = rowOf(file); !row.hidden)
            rows_.push_back(std::move(row));
        else
            KZRestoreRemovedFiles::removeIfAllDone(file);
    }
}

KZRestoreList::Row KZRestoreList::rowOf(const fs::path& file)
{
    QString problem;
    const auto contents = KZUndoFile::read(file, &problem);
    const double seconds = KZUndoFile::secondsOfFileName(platform::pathText(file.filename()));
    if (contents) {
        const auto listed
            = std::count_if(contents->entries.begin(), contents->entries.end(),
                            [&file](const KZUndoFile::Entry& entry) { return KZRestoreRemovedFiles::isListed(entry, file); });
        return {rowText(qsizetype(listed), seconds), false, file, {}, listed == 0};
    }
    // Its items stay in the Trash, untouched, until it can be read. How many
    // it trashed is not known: the row says when, and that the record could
    // not be read; the reader's own words are kept for the details.
    if (problem.isEmpty())
        problem = QStringLiteral("“%1” could not be read").arg(platform::pathText(file));
    platform::logLine(QStringLiteral("Undo file not read: ") + problem);
    return {unreadRowText(seconds), false, file, problem};
}

void KZRestoreList::recount()
{
    for (Row& row : rows_) {
        const Row now = rowOf(row.path);
        row.name = now.name;
        row.hidden = now.hidden;
    }
    std::erase_if(rows_, [this](const Row& row) {
        if (row.hidden && row.isChecked)
            --selectedCount_;
        return row.hidden;
    });
}

namespace {

// Of an undo file as it was read: whether every entry was put back from a
// disk that may have been a copy (kept, for the disk itself), and then
// those entries. Asked each time a menu is shown: the file is read again
// only once it has changed.
struct HiddenUndoFile {
    platform::FileStat stat;
    bool allPutBack = false;
    std::vector<KZUndoFile::Entry> entries;
};

constexpr quint64 kMaxHiddenUndoFileSize = quint64(4) << 20;

bool listsAnything(const fs::path& file)
{
    static std::mutex mutex;
    static std::map<fs::path, HiddenUndoFile> known;
    const auto st = platform::statPath(file, false);
    if (!st)
        return false;
    // A menu is never held up reading a large removal's record: such a
    // file is listed, as its row tells once the window reads it.
    if (st->size > kMaxHiddenUndoFileSize)
        return true;
    std::lock_guard guard(mutex);
    auto found = known.find(file);
    const bool same = found != known.end() && found->second.stat.device == st->device
                      && found->second.stat.inode == st->inode && found->second.stat.size == st->size
                      && found->second.stat.modified.tv_sec == st->modified.tv_sec
                      && found->second.stat.modified.tv_nsec == st->modified.tv_nsec;
    if (!same) {
        HiddenUndoFile read{*st, false, {}};
        // One that cannot be read is listed, as a row that says so.
        if (const auto contents = KZUndoFile::read(file)) {
            read.allPutBack = !contents->entries.empty()
                              && std::none_of(contents->entries.begin(), contents->entries.end(),
                                              [](const KZUndoFile::Entry& entry) {
                                                  return !KZRestoreRemovedFiles::wasPutBackFromPossibleCopy(entry);
                                              });
            if (read.allPutBack)
                read.entries = contents->entries;
        }
        found = known.insert_or_assign(file, std::move(read)).first;
    }
    if (!found->second.allPutBack)
        return true;
    return std::any_of(found->second.entries.begin(), found->second.entries.end(),
                       [&file](const KZUndoFile::Entry& entry) { return KZRestoreRemovedFiles::isListed(entry, file); });
}

} // namespace

bool KZRestoreList::areTherePermanentFiles(const fs::path& trashDir)
{
    const auto files = KZUndoFile::list(trashDir);
    if (std::any_of(files.begin(), files.end(), [](const fs::path& file) { return listsAnything(file); }))
        return true;
    const auto journals = KZRemovalJournal::list(trashDir);
    return std::any_of(journals.begin(), journals.end(),
                       [](const fs::path& journal) { return !KZRemovalJournal::isWaiting(journal); });
}

bool KZRestoreList::toggle(std::size_t row)
{
    if (row < rows_.size()) {
        rows_[row].isChecked = !rows_[row].isChecked;
        selectedCount_ += rows_[row].isChecked ? 1 : -1;
    }
    return selectedCount_ > 0;
}

std::vector<fs::path> KZRestoreList::checkedPathsBottomUp() const
{
    std::vector<fs::path> paths;
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it)
        if (it->isChecked)
            paths.push_back(it->path);
    return paths;
}

void KZRestoreList::removeRows(const std::vector<fs::path>& paths)
{
    std::erase_if(rows_, [&](const Row& row) {
        const bool gone = std::find(paths.begin(), paths.end(), row.path) != paths.end();
        if (gone && row.isChecked)
            --selectedCount_;
        return gone;
    });
}
