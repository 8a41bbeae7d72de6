#include "resultfiles/KZExportResult.h"
#include "resultfiles/KZSaveResult.h"

#include "platform/Bookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "result/model/KZListNotifications.h"
#include "result/model/ModelTestSupport.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSourceItem.h"
#include "support/HeldDisk.h"
#include "ManualClock.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using modeltest::ItemShape;

namespace {

struct RecordingPresenter : KZAlertPresenter {
    QStringList texts;
    Answer runModal(const Alert& alert) override
    {
        texts.append(alert.messageText + u'\n' + alert.informativeText);
        return Answer{FirstButton, false, false};
    }
    void beginSheet(const Alert& alert) override { runModal(alert); }
};

struct RecordingDisplay : KZResultFileProgressDisplay {
    int shown = 0;
    int updated = 0;
    int closed = 0;
    void showProgress() override { ++shown; }
    void updateProgress(quint64, quint64, const QString&) override { ++updated; }
    void closeProgress() override { ++closed; }
};

platform::AtomicFileWriter::WriteFunction fullAfter(size_t budget)
{
    return [budget](int fd, const void* data, size_t size) mutable -> ssize_t {
        if (budget == 0) {
            errno = ENOSPC;
            return -1;
        }
        const size_t n = std::min(size, budget);
        budget -= n;
        return ::write(fd, data, n);
    };
}

class ResultFileJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZErrorDelegate::sharedControl().setPresenter(presenter_);
        for (const QString& name : {KZNotification::savingDidFinish, KZNotification::exportingDidFinish}) {
            subscriptions_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, platform::NotificationObject(static_cast<const void*>(&sender_)),
                [this](const platform::Notification&) { ++finished_; }));
        }
        a_ = dir_.write("docs/a.txt", "same content");
        b_ = dir_.write("docs/b.txt", "same content");
        c_ = dir_.write("docs/c.txt", "other");
        d_ = dir_.write("docs/d.txt", "other");
        items_ = modeltest::makeItems({{a_, 1, -1, 0, 0, {}, false},
                                       {b_, 1, -1, 0, 0, {}, true},
                                       {c_, 2, -1, 0, 0, {}, true},
                                       {d_, 2, -1, 0, 0, {}, false}});
    }
    void TearDown() override { KZErrorDelegate::sharedControl().setPresenter(nullptr); }

    template <typename Job>
    void prepare(const std::shared_ptr<Job>& job)
    {
        job->setSender(&sender_);
        job->setDrivesOwnClock(false);
        job->setDisplay(display_);
    }

    // Waits for the work, then lets the clock notice and the GUI thread act.
    void runToEnd(KZResultFileJob& job)
    {
        ASSERT_TRUE(kztest::waitUntil([&job] { return !job.isWorking(); }));
        EXPECT_TRUE(job.tick());
        QCoreApplication::processEvents();
        EXPECT_TRUE(job.didFinish());
    }

    // Saves `saved` to `file` with a saver of its own and waits for the end.
    void saveToEnd(const KZSaveSnapshot& saved, const fs::path& file)
    {
        auto saver = KZSaveResult::create();
        prepare(saver);
        saver->saveSnapshot(saved, file);
        runToEnd(*saver);
    }

    KZSaveSnapshot snapshot() const
    {
        KZSaveSnapshot s;
        s.items = items_;
        s.genericInfo.foundItemsCount = 4;
        s.genericInfo.showResultByGroup = true;
        return s;
    }

    kztest::TempDir dir_;
    fs::path a_, b_, c_, d_;
    KZFoundItemArray items_;
    int sender_ = 0;
    int finished_ = 0;
    kztest::ScopedManualClock clock_;
    std::shared_ptr<RecordingPresenter> presenter_ = std::make_shared<RecordingPresenter>();
    std::shared_ptr<RecordingDisplay> display_ = std::make_shared<RecordingDisplay>();
    std::vector<platform::Subscription> subscriptions_;
};

