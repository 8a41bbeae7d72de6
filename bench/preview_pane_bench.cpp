// What the preview pane costs: one selected row until its card shows with
// its picture, and Select All on 10,000 rows of real pictures, with the
// longest time the GUI thread is held in one go. Run it under the offscreen
// platform (QT_QPA_PLATFORM=offscreen).
#include "engine/KZSearchItemInfo.h"
#include "engine/TreeToCheck.h"
#include "platform/OperationQueue.h"
#include "platform/UserDefaults.h"
#include "result/model/KZFoundItem.h"
#include "result/window/ui/KZFoundItemPreviewCntrl.h"
#include "result/window/ui/KZFoundItemsModel.h"
#include "result/window/ui/KZFoundItemsOutlineView.h"
#include "result/window/ui/KZPreview.h"
#include "result/window/ui/KZPreviewLoader.h"
#include "result/window/ui/KZResultOutlineCntrl.h"
#include "settings/KZDefaultsKeys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 10000;
constexpr int kPictures = 200;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// The longest single turn of the event loop: wall time, and the GUI
// thread's own processor time in that turn (the machine may be busy).
double longestCpu = 0;

// Runs the event loop until `done` or the deadline, and answers the longest
// single turn of it.
double runUntil(const std::function<bool()>& done, int deadlineMs)
{
    double longest = 0;
    longestCpu = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done() && Clock::now() < end) {
        const auto start = Clock::now();
        const double cpu = threadCpuMs();
        QCoreApplication::processEvents();
        longest = std::max(longest, ms(Clock::now() - start));
        longestCpu = std::max(longestCpu, threadCpuMs() - cpu);
        if (done())
            break;
        // Gives the readers a moment without spinning.
        QThread::msleep(1);
    }
    return longest;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    QTemporaryDir folder;
    // Pictures of a camera's shape, shared by the rows in turn.
    std::vector<std::filesystem::path> pictures;
    for (int i = 0; i < kPictures; ++i) {
        QImage image(1200, 800, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 160, 220));
        const QString path = folder.filePath(QStringLiteral("picture-%1.png").arg(i));
        image.save(path);
        pictures.push_back(path.toStdString());
    }
    KZFoundItemArray items;
    for (int i = 0; i < kRows; ++i) {
        auto record = KZSearchItemInfo::create(pictures[size_t(i % kPictures)]);
        record->setFileTypeLabel(3);
        record->setDevice(1);
        record->setInode(quint64(i) + 1);
        TreeToCheck node(record);
        node.groupID = quint64(i / 2 + 1);
        items.append(KZFoundItem::itemWithTreeNode(node));
    }
    platform::UserDefaults::standard().setValue(KZDefaultsKey::list_splitView_is_vertical, true);

    std::unique_ptr<KZFoundItemPreviewCntrl> pane;
    KZResultOutlineCntrl::Settings settings;
    settings.tabTag = 3;
    settings.showPreviewItems = [&pane](const KZPreviewItems& shown) { pane->showPreviewWithArray(shown); };
    KZResultOutlineCntrl outline(settings);
    outline.view()->resize(900, 700);
    outline.view()->show();
    KZFoundItemPreviewCntrl::Settings paneSettings;
    paneSettings.isTabOnScreen = [] { return true; };
    pane = std::make_unique<KZFoundItemPreviewCntrl>(paneSettings);
    pane->view()->resize(420, 700);
    pane->view()->show();
    KZListHandOff data;
    data.currSelectedTag = 3;
    data.currArray = KZShownList::flat(items);
    outline.showNewData(data);
    QCoreApplication::processEvents();

    KZFoundItemsOutlineView* view = outline.foundListView();
    // One row: until its card shows its picture; the first time (cold) and
    // another row after it.
    auto start = Clock::now();
    for (const int row : {3, 8}) {
        start = Clock::now();
        view->selectionModel()->select(outline.foundModel()->index(row, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        double cardMs = -1;
        const double oneHold = runUntil(
            [&] {
                const QList<KZPreview*> cards = pane->cards();
                if (cardMs < 0 && cards.size() == 1 && cards.first()->previewItem()->item() == items[row])
                    cardMs = ms(Clock::now() - start);
                return cardMs >= 0 && !cards.first()->image().isNull();
            },
            5000);
        std::printf("one row (%s): card after %.1f ms, its picture after %.1f ms, longest hold %.1f ms (%.1f ms of CPU)\n",
                    row == 3 ? "first" : "again", cardMs, ms(Clock::now() - start), oneHold, longestCpu);
    }

    // Select All.
    const int decodedBefore = KZPreviewLoader::decodedCount();
    start = Clock::now();
    view->selectAll();
    const double selectMs = ms(Clock::now() - start);
    const double allHold = runUntil(
        [&] {
            if (pane->itemsCollection().size() != kRows)
                return false;
            for (KZPreview* card : pane->cards())
                if (card->image().isNull())
                    return false;
            return true;
        },
        20000);
    std::printf("select all %d rows: the selection call %.1f ms, then the longest hold %.1f ms (%.1f ms of CPU); all shown"
                " after %.1f ms; %d cards built of %d, %d pictures decoded\n",
                kRows, selectMs, allHold, longestCpu, ms(Clock::now() - start), pane->liveCardCount(),
                int(pane->itemsCollection().size()), KZPreviewLoader::decodedCount() - decodedBefore);
    // Where the selection call's time goes.
    start = Clock::now();
    const auto info = view->selectionInfo();
    const double infoMs = ms(Clock::now() - start);
    start = Clock::now();
    const KZPreviewItems previews = view->previewItemsForSelection();
    const double previewsMs = ms(Clock::now() - start);
    start = Clock::now();
    const QList<KZListRow> rows = view->selectedRows();
    const double rowsMs = ms(Clock::now() - start);
    std::printf("  of which: the selection counts %.1f ms (%d items), the preview items %.1f ms (%d), the rows %.1f ms\n",
                infoMs, info.itemsCount, previewsMs, int(previews.size()), rowsMs);
    return 0;
}
