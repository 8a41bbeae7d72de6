#include "engine/KZMDQuery.h"

#include "engine/KZItemAttributes.h"
#include "engine/KZQueryLanguage.h"
#include "platform/DirectoryListing.h"
#include "platform/FileStat.h"
#include "platform/Log.h"
#include "platform/Packages.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/Volumes.h"

#include <QMimeDatabase>

#include <iterator>
#include <set>
#include <utility>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

kzquery::Facts factsOf(const fs::path& path, const std::string& name, const platform::FileStat& st)
{
    kzquery::Facts facts;
    facts.name = platform::pathText(name);
    facts.isDirectory = st.isDir();
    facts.size = st.size;
    facts.physicalSize = st.allocatedSize;
    facts.modified = platform::toDateTime(st.modified);
    facts.accessed = platform::toDateTime(st.accessed);
    facts.changed = platform::toDateTime(st.changed);
    if (st.birth)
        facts.created = platform::toDateTime(*st.birth);
    facts.mimeType = [path] {
        static const QMimeDatabase database;
        return database.mimeTypeForFile(platform::pathText(path)).name();
    };
    return facts;
}

} // namespace

std::optional<std::vector<KZLocationEntry>> KZMDQuery::run(const fs::path& savedSearch, const Options& options,
                                                           QString* error)
{
    auto refuse = [error](const QString& why) -> std::optional<std::vector<KZLocationEntry>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QString why;
    const std::optional<QVariantMap> file = platform::PropertyList::readDictionary(savedSearch, &why);
    if (!file)
        return refuse(QStringLiteral("saved search cannot be read: ") + why);
    const QVariantMap raw = file->value(QStringLiteral("RawQueryDict")).toMap();
    const QVariant text = raw.value(QStringLiteral("RawQuery"));
    if (text.typeId() != QMetaType::QString)
        return refuse(QStringLiteral("saved search holds no query"));
    const std::optional<kzquery::Query> query = kzquery::parse(text.toString(), options.now, &why);
    if (!query)
        return refuse(QStringLiteral("saved search query cannot be parsed: ") + why);
    // An empty list of scopes is the whole computer, so only a list that is
    // really there may mean it: a missing, misspelt or mistyped one is
    // damage, and must not quietly walk everything.
    const QVariant scopeValue = raw.value(QStringLiteral("SearchScopes"));
    QVariantList scopeList;
    if (scopeValue.typeId() == QMetaType::QVariantList)
        scopeList = scopeValue.toList();
    else if (scopeValue.typeId() == QMetaType::QString)
        scopeList = {scopeValue}; // one scope, not a list of its characters
    else if (!scopeValue.isValid())
        return refuse(QStringLiteral("saved search names no search scopes: the file is damaged"));
    else
        return refuse(QStringLiteral("saved search scopes are not a list: the file is damaged"));
    const std::optional<std::vector<kzquery::Scope>> scopes = kzquery::resolveScopes(scopeList, options.home, &why);
    if (!scopes)
        return refuse(why);
    for (const QString& attribute : query->unknownAttributes())
        platform::logLine(QStringLiteral("Saved search: attribute not searchable here, matches nothing: ")
                          + attribute);

    auto stopped = [&options] { return options.wasStopped && options.wasStopped(); };
    std::vector<KZLocationEntry> found;
    // A folder met again (a bind mount, overlapping scopes) is walked once.
    std::set<std::pair<dev_t, quint64>> walked;
    for (const kzquery::Scope& scope : *scopes) {
        // Folders waiting to be walked, opened only when their turn comes,
        // so that a wide tree never holds more than one listing open.
        // A scope given through a link (a home folder elsewhere) is walked
        // where it leads; no link is followed below it.
        std::error_code ec;
        const fs::path canonical = fs::canonical(scope.folder, ec);
        const fs::path start = ec ? scope.folder : canonical;
        // Scopes are walked as the search window's sources are: a folder of
        // a photo library is refused (its masters belong to the library),
        // and a package is one item, asked about itself, never entered.
        if (platform::photoLibraryPlace(start) == platform::PhotoLibraryPlace::Inside)
            return refuse(QStringLiteral("search scope lies inside a photo library, whose pictures belong to the "
                                         "library: ")
                          + platform::pathText(scope.folder));
        if (const KZItemAttributes root = KZItemAttributes::read(start); root.isPackage()) {
            if (root.stat() && query->matches(factsOf(start, start.filename().native(), *root.stat())))
                found.push_back({start, false});
            continue;
        }
        std::vector<fs::path> stack{start};
        while (!stack.empty() && !stopped()) {
            const fs::path dir = std::move(stack.back());
            stack.pop_back();
            int err = 0;
            const platform::DirectoryHandle handle = platform::DirectoryHandle::open(dir, &err);
            struct stat self {};
            if (!handle.isValid() || ::fstat(handle.fd(), &self) != 0) {
                if (dir == start)
                    platform::logLine(QStringLiteral("Saved search: scope cannot be listed: ")
                                      + platform::pathText(dir));
                continue;
            }
            if (!walked.insert({self.st_dev, quint64(self.st_ino)}).second)
                continue;
            if (dir == start && platform::isKernelFileSystem(handle.fd()))
                continue;
            std::vector<fs::path> subfolders;
            handle.list(
                [&](const platform::DirEntry& entry) {
                    if (stopped())
                        return false;
                    if (entry.statFailed || entry.name.empty() || (!options.includeHidden && entry.name.front() == '.'))
                        return true;
                    // Another file system starts here: the kernel's own hold
                    // no user files, in any scope, and nothing on them matches.
                    if (entry.stat.device != self.st_dev
                        && platform::isKernelFileSystemAt(handle.fd(), entry.name.c_str()))
                        return true;
                    const fs::path child = dir / entry.name;
                    // The scan's own rule: a bundle, a document package or
                    // a photo library (by its name, or a mount of one) is
                    // one item, and what it holds is never listed apart.
                    const bool package
                        = entry.stat.isDir() && KZItemAttributes::fromEntry(dir, entry, handle.fd()).isPackage();
                    if (query->matches(factsOf(child, entry.name, entry.stat)))
                        found.push_back({child, entry.stat.isDir() && !package});
                    if (!entry.stat.isDir() || package)
                        return true;
                    subfolders.push_back(child);
                    return true;
                },
                &err);
            // In listing order, each folder's contents before the next folder's.
            stack.insert(stack.end(), std::make_move_iterator(subfolders.rbegin()),
                         std::make_move_iterator(subfolders.rend()));
        }
    }
    return found;
}