TEST_F(ResultFileJobTest, ASaveReadsBackWithTheSameItemsGroupsAndMarksAndFinishesOnce)
{
    const fs::path file = dir_ / "result.maravex";
    saveToEnd(snapshot(), file);
    EXPECT_EQ(finished_, 1);
    EXPECT_TRUE(presenter_->texts.isEmpty());
    EXPECT_EQ(display_->shown, 0); // ended long before 0.7 s

    QString error;
    const auto back = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)), &error);
    ASSERT_TRUE(back.has_value()) << error.toStdString();
    ASSERT_EQ(back->items.size(), 4u);
    const std::vector<std::pair<qint64, bool>> expected{{1, false}, {1, true}, {2, true}, {2, false}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(back->items[i].groupId, expected[i].first);
        EXPECT_EQ(back->items[i].isMarked, expected[i].second);
        EXPECT_EQ(back->items[i].countOfItemsInGroup, 2u);
        const auto resolved = platform::resolveBookmark(back->items[i].alias);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(resolved->path, items_[qsizetype(i)]->url());
    }
    EXPECT_EQ(back->items[0].size, 12u);
    EXPECT_TRUE(back->items[0].dateModified.has_value());
    EXPECT_EQ(back->genericInfo.foundItemsCount, 4u);
}

TEST_F(ResultFileJobTest, AQuickSaveShowsNoProgressAndASlowOneShowsItAfterTheDelay)
{
    for (const double elapsed : {0.69, 0.7}) {
        *display_ = RecordingDisplay();
        finished_ = 0;
        kztest::HeldDisk disk;
        auto saver = KZSaveResult::create();
        prepare(saver);
        saver->setWriteFunction(disk.function());
        const double start = clock_->now();
        saver->saveSnapshot(snapshot(), dir_ / "slow.maravex");
        ASSERT_TRUE(kztest::waitUntil([&disk] { return disk.entered.load(); }));
        clock_->advance(start + elapsed - clock_->now());
        EXPECT_FALSE(saver->tick());
        QCoreApplication::processEvents();
        EXPECT_EQ(display_->shown, elapsed >= 0.7 ? 1 : 0) << elapsed;
        EXPECT_EQ(finished_, 0); // still writing
        disk.release();
        runToEnd(*saver);
        EXPECT_EQ(display_->shown, elapsed >= 0.7 ? 1 : 0);
        EXPECT_EQ(display_->closed, elapsed >= 0.7 ? 1 : 0);
        EXPECT_EQ(finished_, 1);
    }
}

TEST_F(ResultFileJobTest, CancelAndStopEachFinishOnceAndLeaveTheOldFile)
{
    const fs::path file = dir_.write("old.maravex", "the user's old file");

    bool asked = false;
    auto cancelled = KZSaveResult::create([&asked](const QVariantMap&, auto answer) {
        asked = true;
        answer(std::nullopt);
    });
    cancelled->saveItemsWithDict({});
    EXPECT_TRUE(asked);
    EXPECT_TRUE(cancelled->didFinish());
    EXPECT_FALSE(cancelled->isWorking());

    cancelled = KZSaveResult::create();
    prepare(cancelled);
    cancelled->finishWithoutWork();
    cancelled->finishWithoutWork();
    EXPECT_EQ(finished_, 1);

    auto stopped = KZSaveResult::create();
    prepare(stopped);
    stopped->stop();
    stopped->saveSnapshot(snapshot(), file);
    runToEnd(*stopped);
    EXPECT_EQ(finished_, 2);
    EXPECT_EQ(kztest::readFile(file), "the user's old file");
    EXPECT_TRUE(presenter_->texts.isEmpty()); // a stop is no failure
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2); // docs, old file
}

