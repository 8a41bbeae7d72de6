#include "resultfiles/KZSavedResultFormat.h"

#include "platform/BinaryPropertyListReader.h"
#include "platform/BinaryPropertyListWriter.h"
#include "platform/PropertyList.h"

#include <QMetaType>
#include <QVariantList>

#include <cmath>
#include <limits>
#include <string>

namespace K = KZSavedResultKey;
namespace fs = std::filesystem;

namespace {

QVariant u64(quint64 value)
{
    return QVariant::fromValue(value);
}

QVariant i64(qint64 value)
{
    return QVariant::fromValue(value);
}

QVariantList pathList(const std::vector<fs::path>& paths)
{
    QVariantList list;
    list.reserve(qsizetype(paths.size()));
    for (const fs::path& path : paths)
        list.append(QByteArray(path.c_str(), qsizetype(path.native().size())));
    return list;
}

// The fields of an item record, each handed to `put` as a key and a value:
// the one list of them that both the property list and the written file
// take.
template <typename Put>
void itemFields(const KZSavedItem& item, Put&& put)
{
    put(K::alias, QVariant(item.alias));
    put(K::fileTypeTag, u64(item.fileTypeTag));
    put(K::groupId, i64(item.groupId));
    put(K::countOfItemsInGroup, u64(item.countOfItemsInGroup));
    put(K::locationLabelTag, i64(item.locationLabelTag));
    put(K::isMarked, QVariant(item.isMarked));
    put(K::isPhotosItem, QVariant(item.isPhotosItem));
    put(K::isiTunesItem, QVariant(item.isiTunesItem));
    if (item.trackID)
        put(K::trackID, *item.trackID);
    if (item.size)
        put(K::size, u64(*item.size));
    if (item.dateModified)
        put(K::dateModified, QVariant(*item.dateModified));
    if (item.dateCreated)
        put(K::dateCreated, QVariant(*item.dateCreated));
    if (item.isFolder)
        put(K::isFolder, QVariant(*item.isFolder));
}

QVariantMap itemRecord(const KZSavedItem& item)
{
    QVariantMap record;
    itemFields(item, [&record](const QString& key, const QVariant& value) { record.insert(key, value); });
    return record;
}

// The items written record by record: a large result never exists as a
// tree of values beside the file.
platform::BinaryPropertyListWriter::Ref writeItemRecords(platform::BinaryPropertyListWriter& writer,
                                                         const std::vector<KZSavedItem>& items)
{
    using Ref = platform::BinaryPropertyListWriter::Ref;
    std::vector<Ref> records;
    records.reserve(items.size());
    std::vector<std::pair<Ref, Ref>> fields;
    for (const KZSavedItem& item : items) {
        fields.clear();
        itemFields(item, [&](const QString& key, const QVariant& value) {
            const Ref keyRef = writer.string(key);
            fields.emplace_back(keyRef, writer.value(value));
        });
        records.push_back(writer.dictionary(fields));
    }
    return writer.array(records);
}

QVariantList itemRecords(const std::vector<KZSavedItem>& items)
{
    QVariantList list;
    list.reserve(qsizetype(items.size()));
    for (const KZSavedItem& item : items)
        list.append(itemRecord(item));
    return list;
}

template <typename T, typename F>
QVariantMap byTag(const std::map<quint64, T>& map, F&& convert)
{
    QVariantMap out;
    for (const auto& [tag, value] : map)
        out.insert(KZSavedResultFormat::tagKey(tag), convert(value));
    return out;
}

// ---- Reading ---------------------------------------------------------------------------

// A record's value under `key`, or nullptr: in a map, or in the entries of
// a record read straight from the file, where the last of a key stored
// twice counts, as in a map.
const QVariant* valueIn(const QVariantMap& map, const QString& key)
{
    const auto found = map.constFind(key);
    return found == map.constEnd() ? nullptr : &*found;
}

using Entries = std::vector<platform::BinaryPropertyListEntry>;

const QVariant* valueIn(const Entries& entries, const QString& key)
{
    return platform::entryValue(entries, key);
}

// Walks a value with the place it was found at, and keeps the first fault.
class Reader {
public:
    explicit Reader(QString* error, KZSavedReadNotes* notes = nullptr) : error_(error), notes_(notes) {}

    bool failed() const { return failed_; }

