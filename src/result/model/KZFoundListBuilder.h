#pragma once

#include "result/model/KZShownList.h"
#include "result/model/KZSortDescriptor.h"
#include "settings/KZTags.h"

#include <QList>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <optional>

class KZFoundItemsCntrl;
struct KZFoundListContext;

// Builds the lists of one tab from the found-items model: the tab list, one
// list per source when there are two or more, and the marked list. Each list
// is built by a worker of its own, started only when the thread budget has
// room, and stored in the tab's store in the shape (grouped or flat) and
// order the view has. Any thread, unless noted.
class KZFoundListBuilder {
public:
    // The counts of one list, as "updateInfo" reports them.
    struct ListInfo {
        quint64 size = 0;
        quint64 count = 0;
        quint64 markedCount = 0;
        quint64 markedSize = 0;
    };

    // `context` outlives the builder.
    explicit KZFoundListBuilder(const KZFoundListContext& context);

    // Every list the tab has, also those that are empty now.
    QList<KZTabTag> tagsToBuild() const;
    // Starts one worker per list; returns at once. Only a first build
    // announces itself with "KZListsReadyToShow"; with `refreshWhenDone`
    // the outline gets the lists again once all are built.
    void buildAll(bool announceReady, bool refreshWhenDone = false);
    // Builds every list again, keeping the present ones until then; the
    // outline gets them once all are built.
    void rebuildAll();
    // Builds one list and stores it (or drops the tag when the query answers
    // nothing); answers its counts.
    ListInfo gather(KZTabTag tag);
    // Main thread: the stored lists change shape on a worker.
    void regroup(bool grouped);
    // Builds every list of the empty-folders tab again after a search added
    // folders; their sizes are reported as 0.
    void refreshEmptyFolders();

    qint16 listsToCreate() const { return listsToCreate_.load(); }
    qint16 listsToRefresh() const { return listsToRefresh_.load(); }

private:
    struct Built {
        std::optional<KZShownList> list;
        ListInfo info;
    };

    Built buildList(const std::shared_ptr<KZFoundItemsCntrl>& model, KZTabTag tag, bool grouped,
                    const KZSortDescriptors& descriptors) const;
    void startWorkers(const QList<KZTabTag>& tags);
    void buildOne(KZTabTag tag);
    void listDidBuild();
    void postUpdateInfo(KZTabTag tag, const ListInfo& info) const;

    const KZFoundListContext& context_;
    std::atomic<qint16> listsToCreate_{0};
    std::atomic<qint16> listsToRefresh_{0};
    std::atomic<bool> announceReady_{false};
    std::atomic<bool> readyPosted_{false};
};
