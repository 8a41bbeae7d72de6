#include "engine/KZAppSuppInfo.h"
#include "engine/KZContentCache.h"
#include "engine/KZImageRecord.h"
#include "engine/KZSearchItemInfo.h"
#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>

namespace {

void expectFresh(const KZSearchItemInfo& info)
{
    EXPECT_EQ(info.label(), -1);
    EXPECT_TRUE(info.originalName().isNull());
    EXPECT_EQ(info.appSuppInfo(), nullptr);
    EXPECT_EQ(info.totSize(), 0u);
    EXPECT_EQ(info.type(), 0u);
    EXPECT_EQ(info.multiPurposeInfo(), 0u);
    EXPECT_EQ(info.fileTypeLabel(), 0u);
    EXPECT_FALSE(info.isLocked());
    EXPECT_FALSE(info.isDirectory());
    EXPECT_FALSE(info.isPackage());
    EXPECT_FALSE(info.isImageContent());
    EXPECT_FALSE(info.isAlias());
    EXPECT_FALSE(info.isApplication());
    EXPECT_FALSE(info.hasIdentity());
    EXPECT_FALSE(info.hasImageRecord());
}

TEST(KZSearchItemInfoTest, NewItemHasNoLabelAndNoFlags)
{
    expectFresh(*KZSearchItemInfo::create("/x"));
}

TEST(KZSearchItemInfoTest, InitializeVariablesForgetsEverything)
{
    const int before = enginetest::CountedCache::alive();
    auto info = KZSearchItemInfo::create("/a/b.txt");
    info->setOriginalName(QStringLiteral("b.txt"));
    info->setAppSuppInfo(KZAppSuppInfo::create(QStringLiteral("4F2A"), KZAppSuppInfo::ITunes));
    info->setTotSize(10);
    info->setType(0x54455854);
    info->setMultiPurposeInfo(3);
    info->setLabel(2);
    info->setIsLocked(true);
    info->setIsDirectory(true);
    info->setIsPackage(true);
    info->setIsImageContent(true);
    info->setIsAlias(true);
    info->setIsApplication(true);
    info->setFileTypeLabel(7);
    info->setDevice(5);
    info->setInode(9);
    info->setImageRecord(std::make_unique<enginetest::CountedCache>());
    ASSERT_EQ(enginetest::CountedCache::alive(), before + 1);

    info->initializeVariables();

    expectFresh(*info);
    EXPECT_TRUE(info->url().empty());
    EXPECT_EQ(enginetest::CountedCache::alive(), before) << "the image record is freed with the reset";
}

TEST(KZSearchItemInfoTest, ImageRecordChangesOwnerOnce)
{
    const int before = enginetest::CountedCache::alive();
    auto info = KZSearchItemInfo::create("/p.png");
    info->setImageRecord(std::make_unique<enginetest::CountedCache>());
    auto taken = info->takeImageRecord();
    EXPECT_NE(taken, nullptr);
    EXPECT_FALSE(info->hasImageRecord());
    EXPECT_EQ(info->takeImageRecord(), nullptr);
    taken.reset();
    EXPECT_EQ(enginetest::CountedCache::alive(), before);
}

struct NameCase {
    const char* name;
    const char* extension;
    const char* withoutExtension;
};

class KZSearchItemInfoNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(KZSearchItemInfoNameTest, ExtensionAndNameWithOption)
{
    const NameCase& c = GetParam();
    auto info = KZSearchItemInfo::create();
    info->setOriginalName(QString::fromUtf8(c.name));
    EXPECT_EQ(info->extension(), QString::fromUtf8(c.extension));
    EXPECT_EQ(info->nameWithOption(true), QString::fromUtf8(c.withoutExtension));
    EXPECT_EQ(info->nameWithOption(false), QString::fromUtf8(c.name));
}

INSTANTIATE_TEST_SUITE_P(Names, KZSearchItemInfoNameTest,
                         ::testing::Values(NameCase{"photo.jpeg", "jpeg", "photo"},
                                           NameCase{"archive.tar.gz", "gz", "archive.tar"},
                                           NameCase{"README", "", "README"},
                                           NameCase{".profile", "", ".profile"},
                                           NameCase{".hidden.txt", "txt", ".hidden"},
                                           NameCase{"trailing.", "", "trailing."},
                                           NameCase{"Photo.JPG", "JPG", "Photo"},
                                           NameCase{"caf\xC3\xA9.m\xC3\xA4p", "m\xC3\xA4p", "caf\xC3\xA9"}));

TEST(KZSearchItemInfoTest, LocationFromItsFolderAndName)
{
    struct Case {
        const char* folder;
        const char* name;
        const char* url;
    };
    for (const Case& c : {Case{"/a/b", "c.txt", "/a/b/c.txt"}, Case{"/a/b/", "c.txt", "/a/b/c.txt"},
                          Case{"/", "etc", "/etc"}, Case{"", "rel", "rel"}, Case{"src/./", "x", "src/./x"}}) {
        SCOPED_TRACE(c.url);
        auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder(c.folder), c.name);
        EXPECT_EQ(info->url(), std::filesystem::path(c.url));
        EXPECT_EQ(info->url(), std::filesystem::path(c.folder) / c.name) << "as a path would join them";
        EXPECT_EQ(info->urlBytes(), std::string(c.url));
    }
    auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder("/a"), "b");
    info->setUrl("/elsewhere/c");
    EXPECT_EQ(info->url(), std::filesystem::path("/elsewhere/c"));
}