    // In a lenient read a record (or a part of the window state) that does
    // not read is dropped and counted, and the read goes on without it.
    bool recover()
    {
        if (!notes_)
            return false;
        if (error_)
            error_->clear();
        failed_ = false;
        ++notes_->droppedRecords;
        return true;
    }

    template <typename F>
    bool part(F&& body)
    {
        return body() || recover();
    }

    bool fail(const QString& where, const QString& what)
    {
        if (!failed_ && error_)
            *error_ = QStringLiteral("The saved result is damaged: %1: %2").arg(where, what);
        failed_ = true;
        return false;
    }

    static QString at(const QString& where, const QString& key) { return where.isEmpty() ? key : where + u'.' + key; }
    static QString at(const QString& where, qsizetype index) { return QStringLiteral("%1[%2]").arg(where).arg(index); }

    std::optional<QVariantMap> map(const QVariant& value, const QString& where)
    {
        if (value.typeId() != QMetaType::QVariantMap) {
            fail(where, QStringLiteral("expected a dictionary"));
            return std::nullopt;
        }
        return value.toMap();
    }

    std::optional<QVariantList> list(const QVariant& value, const QString& where)
    {
        if (value.typeId() != QMetaType::QVariantList) {
            fail(where, QStringLiteral("expected an array"));
            return std::nullopt;
        }
        return value.toList();
    }

    // A required entry of `map`.
    template <typename Record>
    std::optional<QVariant> need(const Record& map, const QString& key, const QString& where)
    {
        const QVariant* found = valueIn(map, key);
        if (!found) {
            fail(at(where, key), QStringLiteral("missing"));
            return std::nullopt;
        }
        return *found;
    }

    bool boolean(const QVariant& value, const QString& where, bool* out)
    {
        if (value.typeId() != QMetaType::Bool)
            return fail(where, QStringLiteral("expected a boolean"));
        *out = value.toBool();
        return true;
    }

    bool integer(const QVariant& value, const QString& where, long double min, long double max, qint64* signedOut,
                 quint64* unsignedOut)
    {
        const int type = value.typeId();
        long double number = 0;
        if (type == QMetaType::LongLong || type == QMetaType::Int)
            number = static_cast<long double>(value.toLongLong());
        else if (type == QMetaType::ULongLong || type == QMetaType::UInt)
            number = static_cast<long double>(value.toULongLong());
        else
            return fail(where, QStringLiteral("expected an integer"));
        if (number < min || number > max)
            return fail(where, QStringLiteral("the number is out of range"));
        if (signedOut)
            *signedOut = value.toLongLong();
        if (unsignedOut)
            *unsignedOut = value.toULongLong();
        return true;
    }

    template <typename T>
    bool number(const QVariant& value, const QString& where, T* out)
    {
        constexpr long double min = static_cast<long double>(std::numeric_limits<T>::min());
        constexpr long double max = static_cast<long double>(std::numeric_limits<T>::max());
        if constexpr (std::is_signed_v<T>) {
            qint64 v = 0;
            if (!integer(value, where, min, max, &v, nullptr))
                return false;
            *out = static_cast<T>(v);
        } else {
            quint64 v = 0;
            if (!integer(value, where, min, max, nullptr, &v))
                return false;
            *out = static_cast<T>(v);
        }
        return true;
    }

    bool real(const QVariant& value, const QString& where, double* out)
    {
        const int type = value.typeId();
        if (type != QMetaType::Double && type != QMetaType::LongLong && type != QMetaType::ULongLong
            && type != QMetaType::Int && type != QMetaType::UInt)
            return fail(where, QStringLiteral("expected a number"));
        const double v = value.toDouble();
        if (!std::isfinite(v))
            return fail(where, QStringLiteral("the number is not finite"));
        *out = v;
        return true;
    }

    bool string(const QVariant& value, const QString& where, QString* out)
    {
        if (value.typeId() != QMetaType::QString)
            return fail(where, QStringLiteral("expected a string"));
        *out = value.toString();
        return true;
    }

    bool data(const QVariant& value, const QString& where, QByteArray* out)
    {
        if (value.typeId() != QMetaType::QByteArray)
            return fail(where, QStringLiteral("expected data"));
        *out = value.toByteArray();
        return true;
    }

