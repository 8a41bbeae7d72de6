#include "EngineTestSupport.h"

#include "engine/KZMDQuery.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace enginetest;

namespace {

using Format = platform::PropertyList::Format;

fs::path savedSearch(const kztest::TempDir& dir, const std::string& name, const QString& query,
                     const QVariantList& scopes, Format format = Format::Xml)
{
    const fs::path file = dir / (name + ".savedSearch");
    const QVariantMap raw{{str("RawQuery"), query}, {str("SearchScopes"), scopes}};
    EXPECT_TRUE(platform::PropertyList::writeFile(file, QVariantMap{{str("RawQueryDict"), raw}}, format));
    return file;
}

QString text(const fs::path& path) { return QString::fromStdString(path.native()); }

KZSourceItemRef smartSource(const fs::path& file)
{
    return KZSourceItem::create({{str("url"), QVariant::fromValue(file)}, {str("isSmartFolder"), true}});
}

// Collects log lines for as long as it lives.
class LogLines {
public:
    LogLines()
    {
        platform::setLogSink([this](const QString& line) {
            std::lock_guard guard(lock_);
            lines_.append(line);
        });
    }
    ~LogLines() { platform::setLogSink({}); }
    int count(const QString& part)
    {
        std::lock_guard guard(lock_);
        return int(std::count_if(lines_.begin(), lines_.end(), [&](const QString& l) { return l.contains(part); }));
    }

private:
    std::mutex lock_;
    QStringList lines_;
};

SearchOptions bounded()
{
    SearchOptions options;
    options.bound = std::chrono::seconds(30);
    return options;
}

} // namespace

TEST(KZSavedSearchSource, TwoSavedSearchesKeepTheirOwnLabels)
{
    kztest::TempDir dir;
    const std::string twin = randomBytes(20000, 1);
    const fs::path a = dir.write("a/photo.dat", twin);
    const fs::path b = dir.write("b/copy.dat", twin);
    dir.write("a/other.dat", twin + "x");
    dir.write("a/skip.txt", twin); // same bytes, left out by the query
    dir.write("b/.hidden.dat", twin); // hidden, as the index would leave it

    const QString query = str(R"(kMDItemFSName == "*.DAT"c && kMDItemFSSize == 20000)");
    const auto first = smartSource(savedSearch(dir, "first", query, {text(dir / "a")}, Format::Xml));
    const auto second = smartSource(savedSearch(dir, "second", query, {text(dir / "b")}, Format::Binary));
    const SearchResult result = runSearch({first, second}, sizeAndContentCriteria(), bounded());
    ASSERT_EQ(result.notifications, 1);
    EXPECT_EQ(groupSet(result.rows), (Groups{{a, b}}));
    ASSERT_EQ(result.rows.size(), 2u);
    EXPECT_NE(first->locationLabelTag(), second->locationLabelTag());
    for (const FoundRow& row : result.rows)
        EXPECT_EQ(row.label, row.path == a ? first->locationLabelTag() : second->locationLabelTag());
}

TEST(KZSavedSearchSource, AResultFolderIsScannedAndWhatItHoldsIsNotFiledTwice)
{
    kztest::TempDir dir;
    const std::string twin = randomBytes(5000, 2);
    const fs::path one = dir.write("scope/keep/keep-1.bin", twin);
    const fs::path two = dir.write("scope/keep/deeper/keep-2.bin", twin);
    const fs::path three = dir.write("scope/loose/keep-3.bin", twin);
    const fs::path notMatched = dir.write("scope/loose/other.bin", twin);

    const auto source = smartSource(savedSearch(dir, "keep", str(R"(kMDItemFSName == "keep*")"), {text(dir / "scope")}));
    const SearchResult result = runSearch({source}, sizeAndContentCriteria(), bounded());
    ASSERT_EQ(result.notifications, 1);
    // keep/ is a result: its own contents come through its scan, each once;
    // "other.bin" lies in no resulting folder and was not selected.
    EXPECT_EQ(groupSet(result.rows), (Groups{{one, two, three}}));
    EXPECT_EQ(result.rows.size(), 3u);

    // What the query itself answers: every match, nested ones included.
    KZMDQuery::Options options;
    options.home = kztest::sandboxHome();
    options.now = QDateTime::currentDateTime();
    const auto matches = KZMDQuery::run(dir / "keep.savedSearch", options);
    ASSERT_TRUE(matches);
    EXPECT_EQ(matches->size(), 4u);
    const auto folder = std::find_if(matches->begin(), matches->end(), [](const KZLocationEntry& e) { return e.isFolder; });
    ASSERT_NE(folder, matches->end());
    EXPECT_EQ(folder->path, dir / "scope/keep");
}

