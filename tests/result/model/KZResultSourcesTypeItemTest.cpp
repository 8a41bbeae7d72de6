#include "TestSupport.h"

#include "platform/UserDefaults.h"
#include "result/model/KZResultSourcesTypeItem.h"
#include "services/KZNumberUtilities.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZTags.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr quint64 kMax = std::numeric_limits<quint64>::max();
constexpr KZTabTag kEmpty = KZTag::emptyFolders;
constexpr KZTabTag kSource = KZTag::sourceRowBase + 2;
constexpr KZTabTag kMarkedRow = KZTag::markedItemsRowBase + 3;

QString size(quint64 bytes)
{
    return KZNumberUtilities::sharedControl().sizeToFormatString(bytes, 4, true);
}

QString sized(const char* format, quint64 bytes, const char* count)
{
    return QString::fromLatin1(format).arg(size(bytes), QString::fromLatin1(count));
}

QString counted(const char* format, const char* count)
{
    return QString::fromLatin1(format).arg(QString::fromLatin1(count));
}

struct Figures {
    quint64 itemsCount, itemsSize, markedCount, markedSize, removedCount, removedSize;
};

KZResultSourcesTypeItem row(quint64 tag, Figures f)
{
    KZResultSourcesTypeItem item({{QStringLiteral("name"), QStringLiteral("Row")},
                                  {QStringLiteral("tag"), QVariant::fromValue(tag)},
                                  {QStringLiteral("count"), QVariant::fromValue(f.itemsCount)},
                                  {QStringLiteral("size"), QVariant::fromValue(f.itemsSize)}});
    item.markedCount = f.markedCount;
    item.markedSize = f.markedSize;
    item.removedCount = f.removedCount;
    item.removedSize = f.removedSize;
    return item;
}

const QString kNoMarked = QStringLiteral("No marked items");

} // namespace

// Every branch of the line under a row's name.
TEST(SourcesRowModel, InfoLineForEveryKindOfRowAndPreference)
{
    struct Case {
        const char* name;
        quint64 tag, owner;
        bool showMarked;
        Figures figures;
        QString expected;
    };
    const Case cases[] = {
        {"new row, marked shown", 0, 0, true, {0, 0, 0, 0, 0, 0}, kNoMarked},
        {"new row, items shown", 0, 0, false, {0, 0, 0, 0, 0, 0}, sized("%1 in %2 items", 0, "0")},
        {"marked shown", kSource, 0, true, {5, 500, 2, 200, 0, 0}, sized("%1 in %2 marked", 200, "2")},
        {"items shown", kSource, 0, false, {5, 500, 2, 200, 0, 0}, sized("%1 in %2 items", 500, "5")},
        {"all removed, marked shown", kSource, 0, true, {0, 0, 0, 0, 3, 300}, sized("%1 in %2 removed", 300, "3")},
        {"all removed, items shown", kSource, 0, false, {0, 0, 0, 0, 3, 300}, sized("%1 in %2 removed", 300, "3")},
        {"some removed, marked shown", kSource, 0, true, {2, 20, 0, 0, 3, 300}, kNoMarked},
        {"marked row ignores the preference", kMarkedRow, 3, false, {2, 20, 2, 20, 0, 0},
         sized("%1 in %2 marked", 20, "2")},
        {"marked row with nothing marked", kMarkedRow, 3, false, {0, 0, 0, 0, 4, 40}, kNoMarked},
        {"empty folders, marked row", KZTag::markedItemsRowBase + kEmpty, kEmpty, true, {4, 0, 4, 0, 0, 0},
         counted("%1 marked", "4")},
        {"empty folders, items", kEmpty, kEmpty, false, {1234, 0, 0, 0, 0, 0}, counted("%1 items", "1,234")},
        {"empty folders, marked", kEmpty, kEmpty, true, {9, 0, 7, 0, 0, 0}, counted("%1 marked", "7")},
        {"empty folders, removed", kEmpty, kEmpty, true, {0, 0, 0, 0, 3, 0}, counted("%1 removed", "3")},
    };
    for (const Case& c : cases) {
        const KZResultSourcesTypeItem item = row(c.tag, c.figures);
        EXPECT_EQ(item.formattedInfoWithOwnerTag(c.owner, c.showMarked), c.expected) << c.name;
    }
}