    // Required keys of a record, each read by `read`.
    template <typename T, typename Record = QVariantMap>
    bool field(const Record& map, const QString& key, const QString& where, T* out)
    {
        const QVariant* value = valueIn(map, key);
        if (!value)
            return fail(at(where, key), QStringLiteral("missing"));
        return read(*value, at(where, key), out);
    }

    template <typename T, typename Record = QVariantMap>
    bool optionalField(const Record& map, const QString& key, const QString& where, std::optional<T>* out)
    {
        const QVariant* found = valueIn(map, key);
        if (!found)
            return true;
        T value{};
        if (!read(*found, at(where, key), &value))
            return false;
        *out = value;
        return true;
    }

    bool read(const QVariant& v, const QString& w, bool* out) { return boolean(v, w, out); }
    bool read(const QVariant& v, const QString& w, qint16* out) { return number(v, w, out); }
    bool read(const QVariant& v, const QString& w, qint64* out) { return number(v, w, out); }
    bool read(const QVariant& v, const QString& w, quint32* out) { return number(v, w, out); }
    bool read(const QVariant& v, const QString& w, quint64* out) { return number(v, w, out); }
    bool read(const QVariant& v, const QString& w, double* out) { return real(v, w, out); }
    bool read(const QVariant& v, const QString& w, QString* out) { return string(v, w, out); }
    bool read(const QVariant& v, const QString& w, QByteArray* out) { return data(v, w, out); }

    bool read(const QVariant& v, const QString& w, std::vector<fs::path>* out)
    {
        const auto entries = list(v, w);
        if (!entries)
            return false;
        out->clear();
        for (qsizetype i = 0; i < entries->size(); ++i) {
            QByteArray bytes;
            if (!data(entries->at(i), at(w, i), &bytes))
                return false;
            if (bytes.isEmpty() || bytes.contains('\0'))
                return fail(at(w, i), QStringLiteral("not a location"));
            out->emplace_back(std::string(bytes.constData(), size_t(bytes.size())));
        }
        return true;
    }

    // A dictionary keyed by tags: each key must be the decimal text of a tag.
    template <typename T, typename F>
    bool tagMap(const QVariant& value, const QString& where, std::map<quint64, T>* out, F&& readOne)
    {
        const auto entries = map(value, where);
        if (!entries)
            return false;
        for (auto it = entries->constBegin(); it != entries->constEnd(); ++it) {
            const std::optional<quint64> tag = parseTag(it.key());
            if (!tag)
                return fail(at(where, it.key()), QStringLiteral("the key is not a tag"));
            T one{};
            if (!readOne(*it, at(where, it.key()), &one))
                return false;
            out->emplace(*tag, std::move(one));
        }
        return true;
    }

    template <typename T, typename F>
    bool array(const QVariant& value, const QString& where, std::vector<T>* out, F&& readOne)
    {
        const auto entries = list(value, where);
        if (!entries)
            return false;
        out->clear();
        out->reserve(size_t(entries->size()));
        for (qsizetype i = 0; i < entries->size(); ++i) {
            T one{};
            // Read without naming places: a result has hundreds of thousands
            // of records, and only one that does not read needs its place
            // named. That one is read again with it.
            if (!readOne(entries->at(i), QString(), &one)) {
                failed_ = false;
                if (error_)
                    error_->clear();
                one = T{};
                (void)readOne(entries->at(i), at(where, i), &one);
                if (!recover())
                    return false;
                continue;
            }
            out->push_back(std::move(one));
        }
        return true;
    }

