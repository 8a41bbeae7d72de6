#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

TEST(Paths, Utf8PathsRoundTripThroughTheirText)
{
    const char* paths[] = {
        "/",
        "/home/u/Caf\xc3\xa9.txt",       // é precomposed
        "/home/u/Cafe\xcc\x81.txt",      // é decomposed: kept as it is, not normalised
        "/tmp/\xe6\x97\xa5\xe6\x9c\xac", // CJK
        "/tmp/\xf0\x9f\x93\x81 folder/", // outside the BMP, trailing slash
        "relative/with\nnewline and \\ backslash",
    };
    for (const char* bytes : paths) {
        const fs::path path(bytes);
        const QString text = pathText(path);
        EXPECT_EQ(text, QString::fromUtf8(bytes)) << bytes;
        EXPECT_EQ(pathFromText(text), path) << bytes;
        // Every spelling of the same bytes gives the same text.
        EXPECT_EQ(pathText(std::string(bytes)), text);
        EXPECT_EQ(pathText(bytes), text);
        EXPECT_EQ(pathText(QByteArray(bytes)), text);
    }
    EXPECT_TRUE(pathText(fs::path()).isEmpty());
    EXPECT_TRUE(pathFromText(QString()).empty());
}

TEST(Paths, BytesThatAreNotUtf8ShowAsReplacementsAndStayInThePath)
{
    // Latin-1 é, a stray continuation byte and a truncated sequence.
    const fs::path path("/data/caf\xe9-\x80-\xe6\x97.txt");
    const QString text = pathText(path);
    EXPECT_EQ(text, QStringLiteral("/data/caf\uFFFD-\uFFFD-\uFFFD\uFFFD.txt")) << text.toStdString();
    // The text is only for display: the path keeps its bytes, and the text
    // cannot name it again.
    EXPECT_EQ(path.native(), "/data/caf\xe9-\x80-\xe6\x97.txt");
    EXPECT_NE(pathFromText(text), path);
    // Two names that differ only in undecodable bytes compare equal as text.
    EXPECT_EQ(pathText("a\xff"), pathText("a\xfe"));
    // A part of a name, as a view of its bytes.
    const std::string name = "x.\xff\x61";
    EXPECT_EQ(pathText(std::string_view(name).substr(2)), QStringLiteral("\uFFFDa"));
}

TEST(Paths, AnElementShowsItsNameAndTheRootASlash)
{
    EXPECT_EQ(elementText("/home/u/Caf\xc3\xa9"), QStringLiteral("Caf\u00e9"));
    EXPECT_EQ(elementText("/"), QStringLiteral("/"));
    EXPECT_EQ(elementText("name"), QStringLiteral("name"));
    EXPECT_EQ(elementText("/x/a\xff"), QStringLiteral("a\uFFFD"));
}

TEST(Paths, InsideFolderComparesWholeElements)
{
    const struct {
        const char* path;
        const char* folder;
        bool inside;
    } cases[] = {
        {"/a/b/c", "/a/b", true},
        {"/a/b/c/d.txt", "/a", true},
        {"/a/b", "/a/b", true},   // the folder itself
        {"/a/bc", "/a/b", false}, // a prefix that is not a parent
        {"/a/b.txt", "/a/b", false},
        {"/a", "/a/b", false},     // the parent is not inside its child
        {"/a/b/c", "/a/b/", true}, // trailing slash on the folder
        {"/a/b", "/a/b/", true},
        {"/a/b/", "/a/b", true},         // trailing slash on the path
        {"/a//b/c", "/a/b", true},       // doubled separators are one
        {"/anything/at/all", "/", true}, // root
        {"/", "/", true},
        {"relative/a", "/", false},
        {"/a/b", "a/b", false},
        {"a/b/c", "a/b", true},
        {"/a/b", "", false}, // an empty folder holds nothing
        {"", "/a", false},
        {"/x/caf\xe9/y", "/x/caf\xe9", true}, // bytes, not text
        {"/x/caf\xe9/y", "/x/caf\xe8", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isInsideFolder(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}

TEST(Paths, AbsolutePathsKeepTheirLinksAndGoUpFromALinksTarget)
{
    kztest::TempDir dir;
    dir.mkdir("real/inner");
    fs::create_symlink(dir / "real/inner", dir / "link");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    const struct {
        fs::path given, absolute;
    } cases[] = {
        {"real", dir / "real"},
        {"./real/./inner/", dir / "real/inner"},
        {"real/../other", dir / "other"},
        // After a link, ".." goes up from where the link leads, as the
        // system reads it; a link with no ".." after it stays a link.
        {"link/..", fs::canonical(dir / "real")},
        {"link/../inner/x", fs::canonical(dir / "real") / "inner/x"},
        {"link/x", dir / "link/x"},
        {"real/inner/../../link/x", dir / "link/x"},
        {"/a//b/../c/", "/a/c"},
        {"/..", "/"},
        {"/", "/"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(absolutePath(c.given), c.absolute) << c.given;
    fs::current_path(cwd);
}

// A removal opens every folder above an item without following links, so an
// item must be named by a path that holds none; the item itself stays a link
// unless the link is what was chosen.
TEST(Paths, LinkFreePathsFollowEveryFolderOnTheWay)
{
    kztest::TempDir dir;
    const fs::path top = fs::canonical(dir.path());
    dir.write("data/docs/tree/a.txt", "a");
    fs::create_directory_symlink(top / "data/docs", top / "Documents");
    fs::create_directory_symlink("docs/tree", top / "data/relative");
    fs::create_symlink(top / "data/docs/tree/a.txt", top / "data/docs/tree/link-to-a");
    const struct {
        const char* path;
        bool followLast;
        const char* expected; // relative to the folder; "" for no answer
    } cases[] = {
        {"Documents/tree/a.txt", false, "data/docs/tree/a.txt"},
        {"Documents/tree", true, "data/docs/tree"},
        {"Documents", true, "data/docs"},
        {"Documents", false, "Documents"}, // the chosen link itself, kept
        {"data/relative/a.txt", false, "data/docs/tree/a.txt"},
        {"Documents/tree/link-to-a", false, "data/docs/tree/link-to-a"},
        {"Documents/tree/link-to-a", true, "data/docs/tree/a.txt"},
        {"Documents/tree/..", false, "data/docs"}, // ".." of where the link leads
        {"Documents/missing/a.txt", false, ""},
        {"Documents/missing", true, ""},
    };
    for (const auto& c : cases) {
        const fs::path expected = *c.expected ? top / c.expected : fs::path();
        EXPECT_EQ(linkFreePath(top / c.path, c.followLast), expected) << c.path << " " << c.followLast;
    }
    EXPECT_EQ(linkFreePath("/", true), fs::path("/"));
    EXPECT_EQ(linkFreePath({}, true), fs::path());
}
