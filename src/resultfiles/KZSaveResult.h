#pragma once

#include "platform/AtomicFile.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZResultSaving.h"
#include "resultfiles/KZResultFileJob.h"
#include "resultfiles/KZSaveSnapshot.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "settings/KZSourceItem.h"

#include <QVariantMap>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Saves a result to a ".maravex" file in the background.
//
// The file is written to a temporary file beside the chosen one and renamed
// over it only when complete, so a stop, a failure or a full disk leaves a
// file the user already had as it was. Every failure is told with the path
// and the system's reason; "savingDidFinish" follows once the work returned.
class KZSaveResult : public KZResultFileJob, public KZResultSaving {
public:
    // Asks where to save (the file panel, on the GUI thread) and answers
    // through `answer`: the chosen path, or nullopt when the user cancelled.
    using LocationChooser =
        std::function<void(const QVariantMap& request, std::function<void(std::optional<std::filesystem::path>)> answer)>;
    // Adds what only the windows know (the tabs' view state, the missing
    // tracks) to the snapshot, on the GUI thread.
    using ViewStateReader = std::function<void(const QVariantMap& request, KZSaveSnapshot& snapshot)>;

    static std::shared_ptr<KZSaveResult> create(LocationChooser chooser = {}, ViewStateReader viewState = {});

    // KZResultSaving: asks for the place, then saves there.
    void saveItemsWithDict(const QVariantMap& request) override;
    // Saves `snapshot` to `location` in the background (GUI thread).
    void saveSnapshot(KZSaveSnapshot snapshot, std::filesystem::path location);

    // Tests: how bytes reach the disk.
    void setWriteFunction(platform::AtomicFileWriter::WriteFunction write) { write_ = std::move(write); }

    struct Progress {
        const std::atomic<bool>* stopped = nullptr;
        std::atomic<quint64>* managedCount = nullptr;
        std::atomic<quint64>* totToManage = nullptr;
        // Items that could not be recorded (gone, or a path too long to be
        // looked up) and were left out of the file.
        std::atomic<quint64>* leftOut = nullptr;
        std::function<void(const QString&)> mainString;
    };
    enum class Outcome { Written, Stopped, Failed };
    // The work itself, on the calling thread (also the command-line tools'
    // way to save): bookmarks, conversion, the file. A failure answers Failed
    // with the reason in `error`.
    static Outcome writeSnapshot(const KZSaveSnapshot& snapshot, const std::filesystem::path& location,
                                 const Progress& progress, QString* error,
                                 const platform::AtomicFileWriter::WriteFunction& write = {});

    // Saves the items of a finished search with the marks a result window
    // first gives them (all but one copy of each group), without windows:
    // the command-line tools' save. `resultInfo` is the search's result map.
    // `leftOut` receives how many items could not be recorded.
    static bool saveSearchResult(const KZFoundItemArray& items, const QVariantMap& resultInfo,
                                 const std::vector<KZSourceItemRef>& sources, const std::filesystem::path& location,
                                 QString* error, quint64* leftOut = nullptr);
    // What the user is told of the items a written file left out; empty
    // when none was.
    static QString leftOutText(quint64 leftOut);

    // An item's record; none when the item cannot be referenced any more.
    static std::optional<KZSavedItem> savedItem(const KZFoundItemRef& item);
    static std::optional<KZSavedSource> savedSource(const KZSourceItemRef& source);

protected:
    KZSaveResult(LocationChooser chooser, ViewStateReader viewState);
    void reportError(const QString& error) override;
    void reportSuccess() override;

private:
    std::atomic<quint64> leftOut_{0};
    LocationChooser chooser_;
    ViewStateReader viewState_;
    platform::AtomicFileWriter::WriteFunction write_;
};