    static std::optional<quint64> parseTag(const QString& key)
    {
        if (key.isEmpty() || key.size() > 20 || (key.size() > 1 && key.front() == u'0'))
            return std::nullopt;
        for (const QChar c : key) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
        bool ok = false;
        const quint64 tag = key.toULongLong(&ok);
        return ok ? std::optional<quint64>(tag) : std::nullopt;
    }

private:
    QString* error_;
    KZSavedReadNotes* notes_;
    bool failed_ = false;
};

template <typename Record>
bool readItemFields(Reader& r, const Record& map, const QString& where, KZSavedItem* item)
{
    if (!(r.field(map, K::alias, where, &item->alias) && r.field(map, K::fileTypeTag, where, &item->fileTypeTag)
          && r.field(map, K::groupId, where, &item->groupId)
          && r.field(map, K::countOfItemsInGroup, where, &item->countOfItemsInGroup)
          && r.field(map, K::locationLabelTag, where, &item->locationLabelTag)
          && r.field(map, K::isMarked, where, &item->isMarked)
          && r.field(map, K::isPhotosItem, where, &item->isPhotosItem)
          && r.field(map, K::isiTunesItem, where, &item->isiTunesItem)
          && r.optionalField(map, K::size, where, &item->size)
          && r.optionalField(map, K::dateModified, where, &item->dateModified)
          && r.optionalField(map, K::dateCreated, where, &item->dateCreated)
          && r.optionalField(map, K::isFolder, where, &item->isFolder)))
        return false;
    if (item->alias.isEmpty())
        return r.fail(Reader::at(where, K::alias), QStringLiteral("empty"));
    if (const QVariant* trackID = valueIn(map, K::trackID)) {
        const int type = trackID->typeId();
        if (type != QMetaType::QString && type != QMetaType::LongLong && type != QMetaType::ULongLong)
            return r.fail(Reader::at(where, K::trackID), QStringLiteral("expected a string or an integer"));
        item->trackID = *trackID;
    }
    return true;
}

bool readItem(Reader& r, const QVariant& value, const QString& where, KZSavedItem* item)
{
    // Read already, straight from the file's record (see decode).
    if (value.metaType() == QMetaType::fromType<KZSavedItem>()) {
        *item = *static_cast<const KZSavedItem*>(value.constData());
        return true;
    }
    const auto map = r.map(value, where);
    return map && readItemFields(r, *map, where, item);
}

bool readDeadTrack(Reader& r, const QVariant& value, const QString& where, KZSavedDeadTrack* track)
{
    const auto map = r.map(value, where);
    return map && r.field(*map, K::songName, where, &track->songName) && r.field(*map, K::album, where, &track->album)
        && r.field(*map, K::artist, where, &track->artist) && r.field(*map, K::trackID, where, &track->trackID)
        && r.field(*map, K::path, where, &track->path) && r.field(*map, K::isMarked, where, &track->isMarked);
}

bool readSource(Reader& r, const QVariant& value, const QString& where, KZSavedSource* s)
{
    const auto map = r.map(value, where);
    return map && r.field(*map, K::alias, where, &s->alias) && r.field(*map, K::excluded, where, &s->excluded)
        && r.field(*map, K::excludedProgrammatically, where, &s->excludedProgrammatically)
        && r.field(*map, K::isDisk, where, &s->isDisk) && r.field(*map, K::isLocked, where, &s->isLocked)
        && r.field(*map, K::isPhotosLib, where, &s->isPhotosLib)
        && r.field(*map, K::isCurrentLibrary, where, &s->isCurrentLibrary)
        && r.field(*map, K::librariesCount, where, &s->librariesCount)
        && r.field(*map, K::iTunesLibValue, where, &s->iTunesLibValue)
        && r.field(*map, K::totSize, where, &s->totSize) && r.field(*map, K::freeSize, where, &s->freeSize)
        && r.field(*map, K::locationLabelTag, where, &s->locationLabelTag)
        && r.field(*map, K::isSmartFolder, where, &s->isSmartFolder)
        && r.field(*map, K::wasSearched, where, &s->wasSearched);
}

bool readSourceRow(Reader& r, const QVariant& value, const QString& where, KZSavedSourceRow* row)
{
    const auto map = r.map(value, where);
    return map && r.field(*map, K::tag, where, &row->tag) && r.field(*map, K::isPhotosLib, where, &row->isPhotosLib)
        && r.field(*map, K::searchStoppeByUser, where, &row->searchStoppeByUser)
        && r.field(*map, K::markedCount, where, &row->markedCount)
        && r.field(*map, K::markedSize, where, &row->markedSize)
        && r.field(*map, K::removedSize, where, &row->removedSize)
        && r.field(*map, K::removedCount, where, &row->removedCount);
}

bool readTabSources(Reader& r, const QVariant& value, const QString& where, KZSavedTabSources* tab)
{
    const auto map = r.map(value, where);
    if (!map)
        return false;
    const auto rows = r.need(*map, K::sources, where);
    return rows
        && r.array(*rows, Reader::at(where, K::sources), &tab->sources,
                   [&r](const QVariant& v, const QString& w, KZSavedSourceRow* row) { return readSourceRow(r, v, w, row); })
        && r.field(*map, K::selection, where, &tab->selection);
}

bool readListState(Reader& r, const QVariant& value, const QString& where, KZSavedListState* list)
{
    const auto map = r.map(value, where);
    if (!map)
        return false;
    const auto sorts = r.need(*map, K::sortDescriptors, where);
    if (!sorts)
        return false;
    const auto readSort = [&r](const QVariant& v, const QString& w, KZSavedSortRecord* sort) {
        const auto record = r.map(v, w);
        return record && r.field(*record, K::ascending, w, &sort->ascending) && r.field(*record, K::key, w, &sort->key)
            && r.field(*record, K::selector, w, &sort->selector);
    };
    if (!r.tagMap(*sorts, Reader::at(where, K::sortDescriptors), &list->sortDescriptors,
                  [&](const QVariant& v, const QString& w, std::vector<KZSavedSortRecord>* out) {
                      return r.array(v, w, out, readSort);
                  }))
        return false;
    if (!r.field(*map, K::currSelectedSourceTag, where, &list->currSelectedSourceTag))
        return false;

    const auto expanded = map->constFind(K::expandedByTag);
    if (expanded != map->constEnd()) {
        const auto readExpansion = [&r](const QVariant& v, const QString& w, qint64* groupID) {
            const auto record = r.map(v, w);
            bool isExpanded = false;
            return record && r.field(*record, K::isExpanded, w, &isExpanded) && r.field(*record, K::groupID, w, groupID);
        };
        if (!r.tagMap(*expanded, Reader::at(where, K::expandedByTag), &list->expandedByTag,
                      [&](const QVariant& v, const QString& w, std::vector<qint64>* out) {
                          return r.array(v, w, out, readExpansion);
                      }))
            return false;
    }

    const auto selected = map->constFind(K::selectedItems);
    if (selected != map->constEnd()) {
        const auto readSelection = [&r](const QVariant& v, const QString& w, KZSavedSelection* s) {
            const auto record = r.map(v, w);
            if (!(record && r.field(*record, K::isGroupItem, w, &s->isGroupItem)
                  && r.field(*record, K::groupID, w, &s->groupID)))
                return false;
            return s->isGroupItem || r.field(*record, K::path, w, &s->path);
        };
        if (!r.tagMap(*selected, Reader::at(where, K::selectedItems), &list->selectedItems,
                      [&](const QVariant& v, const QString& w, std::vector<KZSavedSelection>* out) {
                          return r.array(v, w, out, readSelection);
                      }))
            return false;
    }
    return true;
}

bool readGenericInfo(Reader& r, const QVariant& value, const QString& where, KZSavedGenericInfo* g)
{
    const auto map = r.map(value, where);
    return map && r.optionalField(*map, K::checkedItemsCount, where, &g->checkedItemsCount)
        && r.optionalField(*map, K::currentLocationLabel, where, &g->currentLocationLabel)
        && r.optionalField(*map, K::foundItemsCount, where, &g->foundItemsCount)
        && r.optionalField(*map, K::foundItemsSize, where, &g->foundItemsSize)
        && r.optionalField(*map, K::searchWasStoppedByUser, where, &g->searchWasStoppedByUser)
        && r.optionalField(*map, K::searchedForFolders, where, &g->searchedForFolders)
        && r.optionalField(*map, K::searchedInPhotos, where, &g->searchedInPhotos)
        && r.optionalField(*map, K::searchedIniTunes, where, &g->searchedIniTunes)
        && r.optionalField(*map, K::isEmptyFolders, where, &g->isEmptyFolders)
        && r.optionalField(*map, K::photosLibraryPath, where, &g->photosLibraryPath)
        && r.optionalField(*map, K::itemsToCheckCount, where, &g->itemsToCheckCount)
        && r.optionalField(*map, K::showResultByGroup, where, &g->showResultByGroup);
}

template <typename T>
void insertIf(QVariantMap& map, const QString& key, const std::optional<T>& value)
{
    if (!value)
        return;
    if constexpr (std::is_same_v<T, quint64>)
        map.insert(key, u64(*value));
    else if constexpr (std::is_same_v<T, qint16>)
        map.insert(key, i64(*value));
    else
        map.insert(key, *value);
}

} // namespace

