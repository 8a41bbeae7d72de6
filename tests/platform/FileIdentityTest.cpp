#include "platform/FileIdentity.h"

#include <gtest/gtest.h>

using platform::FileIdentity;
using platform::FileStat;

namespace {

FileStat statOf(quint64 inode, std::optional<timespec> birth, quint64 size, timespec modified)
{
    FileStat st;
    st.device = 7;
    st.inode = inode;
    st.birth = birth;
    st.size = size;
    st.modified = modified;
    return st;
}

} // namespace

// Device and inode alone prove nothing; the birth time does, and where the
// file system keeps none, size and modification time stand in for it. A
// folder is told by device, inode and birth time only: its entries change
// its size and date.
TEST(FileIdentity, MoreThanDeviceAndInodeProvesAFile)
{
    const FileStat born = statOf(5, timespec{100, 1}, 10, {200, 2});
    const FileIdentity identity = FileIdentity::of(born);
    EXPECT_TRUE(identity.isSameFile(statOf(5, timespec{100, 1}, 99, {300, 3})));
    EXPECT_FALSE(identity.isSameFile(statOf(5, timespec{100, 2}, 10, {200, 2}))) << "a new file, the inode reused";
    EXPECT_FALSE(identity.isSameFile(statOf(5, std::nullopt, 10, {200, 2})));
    EXPECT_FALSE(identity.isSameFile(statOf(6, timespec{100, 1}, 10, {200, 2})));

    const FileIdentity unborn = FileIdentity::of(statOf(5, std::nullopt, 10, {200, 2}));
    EXPECT_TRUE(unborn.canProve());
    EXPECT_TRUE(unborn.isSameFile(statOf(5, std::nullopt, 10, {200, 2})));
    EXPECT_FALSE(unborn.isSameFile(statOf(5, std::nullopt, 11, {200, 2})));
    EXPECT_FALSE(unborn.isSameFile(statOf(5, std::nullopt, 10, {200, 3})));

    QVariantMap stored;
    identity.insertInto(stored);
    EXPECT_EQ(FileIdentity::readFrom(stored, 7, 5), identity);
    const FileIdentity bare = FileIdentity::readFrom({}, 7, 5);
    EXPECT_FALSE(bare.canProve());
    EXPECT_FALSE(bare.isSameFile(born)) << "an older record cannot prove it";

    EXPECT_TRUE(identity.isSameFolder(statOf(5, timespec{100, 1}, 4096, {900, 0})));
    EXPECT_FALSE(identity.isSameFolder(statOf(5, timespec{101, 1}, 10, {200, 2})));
    EXPECT_TRUE(unborn.isSameFolder(statOf(5, std::nullopt, 8192, {900, 0})));
}
