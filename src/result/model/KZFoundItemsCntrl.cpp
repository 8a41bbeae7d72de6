#include "result/model/KZFoundItemsCntrl.h"
#include "engine/KZResultInfoKeys.h"

#include "engine/KZFoundList.h"
#include "engine/KZFoundListParcel.h"
#include "engine/KZSearchItemInfo.h"
#include "platform/FinderInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "result/model/KZFoundImage.h"
#include "result/model/KZFoundSong.h"
#include "result/model/KZLibraryLookups.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QAssociativeIterable>
#include <QSequentialIterable>
#include <QUrl>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

namespace Key {
using KZResultKey::foundItems;
using KZResultKey::searchSources;
using KZResultKey::foundFileTypes;
using KZResultKey::searchedIniTunes;
using KZResultKey::searchedInPhotos;
using KZResultKey::photosLibraryPath;
using KZResultKey::isRestoreOfSaved;
using KZResultKey::isSavedItemsToRestore;
using KZResultKey::currentLocationLabel;
// Entries of a saved item.
const QString isMarked = QStringLiteral("isMarked");
const QString alias = QStringLiteral("alias");
} // namespace Key

// Tags from here up to the marked rows are location rows.
constexpr KZTabTag kFirstAfterSpecialTabs = KZTag::sourceRowBase - 1;

// "KZResultFoundFileTypes" is a dictionary from tag to label; older writers
// may hand an array. Either way its size is the number of types found.
qint16 containerSize(const QVariant& value)
{
    if (!value.isValid())
        return 0;
    if (value.metaType() == QMetaType::fromType<QVariantMap>())
        return static_cast<qint16>(value.toMap().size());
    if (value.metaType() == QMetaType::fromType<QVariantList>())
        return static_cast<qint16>(value.toList().size());
    if (value.canView<QAssociativeIterable>())
        return static_cast<qint16>(value.value<QAssociativeIterable>().size());
    if (value.canView<QSequentialIterable>())
        return static_cast<qint16>(value.value<QSequentialIterable>().size());
    return 0;
}

// Label extensions come as one text joined by "," (the preference) or as
// an array (the user's labels as the defaults registry answers them). An
// empty piece names no extension: a label still being typed must not claim
// every file that has none.
QStringList extensionsOfLabel(const QVariant& value)
{
    QStringList extensions = value.metaType() == QMetaType::fromType<QString>()
        ? value.toString().split(QLatin1Char(','), Qt::SkipEmptyParts)
        : value.toStringList();
    extensions.removeAll(QString());
    return extensions;
}

bool matchesTypeCode(const QStringList& typeStrings, quint32 type)
{
    // A code of 0 stands for "no type": it says nothing about the file.
    if (type == 0)
        return false;
    return std::any_of(typeStrings.begin(), typeStrings.end(),
                       [type](const QString& code) { return platform::osTypeFromString(code) == type; });
}

void addSize(quint64* total, const KZFoundItemRef& item)
{
    if (total)
        *total += item->size();
}

void appendOnce(QList<quint64>& tags, quint64 tag)
{
    if (!tags.contains(tag))
        tags.append(tag);
}

// The items of a removal, already counted out of the views it asks to update.
KZFoundItemArray removedItemsOf(const KZMarkBookkeeping& bookkeeping, const QVariantMap& removal)
{
    const KZFoundItemArray removed = KZFoundItemsOfVariant(removal.value(KZMarkingKey::removedItems));
    if (const auto info = removal.value(KZMarkingKey::infoDict).value<KZViewsToUpdateRef>()) {
        for (const KZFoundItemRef& item : removed)
            bookkeeping.updateInfoDict(*info, item, std::nullopt);
    }
    return removed;
}

} // namespace

platform::OperationQueue& KZFoundItemsOperationQueue()
{
    static platform::OperationQueue queue(QStringLiteral("KZFoundItemsOperationQueue"),
                                          platform::OperationQueue::Unbounded);
    return queue;
}

