#pragma once

#include "settings/KZSourceItem.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

// What a tile shows of its source. The tile keeps the record itself, so a
// closed tile removes exactly its own source whatever became of the folder.
struct KZSourceTile {
    KZSourceItemRef source;
    QString name; // the item's name with up to two extensions gone
    QString tip;  // the full path, for the tool tip
};

// What the sources controller asks of the search window's widgets.
class KZSourcesCntrlView {
public:
    virtual ~KZSourcesCntrlView() = default;
    virtual void showCollection() = 0;
    virtual void hideCollection() = 0;
    virtual void addTiles(const std::vector<KZSourceTile>& tiles, bool animate) = 0;
    virtual void removeTile(const KZSourceItemRef& source) = 0;
    virtual void clearTiles() = 0;
    // The last source goes: the whole view returns to its empty state, which
    // ends with setCollectionEmpty().
    virtual void resetSearchView() = 0;
    // Paths chosen in the panel, for the view's add animation; the view calls
    // addChosenItems() once it has run.
    virtual void animateAddedItems(const std::vector<std::filesystem::path>& paths) = 0;
    virtual void setNeedsDisplay() {}
};

// The search window's list of sources: the panel's answer, batches of
// chosen or dropped paths, the limit of eight, removal, the exclusion
// popover's source and the tiles. Main thread only.
class KZSourcesCntrl {
public:
    static constexpr int maxSources = 8;

    // The panel: settings as KZInterfaceUtilities takes them, and the answer
    // (1 chosen) with the chosen locations.
    using PanelAnswer = std::function<void(int code, const std::vector<std::filesystem::path>& chosen)>;
    using PanelRunner = std::function<void(const QVariantMap& settings, PanelAnswer answer)>;

    explicit KZSourcesCntrl(KZSourcesCntrlView* view = nullptr);
    ~KZSourcesCntrl();
    KZSourcesCntrl(const KZSourcesCntrl&) = delete;
    KZSourcesCntrl& operator=(const KZSourcesCntrl&) = delete;

    // The instance without a window, for the follow-up search of emptied
    // folders.
    static KZSourcesCntrl& sharedControl();
    // Replaces the shared instance (tests); nullptr makes the next call build
    // a fresh one. The shared instance is never destroyed at exit
    // (platform::SharedInstance).
    static void setSharedControl(std::unique_ptr<KZSourcesCntrl> instance);

    void setView(KZSourcesCntrlView* view) { view_ = view; }
    void setPanelRunner(PanelRunner runner) { panelRunner_ = std::move(runner); }
    // Observes "addSourcesAction" (the add button) from now on.
    void observeAddSourcesAction();

    const std::vector<KZSourceItemRef>& sources() const { return sources_; }

    // ---- Adding ----
    void addSourcesAction();
    // Grey in the panel: the global exclusions taken when it opened.
    bool shouldEnableURL(const std::filesystem::path& path) const;
    void chooseLocationPanelDidEndWithCode(int code, const std::vector<std::filesystem::path>& chosen);
    // A batch, in order, up to the limit; posts "sourcesDidAdd".
    void addChosenItems(const std::vector<std::filesystem::path>& paths);
    bool addChosenSource(const std::filesystem::path& path);
    void addNewSourceWithDict(const QVariantMap& info);
    // A reopened result's sources: all of them, as they come.
    void addSavedSources(const std::vector<KZSourceItemRef>& sources);

    // ---- Removing ----
    // By identity: the very record, never a path that looks the same. A
    // record that is no longer listed is ignored.
    void removeSource(const KZSourceItemRef& source);
    void setCollectionEmpty();

    // Exact, case-sensitive: on Linux "Photos" and "photos" are two folders.
    bool isAlreadyLoaded(const std::filesystem::path& path) const;

    static KZSourceTile tileForSource(const KZSourceItemRef& source);

    // The sources of the follow-up search: {"url", "locationLabelTag"} each;
    // folders gone by now are left out. No limit.
    std::vector<KZSourceItemRef> emptyFoldersSourcesWithFolders(const QVariantList& folders) const;

private:
    void appendSource(const KZSourceItemRef& source);
    static void postSourcesDidAdd();
    static void showLimitReached();

    KZSourcesCntrlView* view_ = nullptr;
    PanelRunner panelRunner_;
    std::vector<KZSourceItemRef> sources_;
    std::vector<std::filesystem::path> excludedURLs_;
    std::unique_ptr<QObject> observerContext_;
};
