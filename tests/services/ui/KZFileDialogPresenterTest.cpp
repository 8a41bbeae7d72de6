#include "services/KZFileDialogPresenter.h"
#include "services/ui/KZFileDialogSheetPresenter.h"
#include "services/ui/KZInterfaceUtilities.h"
#include "services/ui/KZOpenPanel.h"

#include "TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Answers every request with the next scripted answer and keeps the requests.
class ScriptedDialogs : public KZFileDialogPresenter {
public:
    std::vector<Request> requests;
    Answer next;
    void present(const Request& request, Completion done) override
    {
        requests.push_back(request);
        done(next);
    }
};

class FileDialogPresenterTest : public ::testing::Test {
protected:
    void SetUp() override { KZFileDialogPresenter::setShared(scripted); }
    void TearDown() override { KZFileDialogPresenter::setShared(nullptr); }
    std::shared_ptr<ScriptedDialogs> scripted = std::make_shared<ScriptedDialogs>();
};

} // namespace

TEST_F(FileDialogPresenterTest, TheFolderPanelIsAskedThroughTheRegisteredPresenter)
{
    QWidget window;
    scripted->next = {true, {u"/srv/a"_s, u"/srv/b"_s}};
    QVariant response, context;
    KZInterfaceUtilities::sharedControl().askForDirectories(
        [&](const QVariant& r, const QVariant& c) {
            response = r;
            context = c;
        },
        {{u"window"_s, QVariant::fromValue<QObject*>(&window)},
         {u"allowsMultipleSelection"_s, true},
         {u"includeSmartFolder"_s, true},
         {u"userInfo"_s, QVariantMap{{u"k"_s, 1}}}});
    ASSERT_EQ(scripted->requests.size(), 1u);
    const KZFileDialogPresenter::Request& request = scripted->requests.front();
    EXPECT_EQ(request.mode, KZFileDialogPresenter::Mode::ChooseFolders);
    EXPECT_EQ(request.window, &window);
    EXPECT_TRUE(request.allowsMultipleSelection);
    EXPECT_FALSE(request.canCreateDirectories);
    EXPECT_EQ(request.allowedTypes, (QStringList{u"photoslibrary"_s, u"savedSearch"_s}));
    EXPECT_EQ(response.toInt(), 1);
    const QVariantMap info = context.toMap();
    EXPECT_EQ(info.value(u"k"_s), 1);
    EXPECT_EQ(info.value(u"urls"_s).toList().value(1).toUrl(), QUrl::fromLocalFile(u"/srv/b"_s));

    scripted->next = {};
    KZInterfaceUtilities::sharedControl().askForDirectories(
        [&](const QVariant& r, const QVariant& c) {
            response = r;
            context = c;
        },
        {});
    EXPECT_EQ(response.toInt(), 0);
    EXPECT_TRUE(context.toList().isEmpty());
}

TEST_F(FileDialogPresenterTest, WithoutAPresenterARequestIsCancelled)
{
    KZFileDialogPresenter::setShared(nullptr);
    bool answered = false;
    KZFileDialogPresenter::ask({}, [&](const KZFileDialogPresenter::Answer& answer) {
        answered = true;
        EXPECT_FALSE(answer.accepted);
    });
    EXPECT_TRUE(answered);
}