TEST_F(ResultFileJobTest, FailuresKeepTheOldFileAndAreToldWithThePathAndReason)
{
    const fs::path file = dir_.write("old.maravex", "the user's old file");
    auto full = KZSaveResult::create();
    prepare(full);
    full->setWriteFunction(fullAfter(10));
    full->saveSnapshot(snapshot(), file);
    runToEnd(*full);
    EXPECT_EQ(finished_, 1);
    EXPECT_EQ(kztest::readFile(file), "the user's old file");
    ASSERT_EQ(presenter_->texts.size(), 1);
    EXPECT_TRUE(presenter_->texts[0].contains(QStringLiteral("old.maravex"))) << presenter_->texts[0].toStdString();
    EXPECT_TRUE(presenter_->texts[0].contains(QStringLiteral("No space left on device")));

    // A large result goes to the file as it is made: a disk that fills
    // after several pieces keeps the old file just the same.
    std::vector<modeltest::ItemShape> shapes;
    for (int i = 0; i < 5000; ++i)
        shapes.push_back({dir_.write("many/file-" + std::to_string(i), "same"), qint64(i / 2 + 1)});
    KZSaveSnapshot large;
    large.items = modeltest::makeItems(shapes);
    auto fullLate = KZSaveResult::create();
    prepare(fullLate);
    fullLate->setWriteFunction(fullAfter(size_t(3) << 20 >> 1));
    fullLate->saveSnapshot(large, file);
    runToEnd(*fullLate);
    EXPECT_EQ(kztest::readFile(file), "the user's old file");
    ASSERT_EQ(presenter_->texts.size(), 2);
    EXPECT_TRUE(presenter_->texts[1].contains(QStringLiteral("No space left on device")));
    presenter_->texts.removeLast();
    finished_ = 1;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 3); // docs, old file, many

    // Nothing left to reference: told, not silently skipped.
    KZSaveSnapshot gone;
    gone.items = modeltest::makeItems({{{}, 1}, {{}, 1}});
    saveToEnd(gone, file);
    EXPECT_EQ(finished_, 2);
    ASSERT_EQ(presenter_->texts.size(), 2);
    EXPECT_TRUE(presenter_->texts[1].contains(QStringLiteral("none of the found items")));

    if (::geteuid() != 0) {
        const fs::path locked = dir_.mkdir("locked");
        const fs::path inside = dir_.write("locked/r.maravex", "old");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        saveToEnd(snapshot(), inside);
        fs::permissions(locked, fs::perms::owner_all);
        EXPECT_EQ(finished_, 3);
        EXPECT_EQ(kztest::readFile(inside), "old");
        ASSERT_EQ(presenter_->texts.size(), 3);
        EXPECT_TRUE(presenter_->texts[2].contains(QStringLiteral("Permission denied")));
    }
}

TEST_F(ResultFileJobTest, AResultOfOnlyEmptyFoldersIsRefusedWithThatReasonBeforeThePanel)
{
    const fs::path file = dir_.write("old.maravex", "the user's old file");
    const KZFoundItemArray folders = modeltest::makeItems(
        {{dir_.mkdir("empty-1"), 0, 0, 3, 0, {}, false, true}, {dir_.mkdir("empty-2"), 0, 0, 3, 0, {}, false, true}});
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    model->setAllEmptyFolders(folders);

    bool asked = false;
    auto saver = KZSaveResult::create([&asked](const QVariantMap&, auto answer) {
        asked = true;
        answer(std::nullopt);
    });
    prepare(saver);
    saver->saveItemsWithDict({{QStringLiteral("foundItemsCntrl"), QVariant::fromValue(model)}});
    EXPECT_FALSE(asked) << "refused before a place is asked";
    EXPECT_TRUE(saver->didFinish());
    ASSERT_EQ(presenter_->texts.size(), 1);
    EXPECT_TRUE(presenter_->texts[0].contains(QStringLiteral("only empty folders"))) << presenter_->texts[0].toStdString();

    // Saved without the window (a snapshot), the reason is the same, and the
    // old file stays.
    KZSaveSnapshot onlyFolders;
    onlyFolders.emptyFolders = folders;
    saveToEnd(onlyFolders, file);
    EXPECT_EQ(finished_, 1);
    ASSERT_EQ(presenter_->texts.size(), 2);
    EXPECT_TRUE(presenter_->texts[1].contains(QStringLiteral("only empty folders"))) << presenter_->texts[1].toStdString();
    EXPECT_FALSE(presenter_->texts[1].contains(QStringLiteral("can be found any more")));
    EXPECT_EQ(kztest::readFile(file), "the user's old file");
}