std::shared_ptr<KZFoundItemsCntrl> KZFoundItemsCntrl::create(KZResultCntrl* controller, const QVariantMap& resultInfo)
{
    auto model = std::make_shared<KZFoundItemsCntrl>(controller, resultInfo);
    QVariantMap info;
    for (const QString& key : {Key::foundItems, Key::searchSources, Key::foundFileTypes, Key::searchedIniTunes,
                               Key::searchedInPhotos, Key::photosLibraryPath, Key::isRestoreOfSaved,
                               Key::isSavedItemsToRestore}) {
        if (resultInfo.contains(key))
            info.insert(key, resultInfo.value(key));
    }
    KZFoundItemsOperationQueue().addOperation([model, info] { model->doCreateList(info); });
    return model;
}

KZFoundItemsCntrl::KZFoundItemsCntrl(KZResultCntrl* controller, const QVariantMap& resultInfo)
    : resultCntrl_(controller)
{
    store_.setFileTypesFoundCount(containerSize(resultInfo.value(Key::foundFileTypes)));
    const QVariant location = resultInfo.value(Key::currentLocationLabel);
    store_.setLastLocationTagUsed(location.isValid() ? static_cast<qint16>(location.toInt()) : qint16(-1));
    isPhotosSearch_ = resultInfo.value(Key::searchedInPhotos).toBool();
    isiTunesSearch_ = resultInfo.value(Key::searchedIniTunes).toBool();
}

// ---- Building --------------------------------------------------------------------------

bool KZFoundItemsCntrl::isImage(const TreeToCheck& node) const
{
    return node.item && KZFilesUtilities::sharedControl().isImage(node.item->type(), node.item->extension());
}

bool KZFoundItemsCntrl::isSong(const TreeToCheck& node) const
{
    return node.item && KZFilesUtilities::sharedControl().isSound(node.item->type(), node.item->extension());
}

KZFoundItemRef KZFoundItemsCntrl::makeItem(const TreeToCheck& node) const
{
    // The song test comes first: a file that is both a sound and an image by
    // its type or extension is a song.
    if (isSong(node))
        return KZFoundSong::itemWithTreeNode(node);
    if (isImage(node))
        return KZFoundImage::itemWithTreeNode(node);
    return KZFoundItem::itemWithTreeNode(node);
}

void KZFoundItemsCntrl::doCreateList(const QVariantMap& info)
{
    // Taking the list out of its parcel makes this model its only owner.
    KZFoundList list = KZFoundListParcel::take(info.value(Key::foundItems));
    const bool restoring = info.value(Key::isRestoreOfSaved).toBool();

    KZFoundItemArray built;
    built.reserve(static_cast<qsizetype>(list.size()));
    while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
        KZFoundItemRef item = makeItem(*node);
        item->setDiskAsScanned(list.diskOf(item->device()));
        // A rebuilt item makes its bookmark when first asked, as a searched
        // one does; an item of a result handed over with its records' table
        // brings the table's.
        if (restoring && !node->item->isFromSavedResult())
            item->setAliasAlreadyCreated(true);
        built.append(std::move(item));
        // The node goes here and releases its record; the group's counter
        // lives on in the items that share it.
    }
    store_.appendToAllItems(built);

    // Library positions only matter to a model that is still in use, so the
    // operation does not keep the model alive.
    if (!weak_from_this().expired()) {
        KZFoundItemsOperationQueue().addOperation([weak = weak_from_this(), info] {
            if (const auto self = weak.lock())
                self->doGetSupportedAppsPath(info);
        });
    } else {
        doGetSupportedAppsPath(info);
    }

    if (restoring)
        finishToSetItems(built, info.value(Key::isSavedItemsToRestore).toMap());
    else
        markItemsByDefaultWithTag(KZTag::allDuplicates, KZTag::allDuplicates, nullptr, built);

    // Every result posts this with the same object; the model tells its own
    // result controller which result is set up.
    QVariantMap userInfo;
    if (const auto self = weak_from_this().lock())
        userInfo.insert(QStringLiteral("foundItemsCntrl"), QVariant::fromValue(self));
    platform::NotificationCenter::defaultCenter().post(KZNotification::resultSetupDidTerminate,
                                                       platform::bundleIdentifier(), userInfo);
}