const QString& KZSavedResultFormat::fileExtension()
{
    static const QString extension = QStringLiteral("maravex");
    return extension;
}

QString KZSavedResultFormat::tagKey(quint64 tag)
{
    return QString::number(tag);
}

namespace {

// The root without its item lists, which are as long as the result.
QVariantMap rootWithoutItems(const KZSavedResult& result)
{
    QVariantMap root;
    root.insert(K::leftSide, QVariantMap{{K::itemInfo, byTag(result.leftSide, [](const KZSavedTabSources& tab) {
                                              QVariantList rows;
                                              for (const KZSavedSourceRow& row : tab.sources) {
                                                  rows.append(QVariantMap{
                                                      {K::tag, u64(row.tag)},
                                                      {K::isPhotosLib, row.isPhotosLib},
                                                      {K::searchStoppeByUser, row.searchStoppeByUser},
                                                      {K::markedCount, u64(row.markedCount)},
                                                      {K::markedSize, u64(row.markedSize)},
                                                      {K::removedSize, u64(row.removedSize)},
                                                      {K::removedCount, u64(row.removedCount)},
                                                  });
                                              }
                                              return QVariantMap{{K::sources, rows}, {K::selection, u64(tab.selection)}};
                                          })}});

    QVariantMap right = byTag(result.rightSide, [](const KZSavedListState& list) {
        QVariantMap record;
        record.insert(K::sortDescriptors, byTag(list.sortDescriptors, [](const std::vector<KZSavedSortRecord>& sorts) {
                          QVariantList out;
                          for (const KZSavedSortRecord& sort : sorts)
                              out.append(QVariantMap{
                                  {K::ascending, sort.ascending}, {K::key, sort.key}, {K::selector, sort.selector}});
                          return out;
                      }));
        record.insert(K::currSelectedSourceTag, u64(list.currSelectedSourceTag));
        std::map<quint64, std::vector<qint64>> expanded;
        for (const auto& [tag, groups] : list.expandedByTag) {
            if (!groups.empty())
                expanded.emplace(tag, groups);
        }
        if (!expanded.empty()) {
            record.insert(K::expandedByTag, byTag(expanded, [](const std::vector<qint64>& groups) {
                              QVariantList out;
                              for (const qint64 group : groups)
                                  out.append(QVariantMap{{K::isExpanded, true}, {K::groupID, i64(group)}});
                              return out;
                          }));
        }
        std::map<quint64, std::vector<KZSavedSelection>> selected;
        for (const auto& [tag, rows] : list.selectedItems) {
            if (!rows.empty())
                selected.emplace(tag, rows);
        }
        if (!selected.empty()) {
            record.insert(K::selectedItems, byTag(selected, [](const std::vector<KZSavedSelection>& rows) {
                              QVariantList out;
                              for (const KZSavedSelection& row : rows) {
                                  QVariantMap one{{K::isGroupItem, row.isGroupItem}, {K::groupID, i64(row.groupID)}};
                                  if (!row.isGroupItem)
                                      one.insert(K::path, row.path);
                                  out.append(one);
                              }
                              return out;
                          }));
        }
        return record;
    });
    right.insert(K::selectedTabTag, u64(result.selectedTabTag));
    root.insert(K::rightSide, right);

    if (result.deadTracks && !result.deadTracks->empty()) {
        QVariantList tracks;
        for (const KZSavedDeadTrack& track : *result.deadTracks) {
            tracks.append(QVariantMap{{K::songName, track.songName},
                                      {K::album, track.album},
                                      {K::artist, track.artist},
                                      {K::trackID, track.trackID},
                                      {K::path, track.path},
                                      {K::isMarked, track.isMarked}});
        }
        root.insert(K::deadTracks, tracks);
    }

    QVariantList sources;
    for (const KZSavedSource& s : result.sources) {
        sources.append(QVariantMap{
            {K::alias, s.alias},
            {K::excluded, pathList(s.excluded)},
            {K::excludedProgrammatically, pathList(s.excludedProgrammatically)},
            {K::isDisk, s.isDisk},
            {K::isLocked, s.isLocked},
            {K::isPhotosLib, s.isPhotosLib},
            {K::isCurrentLibrary, s.isCurrentLibrary},
            {K::librariesCount, i64(s.librariesCount)},
            {K::iTunesLibValue, i64(s.iTunesLibValue)},
            {K::totSize, u64(s.totSize)},
            {K::freeSize, u64(s.freeSize)},
            {K::locationLabelTag, i64(s.locationLabelTag)},
            {K::isSmartFolder, s.isSmartFolder},
            {K::wasSearched, s.wasSearched},
        });
    }
    root.insert(K::sources, sources);

    const KZSavedGenericInfo& g = result.genericInfo;
    QVariantMap generic;
    insertIf(generic, K::checkedItemsCount, g.checkedItemsCount);
    insertIf(generic, K::currentLocationLabel, g.currentLocationLabel);
    insertIf(generic, K::foundItemsCount, g.foundItemsCount);
    insertIf(generic, K::foundItemsSize, g.foundItemsSize);
    insertIf(generic, K::searchWasStoppedByUser, g.searchWasStoppedByUser);
    insertIf(generic, K::searchedForFolders, g.searchedForFolders);
    insertIf(generic, K::searchedInPhotos, g.searchedInPhotos);
    insertIf(generic, K::searchedIniTunes, g.searchedIniTunes);
    insertIf(generic, K::isEmptyFolders, g.isEmptyFolders);
    insertIf(generic, K::photosLibraryPath, g.photosLibraryPath);
    insertIf(generic, K::itemsToCheckCount, g.itemsToCheckCount);
    insertIf(generic, K::showResultByGroup, g.showResultByGroup);
    root.insert(K::genericInfo, generic);
    return root;
}

} // namespace