// Every refusal of a save reads its text from the string tables, so that a
// translation reaches it like any other message.
TEST_F(ResultFileJobTest, SaveRefusalsComeFromTheStringTables)
{
    kztest::TempDir resources;
    resources.write("strings/en/Errors.json", R"({
        "result_not_saved": "Nicht gesichert. %@",
        "save_only_empty_folders": "Nur leere Ordner.",
        "save_nothing_saved": "Nichts in „%@“ gesichert. %@",
        "save_items_gone": "Nichts in „%@“ gesichert: alles fort.",
        "save_no_duplicates": "Nichts in „%@“ gesichert: keine Duplikate."
    })");
    platform::setResourceDirectory(resources.path());
    platform::resetStringTables();
    struct Restore {
        ~Restore()
        {
            platform::setResourceDirectory({});
            platform::resetStringTables();
        }
    } restore;

    const fs::path file = dir_ / "r.maravex";
    const KZFoundItemArray folders = modeltest::makeItems({{dir_.mkdir("empty-1"), 0, 0, 3, 0, {}, false, true}});
    auto model = std::make_shared<KZFoundItemsCntrl>(nullptr, QVariantMap());
    model->setAllEmptyFolders(folders);
    auto saver = KZSaveResult::create([](const QVariantMap&, auto answer) { answer(std::nullopt); });
    prepare(saver);
    saver->saveItemsWithDict({{QStringLiteral("foundItemsCntrl"), QVariant::fromValue(model)}});
    ASSERT_EQ(presenter_->texts.size(), 1);
    EXPECT_EQ(presenter_->texts[0], QStringLiteral("Nicht gesichert. Nur leere Ordner.\n"));

    KZSaveSnapshot onlyFolders;
    onlyFolders.emptyFolders = folders;
    saveToEnd(onlyFolders, file);
    ASSERT_EQ(presenter_->texts.size(), 2);
    EXPECT_EQ(presenter_->texts[1],
              QStringLiteral("Nicht gesichert. Nichts in „%1“ gesichert. Nur leere Ordner.\n").arg(platform::pathText(file)));

    KZSaveSnapshot gone;
    gone.items = modeltest::makeItems({{{}, 1}, {{}, 1}});
    saveToEnd(gone, file);
    ASSERT_EQ(presenter_->texts.size(), 3);
    EXPECT_TRUE(presenter_->texts[2].contains(QStringLiteral("alles fort"))) << presenter_->texts[2].toStdString();

    QString error;
    EXPECT_FALSE(KZSaveResult::saveSearchResult({}, {}, {}, file, &error));
    EXPECT_EQ(error, QStringLiteral("Nichts in „%1“ gesichert: keine Duplikate.").arg(platform::pathText(file)));
    EXPECT_FALSE(fs::exists(file));
}

KZExportTextWriter::Texts plainTexts()
{
    KZExportTextWriter::Texts t;
    t.groupIDColumn = QStringLiteral("Group");
    t.pathColumn = QStringLiteral("Folder");
    t.exportedCount = QStringLiteral("Items:");
    t.exportedSize = QStringLiteral("Size:");
    return t;
}

TEST_F(ResultFileJobTest, AStoppedExportKeepsItsRowsAndAMissingItemKeepsItsFolder)
{
    KZExportResult::Snapshot snapshot;
    snapshot.items = items_;
    snapshot.items.append(modeltest::makeItem({{}, 3}));
    snapshot.document.title = QStringLiteral("list");
    snapshot.document.columns = {{QStringLiteral("name_col"), QStringLiteral("Name"), false}};

    const fs::path file = dir_ / "list.txt";
    auto exporter = KZExportResult::create({}, plainTexts());
    prepare(exporter);
    exporter->exportSnapshot(snapshot, file);
    runToEnd(*exporter);
    EXPECT_EQ(finished_, 1);
    const std::string folder = (dir_ / "docs").string();
    EXPECT_EQ(kztest::readFile(file), "list\nGroup\tName\tFolder\t\n"
                                      "1\ta.txt\t" + folder + "/\t\n"
                                      "1\tb.txt\t" + folder + "/\t\n"
                                      "2\tc.txt\t" + folder + "/\t\n"
                                      "2\td.txt\t" + folder + "/\t\n"
                                      "3\t" + snapshot.items.back()->recordedURL().filename().string()
                                      + "\t/nonexistent/model/\t\n"
                                        "Items: 5\nSize: 34\n");

    auto stopped = KZExportResult::create({}, plainTexts());
    prepare(stopped);
    stopped->stop();
    stopped->exportSnapshot(snapshot, file);
    runToEnd(*stopped);
    EXPECT_EQ(finished_, 2);
    EXPECT_EQ(kztest::readFile(file), "list\nGroup\tName\tFolder\t\n1\ta.txt\t" + folder + "/\t\nItems: 1\nSize: 12\n");
    EXPECT_TRUE(presenter_->texts.isEmpty());
}