TEST(KZSavedSearchSource, TheProgressWindowFollowsTheStepsOfASavedSearch)
{
    kztest::TempDir dir;
    const std::string twin = randomBytes(4000, 7);
    dir.write("scope/keep/keep-1.bin", twin);
    dir.write("scope/loose/keep-2.bin", twin);
    dir.write("files/keep-3.bin", twin);
    dir.write("files/keep-4.bin", twin);
    const QString query = str(R"(kMDItemFSName == "keep*")");
    const QString step = platform::localizedString(str("managing_smart_folder"));
    ASSERT_NE(step, str("managing_smart_folder")) << "the title has a text";
    const auto title = [&](int n) { return KZErrorDelegate::replaceContentOfString(step, {QString::number(n)}); };
    const QString scanning = platform::localizedString(str("scanning"));

    struct Case {
        const char* what;
        fs::path scope;
        QStringList titles;
        quint64 results;
    };
    const Case cases[] = {
        // keep/, keep-1 and keep-2: the folder makes the grouping run.
        {"a folder among the results", dir / "scope", {title(1), title(2), title(3), scanning}, 3},
        {"files only are never grouped", dir / "files", {title(1), scanning}, 2},
    };
    for (const Case& c : cases) {
        SearchOptions options = bounded();
        options.progress = std::make_shared<RecordingProgress>();
        const auto source = smartSource(savedSearch(dir, "steps", query, {text(c.scope)}));
        ASSERT_EQ(runSearch({source}, sizeAndContentCriteria(), options).notifications, 1) << c.what;
        std::lock_guard guard(options.progress->lock);
        QStringList seen;
        for (const QString& t : options.progress->titles) {
            if (t.startsWith(step.left(step.indexOf(str("%@")))) || t == scanning)
                seen.append(t);
        }
        // The search's own "Scanning" may come before the saved search begins.
        while (!seen.isEmpty() && seen.first() == scanning)
            seen.removeFirst();
        EXPECT_EQ(seen, c.titles) << c.what;
        const auto& counts = options.progress->toCheckCounts;
        EXPECT_NE(std::find(counts.begin(), counts.end(), c.results), counts.end()) << c.what;
    }
}

