#include "EngineTestSupport.h"

#include "engine/KZAppSuppInfo.h"
#include "engine/KZContentCache.h"
#include "engine/KZImageRecord.h"

#include <QByteArray>
#include <QFile>

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

// An item is reused for the next entry of a listing: nothing of the last
// one may stay with it.
TEST(KZSearchItemInfoTest, InitializeVariablesForgetsEverythingAndCachesKeepTheirKind)
{
    const int before = CountedCache::alive();
    auto info = KZSearchItemInfo::create("/a/b.txt");
    info->setOriginalName(str("b.txt"));
    info->setAppSuppInfo(KZAppSuppInfo::create(str("4F2A"), KZAppSuppInfo::ITunes));
    info->setTotSize(10);
    info->setType(0x54455854);
    info->setMultiPurposeInfo(3);
    info->setLabel(2);
    for (auto set : {&KZSearchItemInfo::setIsLocked, &KZSearchItemInfo::setIsDirectory, &KZSearchItemInfo::setIsPackage,
                     &KZSearchItemInfo::setIsImageContent, &KZSearchItemInfo::setIsAlias, &KZSearchItemInfo::setIsApplication})
        ((*info).*set)(true);
    info->setFileTypeLabel(7);
    info->setDevice(5);
    info->setInode(9);
    info->setImageRecord(std::make_unique<CountedCache>());

    info->initializeVariables();

    EXPECT_TRUE(info->url().empty());
    EXPECT_EQ(info->label(), -1);
    EXPECT_TRUE(info->originalName().isNull());
    EXPECT_EQ(info->appSuppInfo(), nullptr);
    EXPECT_EQ(info->totSize() + info->type() + info->multiPurposeInfo() + info->fileTypeLabel(), 0u);
    EXPECT_FALSE(info->isLocked() || info->isDirectory() || info->isPackage() || info->isImageContent()
                 || info->isAlias() || info->isApplication() || info->hasIdentity() || info->hasImageRecord());
    EXPECT_EQ(CountedCache::alive(), before) << "the image record is freed with the reset";

    // One slot holds either cache; neither is ever taken for the other.
    info->setContentCache(std::make_unique<KZContentCache>(3));
    EXPECT_EQ(info->takeImageRecord(), nullptr);
    EXPECT_NE(info->takeContentCache(), nullptr);
    EXPECT_EQ(info->takeContentCache(), nullptr);
    info->setImageRecord(std::make_unique<KZImageRecord>(4, 1, 1, KZImageRecord::Digest{}));
    EXPECT_EQ(info->takeContentCache(), nullptr);
    EXPECT_NE(info->takeImageRecord(), nullptr);
}

TEST(KZSearchItemInfoTest, ExtensionAndNameWithoutIt)
{
    const std::vector<std::tuple<const char*, const char*, const char*>> cases{
        {"photo.jpeg", "jpeg", "photo"},   {"archive.tar.gz", "gz", "archive.tar"}, {"README", "", "README"},
        {".profile", "", ".profile"},      {".hidden.txt", "txt", ".hidden"},       {"trailing.", "", "trailing."},
        {"Photo.JPG", "JPG", "Photo"},     {"caf\xC3\xA9.m\xC3\xA4p", "m\xC3\xA4p", "caf\xC3\xA9"},
    };
    for (const auto& [name, extension, withoutExtension] : cases) {
        SCOPED_TRACE(name);
        auto info = KZSearchItemInfo::create();
        info->setOriginalName(str(name));
        EXPECT_EQ(info->extension(), str(extension));
        EXPECT_EQ(info->nameWithOption(true), str(withoutExtension));
        EXPECT_EQ(info->nameWithOption(false), str(name));
    }
    auto unnamed = KZSearchItemInfo::create();
    EXPECT_TRUE(unnamed->nameWithOption(true).isNull());
    EXPECT_TRUE(unnamed->nameWithOption(false).isNull());
    EXPECT_TRUE(unnamed->extension().isEmpty());
}

TEST(KZSearchItemInfoTest, LocationFromItsFolderAndName)
{
    const std::vector<std::tuple<const char*, const char*, const char*>> cases{
        {"/a/b", "c.txt", "/a/b/c.txt"}, {"/a/b/", "c.txt", "/a/b/c.txt"}, {"/", "etc", "/etc"},
        {"", "rel", "rel"},              {"src/./", "x", "src/./x"},
    };
    for (const auto& [folder, name, url] : cases) {
        SCOPED_TRACE(url);
        auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder(folder), name);
        EXPECT_EQ(info->url(), fs::path(url));
        EXPECT_EQ(info->url(), fs::path(folder) / name) << "as a path would join them";
        EXPECT_EQ(info->urlBytes(), std::string(url));
    }
    auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder("/a"), "b");
    info->setUrl("/elsewhere/c");
    EXPECT_EQ(info->url(), fs::path("/elsewhere/c"));
}

