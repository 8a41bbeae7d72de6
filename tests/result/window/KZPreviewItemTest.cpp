#include "../model/ModelTestSupport.h"
#include "platform/StringTable.h"
#include "result/window/KZPreviewFacts.h"
#include "result/window/KZPreviewItem.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace modeltest;
using namespace Qt::StringLiterals;

namespace {

// Facts a metadata reader would give.
class FixedFacts : public KZPreviewFacts {
public:
    KZPreviewImageFacts imageFacts(const KZFoundItemRef&) const override { return image; }
    KZPreviewSongFacts songFacts(const KZFoundItemRef&) const override { return song; }
    KZPreviewImageFacts image;
    KZPreviewSongFacts song;
};

struct FactsScope {
    explicit FactsScope(KZPreviewFacts* facts) { KZPreviewFacts::setShared(facts); }
    ~FactsScope() { KZPreviewFacts::setShared(nullptr); }
};

const QStringList kAll{u"dateTaken"_s, u"dimension"_s, u"camera"_s, u"latitude"_s, u"longitude"_s,
                       u"songName"_s,  u"artist"_s,    u"album"_s,  u"time"_s,     u"bitRate"_s};

} // namespace

TEST(PreviewItem, LinesOfItsOwnKindSayUnknownAndTheOtherKindsAreEmpty)
{
    const QString unknown = platform::localizedString(u"unknown"_s);
    ASSERT_FALSE(unknown.isEmpty());
    const KZFoundItemRef picture = makeItem({.tag = 3});
    KZPreviewItem image(picture);
    EXPECT_TRUE(image.isImage());
    EXPECT_FALSE(image.isSong());
    EXPECT_EQ(image.dateTaken(), unknown);
    EXPECT_EQ(image.dimension(), unknown);
    EXPECT_EQ(image.songName(), QString());

    // The preview holds its found item weakly: the test keeps each alive.
    const KZFoundItemRef track = makeItem({.tag = 4});
    KZPreviewItem song(track);
    EXPECT_TRUE(song.isSong());
    EXPECT_EQ(song.artist(), unknown);
    EXPECT_EQ(song.camera(), QString());

    const KZFoundItemRef file = makeItem({.tag = 7});
    KZPreviewItem document(file);
    EXPECT_FALSE(document.isImage());
    EXPECT_FALSE(document.isSong());
    for (const QString& key : kAll)
        EXPECT_EQ(document.value(key), QString()) << qPrintable(key);
}

TEST(PreviewItem, ShowsTheFactsItIsGivenAndTheDimensionsAsWidthByHeight)
{
    FixedFacts facts;
    facts.image.camera = u"Field camera"_s;
    facts.image.width = 4000;
    facts.image.height = 3000;
    facts.song.bitRate = u"320 kbps"_s;
    FactsScope scope(&facts);
    const KZFoundItemRef picture = makeItem({.tag = 3});
    KZPreviewItem image(picture);
    EXPECT_EQ(image.camera(), u"Field camera"_s);
    EXPECT_EQ(image.dimension(), u"4000 x 3000"_s);
    EXPECT_EQ(image.width(), 4000u);
    EXPECT_EQ(image.value(u"dimension"_s), u"4000 x 3000"_s);
    const KZFoundItemRef track = makeItem({.tag = 4});
    KZPreviewItem song(track);
    EXPECT_EQ(song.bitRate(), u"320 kbps"_s);
    // A song has no pixel size, whatever the facts say of pictures.
    EXPECT_EQ(song.width(), 0u);
}

TEST(PreviewItem, TheExtensionTellsPicturesAndSongsBeforeTheTab)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path root = dir.path().toStdString();
    const auto touch = [&](const char* name) {
        QFile file(QString::fromStdString((root / name).string()));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        return root / name;
    };
    // Filed under the documents tab, still a picture and a song by name.
    const KZFoundItemArray items = makeItems(
        {{.path = touch("a.jpg"), .tag = 7}, {.path = touch("b.mp3"), .tag = 7}, {.path = touch("c.pdf"), .tag = 7}});
    EXPECT_TRUE(KZPreviewItem(items.at(0)).isImage());
    EXPECT_TRUE(KZPreviewItem(items.at(1)).isSong());
    EXPECT_FALSE(KZPreviewItem(items.at(2)).isImage());
}

TEST(PreviewItem, AGoneFoundItemMatchesNothingAndShowsNothing)
{
    KZFoundItemRef found = makeItem({.tag = 3});
    KZPreviewItem first(found);
    KZPreviewItem second(found);
    EXPECT_TRUE(first.representsSameItem(second));
    EXPECT_NE(&first, &second);
    found.reset();
    EXPECT_FALSE(first.representsSameItem(second));
    EXPECT_FALSE(first.isImage());
    EXPECT_TRUE(first.url().empty());
    EXPECT_EQ(first.name(), QString());
    for (const QString& key : kAll)
        EXPECT_EQ(first.value(key), QString()) << qPrintable(key);
}
