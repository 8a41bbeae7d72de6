#include "platform/FolderAttributes.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace fs = std::filesystem;
using platform::FolderAttributes;
using platform::FolderMade;

namespace {

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// A folder is made with all it is given or private, appears at its name only
// once it is whole, and never takes the place of what is already there.
TEST(FolderAttributes, AFolderIsMadeWholeOrPrivateAndNeverReplacesWhatIsThere)
{
    kztest::TempDir dir;
    const int parent = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(parent, 0);
    const bool root = ::geteuid() == 0;
    const FolderAttributes wanted{root ? uid_t(1234) : ::geteuid(), ::getegid(), 02750, {}, {}};

    platform::FileStat made;
    EXPECT_EQ(platform::makeFolderAt(parent, "given", wanted, 0, &made), FolderMade::Given);
    const auto given = platform::statPath(dir / "given", false);
    ASSERT_TRUE(given);
    EXPECT_EQ(given->mode & 07777, 02750u);
    EXPECT_EQ(given->uid, wanted.owner);
    EXPECT_EQ(made.inode, given->inode);

    EXPECT_EQ(platform::makeFolderAt(parent, "private", std::nullopt), FolderMade::Private);
    // An owner the maker cannot give, or an ACL that is none.
    const FolderAttributes refused{root ? uid_t(1234) : uid_t(0), ::getegid(), 0755, QByteArray("junk"), {}};
    EXPECT_EQ(platform::makeFolderAt(parent, "refused", refused), FolderMade::Private);
    for (const char* name : {"private", "refused"}) {
        const auto st = platform::statPath(dir / name, false);
        ASSERT_TRUE(st) << name;
        EXPECT_EQ(st->mode & 07777, 0700u) << name;
    }

    std::ofstream(dir / "given/inside") << "kept";
    std::ofstream(dir / "file") << "kept too";
    EXPECT_EQ(platform::makeFolderAt(parent, "given", wanted), FolderMade::Existed);
    EXPECT_EQ(platform::makeFolderAt(parent, "file", wanted), FolderMade::Existed);
    EXPECT_EQ(kztest::readFile(dir / "given/inside"), "kept");
    EXPECT_EQ(kztest::readFile(dir / "file"), "kept too");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"file", "given", "private", "refused"}))
        << "no temporary folder is left behind";
    ::close(parent);
}

// The record lives in a folder any program of the user writes in: only a
// plain record of an owner, a group and a mode gives a folder anything.
TEST(FolderAttributes, ARecordGivesSomethingOnlyWhenItIsPlainlyOne)
{
    const FolderAttributes attributes{1000, 100, 01777, QByteArray("\2\0\0\0", 4), {}};
    const QVariantMap map = attributes.toMap();
    EXPECT_EQ(map.keys(), (QStringList{QStringLiteral("accessACL"), QStringLiteral("group"),
                                       QStringLiteral("mode"), QStringLiteral("owner")}));
    EXPECT_EQ(FolderAttributes::fromMap(map), attributes);
    const auto with = [&map](const char* key, const QVariant& value) {
        QVariantMap changed = map;
        changed.insert(QString::fromLatin1(key), value);
        return FolderAttributes::fromMap(changed);
    };
    EXPECT_FALSE(with("owner", qint64(-1)));
    EXPECT_FALSE(with("owner", qint64(uid_t(-1)))) << "chown's 'leave it' is no owner";
    EXPECT_FALSE(with("group", QStringLiteral("100")));
    EXPECT_FALSE(with("mode", qint64(010000)));
    EXPECT_FALSE(with("mode", 0.5));
    EXPECT_FALSE(with("defaultACL", QStringLiteral("text")));
    EXPECT_FALSE(with("accessACL", QByteArray(70000, 'a')));
    QVariantMap missing = map;
    missing.remove(QStringLiteral("mode"));
    EXPECT_FALSE(FolderAttributes::fromMap(missing));
}
