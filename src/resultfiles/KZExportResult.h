#pragma once

#include "platform/AtomicFile.h"
#include "result/model/KZFoundItem.h"
#include "resultfiles/KZExportTextWriter.h"
#include "resultfiles/KZResultFileJob.h"

#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

// Exports the found items of one tab as tab-separated text in the
// background.
//
// The text goes to a temporary file beside the chosen one and replaces it
// once written, so a failure or a full disk never leaves a file the user had
// half-written. Stop ends the rows after the item in hand; the rows written
// so far, with their footer, still become the file. "exportingDidFinish"
// follows once the writer returned.
class KZExportResult : public KZResultFileJob {
public:
    struct Choice {
        std::filesystem::path location;
        bool onlyMarked = false;
    };
    // Asks where to export and whether only the marked items (the file panel
    // with its check box, GUI thread); nullopt when the user cancelled.
    using LocationChooser = std::function<void(const QVariantMap& request, std::function<void(std::optional<Choice>)> answer)>;

    // What the writer needs, taken on the GUI thread before the work is queued.
    struct Snapshot {
        KZExportDocument document;
        KZFoundItemArray items;
        // The request's name, for the progress text.
        QString name;

        static Snapshot fromRequest(const QVariantMap& request, const Choice& choice);
    };

    static std::shared_ptr<KZExportResult> create(LocationChooser chooser = {},
                                                  KZExportTextWriter::Texts texts = KZExportTextWriter::Texts::localized());

    void exportItemsWithDict(const QVariantMap& request);
    void exportSnapshot(Snapshot snapshot, std::filesystem::path location);

    void setWriteFunction(platform::AtomicFileWriter::WriteFunction write) { write_ = std::move(write); }

    // A found item as its row: the folder that holds it, or where it was last
    // seen when it cannot be found now.
    static KZExportRow rowOfItem(const KZFoundItemRef& item);

    // The rows written by the last run.
    quint64 rowsWritten() const { return rowsWritten_.load(); }

protected:
    KZExportResult(LocationChooser chooser, KZExportTextWriter::Texts texts);
    void reportError(const QString& error) override;

private:
    LocationChooser chooser_;
    KZExportTextWriter::Texts texts_;
    platform::AtomicFileWriter::WriteFunction write_;
    std::atomic<quint64> rowsWritten_{0};
};
