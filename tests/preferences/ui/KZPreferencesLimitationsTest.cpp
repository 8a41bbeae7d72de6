#include "preferences/ui/KZPreferencesLimitationsCntrl.h"
#include "preferences/ui/KZColorWell.h"

#include "preferences/KZLimitationsList.h"
#include "preferences/ui/KZTokenDelegate.h"

#include "platform/UserDefaults.h"
#include "services/ui/KZInterfaceUtilities.h"
#include "services/ui/KZOpenPanel.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZDefaultsRegistry.h"

#include "TestSupport.h"

#include <QHeaderView>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace K = KZDefaultsKey;
namespace R = KZDefaultsRowKey;
using List = KZLimitationsList::List;
using namespace Qt::StringLiterals;

namespace {

class PreferencesLimitationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KZDefaultsRegistry::setupDefaultsPreferences(*defaults);
        pane = std::make_unique<KZPreferencesLimitationsCntrl>();
        pane->show();
    }
    void TearDown() override
    {
        pane.reset();
        KZInterfaceUtilities::setPanelAnswerProvider({});
    }

    QStringList values(List which) const
    {
        const KZLimitationsList list(*defaults, which);
        QStringList result;
        for (const QVariantMap& row : list.rows())
            result.append(list.valueAt(row));
        return result;
    }
    static void refresh()
    {
        // Two hops: the defaults' observer queues the refresh, which runs on
        // the next turn. A wait alone may end after one long first turn.
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
        QTest::qWait(5);
    }

    kztest::ScopedDefaults defaults;
    std::unique_ptr<KZPreferencesLimitationsCntrl> pane;
};

} // namespace

TEST_F(PreferencesLimitationsTest, AddingFoldersSkipsOnlyTheSameFolder)
{
    bool multiple = false, create = true;
    QString message;
    KZInterfaceUtilities::setPanelAnswerProvider([&](const KZOpenPanel& panel) {
        multiple = panel.allowsMultipleSelection();
        create = panel.canCreateDirectories();
        message = panel.message();
        return KZInterfaceUtilities::PanelAnswer{
            QDialog::Accepted, {u"/data/Photos"_s, u"/Applications/"_s, u"/data/photos"_s}};
    });
    pane->addLimitsBtn()->click();
    ASSERT_TRUE(kztest::processEventsUntil([&] { return pane->locationsTable()->rowCount() == 3; }));
    EXPECT_TRUE(multiple);
    EXPECT_FALSE(create);
    // The folders chosen here are left out: the panel never says they will be searched.
    EXPECT_FALSE(message.isEmpty());
    EXPECT_FALSE(message.contains(u"search"_s, Qt::CaseInsensitive)) << message.toStdString();
    EXPECT_EQ(values(List::Locations), (QStringList{u"/Applications"_s, u"/data/Photos"_s, u"/data/photos"_s}));

    // A cancelled panel changes nothing.
    KZInterfaceUtilities::setPanelAnswerProvider(
        [](const KZOpenPanel&) { return KZInterfaceUtilities::PanelAnswer{QDialog::Rejected, {u"/x"_s}}; });
    pane->addLimitsBtn()->click();
    refresh();
    EXPECT_EQ(values(List::Locations).size(), 3);
}

TEST_F(PreferencesLimitationsTest, ANewExtensionRowIsEditedAndGoesWhenLeftEmpty)
{
    pane->selectTab(u"extensions"_s);
    pane->addLimitsBtn()->click();
    EXPECT_EQ(pane->extensionsTable()->rowCount(), 10);
    auto* editor = pane->extensionsTable()->findChild<QLineEdit*>(u"tokenEditor"_s);
    ASSERT_TRUE(editor);
    EXPECT_TRUE(pane->extensionsTable()->selectionModel()->selectedRows().isEmpty());

    // Ending the edit without tokens removes the row.
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(kztest::processEventsUntil([&] { return pane->extensionsTable()->rowCount() == 9; }));
    EXPECT_EQ(values(List::Extensions).size(), 9);

    // Tokens typed into a row replace its string.
    Q_EMIT pane->tokenDelegate()->tokensEdited(pane->extensionsTable()->model()->index(2, 1), u"json, yaml"_s);
    EXPECT_EQ(values(List::Extensions).at(2), u"json,yaml"_s);
}

TEST_F(PreferencesLimitationsTest, TickingABoxLeavesTheSelectionAlone)
{
    QTableWidget* table = pane->extensionsTable();
    pane->selectTab(u"extensions"_s);
    table->selectRow(0);
    ASSERT_TRUE(pane->removeLimitsBtn()->isEnabled());
    const QRect check = table->visualRect(table->model()->index(3, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, check.center());
    EXPECT_EQ(table->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table->selectionModel()->selectedRows().first().row(), 0);
    EXPECT_TRUE(pane->removeLimitsBtn()->isEnabled());

    table->item(3, 0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(KZLimitationsList::isChecked(KZLimitationsList(*defaults, List::Extensions).rows().at(3)));
}

TEST_F(PreferencesLimitationsTest, RemoveAndRestoreActOnTheTabInFront)
{
    QVariantList five;
    for (const QString& path : {u"/0"_s, u"/1"_s, u"/2"_s, u"/3"_s, u"/4"_s})
        five.append(QVariantMap{{R::locations_excl, path}, {R::check_col, true}});
    defaults->setValue(K::locations_excluded, five);
    refresh();
    QTableWidget* table = pane->locationsTable();
    ASSERT_EQ(table->rowCount(), 5);
    table->setSelectionMode(QAbstractItemView::MultiSelection);
    table->selectRow(1);
    table->selectRow(3);
    pane->removeLimitsBtn()->click();
    EXPECT_EQ(values(List::Locations), (QStringList{u"/0"_s, u"/2"_s, u"/4"_s}));
    EXPECT_FALSE(pane->removeLimitsBtn()->isEnabled());

    pane->selectTab(u"extensions"_s);
    defaults->setValue(K::extensions_excluded, QVariantList{});
    pane->restoreBtn()->click();
    EXPECT_EQ(pane->extensionsTable()->rowCount(), 9);
    EXPECT_EQ(values(List::Locations).size(), 3);
}

TEST_F(PreferencesLimitationsTest, AHandEditedListOfTheWrongTypeShowsEmpty)
{
    defaults->setValue(K::extensions_excluded, u"tmp,log"_s);
    refresh();
    EXPECT_EQ(pane->extensionsTable()->rowCount(), 0);
    EXPECT_EQ(pane->locationsTable()->rowCount(), 1);
}

// Each control of the pane that Tab reaches looks different with the focus
// (the style sheets and the lists' own painting drop the style's mark), and
// so does a label's colour well.
TEST_F(PreferencesLimitationsTest, EveryControlShowsTheFocus)
{
    auto* well = new KZColorWell(pane.get());
    well->setColor(Qt::red);
    well->show();
    pane->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pane.get()));
    // As after a real Tab, which the style waits for to mark the focus.
    QTest::keyClick(pane.get(), Qt::Key_Tab);
    QList<QWidget*> controls{well};
    for (const char16_t* name : {u"locationsTabBtn", u"locationsTable", u"addLimitsBtn", u"restoreLimitsBtn"})
        controls << pane->findChild<QWidget*>(QString::fromUtf16(name));
    for (QWidget* control : controls) {
        ASSERT_TRUE(control);
        SCOPED_TRACE(control->objectName().toStdString());
        control->clearFocus();
        QCoreApplication::processEvents();
        const QImage plain = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        EXPECT_NE(control->grab().toImage(), plain) << "no sign of the focus";
    }
}