QString KZFoundItemsCntrl::savedItemKey(const fs::path& location)
{
    // One character per byte: every path has its own key, also one that is
    // not UTF-8, and a reopening makes one for each of its items.
    const std::string& bytes = location.native();
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

void KZFoundItemsCntrl::finishToSetItems(const KZFoundItemArray& items, const QVariantMap& itemsToRestore)
{
    if (itemsToRestore.isEmpty())
        return;
    for (const KZFoundItemRef& item : items) {
        const fs::path location = item->url();
        if (location.empty())
            continue;
        QVariant entry = itemsToRestore.value(savedItemKey(location));
        // Files written with plain paths as keys are read too.
        if (!entry.isValid())
            entry = itemsToRestore.value(platform::pathText(location));
        if (!entry.isValid())
            continue;
        const QVariantMap saved = entry.toMap();
        item->setIsMarked(saved.value(Key::isMarked).toBool());
        const QVariant alias = saved.value(Key::alias);
        if (alias.isValid())
            item->setAliasData(alias.toByteArray());
    }
}

void KZFoundItemsCntrl::doGetSupportedAppsPath(const QVariantMap& info)
{
    // The library readers answer the positions of their own items; a search
    // of neither library has nothing to ask, and a reader that is not
    // installed leaves its items showing their paths.
    const bool music = info.value(Key::searchedIniTunes).toBool();
    const bool photos = info.value(Key::searchedInPhotos).toBool();
    if (!music && !photos)
        return;
    const KZLibraryLookups lookups = KZLibraryLookups::current();
    const KZFoundItemArray items = allItems();
    const auto fill = [&](auto isLibraryItem, const auto& lookup) {
        KZFoundItemArray libraryItems;
        QStringList ids;
        for (const KZFoundItemRef& item : items) {
            if (isLibraryItem(*item)) {
                libraryItems.append(item);
                ids.append(item->trackID());
            }
        }
        if (libraryItems.isEmpty())
            return;
        const QHash<QString, QString> positions = lookup(ids);
        for (const KZFoundItemRef& item : libraryItems)
            item->setSupportedAppLibraryPosition(positions.value(item->trackID()));
    };
    if (music && lookups.songPositions) {
        fill([](KZFoundItem& item) { return item.isiTunesItem() && dynamic_cast<KZFoundSong*>(&item); },
             lookups.songPositions);
    }
    if (photos && lookups.photoPositions) {
        const QString library = info.value(Key::photosLibraryPath).toString();
        fill([](KZFoundItem& item) { return item.isPhotosItem() && dynamic_cast<KZFoundImage*>(&item); },
             [&](const QStringList& ids) { return lookups.photoPositions(ids, library); });
    }
}

// ---- Queries ----------------------------------------------------------------------------

KZFoundItemArray KZFoundItemsCntrl::itemsByTag(quint64 tag, quint64 ownerTag, quint64* foundSize) const
{
    if (foundSize)
        *foundSize = 0;
    const quint64 listTag = std::min(tag, KZTag::markedItemsRowBase);
    const bool wholeResult = listTag == KZTag::allDuplicates
        || (fileTypesFoundCount() == 1 && listTag < kFirstAfterSpecialTabs);
    if (wholeResult && ownerTag != KZTag::emptyFolders)
        return allItems();
    if (listTag == KZTag::missingTracks)
        return {};
    if (listTag == KZTag::markedItemsRowBase)
        return markedItemsWithOwnerTag(ownerTag, foundSize);
    if (listTag > kFirstAfterSpecialTabs && listTag < KZTag::markedItemsRowBase)
        return locationItemsWithLabelTag(static_cast<qint16>(listTag - KZTag::sourceRowBase), ownerTag, foundSize);
    return itemsWithOwnerTag(ownerTag, foundSize);
}

KZFoundItemArray KZFoundItemsCntrl::markedItemsWithOwnerTag(quint64 ownerTag, quint64* foundSize) const
{
    const bool emptyFolders = ownerTag == KZTag::emptyFolders;
    const KZFoundItemArray source = emptyFolders ? allEmptyFolders().value_or(KZFoundItemArray()) : allItems();
    KZFoundItemArray answer;
    for (const KZFoundItemRef& item : source) {
        if (!item->isMarked())
            continue;
        if (ownerTag == KZTag::allDuplicates || emptyFolders || item->fileTypeTag() == ownerTag) {
            answer.append(item);
            addSize(foundSize, item);
        }
    }
    return answer;
}

KZFoundItemArray KZFoundItemsCntrl::itemsWithOwnerTag(quint64 ownerTag, quint64* foundSize) const
{
    const bool emptyFolders = ownerTag == KZTag::emptyFolders;
    const KZFoundItemArray source = emptyFolders ? allEmptyFolders().value_or(KZFoundItemArray()) : allItems();
    const quint64 wanted = emptyFolders ? KZTag::folders : ownerTag;
    KZFoundItemArray answer;
    for (const KZFoundItemRef& item : source) {
        if (item->fileTypeTag() == wanted) {
            answer.append(item);
            addSize(foundSize, item);
        }
    }
    return answer;
}

KZFoundItemArray KZFoundItemsCntrl::locationItemsWithLabelTag(qint16 label, quint64 ownerTag, quint64* foundSize) const
{
    const bool emptyFolders = ownerTag == KZTag::emptyFolders;
    const KZFoundItemArray source = emptyFolders ? allEmptyFolders().value_or(KZFoundItemArray()) : allItems();
    const quint64 wanted = emptyFolders ? KZTag::folders : ownerTag;
    KZFoundItemArray answer;
    for (const KZFoundItemRef& item : source) {
        if (item->locationLabelTag() != label)
            continue;
        if (ownerTag == KZTag::allDuplicates || item->fileTypeTag() == wanted) {
            answer.append(item);
            addSize(foundSize, item);
        }
    }
    return answer;
}

// ---- File-type tags -----------------------------------------------------------------------

quint64 KZFoundItemsCntrl::assignFileTypeTagToItem(const KZFoundItemRef& item, const QVariantList& fileTypes)
{
    quint64 tag = KZTag::unlabeledFiles;
    if (item->isDirectory() && !item->isPackage()) {
        tag = KZTag::folders;
    } else {
        const QString extension = item->extension();
        for (const QVariant& entry : fileTypes) {
            const QVariantMap label = entry.toMap();
            bool matches = false;
            if (!extension.isEmpty()) {
                const QStringList extensions = extensionsOfLabel(label.value(KZLabelKey::labels_extension));
                matches = extensions.contains(extension, Qt::CaseInsensitive);
            }
            if (!matches)
                matches = matchesTypeCode(label.value(KZLabelKey::labels_type_array).toStringList(), item->type());
            if (matches) {
                tag = label.value(KZLabelKey::file_type_tag).toULongLong();
                break;
            }
        }
    }
    item->setFileTypeTag(tag);
    return tag;
}

QList<quint64> KZFoundItemsCntrl::assignTagsToOrphanItems(const std::optional<KZFoundItemArray>& items,
                                                          const std::optional<QSet<quint64>>& excludingTags)
{
    const QVariantList labels = KZDefaultsRegistry::fileTagsExcludingTags(excludingTags);
    const KZFoundItemArray targets = items ? *items : allItems();
    QList<quint64> given;
    for (const KZFoundItemRef& item : targets)
        appendOnce(given, assignFileTypeTagToItem(item, labels));
    return given;
}

QList<quint64> KZFoundItemsCntrl::changeItemTypesTagWithExtensions(const QVariantMap& label, quint64 tag)
{
    const QVariant extensionsValue = label.value(KZLabelKey::labels_extension);
    if (!extensionsValue.isValid() || extensionsValue.isNull())
        return {};
    const QStringList extensions = extensionsOfLabel(extensionsValue);
    const QStringList typeStrings = label.value(KZLabelKey::labels_type_array).toStringList();

    QList<quint64> changed;
    KZFoundItemArray orphans;
    for (const KZFoundItemRef& item : allItems()) {
        const quint64 former = item->fileTypeTag();
        // A plain folder belongs on the folders tab whatever its name says;
        // it is tagged afresh below, which keeps it there.
        const bool plainFolder = item->isDirectory() && !item->isPackage();
        if (former != tag && !plainFolder
            && (extensions.contains(item->extension(), Qt::CaseSensitive) || matchesTypeCode(typeStrings, item->type()))) {
            item->setFileTypeTag(tag);
            appendOnce(changed, former);
            continue;
        }
        // Tagged afresh without passing through the unassigned tag, so that a
        // list thread reading meanwhile never sees an item without a tab.
        orphans.append(item);
    }
    if (!orphans.isEmpty())
        changed.append(assignTagsToOrphanItems(orphans, std::nullopt));
    return changed;
}

// ---- Empty folders -----------------------------------------------------------------------

void KZFoundItemsCntrl::doCreateEmptyFoldersList(const QVariantMap& resultInfo)
{
    KZFoundList list = KZFoundListParcel::take(resultInfo.value(KZResultKey::foundItems));
    const bool restoring = resultInfo.value(KZResultKey::isRestoreOfSaved).toBool();

    KZFoundItemArray built;
    built.reserve(static_cast<qsizetype>(list.size()));
    while (std::unique_ptr<TreeToCheck> node = list.takeFirst()) {
        KZFoundItemRef item = KZFoundItem::itemWithTreeNode(*node);
        item->setDiskAsScanned(list.diskOf(item->device()));
        // A reopened result brings its marks along (a rebuilt folder makes
        // its bookmark when first asked); a new empty folder starts marked,
        // as there is nothing in it to keep.
        if (restoring) {
            if (!node->item->isFromSavedResult())
                item->setAliasAlreadyCreated(true);
        } else {
            item->setIsMarked(true);
        }
        built.append(std::move(item));
    }
    // Items of a later search come after those of the earlier ones; a search
    // that found nothing still makes the list exist.
    appendToEmptyFolders(built);

    if (restoring)
        finishToSetItems(allEmptyFolders().value_or(KZFoundItemArray()),
                         resultInfo.value(KZResultKey::isSavedItemsToRestore).toMap());
}

void KZFoundItemsCntrl::updateAfterRemotion(const QVariantMap& removal)
{
    removeFromAllItems(removedItemsOf(bookkeeping_, removal));
}

void KZFoundItemsCntrl::updateEmptyFoldersAfterRemotion(const QVariantMap& removal)
{
    removeFromEmptyFolders(removedItemsOf(bookkeeping_, removal));
}

KZFoundItemsStore::TakenBack KZFoundItemsCntrl::updateAfterRestore(const KZFoundItemArray& restored,
                                                                    KZViewsToUpdate& info,
                                                                    KZViewsToUpdate& emptyFoldersInfo)
{
    KZFoundItemsStore::TakenBack back = store_.takeBack(restored);
    const auto putBack = [this](const KZFoundItemArray& items, KZViewsToUpdate& views) {
        for (const KZFoundItemRef& item : items) {
            item->setIsRemoved(false);
            item->addUnitItemsInGroup();
            // The exact reverse of what the removal recorded: the figures
            // the item left return with it.
            bookkeeping_.updateInfoDict(views, item, true);
        }
    };
    putBack(back.items, info);
    putBack(back.emptyFolders, emptyFoldersInfo);
    return back;
}

void KZFoundItemsCntrl::cleanEmptyFoldersMemoryAfterTabRemotion()
{
    setAllEmptyFolders(std::nullopt);
}

bool KZFoundItemsCntrl::dropEmptyFoldersRefilledBy(const KZFoundItemArray& restored)
{
    std::vector<std::filesystem::path> places;
    places.reserve(static_cast<size_t>(restored.size()));
    for (const KZFoundItemRef& item : restored)
        if (item)
            places.push_back(item->url().lexically_normal());
    if (places.empty())
        return false;
    // Strictly inside: the folder itself put back is empty as before.
    const auto inside = [](const std::filesystem::path& place, const std::filesystem::path& folder) {
        return platform::isInsideFolder(place, folder) && !platform::isInsideFolder(folder, place);
    };
    const KZFoundItemArray dropped = store_.dropFilledEmptyFolders([&](const KZFoundItemRef& folder) {
        // A folder no longer found on disk has nothing left to remove either.
        const std::filesystem::path path = folder->url().lexically_normal();
        if (path.empty())
            return true;
        return std::any_of(places.begin(), places.end(),
                           [&](const std::filesystem::path& place) { return inside(place, path); });
    });
    return !dropped.isEmpty();
}

bool KZFoundItemsCntrl::emptyFoldersAreSpent() const
{
    const std::optional<KZFoundItemArray> folders = allEmptyFolders();
    return folders && folders->isEmpty() && !store_.hasRemovedEmptyFolders();
}
