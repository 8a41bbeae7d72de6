#include "settings/KZSourceItem.h"

#include "services/KZFilesUtilities.h"
#include "settings/KZPlistValue.h"

#include <QUrl>

#include <algorithm>

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

// The location under "url": a path as the file utilities hand it out, or a
// file URL. Text is no location: a name need not be valid UTF-8.
fs::path locationOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<fs::path>())
        return value.value<fs::path>();
    if (value.typeId() == QMetaType::QUrl)
        return KZFilesUtilities::pathFromFileURL(value.toUrl());
    return {};
}

} // namespace

KZSourceItem::KZSourceItem() = default;

KZSourceItem::KZSourceItem(const QVariantMap& dictionary)
{
    setItemsWithDict(dictionary);
}

std::shared_ptr<KZSourceItem> KZSourceItem::create(const QVariantMap& dictionary)
{
    return std::make_shared<KZSourceItem>(dictionary);
}

void KZSourceItem::setItemsWithDict(const QVariantMap& d)
{
    using namespace KZPlistValue;
    setUrl(locationOf(d.value(u"url"_s)));
    {
        std::lock_guard lock(mutex_);
        chosen_ = locationOf(d.value(u"path"_s));
    }
    isDisk_ = boolValue(d, u"isDisk"_s);
    isLocked_ = boolValue(d, u"isLocked"_s);
    isPhotosLib_ = boolValue(d, u"isPhotosLib"_s);
    isCurrentLibrary_ = boolValue(d, u"isCurrentLibrary"_s);
    librariesCount_ = static_cast<qint16>(integerValue(d, u"librariesCount"_s));
    iTunesLibValue_ = static_cast<qint16>(integerValue(d, u"iTunesLibValue"_s));
    totSize_ = unsigned64Value(d, u"totSize"_s);
    freeSize_ = unsigned64Value(d, u"freeSize"_s);
    isSmartFolder_ = boolValue(d, u"isSmartFolder"_s);
}

fs::path KZSourceItem::url() const
{
    std::lock_guard lock(mutex_);
    return url_;
}

void KZSourceItem::setUrl(const fs::path& url)
{
    std::lock_guard lock(mutex_);
    url_ = url;
}

fs::path KZSourceItem::path() const
{
    const fs::path location = url();
    if (location.empty())
        return {};
    return KZFilesUtilities::sharedControl().pathWithURL(location);
}

fs::path KZSourceItem::chosenPath() const
{
    {
        std::lock_guard lock(mutex_);
        if (!chosen_.empty())
            return chosen_;
    }
    return path();
}

QString KZSourceItem::name() const
{
    const auto& files = KZFilesUtilities::sharedControl();
    fs::path chosen;
    {
        std::lock_guard lock(mutex_);
        chosen = chosen_;
    }
    std::optional<QString> name = chosen.empty() ? std::nullopt : files.itemNameWithURL(chosen);
    if (!name)
        name = files.itemNameWithURL(url());
    if (!name)
        return {};
    // A leading full stop starts a hidden name, not an extension.
    const qsizetype dot = name->lastIndexOf(u'.');
    return dot > 0 ? name->left(dot) : *name;
}

std::vector<fs::path> KZSourceItem::excluded() const
{
    std::lock_guard lock(mutex_);
    std::vector<fs::path> out;
    out.reserve(excluded_.size());
    for (const ExcludedEntry& entry : excluded_)
        out.push_back(entry.location);
    return out;
}

void KZSourceItem::setExcluded(const std::vector<fs::path>& excluded)
{
    std::lock_guard lock(mutex_);
    // The n-th occurrence of a folder in the new list is taken to be the n-th
    // occurrence in the old one, so the search's own entries stay its own.
    std::vector<bool> taken(excluded_.size(), false);
    std::vector<ExcludedEntry> entries;
    entries.reserve(excluded.size());
    for (const fs::path& location : excluded) {
        ExcludedEntry entry{location, false};
        for (std::size_t i = 0; i < excluded_.size(); ++i) {
            if (!taken[i] && excluded_[i].location == location) {
                taken[i] = true;
                entry.addedProgramatically = excluded_[i].addedProgramatically;
                break;
            }
        }
        entries.push_back(std::move(entry));
    }
    excluded_ = std::move(entries);
}

void KZSourceItem::addExcluded(const fs::path& location)
{
    std::lock_guard lock(mutex_);
    excluded_.push_back({location, false});
}

std::vector<fs::path> KZSourceItem::excludedAddedProgramatically() const
{
    std::lock_guard lock(mutex_);
    return excludedAddedProgramatically_;
}

void KZSourceItem::setExcludedAddedProgramatically(const std::vector<fs::path>& locations)
{
    std::lock_guard lock(mutex_);
    excludedAddedProgramatically_ = locations;
}

void KZSourceItem::addExcludedProgramatically(const fs::path& location)
{
    std::lock_guard lock(mutex_);
    excluded_.push_back({location, true});
    excludedAddedProgramatically_.push_back(location);
}

void KZSourceItem::removeExcludedAddedProgramatically()
{
    std::lock_guard lock(mutex_);
    const auto listed = [this](const fs::path& location) {
        return std::find(excludedAddedProgramatically_.begin(), excludedAddedProgramatically_.end(), location)
            != excludedAddedProgramatically_.end();
    };
    std::erase_if(excluded_, [&](const ExcludedEntry& entry) {
        return entry.addedProgramatically && listed(entry.location);
    });
}