TEST(KZSearchItemInfoTest, NameFromTheLocationKeepsItsBytes)
{
    // A listing's name is decoded when asked for; one that is not UTF-8
    // decodes as the file-name codec does and keeps the path's bytes.
    const std::string raw = "caf\xe9-\xff.bin";
    auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder("/d"), raw);
    EXPECT_FALSE(info->hasOriginalName());
    info->setOriginalNameFromLocation();
    EXPECT_TRUE(info->hasOriginalName());
    EXPECT_EQ(info->originalName(), QFile::decodeName(QByteArray::fromStdString(raw)));
    EXPECT_EQ(info->extension(), QStringLiteral("bin"));
    EXPECT_EQ(info->url().native(), "/d/" + raw);

    // A whole location (no folder) names its last part, a trailing slash
    // tolerated.
    auto lone = KZSearchItemInfo::create("/top/folder/");
    lone->setOriginalNameFromLocation();
    EXPECT_EQ(lone->originalName(), QStringLiteral("folder"));
    auto root = KZSearchItemInfo::create("/");
    root->setOriginalNameFromLocation();
    EXPECT_EQ(root->originalName(), QStringLiteral("/"));

    // A name given explicitly wins, and a null one means no name.
    info->setOriginalName(QStringLiteral("Shown"));
    EXPECT_EQ(info->originalName(), QStringLiteral("Shown"));
    info->setOriginalName(QString());
    EXPECT_FALSE(info->hasOriginalName());
    EXPECT_TRUE(info->originalName().isNull());
}

TEST(KZSearchItemInfoTest, ContentCacheAndImageRecordShareNothing)
{
    auto info = KZSearchItemInfo::create("/f");
    info->setContentCache(std::make_unique<KZContentCache>(3));
    EXPECT_FALSE(info->hasImageRecord());
    EXPECT_EQ(info->takeImageRecord(), nullptr) << "a content cache is not an image record";
    EXPECT_NE(info->takeContentCache(), nullptr);
    EXPECT_EQ(info->takeContentCache(), nullptr);
    info->setImageRecord(std::make_unique<KZImageRecord>(4, 5));
    EXPECT_EQ(info->takeContentCache(), nullptr) << "an image record is not a content cache";
    EXPECT_TRUE(info->hasImageRecord());
}

TEST(KZSearchItemInfoTest, MissingNameStaysMissing)
{
    auto info = KZSearchItemInfo::create();
    EXPECT_TRUE(info->nameWithOption(true).isNull());
    EXPECT_TRUE(info->nameWithOption(false).isNull());
    EXPECT_TRUE(info->extension().isEmpty());
}

} // namespace