TEST(KZSavedSearchSource, BrokenAndMissingSavedSearchesEndAtOnceWithoutResults)
{
    kztest::TempDir dir;
    const std::string twin = randomBytes(3000, 3);
    const fs::path x = dir.write("folder/x", twin);
    const fs::path y = dir.write("folder/y", twin);
    dir.write("other/z", twin);
    const QVariantList scope{text(dir / "other")};

    LogLines log;
    std::vector<KZSourceItemRef> sources{
        smartSource(dir.write("garbage.savedSearch", "this is no property list")),
        smartSource(dir / "missing.savedSearch"),
        smartSource(savedSearch(dir, "unparsable", str(R"(kMDItemFSName == "z)"), scope)),
        smartSource(savedSearch(dir, "noscope", str(R"(kMDItemFSName == "z")"), {text(dir / "gone")})),
        smartSource(savedSearch(dir, "network", str(R"(kMDItemFSName == "z")"), {str("kMDQueryScopeNetwork")})),
        folderSource(dir / "folder"),
    };
    // A valid plist without a query is as broken as an unreadable one.
    const fs::path empty = dir / "empty.savedSearch";
    ASSERT_TRUE(platform::PropertyList::writeFile(empty, QVariantMap{{str("RawQueryDict"), QVariantMap{}}}, Format::Xml));
    sources.push_back(smartSource(empty));
    // Scopes missing, misspelt or of the wrong type are damage: an empty list
    // would be the whole computer, and they must not walk it.
    const QString anyName = str(R"(kMDItemFSName == "*")");
    for (const auto& [name, scopes] : std::vector<std::pair<std::string, QVariantMap>>{
             {"missing", {{str("RawQuery"), anyName}}},
             {"misspelt", {{str("RawQuery"), anyName}, {str("SerchScopes"), QVariantList{}}}},
             {"dictionary", {{str("RawQuery"), anyName}, {str("SearchScopes"), QVariantMap{{text(dir.path()), true}}}}},
             {"number", {{str("RawQuery"), anyName}, {str("SearchScopes"), qint64(1)}}}}) {
        const fs::path file = dir / (name + "-scopes.savedSearch");
        ASSERT_TRUE(platform::PropertyList::writeFile(file, QVariantMap{{str("RawQueryDict"), scopes}}, Format::Xml));
        sources.push_back(smartSource(file));
    }

    const SearchResult result = runSearch(sources, sizeAndContentCriteria(), bounded());
    ASSERT_EQ(result.notifications, 1) << "the search did not end";
    EXPECT_EQ(groupSet(result.rows), (Groups{{x, y}}));
    EXPECT_EQ(log.count(str("Saved search skipped")), 10);
    // The result carries each one with its reason, for the end of the search
    // to say.
    const QStringList skipped = result.info.value(str("KZResultSkippedSources")).toStringList();
    ASSERT_EQ(skipped.size(), 10) << skipped.join(u'\n').toStdString();
    EXPECT_EQ(skipped.filter(QStringLiteral("“garbage.savedSearch”")).size(), 1) << skipped.join(u'\n').toStdString();
    EXPECT_EQ(skipped.filter(str("damaged")).size(), 4) << skipped.join(u'\n').toStdString();

    // Attributes that match nothing are said once per query.
    const fs::path authors = savedSearch(
        dir, "authors", str(R"(kMDItemAuthors == "a" || kMDItemAuthors == "b" || kMDItemFSName == "z")"), scope);
    const SearchResult alone = runSearch({smartSource(authors)}, sizeAndContentCriteria(), bounded());
    ASSERT_EQ(alone.notifications, 1);
    EXPECT_EQ(log.count(str("kMDItemAuthors")), 1);
}

TEST(KZSavedSearchSource, StopEndsTheQueryPromptly)
{
    kztest::TempDir dir;
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 50; ++j)
            dir.write("tree/" + std::to_string(i) + "/" + std::to_string(j) + ".dat", "same");
    const QVariantList scope{text(dir / "tree")};
    std::vector<KZSourceItemRef> sources;
    for (int k = 0; k < 3; ++k)
        sources.push_back(smartSource(savedSearch(dir, "all" + std::to_string(k), str(R"(kMDItemFSName == "*.dat")"), scope)));

    SearchOptions options = bounded();
    options.progress = std::make_shared<RecordingProgress>();
    options.progress->stopAfterToCheck = 10;
    const SearchResult result = runSearch(sources, sizeAndContentCriteria(), options);
    ASSERT_EQ(result.notifications, 1) << "the search did not end";
    EXPECT_TRUE(result.info.value(str("KZResultSearchWasStoppedByUser")).toBool());
    EXPECT_LT(result.rows.size(), 2000u); // one saved search alone finds 2000

    // A query stopped before it starts answers nothing and touches nothing.
    KZMDQuery::Options stopped;
    stopped.now = QDateTime::currentDateTime();
    stopped.wasStopped = [] { return true; };
    const auto none = KZMDQuery::run(dir / "all0.savedSearch", stopped);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

// A query of 300,000 terms joined by && crashed both tools; it is refused,
// with the reason, and one within the bound is run. In a child, so that a
// crash fails the test.
TEST(KZSavedSearchSource, AQueryOfTooManyComparisonsIsRefusedWithTheReason)
{
    kztest::expectCleanRunInChild([] {
        kztest::TempDir dir;
        dir.write("scope/a.txt", "a");
        const QVariantList scope{text(dir / "scope")};
        const auto chain = [](int terms, const char* op) {
            QStringList parts(terms - 1, str("kMDItemFSSize == 7"));
            parts << str(R"(kMDItemFSName == "a*")");
            return parts.join(str(op)).replace(str("== 7 &&"), str("!= 7 &&"));
        };
        KZMDQuery::Options options;
        options.now = QDateTime::currentDateTime();
        // XML escapes each '&' of a long run of && already past what is read.
        for (const auto& [op, format] : {std::pair(" && ", Format::Binary), std::pair(" || ", Format::Xml)}) {
            QString error;
            EXPECT_FALSE(KZMDQuery::run(savedSearch(dir, "long", chain(300000, op), scope, format), options, &error));
            EXPECT_TRUE(error.contains(str("more than 10000 comparisons"))) << error.toStdString();
            const auto found = KZMDQuery::run(savedSearch(dir, "bounded", chain(10000, op), scope, format), options, &error);
            ASSERT_TRUE(found) << error.toStdString();
            EXPECT_EQ(found->size(), 1u) << op;
        }
    });
}

TEST(KZSavedSearchSource, ScopesGivenThroughALinkOrTheHomeFolderAreWalked)
{
    kztest::TempDir dir;
    dir.write("real/a.txt", "a");
    dir.write("real/sub/b.txt", "b");
    dir.write("home/c.txt", "c");
    fs::create_symlink(dir / "real", dir / "link");
    fs::create_symlink(dir / "real/a.txt", dir / "home/loop.txt"); // a link is matched, never followed
    const fs::path file = savedSearch(dir, "txt", str(R"(kMDItemFSName == "*.txt")"),
                                      {text(dir / "link"), str("kMDQueryScopeHome")}, Format::Binary);
    KZMDQuery::Options options;
    options.home = dir / "home";
    options.now = QDateTime::currentDateTime();
    const auto found = KZMDQuery::run(file, options);
    ASSERT_TRUE(found);
    std::set<std::string> names;
    for (const KZLocationEntry& entry : *found)
        names.insert(entry.path.filename().native());
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt", "c.txt", "loop.txt"}));
}

// A single text where the list belongs is one scope, not a list of its
// characters.
TEST(KZSavedSearchSource, AScopeGivenAsOneTextIsThatFolder)
{
    kztest::TempDir dir;
    dir.write("only/a.txt", "a");
    dir.write("elsewhere/b.txt", "b");
    const fs::path file = dir / "one.savedSearch";
    const QVariantMap raw{{str("RawQuery"), str(R"(kMDItemFSName == "*.txt")")}, {str("SearchScopes"), text(dir / "only")}};
    ASSERT_TRUE(platform::PropertyList::writeFile(file, QVariantMap{{str("RawQueryDict"), raw}}, Format::Xml));
    KZMDQuery::Options options;
    options.home = dir / "home";
    options.now = QDateTime::currentDateTime();
    QString error;
    const auto found = KZMDQuery::run(file, options, &error);
    ASSERT_TRUE(found) << error.toStdString();
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front().path, dir / "only/a.txt");
}

// A scope is walked as the search window's sources are: a bundle or a
// photo library met inside it is one item, never entered, so neither a
// bundle's own files nor a library's masters are listed as plain files; a
// scope that is a package is that one item, and one inside a library is
// refused. "file://localhost/" names the folder "file:///" does.
TEST(KZSavedSearchSource, PackagesInAScopeAreOneItemAndLocalhostURLsAreLocal)
{
    kztest::TempDir dir;
    dir.write("scope/plain/a.jpg", "a");
    dir.write("scope/Tool.app/Contents/icon.jpg", "b");
    dir.write("scope/Family.photoslibrary/Masters/2024/c.jpg", "c");
    dir.write("scope/Cover.jpg.bundle/d.jpg", "d");
    const QString query = str(R"(kMDItemFSName == "*.jpg*")");
    const auto names = [&](const QString& scope, QString* error = nullptr) {
        KZMDQuery::Options options;
        options.home = dir / "home";
        options.now = QDateTime::currentDateTime();
        std::set<std::pair<std::string, bool>> found;
        const auto entries = KZMDQuery::run(savedSearch(dir, "jpg", query, {scope}), options, error);
        for (const KZLocationEntry& entry : entries.value_or(std::vector<KZLocationEntry>()))
            found.insert({entry.path.lexically_relative(dir.path()).native(), entry.isFolder});
        return entries ? std::optional(found) : std::nullopt;
    };
    using Found = std::set<std::pair<std::string, bool>>;
    QString error;
    EXPECT_EQ(names({text(dir / "scope")}, &error), (Found{{"scope/plain/a.jpg", false}, {"scope/Cover.jpg.bundle", false}}))
        << error.toStdString();
    EXPECT_EQ(names({str("file://localhost") + text(dir / "scope")}, &error),
              (Found{{"scope/plain/a.jpg", false}, {"scope/Cover.jpg.bundle", false}}))
        << error.toStdString();
    EXPECT_EQ(names({str("file://LOCALHOST") + text(dir / "scope/plain") + str("/")}, &error),
              (Found{{"scope/plain/a.jpg", false}}))
        << error.toStdString();
    EXPECT_EQ(names({text(dir / "scope/Cover.jpg.bundle")}), (Found{{"scope/Cover.jpg.bundle", false}}));
    EXPECT_EQ(names({text(dir / "scope/Tool.app")}), Found{});

    EXPECT_FALSE(names({text(dir / "scope/Family.photoslibrary/Masters")}, &error));
    EXPECT_TRUE(error.contains(str("photo library"))) << error.toStdString();
    EXPECT_FALSE(names({str("file://elsewhere") + text(dir / "scope")}, &error));
    EXPECT_TRUE(error.contains(str("not a local folder"))) << error.toStdString();

    // A library's masters shown again at a plain path by a mount are the
    // library's all the same: one item inside a scope, refused as a scope.
    const auto outcome = kztest::runWithPrivateMounts([&] {
        kztest::bindMount(dir / "scope/Family.photoslibrary/Masters", dir / "shown/pictures");
        QString why;
        EXPECT_EQ(names(text(dir / "shown"), &why), Found{}) << why.toStdString();
        EXPECT_FALSE(names(text(dir / "shown/pictures"), &why));
        EXPECT_TRUE(why.contains(str("photo library"))) << why.toStdString();
    });
    if (outcome == kztest::Isolated::Unavailable)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, kztest::Isolated::Passed);
}
