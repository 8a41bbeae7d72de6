#include "app/search/KZSourcesCntrl.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "services/KZItemInspection.h"
#include "settings/KZSearchStuff.h"

#include <QObject>

#include <algorithm>

namespace {
const QString kSourcesDidAdd = QStringLiteral("sourcesDidAdd");
const QString kAddSourcesAction = QStringLiteral("addSourcesAction");

std::filesystem::path pathOf(const QVariant& value)
{
    if (value.canConvert<std::filesystem::path>())
        return value.value<std::filesystem::path>();
    return platform::pathFromText(value.toString());
}
} // namespace

KZSourcesCntrl::KZSourcesCntrl(KZSourcesCntrlView* view) : view_(view) {}

KZSourcesCntrl::~KZSourcesCntrl()
{
    if (observerContext_)
        platform::NotificationCenter::defaultCenter().removeObserver(observerContext_.get());
}

namespace {

platform::SharedInstance<KZSourcesCntrl>& sharedInstance()
{
    static platform::SharedInstance<KZSourcesCntrl> instance([] { return std::make_unique<KZSourcesCntrl>(); });
    return instance;
}

} // namespace

KZSourcesCntrl& KZSourcesCntrl::sharedControl()
{
    return sharedInstance().get();
}

void KZSourcesCntrl::setSharedControl(std::unique_ptr<KZSourcesCntrl> instance)
{
    sharedInstance().replace(std::move(instance));
}

void KZSourcesCntrl::observeAddSourcesAction()
{
    if (observerContext_)
        return;
    observerContext_ = std::make_unique<QObject>();
    platform::NotificationCenter::defaultCenter().addObserver(
        observerContext_.get(), kAddSourcesAction, platform::NotificationObject(platform::bundleIdentifier()),
        [this](const platform::Notification&) { addSourcesAction(); });
}

void KZSourcesCntrl::addSourcesAction()
{
    excludedURLs_ = KZSearchStuff::sharedControl().globalExclusions();
    if (!panelRunner_) {
        // Nobody to ask: the add button must still leave its adding state.
        chooseLocationPanelDidEndWithCode(0, {});
        return;
    }
    const QVariantMap settings{
        {QStringLiteral("prompt"), QStringLiteral("ask_add_source")},
        {QStringLiteral("includeSmartFolder"), false},
        {QStringLiteral("allowsMultipleSelection"), true},
        {QStringLiteral("canCreateDirectories"), false},
    };
    panelRunner_(settings, [this](int code, const std::vector<std::filesystem::path>& chosen) {
        chooseLocationPanelDidEndWithCode(code, chosen);
    });
}

bool KZSourcesCntrl::shouldEnableURL(const std::filesystem::path& path) const
{
    return std::find(excludedURLs_.begin(), excludedURLs_.end(), path) == excludedURLs_.end();
}

void KZSourcesCntrl::chooseLocationPanelDidEndWithCode(int code, const std::vector<std::filesystem::path>& chosen)
{
    if (code != 1) {
        if (view_)
            view_->setNeedsDisplay();
        postSourcesDidAdd();
        return;
    }
    if (chosen.size() + sources_.size() <= static_cast<std::size_t>(maxSources)) {
        if (view_) {
            view_->setNeedsDisplay();
            view_->animateAddedItems(chosen);
        } else {
            addChosenItems(chosen);
        }
        return;
    }
    showLimitReached();
    postSourcesDidAdd();
}

void KZSourcesCntrl::addChosenItems(const std::vector<std::filesystem::path>& paths)
{
    if (sources_.empty() && view_)
        view_->showCollection();
    for (const auto& path : paths) {
        if (sources_.size() + 1 > static_cast<std::size_t>(maxSources)) {
            showLimitReached();
            break;
        }
        addChosenSource(path);
    }
    postSourcesDidAdd();
}

