// A disk searched, then unplugged and plugged back at its place under
// another device number before the result is saved: the saved result names
// the disk as the search read it, and reopens whole.

#include "engine/EngineTestSupport.h"
#include "removal/RemovalTestSupport.h"
#include "result/model/KZFoundItemsCntrl.h"
#include "resultfiles/KZSaveResult.h"
#include "resultfiles/KZSavedResultFormat.h"
#include "resultfiles/KZSavedResultReopen.h"
#include "support/LoopDisks.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <iostream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Searches `folder` for equal contents; answers what "searchDidTerminate"
// carried, its found list still in it.
QVariantMap searchOf(const fs::path& folder)
{
    auto stuff = KZSearchStuff::searchStuff();
    stuff->setSources({enginetest::folderSource(folder)});
    stuff->setCriteria(enginetest::sizeAndContentCriteria());
    static int sender = 0;
    std::mutex lock;
    std::condition_variable done;
    QVariantMap info;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&sender),
        [&](const platform::Notification& note) {
            std::lock_guard guard(lock);
            if (info.isEmpty())
                info = note.userInfo;
            done.notify_all();
        });
    KZSearchController::create(stuff, &sender, std::make_shared<enginetest::RecordingProgress>())->startToSearch();
    std::unique_lock wait(lock);
    done.wait_for(wait, std::chrono::seconds(120), [&] { return !info.isEmpty(); });
    return info;
}

// Disk A, ext4 on a loop device mounted at mnt with three pairs of copies
// under mnt/src; replug() unplugs it and attaches it again at its place
// under another number while disk B holds its old one. A machine that
// refuses a loop disk ends the process as the case above reads it.
struct ReplugDisk {
    const kztest::TempDir& d;
    const fs::path at = d / "mnt";
    std::string device, holder;
    quint64 deviceThen = 0;

    explicit ReplugDisk(const kztest::TempDir& dir) : d(dir)
    {
        fs::create_directories(at);
        for (const char* image : {"A.img", "B.img"})
            if (!kztest::shell("truncate -s 64M " + (d / image).native())
                || !kztest::shell("mkfs.ext4 -q " + (d / image).native()))
                unavailable();
        device = kztest::shellOutput("losetup -f --show " + (d / "A.img").native());
        if (device.empty() || !kztest::shell("mount " + device + " " + at.native()))
            unavailable();
        for (const char* name : {"one", "two", "three"}) {
            d.write(std::string("mnt/src/") + name + "/kept", std::string("copy of ") + name);
            d.write(std::string("mnt/src/") + name + "/twin", std::string("copy of ") + name);
        }
        deviceThen = quint64(platform::statPath(at, false)->device);
    }
    void letGoOfDevices() const
    {
        if (!device.empty())
            kztest::detachLoopDevice(device, (d / "A.img").native());
        if (!holder.empty())
            kztest::detachLoopDevice(holder, (d / "B.img").native());
    }
    ~ReplugDisk()
    {
        removaltest::unplug(at);
        letGoOfDevices();
    }
    void unavailable() const
    {
        // Past every destructor: what is attached goes first.
        ::umount2(at.c_str(), MNT_DETACH);
        letGoOfDevices();
        std::error_code ec;
        fs::remove_all(d.path(), ec);
        ::_exit(77);
    }
    // False when the disk came back under its own number: the case is left
    // out then.
    bool replug()
    {
        EXPECT_EQ(removaltest::unplug(at), 0);
        EXPECT_TRUE(kztest::detachLoopDevice(device, (d / "A.img").native()));
        if (kztest::shell("losetup " + device + " " + (d / "B.img").native()))
            holder = device;
        device = kztest::shellOutput("losetup -f --show " + (d / "A.img").native());
        if (device.empty() || !kztest::shell("mount " + device + " " + at.native())) {
            ADD_FAILURE() << "the disk could not be attached again";
            return false;
        }
        if (quint64(platform::statPath(at, false)->device) != deviceThen)
            return true;
        std::fprintf(stderr, "the disk came back under its own number here: the case is left out\n");
        return false;
    }
};

} // namespace

// An ext4 disk of three pairs of copies, searched and shown with no row
// drawn (no bookmark made yet); the disk comes back under another number
// while another disk holds its old one; then saved. Every item is found
// on reopening and none is unmarked.
// A search starts threads: the case runs in a process of its own, in a
// mount namespace of its own.
TEST(SavedResultOfAReplug, ADiskBackUnderAnotherNumberBeforeSavingReopensWhole)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    const kztest::Isolated outcome =
        kztest::runTestInFreshProcess("SavedResultOfAReplugInMounts.DISABLED_SearchReplugSave", true);
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "the kernel or the tools refused a loop disk here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}

TEST(SavedResultOfAReplugInMounts, DISABLED_SearchReplugSave)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "run by the case above";
    kztest::TempDir d;
    ReplugDisk disk(d);
    const QVariantMap info = searchOf(disk.at / "src");
    ASSERT_FALSE(info.isEmpty()) << "the search never ended";
    const auto model = KZFoundItemsCntrl::create(nullptr, info);
    KZFoundItemsOperationQueue().waitUntilAllOperationsAreFinished();
    const KZFoundItemArray items = model->allItems();
    ASSERT_EQ(items.size(), 6);
    if (!disk.replug())
        return;

    QString error;
    quint64 leftOut = 0;
    const fs::path file = d / "result.maravex";
    ASSERT_TRUE(KZSaveResult::saveSearchResult(items, info, {enginetest::folderSource(disk.at / "src")}, file, &error,
                                               &leftOut))
        << error.toStdString();
    EXPECT_EQ(leftOut, 0u);
    const auto saved = KZSavedResultFormat::decode(QByteArray::fromStdString(kztest::readFile(file)), &error);
    ASSERT_TRUE(saved) << error.toStdString();
    const KZReopenedResult reopened =
        KZSavedResultReopen::rebuild(*saved, KZSavedResultReopen::resolveSources(saved->sources), {});
    EXPECT_EQ(reopened.itemsCount, 6u);
    EXPECT_TRUE(reopened.notes.isEmpty()) << reopened.notes.text().toStdString();
    int marked = 0;
    for (const ArrayCStyle* cell = reopened.items.head(); cell; cell = cell->next)
        marked += cell->node->item->isSavedMarked();
    EXPECT_EQ(marked, 3);
}

