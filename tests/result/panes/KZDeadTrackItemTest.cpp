#include "result/panes/KZDeadTrackItem.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(DeadTrackItem, ReadsTheReadersAndTheSavedFilesDictionaries)
{
    const KZDeadTrackItem found({{u"songName"_qs, u"Song"_qs},
                                 {u"album"_qs, u"Album"_qs},
                                 {u"artist"_qs, u"Artist"_qs},
                                 {u"trackID"_qs, u"00AB12"_qs},
                                 {u"url"_qs, QUrl::fromLocalFile(u"/m/a b.mp3"_qs)}});
    EXPECT_EQ(found.songName(), u"Song");
    EXPECT_EQ(found.trackID(), u"00ab12");
    EXPECT_EQ(found.path(), u"/m/a b.mp3");
    EXPECT_TRUE(found.isMarked()); // after a search every track starts marked

    const KZDeadTrackItem saved({{u"trackID"_qs, u"ff"_qs}, {u"path"_qs, u"/m/c.mp3"_qs},
                                 {u"url"_qs, QUrl(u"file:///elsewhere"_qs)}, {u"isMarked"_qs, false}});
    EXPECT_EQ(saved.path(), u"/m/c.mp3");
    EXPECT_FALSE(saved.isMarked());

    // The search's own record holds the file as a path, bytes and all.
    const KZDeadTrackItem searched({{u"trackID"_qs, u"1f02"_qs},
                                    {u"url"_qs, QVariant::fromValue(std::filesystem::path("/m/Caf\xc3\xa9 d.mp3"))}});
    EXPECT_EQ(searched.path(), u"/m/Caf\u00e9 d.mp3"_qs);
    EXPECT_EQ(searched.savedDictionary().value(u"path"_qs).toString(), u"/m/Caf\u00e9 d.mp3"_qs);

    const KZDeadTrackItem remote({{u"url"_qs, QUrl(u"http://example.com/a.mp3"_qs)}});
    EXPECT_TRUE(remote.path().isEmpty());
}

TEST(DeadTrackItem, AnIdentifierThatCouldNotReachAScriptSafelyIsDropped)
{
    for (const QString& id : {u"ff\" & quit"_qs, u"0123456789abcdef0"_qs, u"12 34"_qs, QString()})
        EXPECT_TRUE(KZDeadTrackItem({{u"trackID"_qs, id}}).trackID().isEmpty()) << id.toStdString();
}

TEST(DeadTrackItem, OnlyMarkedTracksWithAnIdentifierAreSentAndRemovedInOrder)
{
    std::vector<KZDeadTrackItemRef> deads;
    for (const QString& id : {u"a1"_qs, u"b2"_qs, u"bad id"_qs, u"d4"_qs, u"e5"_qs})
        deads.push_back(std::make_shared<KZDeadTrackItem>(QVariantMap{{u"trackID"_qs, id}, {u"songName"_qs, id}}));
    deads[1]->setIsMarked(false);
    const KZDeadTracksToRemove removal = KZMarkedDeadTracks(deads);
    EXPECT_EQ(removal.trackIDs, u"a1\nd4\ne5");
    EXPECT_EQ(removal.indexes, (std::vector<std::size_t>{0, 3, 4}));
    KZRemoveDeadTracks(deads, removal.indexes);
    ASSERT_EQ(deads.size(), 2u);
    EXPECT_EQ(deads[0]->songName(), u"b2");
    EXPECT_EQ(deads[1]->songName(), u"bad id");
}