TEST(FileDialogSheetPresenterTest, DialogsAreBuiltForTheirMode)
{
    KZFileDialogPresenter::Request save;
    save.mode = KZFileDialogPresenter::Mode::SaveFile;
    save.allowedTypes = {u"maravex"_s};
    save.suggestedName = u"Result.maravex"_s;
    save.acceptTitle = u"Save"_s;
    const auto saveDialog = KZFileDialogSheetPresenter::createDialog(save);
    EXPECT_EQ(saveDialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(saveDialog->defaultSuffix(), u"maravex"_s);
    EXPECT_EQ(saveDialog->labelText(QFileDialog::Accept), u"Save"_s);
    // Where the user is at home, not the folder the program started from.
    EXPECT_EQ(QDir(saveDialog->directory()).canonicalPath(), QDir(KZOpenPanel::startDirectory()).canonicalPath());
    EXPECT_NE(QDir(saveDialog->directory()).canonicalPath(), QDir::current().canonicalPath());

    KZFileDialogPresenter::Request open;
    open.mode = KZFileDialogPresenter::Mode::OpenFiles;
    open.allowedTypes = {u"maravex"_s};
    const auto openDialog = KZFileDialogSheetPresenter::createDialog(open);
    EXPECT_EQ(openDialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(openDialog->nameFilters(), QStringList{u"*.maravex"_s});

    KZFileDialogPresenter::Request folders;
    folders.allowsMultipleSelection = true;
    const auto folderPanel = KZFileDialogSheetPresenter::createDialog(folders);
    ASSERT_TRUE(qobject_cast<KZOpenPanel*>(folderPanel.get()));
    EXPECT_TRUE(qobject_cast<KZOpenPanel*>(folderPanel.get())->allowsMultipleSelection());
    EXPECT_FALSE(KZFileDialogSheetPresenter::answerOf(*folderPanel, QDialog::Rejected).accepted);
}

// A sentence is the dialog's message above its file list, never its title;
// the title is the few words the asker gave, or the dialog's own.
TEST(FileDialogSheetPresenterTest, TheMessageShowsAboveTheListAndTheTitleStaysShort)
{
    const QString sentence = u"Save this result to open it again later."_s;
    for (auto mode : {KZFileDialogPresenter::Mode::SaveFile, KZFileDialogPresenter::Mode::OpenFiles,
                      KZFileDialogPresenter::Mode::ChooseFolders}) {
        KZFileDialogPresenter::Request request;
        request.mode = mode;
        request.message = sentence;
        request.checkBoxTitle = u"Only these"_s;
        const auto untitled = KZFileDialogSheetPresenter::createDialog(request);
        EXPECT_NE(untitled->windowTitle(), sentence);
        EXPECT_FALSE(untitled->windowTitle().endsWith(u'.'));

        request.title = u"Save Result"_s;
        const auto dialog = KZFileDialogSheetPresenter::createDialog(request);
        EXPECT_EQ(dialog->windowTitle(), u"Save Result"_s);
        auto* label = dialog->findChild<QLabel*>(u"fileDialogMessage"_s);
        ASSERT_TRUE(label);
        EXPECT_EQ(label->text(), sentence);
        dialog->resize(760, 480);
        dialog->show();
        EXPECT_TRUE(label->isVisible());
        // Above the file list, and the check box still below everything.
        QWidget* list = dialog->findChild<QListView*>(u"listView"_s);
        ASSERT_TRUE(list);
        const int labelBottom = label->mapTo(dialog.get(), QPoint(0, label->height())).y();
        EXPECT_LE(labelBottom, list->mapTo(dialog.get(), QPoint(0, 0)).y());
        auto* box = dialog->findChild<QCheckBox*>();
        ASSERT_TRUE(box);
        EXPECT_GT(box->mapTo(dialog.get(), QPoint(0, 0)).y(), list->mapTo(dialog.get(), QPoint(0, 0)).y());
        dialog->hide();
    }

    // No message, no empty line above the list.
    KZFileDialogPresenter::Request plain;
    plain.mode = KZFileDialogPresenter::Mode::OpenFiles;
    const auto quiet = KZFileDialogSheetPresenter::createDialog(plain);
    const auto* none = quiet->findChild<QLabel*>(u"fileDialogMessage"_s);
    EXPECT_TRUE(!none || none->isHidden());
}

// The export panel's check box: shown below the dialog's controls in its
// initial state, and answered as the user left it, also for a cancel.
TEST(FileDialogSheetPresenterTest, ACheckBoxIsAddedAndAnswered)
{
    KZFileDialogPresenter::Request save;
    save.mode = KZFileDialogPresenter::Mode::SaveFile;
    save.allowedTypes = {u"txt"_s};
    save.checkBoxTitle = u"Only these"_s;
    const auto dialog = KZFileDialogSheetPresenter::createDialog(save);
    const QList<QCheckBox*> boxes = dialog->findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), 1);
    QCheckBox* box = boxes.front();
    EXPECT_EQ(box->text(), u"Only these"_s);
    EXPECT_FALSE(box->isChecked());
    dialog->show();
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(KZFileDialogSheetPresenter::answerOf(*dialog, QDialog::Accepted).checkBoxChecked);
    box->setChecked(true);
    EXPECT_TRUE(KZFileDialogSheetPresenter::answerOf(*dialog, QDialog::Accepted).checkBoxChecked);
    EXPECT_TRUE(KZFileDialogSheetPresenter::answerOf(*dialog, QDialog::Rejected).checkBoxChecked);
    dialog->hide();

    save.checkBoxChecked = true;
    EXPECT_TRUE(KZFileDialogSheetPresenter::createDialog(save)->findChild<QCheckBox*>()->isChecked());

    // Without a title there is no box, and the answer keeps the given state.
    save.checkBoxTitle.clear();
    const auto plain = KZFileDialogSheetPresenter::createDialog(save);
    EXPECT_EQ(plain->findChildren<QCheckBox*>().size(), 0);
    EXPECT_TRUE(KZFileDialogSheetPresenter::answerOf(*plain, QDialog::Rejected, true).checkBoxChecked);
}