TEST(SourcesRowModel, InfoLineReadsThePreferenceAsOffWhenAbsent)
{
    kztest::ScopedDefaults defaults;
    const KZResultSourcesTypeItem item = row(kSource, {5, 500, 2, 200, 0, 0});
    defaults->removeValue(KZDefaultsKey::show_marked_info);
    EXPECT_EQ(item.formattedInfoWithOwnerTag(0), sized("%1 in %2 items", 500, "5"));
    defaults->setValue(KZDefaultsKey::show_marked_info, true);
    EXPECT_EQ(item.formattedInfoWithOwnerTag(0), sized("%1 in %2 marked", 200, "2"));
}

// The popover shows what the line does not, and what went.
TEST(SourcesRowModel, PopoverFiguresComplementTheLine)
{
    const KZResultSourcesTypeItem some = row(kSource, {5, 500, 2, 200, 0, 0});
    EXPECT_EQ(some.appropriateInfoString(0, true), sized("%1 in %2 items", 500, "5"));
    EXPECT_EQ(some.appropriateInfoString(0, false), sized("%1 in %2 marked", 200, "2"));
    EXPECT_EQ(some.appriopiateRemoveString(0, true), QStringLiteral("Nothing removed yet"));
    EXPECT_EQ(row(kSource, {5, 500, 0, 0, 0, 0}).appropriateInfoString(0, false), kNoMarked);

    const KZResultSourcesTypeItem partly = row(kSource, {5, 500, 2, 200, 3, 300});
    EXPECT_EQ(partly.appriopiateRemoveString(0, true), sized("%1 in %2 removed", 300, "3"));
    // All gone: the line shows the removed figures, so the popover the others.
    const KZResultSourcesTypeItem gone = row(kSource, {0, 0, 0, 0, 3, 300});
    EXPECT_EQ(gone.appriopiateRemoveString(0, true), sized("%1 in %2 marked", 0, "0"));
    EXPECT_EQ(gone.appriopiateRemoveString(0, false), sized("%1 in %2 items", 0, "0"));

    // The empty-folders tab never shows a size.
    const KZResultSourcesTypeItem folders = row(kEmpty, {6, 0, 2, 0, 3, 0});
    EXPECT_EQ(folders.appropriateInfoString(kEmpty, true), counted("%1 items", "6"));
    EXPECT_EQ(folders.appropriateInfoString(kEmpty, false), counted("%1 marked", "2"));
    EXPECT_EQ(folders.appriopiateRemoveString(kEmpty, true), counted("%1 removed", "3"));
    EXPECT_EQ(row(kEmpty, {0, 0, 0, 0, 3, 0}).appriopiateRemoveString(kEmpty, false), counted("%1 items", "0"));
}

TEST(SourcesRowModel, FiguresNeverWrapAroundEitherEnd)
{
    using Item = KZResultSourcesTypeItem;
    EXPECT_EQ(Item::moved(10, 3, true), 13u);
    EXPECT_EQ(Item::moved(10, 3, false), 7u);
    EXPECT_EQ(Item::moved(2, 3, false), 0u);
    EXPECT_EQ(Item::moved(2, -3, true), 0u) << "a negative change added takes away";
    EXPECT_EQ(Item::moved(2, -3, false), 5u);
    EXPECT_EQ(Item::moved(kMax - 1, 5, true), kMax);
    EXPECT_EQ(Item::moved(5, std::numeric_limits<qint64>::min(), true), 0u);
    EXPECT_EQ(Item::moved(0, std::numeric_limits<qint64>::min(), false), quint64(1) << 63);
}