bool KZSourcesCntrl::addChosenSource(const std::filesystem::path& path)
{
    // Said, not skipped in silence: the folder exists and the user would
    // not know why it is missing from the search.
    if (const std::filesystem::path real = platform::linkFreePath(path, true); !real.empty()) {
        if (const QString refusal = KZItemInspection::sourceRefusal(real); !refusal.isEmpty()) {
            KZErrorDelegate::sharedControl().showError(refusal, {}, {platform::pathText(path)});
            return false;
        }
    }
    const auto info = KZFilesUtilities::sharedControl().directoryInfoForPath(path);
    if (!info || pathOf(info->value(QStringLiteral("path"))).empty())
        return false;
    addNewSourceWithDict(*info);
    return true;
}

void KZSourcesCntrl::addNewSourceWithDict(const QVariantMap& info)
{
    // The same folder chosen through a link and directly is one source.
    if (isAlreadyLoaded(pathOf(info.value(QStringLiteral("path"))))
        || isAlreadyLoaded(pathOf(info.value(QStringLiteral("url")))))
        return;
    appendSource(KZSourceItem::create(info));
}

void KZSourcesCntrl::addSavedSources(const std::vector<KZSourceItemRef>& sources)
{
    for (const auto& source : sources)
        if (source)
            appendSource(source);
}

void KZSourcesCntrl::appendSource(const KZSourceItemRef& source)
{
    if (view_)
        view_->addTiles({tileForSource(source)}, true);
    sources_.push_back(source);
}

void KZSourcesCntrl::removeSource(const KZSourceItemRef& source)
{
    const auto it = std::find(sources_.begin(), sources_.end(), source);
    if (it == sources_.end())
        return;
    // Gone from the list at once, also when it is the last one, so that a
    // start check that refused it never searches it while the view resets.
    sources_.erase(it);
    if (!view_)
        return;
    if (sources_.empty())
        view_->resetSearchView();
    else
        view_->removeTile(source);
}

void KZSourcesCntrl::setCollectionEmpty()
{
    if (view_)
        view_->clearTiles();
    sources_.clear();
    if (view_)
        view_->hideCollection();
}

bool KZSourcesCntrl::isAlreadyLoaded(const std::filesystem::path& path) const
{
    return std::any_of(sources_.begin(), sources_.end(),
                       [&](const KZSourceItemRef& source) {
                           return source->path() == path || source->chosenPath() == path;
                       });
}

KZSourceTile KZSourcesCntrl::tileForSource(const KZSourceItemRef& source)
{
    KZSourceTile tile;
    tile.source = source;
    // name() has dropped one extension already; "archive.tar.gz" reads "archive".
    tile.name = platform::pathText(platform::pathFromText(source->name()).stem());
    if (tile.name.isEmpty())
        tile.name = source->name();
    const auto path = source->chosenPath();
    tile.tip = platform::pathText(path.empty() ? source->url() : path);
    return tile;
}

std::vector<KZSourceItemRef> KZSourcesCntrl::emptyFoldersSourcesWithFolders(const QVariantList& folders) const
{
    std::vector<KZSourceItemRef> result;
    const auto& files = KZFilesUtilities::sharedControl();
    for (const QVariant& entry : folders) {
        const QVariantMap folder = entry.toMap();
        const auto path = files.pathWithURL(pathOf(folder.value(QStringLiteral("url"))));
        if (path.empty())
            continue;
        const auto info = files.directoryInfoForPath(path);
        if (!info || pathOf(info->value(QStringLiteral("path"))).empty())
            continue;
        auto source = KZSourceItem::create(*info);
        source->setLocationLabelTag(static_cast<qint16>(folder.value(QStringLiteral("locationLabelTag")).toInt()));
        result.push_back(source);
    }
    return result;
}

void KZSourcesCntrl::postSourcesDidAdd()
{
    platform::NotificationCenter::defaultCenter().post(kSourcesDidAdd,
                                                       platform::NotificationObject(platform::bundleIdentifier()));
}

void KZSourcesCntrl::showLimitReached()
{
    KZErrorDelegate::sharedControl().showError(QStringLiteral("sources_limit_reached"));
}
