#include "platform/Resources.h"
#include "platform/StringTable.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
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
class ResourceFolder : public kztest::TempDir {
public:
    ResourceFolder()
    {
        platform::setResourceDirectory(path());
        platform::resetStringTables();
    }
    ~ResourceFolder()
    {
        platform::setResourceDirectory({});
        platform::resetStringTables();
    }
};

TEST(Resources, FoundBesideTheProgramOrWhereTheyAreToldAndNeverOutside)
{
    kztest::EnvGuard guard("MARAVEX_RESOURCES");
    ::unsetenv("MARAVEX_RESOURCES");
    // Tests run from build/tests/, the resources are copied to build/resources.
    EXPECT_EQ(resourceDirectory().filename(), "resources");
    EXPECT_FALSE(resourcePath("strings/en/Default.json").empty()) << resourceDirectory();

    kztest::TempDir env;
    env.write("criteria.plist", "x");
    ::setenv("MARAVEX_RESOURCES", env.path().c_str(), 1);
    EXPECT_EQ(resourcePath("criteria.plist"), env / "criteria.plist");
    ResourceFolder folder; // an explicit folder wins over the environment
    EXPECT_TRUE(resourcePath("criteria.plist").empty());
    folder.write("images/icon.png", "png");
    EXPECT_EQ(resourcePath("images/icon.png"), folder / "images/icon.png");
    for (const char* name : {"", "/etc/passwd", "../outside", "images/../../outside"})
        EXPECT_TRUE(resourcePath(name).empty()) << name;
}

TEST(StringTable, LooksUpTextsAndShowsTheKeyForAnyGap)
{
    ResourceFolder folder;
    folder.write("strings/en/Default.json", R"({"search_again": "Search Again", "empty": "", "n": 3})");
    folder.write("strings/en/Errors.json", R"({"security_alert": "Remove the last copy?"})");
    folder.write("strings/en/Broken.json", R"({"a": )");
    folder.write("strings/en/List.json", R"(["a"])");
    const struct {
        const char *key, *table, *expected;
    } cases[] = {
        {"search_again", "Default", "Search Again"},
        {"security_alert", "Errors", "Remove the last copy?"},
        {"security_alert", "Default", "security_alert"}, // other table
        {"empty", "Default", ""},                        // an empty text is a text
        {"n", "Default", "n"},                           // not a string
        {"a", "Broken", "a"},                            // damaged file
        {"a", "List", "a"},                              // not an object
        {"a", "Missing", "a"},
        {"search_again", "../en/Default", "search_again"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(localizedString(text(c.key), text(c.table)), text(c.expected)) << c.key << " in " << c.table;
    EXPECT_EQ(localizedString(text("search_again")), text("Search Again"));
}

TEST(StringTable, TablesAreReadOnceAndSharedAcrossThreads)
{
    ResourceFolder folder;
    folder.write("strings/en/Default.json", R"({"k": "first"})");
    EXPECT_EQ(localizedString(text("k")), text("first"));
    folder.write("strings/en/Default.json", R"({"k": "second"})");
    EXPECT_EQ(localizedString(text("k")), text("first"));

    platform::resetStringTables();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                wrong += localizedString(text("k")) != text("second") || localizedString(text("x")) != text("x");
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