QVariantMap KZSavedResultFormat::toPropertyList(const KZSavedResult& result)
{
    QVariantMap root = rootWithoutItems(result);
    root.insert(K::items, itemRecords(result.items));
    if (result.emptyFolders && !result.emptyFolders->empty())
        root.insert(K::emptyFolders, itemRecords(*result.emptyFolders));
    return root;
}

std::optional<KZSavedResult> KZSavedResultFormat::fromPropertyList(const QVariant& rootValue, QString* error,
                                                                   KZSavedReadNotes* lenient)
{
    if (error)
        error->clear();
    if (lenient)
        *lenient = {};
    // The root and its items decide whether this is a saved result at all;
    // every leniency applies below them.
    Reader strict(error);
    const auto root = strict.map(rootValue, QStringLiteral("the file"));
    if (!root)
        return std::nullopt;
    const QString none;
    const auto items = strict.need(*root, K::items, none);
    if (!items || !strict.list(*items, K::items))
        return std::nullopt;

    Reader r(error, lenient);
    KZSavedResult result;
    const auto readItemOf = [&r](const QVariant& v, const QString& w, KZSavedItem* item) {
        return readItem(r, v, w, item);
    };
    if (!r.array(*items, K::items, &result.items, readItemOf))
        return std::nullopt;
    if (result.items.empty()) {
        r.fail(K::items, lenient && lenient->droppedRecords ? QStringLiteral("no item could be read")
                                                            : QStringLiteral("no items"));
        return std::nullopt;
    }

    const bool leftRead = r.part([&] {
        const auto left = r.need(*root, K::leftSide, none);
        const auto leftMap = left ? r.map(*left, K::leftSide) : std::nullopt;
        const auto itemInfo = leftMap ? r.need(*leftMap, K::itemInfo, K::leftSide) : std::nullopt;
        return itemInfo
            && r.tagMap(*itemInfo, Reader::at(K::leftSide, K::itemInfo), &result.leftSide,
                        [&r](const QVariant& v, const QString& w, KZSavedTabSources* tab) {
                            return readTabSources(r, v, w, tab);
                        });
    });
    if (!leftRead)
        return std::nullopt;

    const bool rightRead = r.part([&] {
        const auto right = r.need(*root, K::rightSide, none);
        auto rightMap = right ? r.map(*right, K::rightSide) : std::nullopt;
        if (!rightMap || !r.field(*rightMap, K::selectedTabTag, K::rightSide, &result.selectedTabTag))
            return false;
        rightMap->remove(K::selectedTabTag);
        return r.tagMap(QVariant(*rightMap), K::rightSide, &result.rightSide,
                        [&r](const QVariant& v, const QString& w, KZSavedListState* list) {
                            return readListState(r, v, w, list);
                        });
    });
    if (!rightRead)
        return std::nullopt;

    const auto dead = root->constFind(K::deadTracks);
    if (dead != root->constEnd()) {
        std::vector<KZSavedDeadTrack> tracks;
        if (!r.array(*dead, K::deadTracks, &tracks, [&r](const QVariant& v, const QString& w, KZSavedDeadTrack* t) {
                return readDeadTrack(r, v, w, t);
            }))
            return std::nullopt;
        result.deadTracks = std::move(tracks);
    }
    const auto empty = root->constFind(K::emptyFolders);
    if (empty != root->constEnd()) {
        std::vector<KZSavedItem> folders;
        if (!r.part([&] { return r.array(*empty, K::emptyFolders, &folders, readItemOf); }))
            return std::nullopt;
        result.emptyFolders = std::move(folders);
    }

    const auto sources = r.need(*root, K::sources, none);
    if (!sources
        || !r.array(*sources, K::sources, &result.sources, [&r](const QVariant& v, const QString& w, KZSavedSource* s) {
               return readSource(r, v, w, s);
           }))
        return std::nullopt;

    const auto generic = r.need(*root, K::genericInfo, none);
    if (!generic || !r.part([&] { return readGenericInfo(r, *generic, K::genericInfo, &result.genericInfo); }))
        return std::nullopt;
    return result;
}