TEST(KZSearchItemInfoTest, NamesOfEveryLengthKeepTheirBytes)
{
    // Short names are kept in the item, longer ones apart: both sides of the
    // boundary, an empty name, NUL bytes and a location far beyond a name's
    // length, each replaced by one of another kind.
    std::vector<std::string> names{"", "a", std::string(14, 'x'), std::string(15, 'y'), std::string(16, 'z'),
                                   std::string("nul\0inside", 11), std::string(5000, 'q')};
    auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder("/d"), "first");
    for (const std::string& name : names) {
        SCOPED_TRACE(name.size());
        auto fresh = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder("/d"), name);
        fresh->setOriginalNameFromLocation();
        EXPECT_EQ(fresh->urlBytes(), name.empty() ? std::string("/d/") : "/d/" + name);
        EXPECT_EQ(fresh->originalName(), QFile::decodeName(QByteArray::fromStdString(name)));
        info->setUrl("/top/" + name);
        EXPECT_EQ(info->urlBytes(), "/top/" + name);
        info->setUrl(info->url()); // its own bytes
        EXPECT_EQ(info->urlBytes(), "/top/" + name);
    }
    info->initializeVariables();
    EXPECT_EQ(info->urlBytes(), std::string());
}

TEST(KZSearchItemInfoTest, NameFromTheLocationKeepsItsBytes)
{
    // A listing's name is decoded when asked for; one that is not UTF-8
    // decodes as the file-name codec does and keeps the path's bytes.
    const std::string raw = "caf\xe9-\xff.bin";
    auto info = KZSearchItemInfo::create(KZSearchItemInfo::makeFolder("/d"), raw);
    EXPECT_FALSE(info->hasOriginalName());
    info->setOriginalNameFromLocation();
    EXPECT_EQ(info->originalName(), QFile::decodeName(QByteArray::fromStdString(raw)));
    EXPECT_EQ(info->extension(), str("bin"));
    EXPECT_EQ(info->url().native(), "/d/" + raw);

    // A whole location (no folder) names its last part, a trailing slash
    // tolerated.
    auto lone = KZSearchItemInfo::create("/top/folder/");
    lone->setOriginalNameFromLocation();
    EXPECT_EQ(lone->originalName(), str("folder"));
    auto root = KZSearchItemInfo::create("/");
    root->setOriginalNameFromLocation();
    EXPECT_EQ(root->originalName(), str("/"));

    // A name given explicitly wins, and a null one means no name.
    info->setOriginalName(str("Shown"));
    EXPECT_EQ(info->originalName(), str("Shown"));
    info->setOriginalName(QString());
    EXPECT_FALSE(info->hasOriginalName());
}

// Removal compares the identity read by the scan with the file on disk, so
// the packed record must give back every value exactly: the common ones
// from the packed fields, the others from the record's rare part.
TEST(KZSearchItemInfoTest, IdentityComesBackExactlyWhateverItsRange)
{
    const std::vector<timespec> times{
        {0, 0},           {1'700'000'000, 999'999'999}, {-1, 1},
        {-86'400 * 365 * 200L, 5}, {(1L << 33) - 1, 7}, {1L << 33, 7}, // the last one past the packed range
        {-(1L << 33), 0}, {-(1L << 33) - 1, 0},         {253'402'300'799L, 123}, // 9999-12-31
    };
    const std::vector<quint64> devices{0, 2049, 0xFFFFFFFFull, 0x100000000ull, ~0ull};
    auto info = KZSearchItemInfo::create("/a");
    for (const timespec& time : times) {
        for (const quint64 device : devices) {
            info->setModificationTime(time);
            info->setDevice(device);
            info->setLinkCount(1);
            EXPECT_EQ(info->modificationTime().tv_sec, time.tv_sec);
            EXPECT_EQ(info->modificationTime().tv_nsec, time.tv_nsec);
            EXPECT_EQ(info->device(), device);
        }
    }
    // A packed value after an exact one is read from the packed field again.
    info->setModificationTime({12, 34});
    info->setDevice(77);
    EXPECT_EQ(info->modificationTime().tv_sec, 12);
    EXPECT_EQ(info->device(), 77u);
    info->setLinkCount(100'000);
    EXPECT_EQ(info->linkCount(), 0xFFFFu) << "saturates, never wraps to 1";
    info->setIsImageContent(true);
    info->setIsRegularFile(true);
    info->setIsImageContent(false);
    EXPECT_TRUE(info->isRegularFile()) << "flags share a word: clearing one keeps the others";
    EXPECT_EQ(info->device(), 77u);
}

} // namespace