// A folder or file whose name is not UTF-8 is written as its bytes, in the
// sources legend and in the rows, so that the exported path still names it.
TEST_F(ResultFileJobTest, AnExportedPathKeepsTheBytesOfANameThatIsNotUtf8)
{
    const std::string odd = "caf\xE9-\xFF";
    const fs::path x = dir_.write(odd + "/x.txt", "same bytes");
    const fs::path y = dir_.write(odd + "/y.txt", "same bytes");
    const fs::path z = dir_.write(odd + "/z\xE9\x01.txt", "same bytes");
    const std::vector<KZSourceItemRef> sources{
        KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(dir_ / odd)}}),
        KZSourceItem::create({{QStringLiteral("url"), QVariant::fromValue(dir_ / "docs")}})};
    const QVariantMap request{
        {QStringLiteral("name"), QStringLiteral("All")},
        {QStringLiteral("items"), QVariant::fromValue(modeltest::makeItems({{x, 1, -1, 0, 0, {}, false},
                                                                             {y, 1, -1, 0, 0, {}, true},
                                                                             {z, 1, -1, 0, 0, {}, true}}))},
        {QStringLiteral("sources"), QVariant::fromValue(sources)},
        {QStringLiteral("columns"), QVariantList{QVariantMap{{QStringLiteral("identifier"), QStringLiteral("name_col")},
                                                             {QStringLiteral("title"), QStringLiteral("Name")}}}}};
    const fs::path file = dir_ / "list.txt";
    auto exporter = KZExportResult::create({}, plainTexts());
    prepare(exporter);
    exporter->exportSnapshot(KZExportResult::Snapshot::fromRequest(request, {file, false}), file);
    runToEnd(*exporter);
    const std::string folder = (dir_ / odd).native();
    const std::string text = kztest::readFile(file);
    EXPECT_NE(text.find(": " + folder + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tx.txt\t" + folder + "/\t\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ty.txt\t" + folder + "/\t\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tz\xE9?.txt\t" + folder + "/\t\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << "no replacement character";
}

TEST_F(ResultFileJobTest, AFailingExportKeepsTheOldFileAndIsTold)
{
    const fs::path file = dir_.write("list.txt", "old list");
    KZExportResult::Snapshot snapshot;
    snapshot.items = items_;
    snapshot.document.title = QStringLiteral("list");
    auto exporter = KZExportResult::create({}, plainTexts());
    prepare(exporter);
    exporter->setWriteFunction(fullAfter(20));
    exporter->exportSnapshot(snapshot, file);
    runToEnd(*exporter);
    EXPECT_EQ(finished_, 1);
    EXPECT_EQ(kztest::readFile(file), "old list");
    ASSERT_EQ(presenter_->texts.size(), 1);
    EXPECT_TRUE(presenter_->texts[0].contains(QStringLiteral("list.txt")));
    EXPECT_TRUE(presenter_->texts[0].contains(QStringLiteral("No space left on device")));
}

// A pipe (or a device) chosen as the place to save or export to is left what
// it is, and the user reads why nothing was written.
TEST_F(ResultFileJobTest, SaveAndExportOntoAPipeLeaveItAndAreTold)
{
    const fs::path pipe = dir_ / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    saveToEnd(snapshot(), pipe);

    KZExportResult::Snapshot listed;
    listed.items = items_;
    listed.document.title = QStringLiteral("list");
    auto exporter = KZExportResult::create({}, plainTexts());
    prepare(exporter);
    exporter->exportSnapshot(listed, pipe);
    runToEnd(*exporter);

    EXPECT_EQ(finished_, 2);
    EXPECT_EQ(fs::symlink_status(pipe).type(), fs::file_type::fifo);
    ASSERT_EQ(presenter_->texts.size(), 2);
    for (const QString& text : presenter_->texts) {
        EXPECT_TRUE(text.contains(QString::fromStdString(pipe.native()))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("not a regular file"))) << text.toStdString();
    }
}

} // namespace

// An item that can no longer be recorded is left out of the file, and the
// user is told how many were, so that the file does not pass for the whole
// result.
TEST_F(ResultFileJobTest, ASaveThatLeavesOutItemsSaysHowMany)
{
    const fs::path file = dir_ / "result.maravex";
    fs::remove(c_);
    fs::remove(d_);
    saveToEnd(snapshot(), file);
    EXPECT_EQ(finished_, 1);
    ASSERT_EQ(presenter_->texts.size(), 1);
    EXPECT_TRUE(presenter_->texts[0].startsWith(QStringLiteral("The result was saved without 2 of its items")))
        << presenter_->texts[0].toStdString();
    QString error;
    const auto back = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)), &error);
    ASSERT_TRUE(back.has_value()) << error.toStdString();
    EXPECT_EQ(back->items.size(), 2u);

    // The tools' save says it in words too.
    quint64 leftOut = 0;
    const fs::path other = dir_ / "tool.maravex";
    ASSERT_TRUE(KZSaveResult::saveSearchResult(items_, {}, {}, other, &error, &leftOut)) << error.toStdString();
    EXPECT_EQ(leftOut, 2u);
    EXPECT_TRUE(KZSaveResult::leftOutText(leftOut).startsWith(QStringLiteral("The result was saved without 2 of its items")));
    EXPECT_TRUE(KZSaveResult::leftOutText(0).isEmpty());
}
