// A removal that stops before its end says why in words the user can act
// on, and the stop is kept for whoever reports the run (the tools' status).

#include "RemovalTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace removaltest;

namespace {

QString lastAlert(const Fixture& f)
{
    const auto& calls = f.alerts.presenter->calls;
    return calls.empty() ? QString() : calls.back().alert.messageText;
}

} // namespace

TEST(KZRemoveStop, AMissingDestinationIsNamedAsTheFolderItIs)
{
    Fixture f;
    const auto items = f.items({{"a/x", 1}, {"b/x", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = f.dir / "nowhere";
    auto engine = f.engine({items[0]}, items);
    engine->doMove();
    EXPECT_EQ(engine->tally().done(), 0u);
    ASSERT_EQ(engine->stopReasons().size(), 1);
    const QString reason = engine->stopReasons().front();
    EXPECT_TRUE(reason.contains(QStringLiteral("destination folder"))) << reason.toStdString();
    EXPECT_TRUE(reason.contains(QString::fromStdString((f.dir / "nowhere").string()))) << reason.toStdString();
    EXPECT_FALSE(reason.contains(QStringLiteral("One item could not be found"))) << reason.toStdString();
    EXPECT_TRUE(lastAlert(f).contains(reason));
    EXPECT_TRUE(fs::exists(f.dir / "a/x"));
}

// A file where the folder should be is there to be seen: the user is told
// it is no folder, not sent looking for it, also through a link to it.
TEST(KZRemoveStop, AFileAsTheDestinationIsToldAsNoFolder)
{
    Fixture f;
    const auto items = f.items({{"a/x", 1}, {"b/x", 1}});
    const fs::path file = f.dir.write("target", "T");
    fs::create_symlink(file, f.dir / "link");
    for (const fs::path& destination : {file, f.dir / "link"}) {
        f.panel->isMoveToTrash = false;
        f.panel->urlToMove = destination;
        auto engine = f.engine({items[0]}, items);
        engine->doMove();
        EXPECT_EQ(engine->tally().done(), 0u);
        ASSERT_EQ(engine->stopReasons().size(), 1);
        const QString reason = engine->stopReasons().front();
        EXPECT_TRUE(reason.contains(QStringLiteral("is not a folder"))) << reason.toStdString();
        EXPECT_TRUE(reason.contains(QString::fromStdString(destination.string()))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(QStringLiteral("cannot be found"))) << reason.toStdString();
        EXPECT_TRUE(fs::exists(f.dir / "a/x"));
        EXPECT_EQ(kztest::readFile(file), "T");
    }
}

TEST(KZRemoveStop, AFullDiskIsToldAsAFullDisk)
{
    for (const bool toTrash : {false, true}) {
        Fixture f;
        const auto items = f.items({{"a/x", 1}, {"b/x", 1}});
        f.panel->isMoveToTrash = toTrash;
        f.panel->urlToMove = toTrash ? fs::path() : f.dir.mkdir("dest");
        f.fs->before = [](const std::string& op, const fs::path&) { return op == "move" || op == "trash" ? ENOSPC : 0; };
        auto engine = f.engine({items[0]}, items);
        engine->doMove();
        EXPECT_EQ(engine->tally().done(), 0u);
        ASSERT_EQ(engine->stopReasons().size(), 1) << toTrash;
        const QString reason = engine->stopReasons().front();
        EXPECT_TRUE(reason.startsWith(QStringLiteral("There is no space left on the disk."))) << reason.toStdString();
        EXPECT_TRUE(reason.contains(QString::fromStdString((f.dir / "a/x").string())));
        EXPECT_TRUE(lastAlert(f).contains(reason));
        EXPECT_TRUE(fs::exists(f.dir / "a/x"));
    }

    // Another failure gives the system's own words, and a run that ended
    // normally has no reason.
    Fixture f;
    const auto items = f.items({{"a/x", 1}, {"b/x", 1}});
    f.panel->isMoveToTrash = false;
    f.panel->urlToMove = f.dir.mkdir("dest");
    f.fs->before = [](const std::string& op, const fs::path&) { return op == "move" ? EIO : 0; };
    auto failed = f.engine({items[0]}, items);
    failed->doMove();
    ASSERT_EQ(failed->stopReasons().size(), 1);
    EXPECT_TRUE(failed->stopReasons().front().contains(platform::systemErrorString(EIO)));
    f.fs->before = [](const std::string&, const fs::path&) { return 0; };
    auto fine = f.engine({items[0]}, items);
    fine->doMove();
    EXPECT_EQ(fine->tally().moved, 1u);
    EXPECT_TRUE(fine->stopReasons().isEmpty());
}
