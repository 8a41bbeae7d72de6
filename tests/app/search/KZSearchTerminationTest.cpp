#include "app/search/KZSearchTermination.h"

#include "engine/KZResultInfoKeys.h"
#include "platform/StringTable.h"
#include "settings/KZSearchStuff.h"

#include <gtest/gtest.h>

namespace {

TEST(SearchTermination, NoItemsMessageOnlyForAReadPhotoLibrary)
{
    const struct {
        bool photos;
        bool databaseMissing;
        const char* message;
    } cases[] = {{false, false, ""}, {true, false, "no_items_found_photos_mess"}, {true, true, ""}, {false, true, ""}};
    for (const auto& c : cases) {
        const QVariantMap info{{KZResultKey::searchedInPhotos, c.photos},
                               {KZResultKey::photosDatabaseWasNotFound, c.databaseMissing}};
        EXPECT_EQ(KZSearchTermination::noItemsMessage(info), QString::fromUtf8(c.message))
            << c.photos << c.databaseMissing;
    }
}

// "No duplicates" only where something was searched and held none: a
// reopened result with nothing left, or a saved search that could not be
// read, says what really happened.
TEST(SearchTermination, NothingFoundSaysWhyItFoundNothing)
{
    const auto searched = KZSearchTermination::nothingFoundAlert({{KZResultKey::searchedInPhotos, true}});
    EXPECT_EQ(searched.error, QStringLiteral("no_items_found"));
    EXPECT_EQ(searched.message, QStringLiteral("no_items_found_photos_mess"));

    const auto reopened = KZSearchTermination::nothingFoundAlert({{KZResultKey::isRestoreOfSaved, true}});
    EXPECT_EQ(reopened.error, QStringLiteral("result_not_opened"));
    EXPECT_EQ(reopened.names, QStringList{platform::localizedString(QStringLiteral("open_saved_no_items"))});
    EXPECT_FALSE(reopened.names.front().startsWith(QStringLiteral("open_saved"))) << "the text is missing";

    // Items left out rather than gone are named for what they are.
    const QString leftOut = QStringLiteral("2 items lie outside the searched folders and were left out.");
    const auto outside = KZSearchTermination::nothingFoundAlert(
        {{KZResultKey::isRestoreOfSaved, true}, {KZResultKey::reopenLeftOut, leftOut}});
    EXPECT_EQ(outside.error, QStringLiteral("result_not_opened"));
    EXPECT_EQ(outside.names, QStringList{leftOut});

    const QVariantMap skipped{
        {KZResultKey::skippedSources, QStringList{QStringLiteral("“a.savedSearch”: x"), QStringLiteral("“b”: y")}}};
    const auto unread = KZSearchTermination::nothingFoundAlert(skipped);
    EXPECT_EQ(unread.error, QStringLiteral("saved_search_not_searched"));
    EXPECT_EQ(unread.names, QStringList{QStringLiteral("“a.savedSearch”: x; “b”: y")});
    EXPECT_TRUE(KZSearchTermination::skippedSources({}).isEmpty());
}

TEST(SearchTermination, NotificationNamesTheSearchOrTheReopenedResult)
{
    auto request = KZSearchStuff::searchStuff();
    request->setSearchType(KZSearchStuff::duplicateFolders);
    const QVariantMap searched{{KZResultKey::searchStuffItem, QVariant::fromValue(request)},
                               {KZResultKey::checkedItemsCount, 12345},
                               {KZResultKey::foundItemsSize, 2500000}};
    const auto note = KZSearchTermination::userNotification(searched, QStringLiteral("Maravex"));
    EXPECT_EQ(note.title, QStringLiteral("Maravex"));
    EXPECT_TRUE(note.subtitle.contains(platform::localizedString(QStringLiteral("duplicate_folders"))));
    EXPECT_FALSE(note.subtitle.contains(QStringLiteral("%@")));
    EXPECT_FALSE(note.body.contains(QStringLiteral("%@")));
    EXPECT_TRUE(note.body.contains(QStringLiteral("2.5"))) << note.body.toStdString();

    const QVariantMap reopened{{KZResultKey::isRestoreOfSaved, true}};
    const auto again = KZSearchTermination::userNotification(reopened, QStringLiteral("Maravex"));
    EXPECT_TRUE(again.subtitle.isEmpty());
    EXPECT_EQ(again.body, platform::localizedString(QStringLiteral("opening_saved_terminated_description")));
    // Without a subtitle the line has no gap where it would be.
    EXPECT_EQ(KZSearchTermination::oneLine(again), QStringLiteral("Maravex ") + again.body);
    EXPECT_EQ(KZSearchTermination::oneLine(note), note.title + u' ' + note.subtitle + u' ' + note.body);

    // A search that found nothing still ends with its notice; a reopened
    // result that opened nothing has none, missing tracks alone are opened.
    EXPECT_TRUE(KZSearchTermination::hasUserNotification(searched));
    EXPECT_TRUE(KZSearchTermination::hasUserNotification({}));
    EXPECT_FALSE(KZSearchTermination::hasUserNotification(reopened));
    EXPECT_TRUE(KZSearchTermination::hasUserNotification(
        {{KZResultKey::isRestoreOfSaved, true}, {KZResultKey::foundItemsCount, 2}}));
    EXPECT_TRUE(KZSearchTermination::hasUserNotification(
        {{KZResultKey::isRestoreOfSaved, true}, {KZResultKey::foundDeads, QVariantList{QVariantMap()}}}));
}

} // namespace
