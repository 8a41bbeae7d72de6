#include "platform/Resources.h"
#include "platform/StringTable.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::localizedString;
using platform::resourceDirectory;
using platform::resourcePath;

namespace {

QString text(const char* s) { return QString::fromUtf8(s); }

// Points the resources at a temporary folder for one test and forgets the
// string tables loaded from it afterwards.
class ResourceFolder {
public:
    ResourceFolder()
    {
        platform::setResourceDirectory(dir_.path());
        platform::resetStringTables();
    }
    ~ResourceFolder()
    {
        platform::setResourceDirectory({});
        platform::resetStringTables();
    }
    const kztest::TempDir& dir() const { return dir_; }

private:
    kztest::TempDir dir_;
};

TEST(Resources, TheBuildTreeFolderIsFoundBesideTheTestProgram)
{
    // Tests run from build/tests/, the resources are copied to build/resources.
    if (std::getenv("MARAVEX_RESOURCES"))
        GTEST_SKIP() << "MARAVEX_RESOURCES is set";
    const fs::path dir = resourceDirectory();
    EXPECT_EQ(dir.filename(), "resources");
    EXPECT_FALSE(resourcePath("strings/en/Default.json").empty()) << dir;
}

TEST(Resources, OverridesAndMissingNames)
{
    kztest::TempDir env;
    env.write("criteria.plist", "x");
    ::setenv("MARAVEX_RESOURCES", env.path().c_str(), 1);
    EXPECT_EQ(resourceDirectory(), env.path());
    EXPECT_EQ(resourcePath("criteria.plist"), env / "criteria.plist");

    {
        ResourceFolder folder; // an explicit folder wins over the environment
        EXPECT_EQ(resourceDirectory(), folder.dir().path());
        EXPECT_TRUE(resourcePath("criteria.plist").empty());
    }
    EXPECT_EQ(resourceDirectory(), env.path());
    ::unsetenv("MARAVEX_RESOURCES");

    ResourceFolder folder;
    folder.dir().write("images/icon.png", "png");
    EXPECT_EQ(resourcePath("images/icon.png"), folder.dir() / "images/icon.png");
    for (const char* name : {"missing.plist", "", "/etc/passwd", "../outside", "images/../../outside"})
        EXPECT_TRUE(resourcePath(name).empty()) << name;
}

TEST(StringTable, LooksUpTextsAndShowsTheKeyForAnyGap)
{
    ResourceFolder folder;
    folder.dir().write("strings/en/Default.json", R"({"search_again": "Search Again", "empty": "", "n": 3})");
    folder.dir().write("strings/en/Errors.json", R"({"security_alert": "Remove the last copy?"})");
    folder.dir().write("strings/en/Broken.json", R"({"a": )");
    folder.dir().write("strings/en/List.json", R"(["a"])");

    struct Case {
        const char* key;
        const char* table;
        const char* expected;
    };
    const Case cases[] = {
        {"search_again", "Default", "Search Again"},
        {"security_alert", "Errors", "Remove the last copy?"},
        {"security_alert", "Default", "security_alert"}, // other table
        {"unknown_key", "Default", "unknown_key"},
        {"empty", "Default", ""},                   // an empty text is a text
        {"n", "Default", "n"},                      // not a string
        {"a", "Broken", "a"},                       // damaged file
        {"a", "List", "a"},                         // not an object
        {"a", "Missing", "a"},                      // no such table
        {"search_again", "../en/Default", "search_again"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(localizedString(text(c.key), text(c.table)), text(c.expected)) << c.key << " in " << c.table;
    EXPECT_EQ(localizedString(text("search_again")), text("Search Again"));
}

TEST(StringTable, TablesAreReadOnceAndSharedAcrossThreads)
{
    ResourceFolder folder;
    folder.dir().write("strings/en/Default.json", R"({"k": "first"})");
    EXPECT_EQ(localizedString(text("k")), text("first"));
    folder.dir().write("strings/en/Default.json", R"({"k": "second"})");
    EXPECT_EQ(localizedString(text("k")), text("first"));
    platform::resetStringTables();
    EXPECT_EQ(localizedString(text("k")), text("second"));

    platform::resetStringTables();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (localizedString(text("k")) != text("second") || localizedString(text("x")) != text("x"))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
