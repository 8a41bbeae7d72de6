#include "resultfiles/KZSaveSnapshot.h"

#include "engine/KZResultInfoKeys.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "settings/KZDefaultsKeys.h"

#include <type_traits>

namespace {

template <typename T>
std::optional<T> valueOf(const QVariantMap& map, const QString& key)
{
    const QVariant value = map.value(key);
    if (!value.isValid())
        return std::nullopt;
    if constexpr (std::is_same_v<T, bool>)
        return value.toBool();
    else if constexpr (std::is_same_v<T, QString>)
        return value.toString();
    else if constexpr (std::is_same_v<T, qint16>)
        return static_cast<qint16>(value.toInt());
    else
        return static_cast<T>(value.toULongLong());
}

} // namespace

KZSaveSnapshot KZSaveSnapshot::fromRequest(const QVariantMap& request)
{
    KZSaveSnapshot snapshot;
    const auto model = request.value(QStringLiteral("foundItemsCntrl")).value<std::shared_ptr<KZFoundItemsCntrl>>();
    if (model) {
        snapshot.items = model->allItems();
        snapshot.emptyFolders = model->allEmptyFolders().value_or(KZFoundItemArray());
    }
    snapshot.sources = request.value(KZResultKey::searchStuffItem).value<std::vector<KZSourceItemRef>>();

    KZSavedGenericInfo& g = snapshot.genericInfo;
    g.checkedItemsCount = valueOf<quint64>(request, KZResultKey::checkedItemsCount);
    g.currentLocationLabel = valueOf<qint16>(request, KZResultKey::currentLocationLabel);
    g.foundItemsCount = valueOf<quint64>(request, KZResultKey::foundItemsCount);
    g.foundItemsSize = valueOf<quint64>(request, KZResultKey::foundItemsSize);
    g.searchWasStoppedByUser = valueOf<bool>(request, KZResultKey::stoppedByUser);
    g.searchedForFolders = valueOf<bool>(request, KZResultKey::searchedForFolders);
    g.searchedInPhotos = valueOf<bool>(request, KZResultKey::searchedInPhotos);
    g.searchedIniTunes = valueOf<bool>(request, KZResultKey::searchedIniTunes);
    g.isEmptyFolders = valueOf<bool>(request, KZResultKey::isEmptyFolders);
    g.photosLibraryPath = valueOf<QString>(request, KZResultKey::photosLibraryPath);
    g.itemsToCheckCount = valueOf<quint64>(request, KZResultKey::itemsToCheckCount);
    g.showResultByGroup = valueOf<bool>(request, KZDefaultsKey::show_result_by_group);
    return snapshot;
}
