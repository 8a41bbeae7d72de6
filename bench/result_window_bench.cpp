// What the result window's list costs with a 100,000-item result: showing
// the list in its outline (grouped and flat), repainting while scrolling
// from top to bottom, and opening every group. Run it under the offscreen
// platform (QT_QPA_PLATFORM=offscreen), where painting is done in software.
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"
#include "platform/OperationQueue.h"
#include "result/model/KZFoundItem.h"
#include "result/model/KZFoundItemGroup.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "services/KZDateUtilities.h"

#include <QApplication>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kItems = 100000;
constexpr int kMembersPerGroup = 2;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

QList<KZFoundItemGroupRef> makeGroups()
{
    QList<KZFoundItemGroupRef> groups;
    KZItemsInGroup counter;
    KZFoundItemGroupRef group;
    for (int i = 0; i < kItems; ++i) {
        const int id = i / kMembersPerGroup + 1;
        if (i % kMembersPerGroup == 0) {
            counter = std::make_shared<std::atomic<quint32>>(kMembersPerGroup);
            group = KZFoundItemGroup::itemGroup();
            group->setGroupID(id);
            group->setName(QStringLiteral("file-%1.dat").arg(id));
            groups.append(group);
        }
        auto record = KZSearchItemInfo::create(std::filesystem::path("/nonexistent/bench") / std::to_string(i) /
                                               ("file-" + std::to_string(id) + ".dat"));
        record->setLabel(static_cast<qint16>(i % 2));
        record->setTotSize(1000 + static_cast<quint64>(id % 977));
        record->setFileTypeLabel(3);
        record->setDevice(1);
        record->setInode(static_cast<quint64>(i) + 1);
        timespec time{};
        time.tv_sec = KZDateUtilities::referenceDateEpochSeconds + (i * 7919) % 100000;
        record->setModificationTime(time);
        TreeToCheck node(record);
        node.groupID = static_cast<quint64>(id);
        node.itemsInGroup = counter;
        group->items().append(KZFoundItem::itemWithTreeNode(node));
    }
    return groups;
}

// Scrolls from top to bottom a page at a time, painting each step at once;
// answers the mean and the worst frame.
std::pair<double, double> scrollThrough(KZFoundItemsOutlineView* view)
{
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(0);
    QApplication::processEvents();
    std::vector<double> frames;
    const int step = std::max(1, view->viewport()->height() / 4);
    for (int value = 0; value <= bar->maximum(); value += step) {
        const auto start = Clock::now();
        bar->setValue(value);
        QApplication::processEvents();
        view->viewport()->repaint();
        frames.push_back(ms(Clock::now() - start));
        if (frames.size() >= 3000)
            break;
    }
    double sum = 0;
    for (double f : frames)
        sum += f;
    return {sum / double(frames.size()), *std::max_element(frames.begin(), frames.end())};
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    const auto made = Clock::now();
    const QList<KZFoundItemGroupRef> groups = makeGroups();
    std::printf("made %d items in %lld groups: %.0f ms\n", kItems, static_cast<long long>(groups.size()),
                ms(Clock::now() - made));

    for (const bool grouped : {true, false}) {
        KZResultOutlineCntrl::Settings settings;
        settings.tabTag = 3;
        settings.locationsCount = 2;
        KZResultOutlineCntrl outline(std::move(settings));
        outline.view()->resize(1100, 640);
        outline.view()->show();
        outline.setupShowByGroup(grouped);
        QApplication::processEvents();

        KZListHandOff data;
        data.currSelectedTag = 3;
        if (grouped) {
            auto root = KZFoundItemGroup::itemGroup();
            root->setGroups(groups);
            data.currArray = KZShownList::grouped(root);
        } else {
            KZFoundItemArray items;
            items.reserve(kItems);
            for (const auto& group : groups)
                items.append(group->items());
            data.currArray = KZShownList::flat(items);
        }
        const auto shown = Clock::now();
        outline.showNewData(data);
        outline.view()->repaint();
        QApplication::processEvents();
        std::printf("%s: list shown and painted in %.1f ms\n", grouped ? "grouped" : "flat", ms(Clock::now() - shown));

        auto [mean, worst] = scrollThrough(outline.foundListView());
        std::printf("%s: scrolling top to bottom, %.2f ms a frame on average, %.2f ms at worst (%.0f fps)\n",
                    grouped ? "grouped" : "flat", mean, worst, 1000.0 / mean);
        if (grouped) {
            const auto expand = Clock::now();
            outline.expandAllGroups(true);
            outline.view()->repaint();
            QApplication::processEvents();
            std::printf("grouped: expanding all %lld groups in %.1f ms\n", static_cast<long long>(groups.size()),
                        ms(Clock::now() - expand));
            std::tie(mean, worst) = scrollThrough(outline.foundListView());
            std::printf("grouped, all open: scrolling %.2f ms a frame on average, %.2f ms at worst (%.0f fps)\n", mean,
                        worst, 1000.0 / mean);
        }
    }
    return 0;
}
