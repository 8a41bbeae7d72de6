#include "services/ui/KZSplitViewExtensions.h"

#include "platform/UserDefaults.h"
#include "services/KZExtensionFunctions.h"

#include <QSplitter>

#include <cmath>
#include <numeric>

namespace KZSplitViewExtensions {

namespace {

bool sideBySide(const QSplitter& splitter)
{
    return splitter.orientation() == Qt::Horizontal;
}

int length(const QSplitter& splitter)
{
    return sideBySide(splitter) ? splitter.width() : splitter.height();
}

int paneLength(const KZSplitViewPaneSetting& setting, bool horizontal)
{
    return int(std::lround(horizontal ? setting.width : setting.height));
}

QList<KZSplitViewPaneSetting> validSettings(const QString& key, int paneCount, QList<int>* indexes)
{
    QList<KZSplitViewPaneSetting> settings;
    const QVariantList strings = platform::UserDefaults::standard().arrayForKey(key);
    for (qsizetype i = 0; i < strings.size() && i < paneCount; ++i) {
        if (auto setting = KZSplitViewPaneSetting::fromString(strings.at(i).toString())) {
            settings << *setting;
            indexes->append(int(i));
        }
    }
    return settings;
}

} // namespace

void setIntialFrame(QSplitter& splitter)
{
    if (splitter.count() < 2)
        return;
    const double total = length(splitter);
    QList<int> sizes = splitter.sizes();
    sizes[0] = int(std::lround(total / 4 * 3));
    sizes[1] = int(std::lround(total / 4 - 1));
    splitter.setSizes(sizes);
}

void restorePositionsWithKey(QSplitter& splitter, const QString& key)
{
    if (splitter.count() < 2)
        return;
    const QVariantList strings = platform::UserDefaults::standard().arrayForKey(key);
    if (strings.isEmpty())
        return;
    const auto setting = KZSplitViewPaneSetting::fromString(strings.first().toString());
    if (!setting)
        return;
    // The size is set before the pane is hidden so that the splitter keeps
    // it for when the pane comes back.
    QList<int> sizes = splitter.sizes();
    const int available = std::accumulate(sizes.begin(), sizes.end(), 0);
    const int position = std::clamp(paneLength(*setting, sideBySide(splitter)), 0, std::max(available, 0));
    const int rest = std::max(0, available - position);
    sizes[0] = position;
    sizes[1] = rest;
    for (qsizetype i = 2; i < sizes.size(); ++i)
        sizes[i] = 0;
    splitter.setSizes(sizes);
    splitter.widget(0)->setHidden(setting->collapsed);
}

void restoreSavedPositionsWithKey(QSplitter& splitter, const QString& key)
{
    QList<int> indexes;
    const auto settings = validSettings(key, splitter.count(), &indexes);
    if (settings.isEmpty())
        return;
    QList<int> sizes = splitter.sizes();
    for (qsizetype n = 0; n < settings.size(); ++n)
        sizes[indexes.at(n)] = paneLength(settings.at(n), sideBySide(splitter));
    splitter.setSizes(sizes);
    for (qsizetype n = 0; n < settings.size(); ++n)
        splitter.widget(indexes.at(n))->setHidden(settings.at(n).collapsed);
}

QVariantList positionStrings(const QSplitter& splitter)
{
    QVariantList strings;
    const QList<int> sizes = splitter.sizes();
    auto collapsed = [&](int i) {
        return i >= 0 && i < splitter.count() && (splitter.widget(i)->isHidden() || sizes.value(i) == 0);
    };
    for (int i = 0; i < splitter.count(); ++i) {
        const QRect frame = splitter.widget(i)->geometry();
        KZSplitViewPaneSetting setting;
        setting.x = frame.x();
        setting.y = frame.y();
        setting.width = frame.width();
        setting.height = frame.height();
        setting.collapsed = collapsed(i);
        setting.otherCollapsed = splitter.count() == 2 && collapsed(1 - i);
        strings << setting.toString();
    }
    return strings;
}

void savePositionsWithKey(const QSplitter& splitter, const QString& key)
{
    platform::UserDefaults::standard().setValue(key, positionStrings(splitter));
}

} // namespace KZSplitViewExtensions