QByteArray KZSavedResultFormat::encode(const KZSavedResult& result, QString* error)
{
    QByteArray out;
    const bool encoded = encode(
        result,
        [&out](const char* bytes, size_t size) {
            out.append(bytes, qsizetype(size));
            return true;
        },
        error);
    return encoded ? out : QByteArray();
}

bool KZSavedResultFormat::encode(const KZSavedResult& result, const std::function<bool(const char*, size_t)>& write,
                                 QString* error)
{
    // The same root as toPropertyList, written straight into the file's
    // bytes: time and memory stay in proportion to the items.
    using Ref = platform::BinaryPropertyListWriter::Ref;
    platform::BinaryPropertyListWriter writer;
    std::map<QString, Ref> root;
    const QVariantMap rest = rootWithoutItems(result);
    for (auto it = rest.cbegin(); it != rest.cend(); ++it)
        root.emplace(it.key(), writer.value(it.value()));
    // A large result's records go to the file as they are made. What is
    // still to come: per record its dictionary and at most its 13 values,
    // the records' keys once, the two arrays, the root's keys and the root.
    const size_t records = result.items.size() + (result.emptyFolders ? result.emptyFolders->size() : 0);
    const bool stream = records >= 4096;
    if (stream)
        writer.streamTo(write, 14 * quint64(records) + 13 + 2 + quint64(rest.size()) + 2 + 1);
    root.emplace(K::items, writeItemRecords(writer, result.items));
    if (result.emptyFolders && !result.emptyFolders->empty())
        root.emplace(K::emptyFolders, writeItemRecords(writer, *result.emptyFolders));
    std::vector<std::pair<Ref, Ref>> entries;
    for (const auto& [key, value] : root)
        entries.emplace_back(writer.string(key), value);
    const Ref top = writer.dictionary(entries);
    return stream ? writer.finishStreaming(top, error) : writer.finish(top, write, error);
}

std::optional<KZSavedResult> KZSavedResultFormat::decode(const QByteArray& data, QString* error,
                                                         KZSavedReadNotes* lenient)
{
    // A saved result is a binary list of as many records as it has items:
    // read without a tree of libplist nodes beside the values.
    // Item records that read whole are read straight into items, on the
    // reader's threads, with no map of them in between; any other record
    // stays a map and is read, or dropped and counted, below.
    const platform::BinaryRecordReader items = [](const QString& arrayKey, const Entries& record) -> QVariant {
        if (arrayKey != K::items && arrayKey != K::emptyFolders)
            return {};
        Reader r(nullptr);
        KZSavedItem item;
        if (!readItemFields(r, record, QString(), &item))
            return {};
        return QVariant::fromValue(std::move(item));
    };
    const std::optional<QVariant> root = data.startsWith("bplist")
        ? platform::readBinaryPropertyList(data, error, items)
        : platform::PropertyList::fromData(data, error);
    if (!root)
        return std::nullopt;
    return fromPropertyList(*root, error, lenient);
}