// The same through the tools: maravex-search saves its search of the disk,
// the disk comes back under another number, and maravex-remove takes every
// item of the saved result and removes the marked ones.
// The tools run as root, then as an ordinary user (uid 65534), who reads of
// the disk only what such a user may read.
TEST(SavedResultOfAReplug, TheToolsTakeASavedResultOfADiskBackUnderAnotherNumber)
{
    if (!fs::exists(KZ_SEARCH_TOOL) || !fs::exists(KZ_REMOVE_TOOL))
        GTEST_SKIP() << "the command-line tools are not built";
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount disks";
    for (const bool asUser : {false, true}) {
        SCOPED_TRACE(asUser ? "as an ordinary user" : "as root");
        if (asUser && !kztest::shell("command -v setpriv"))
            GTEST_SKIP() << "no setpriv here to run the tools as another user";
        // A checkout in a folder private to root holds tools the ordinary
        // user cannot start.
        if (asUser
            && !kztest::shell(std::string("setpriv --reuid=65534 --regid=65534 --clear-groups test -x ")
                              + KZ_SEARCH_TOOL + " -a -x " + KZ_REMOVE_TOOL)) {
            std::cout << "(the ordinary user cannot reach the tools here: that part is left out)\n";
            continue;
        }
        const kztest::Isolated outcome = kztest::runTestInFreshProcess(
            "SavedResultOfAReplugInMounts.DISABLED_ToolsAcrossAReplug", true,
            asUser ? std::vector<std::string>{"KZ_TOOLS_AS_USER=65534"} : std::vector<std::string>{});
        if (outcome == kztest::Isolated::Unavailable)
            GTEST_SKIP() << "the kernel or the tools refused a loop disk here";
        EXPECT_EQ(outcome, kztest::Isolated::Passed);
    }
}

TEST(SavedResultOfAReplugInMounts, DISABLED_ToolsAcrossAReplug)
{
    if (!kztest::inFreshProcess())
        GTEST_SKIP() << "run by the case above";
    kztest::TempDir d;
    ReplugDisk disk(d);
    const fs::path at = disk.at;
    // As the ordinary user: the disk, the result's folder and a home folder
    // are that user's, and each tool runs as that user alone.
    const char* user = std::getenv("KZ_TOOLS_AS_USER");
    const auto tool = [&](const char* path, QStringList arguments) {
        if (!user)
            return std::pair<QString, QStringList>(QString::fromUtf8(path), arguments);
        arguments.prepend(QString::fromUtf8(path));
        const QString home = QString::fromStdString((d / "user/home").native());
        for (const char* place : {"XDG_STATE_HOME=/.local/state", "XDG_CACHE_HOME=/.cache",
                                  "XDG_CONFIG_HOME=/.config", "XDG_DATA_HOME=/.local/share", "HOME="}) {
            const QString setting = QString::fromUtf8(place);
            const qsizetype equals = setting.indexOf(u'=') + 1;
            arguments.prepend(setting.left(equals) + home + setting.mid(equals));
        }
        arguments.prepend(QStringLiteral("env"));
        for (const char* option : {"--clear-groups", "--regid=", "--reuid="})
            arguments.prepend(QString::fromUtf8(option) + (option[2] == 'c' ? QString() : QString::fromUtf8(user)));
        return std::pair<QString, QStringList>(QStringLiteral("setpriv"), arguments);
    };
    fs::path file = d / "result.maravex";
    if (user) {
        ASSERT_EQ(::chmod(d.path().c_str(), 0755), 0);
        fs::create_directories(d / "user/home");
        ASSERT_TRUE(kztest::shell("chown -R " + std::string(user) + ":" + user + " " + at.native() + " "
                                  + (d / "user").native()));
        file = d / "user/result.maravex";
    }
    QProcess search;
    const auto searchCall =
        tool(KZ_SEARCH_TOOL, {QStringLiteral("--save"), QString::fromStdString(file.native()),
                              QString::fromStdString((at / "src").native())});
    search.start(searchCall.first, searchCall.second);
    ASSERT_TRUE(search.waitForFinished(60000));
    ASSERT_EQ(search.exitCode(), 0) << search.readAllStandardError().toStdString();

    if (!disk.replug())
        return;
    QProcess remove;
    const auto removeCall = tool(KZ_REMOVE_TOOL, {QStringLiteral("--trash"), QStringLiteral("--saved"),
                                                  QString::fromStdString(file.native())});
    remove.start(removeCall.first, removeCall.second);
    ASSERT_TRUE(remove.waitForFinished(60000));
    const QString report = QString::fromUtf8(remove.readAllStandardError());
    EXPECT_EQ(remove.exitCode(), 0) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("found 6, marked 3, removed 3"))) << report.toStdString();
    for (const char* name : {"one", "two", "three"})
        EXPECT_EQ(fs::exists(at / "src" / name / "kept") + fs::exists(at / "src" / name / "twin"), 1) << name;
}
