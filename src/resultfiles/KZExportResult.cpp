#include "resultfiles/KZExportResult.h"

#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "result/model/KZFoundListCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/window/KZTableHeaderCntrl.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZSourceItem.h"

namespace fs = std::filesystem;

namespace {

platform::OperationQueue& exportQueue()
{
    static platform::OperationQueue queue(QStringLiteral("KZExportResultOperationQueue"));
    return queue;
}

// A column of the request: the identifier of a shown column, or a map with
// "identifier", "title" and "hidden".
KZExportColumn columnOf(const QVariant& value)
{
    KZExportColumn column;
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        column.identifier = map.value(QStringLiteral("identifier")).toString();
        column.title = map.value(QStringLiteral("title")).toString();
        column.hidden = map.value(QStringLiteral("hidden")).toBool();
        return column;
    }
    column.identifier = value.toString();
    for (const KZResultColumn& known : KZTableHeaderCntrl::all()) {
        if (known.identifier == column.identifier && !known.titleKey.isEmpty())
            column.title = platform::localizedString(known.titleKey);
    }
    return column;
}

class ItemRows : public KZExportRowSource {
public:
    explicit ItemRows(const KZFoundItemArray& items) : items_(items) {}
    qsizetype count() const override { return items_.size(); }
    bool isMarked(qsizetype index) const override { return items_.at(index) && items_.at(index)->isMarked(); }
    KZExportRow row(qsizetype index) const override { return KZExportResult::rowOfItem(items_.at(index)); }

private:
    const KZFoundItemArray& items_;
};

} // namespace

KZExportResult::Snapshot KZExportResult::Snapshot::fromRequest(const QVariantMap& request, const Choice& choice)
{
    Snapshot snapshot;
    snapshot.name = request.value(QStringLiteral("name")).toString();
    snapshot.items = KZFoundItemsOfVariant(request.value(QStringLiteral("items")));
    snapshot.document.title = platform::pathText(choice.location.stem());
    snapshot.document.onlyMarked = choice.onlyMarked;
    for (const KZSourceItemRef& source :
         request.value(QStringLiteral("sources")).value<std::vector<KZSourceItemRef>>()) {
        if (source)
            snapshot.document.sources.push_back({source->locationLabelTag(), source->path()});
    }
    for (const QVariant& column : request.value(QStringLiteral("columns")).toList())
        snapshot.document.columns.push_back(columnOf(column));
    return snapshot;
}

std::shared_ptr<KZExportResult> KZExportResult::create(LocationChooser chooser, KZExportTextWriter::Texts texts)
{
    return std::shared_ptr<KZExportResult>(new KZExportResult(std::move(chooser), std::move(texts)));
}

KZExportResult::KZExportResult(LocationChooser chooser, KZExportTextWriter::Texts texts)
    : KZResultFileJob(KZNotification::exportingDidFinish)
    , chooser_(std::move(chooser))
    , texts_(std::move(texts))
{
}

void KZExportResult::exportItemsWithDict(const QVariantMap& request)
{
    setSender(request.value(QStringLiteral("sender")).value<KZFoundListCntrl*>());
    if (!chooser_) {
        finishWithoutWork();
        return;
    }
    std::weak_ptr<KZResultFileJob> weak = weak_from_this();
    chooser_(request, [weak, request](std::optional<Choice> choice) {
        const auto self = std::static_pointer_cast<KZExportResult>(weak.lock());
        if (!self)
            return;
        if (!choice) {
            self->finishWithoutWork();
            return;
        }
        self->exportSnapshot(Snapshot::fromRequest(request, *choice), choice->location);
    });
}

void KZExportResult::exportSnapshot(Snapshot snapshot, fs::path location)
{
    totToManage_.store(quint64(snapshot.items.size()));
    rowsWritten_.store(0);
    setMainString(KZErrorDelegate::replaceContentOfString(
        platform::localizedString(QStringLiteral("export_txt")),
        {snapshot.document.onlyMarked ? platform::localizedString(QStringLiteral("export_marked")) : QString(),
         snapshot.name}));
    auto shared = std::make_shared<Snapshot>(std::move(snapshot));
    auto* self = this;
    begin([](std::function<void()> work) { exportQueue().addOperation(std::move(work)); },
          [self, shared, location = std::move(location)] {
              platform::AtomicFileWriter file(location, self->write_);
              KZExportTextWriter writer(self->texts_);
              bool written = file.open();
              if (written) {
                  written = writer.write(
                      shared->document, ItemRows(shared->items),
                      [&file](const QByteArray& bytes) { return file.write(bytes); },
                      [self] { return self->wasStopped(); }, &self->managedCount_);
                  // Stopped or not, the rows written so far become the file.
                  written = written && file.commit();
              }
              self->rowsWritten_.store(writer.rowsWritten());
              if (!written)
                  self->setError(file.error());
          });
}

void KZExportResult::reportError(const QString& error)
{
    KZErrorDelegate::sharedControl().showError(QStringLiteral("result_not_exported"), {}, {error});
}

KZExportRow KZExportResult::rowOfItem(const KZFoundItemRef& item)
{
    KZExportRow row;
    if (!item)
        return row;
    row.groupID = item->groupID();
    row.name = item->name();
    row.formattedDateModified = item->formattedDateModified();
    row.size = item->size();
    row.kind = item->kind();
    row.isMarked = item->isMarked();
    row.locationLabelTag = item->locationLabelTag();
    fs::path location = item->url();
    if (location.empty())
        location = item->storedPath();
    if (location.empty())
        location = item->recordedURL();
    row.folder = location.parent_path();
    const std::string name = location.filename().native();
    const QByteArray nameBytes(name.data(), qsizetype(name.size()));
    if (QString::fromUtf8(nameBytes).toUtf8() != nameBytes)
        row.nameBytes = nameBytes;
    return row;
}
