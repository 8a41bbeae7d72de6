#include "services/ui/KZFileDialogSheetPresenter.h"

#include "services/ui/KZOpenPanel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QWidget>

namespace {

const QString checkBoxName = QStringLiteral("fileDialogCheckBox");

// Puts the request's check box in a row of its own below the dialog's
// fields; a native dialog has no layout to hold it.
void addCheckBox(QFileDialog& dialog, const KZFileDialogPresenter::Request& request)
{
    if (request.checkBoxTitle.isEmpty())
        return;
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid)
        return;
    auto* box = new QCheckBox(request.checkBoxTitle, &dialog);
    box->setObjectName(checkBoxName);
    box->setChecked(request.checkBoxChecked);
    // Under the name and type fields, past their labels.
    const int column = grid->columnCount() > 1 ? 1 : 0;
    grid->addWidget(box, grid->rowCount(), column, 1, grid->columnCount() - column);
}

} // namespace

std::unique_ptr<QFileDialog> KZFileDialogSheetPresenter::createDialog(const Request& request, QWidget* parent)
{
    std::unique_ptr<QFileDialog> dialog;
    if (request.mode == Mode::ChooseFolders) {
        auto panel = std::make_unique<KZOpenPanel>(parent);
        panel->setAllowedFileTypes(request.allowedTypes);
        panel->setAllowsMultipleSelection(request.allowsMultipleSelection);
        panel->setCanCreateDirectories(request.canCreateDirectories);
        panel->setMessage(request.message);
        dialog = std::move(panel);
    } else {
        dialog = std::make_unique<QFileDialog>(parent);
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        // Like the folder panel: not the folder the program was started
        // from, which a user never chose.
        dialog->setDirectory(KZOpenPanel::startDirectory());
        QStringList patterns;
        for (const QString& ext : request.allowedTypes)
            patterns << QStringLiteral("*.") + ext;
        if (!patterns.isEmpty())
            dialog->setNameFilter(patterns.join(QLatin1Char(' ')));
        if (request.mode == Mode::SaveFile) {
            dialog->setAcceptMode(QFileDialog::AcceptSave);
            dialog->setFileMode(QFileDialog::AnyFile);
            if (!request.allowedTypes.isEmpty())
                dialog->setDefaultSuffix(request.allowedTypes.first());
        } else {
            dialog->setAcceptMode(QFileDialog::AcceptOpen);
            dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                                : QFileDialog::ExistingFile);
        }
        dialog->setOption(QFileDialog::ReadOnly, !request.canCreateDirectories && request.mode != Mode::SaveFile);
        KZOpenPanel::showMessage(*dialog, request.message);
    }
    if (!request.title.isEmpty())
        dialog->setWindowTitle(request.title);
    if (!request.acceptTitle.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, request.acceptTitle);
    if (!request.directory.isEmpty())
        dialog->setDirectory(request.directory);
    if (!request.suggestedName.isEmpty())
        dialog->selectFile(request.suggestedName);
    addCheckBox(*dialog, request);
    return dialog;
}

KZFileDialogPresenter::Answer KZFileDialogSheetPresenter::answerOf(const QFileDialog& dialog, int result,
                                                                  bool checkBoxChecked)
{
    Answer answer;
    answer.checkBoxChecked = checkBoxChecked;
    if (const auto* box = dialog.findChild<const QCheckBox*>(checkBoxName, Qt::FindDirectChildrenOnly))
        answer.checkBoxChecked = box->isChecked();
    if (result != QDialog::Accepted)
        return answer;
    if (const auto* panel = qobject_cast<const KZOpenPanel*>(&dialog))
        answer.paths = panel->chosenPaths();
    else
        answer.paths = dialog.selectedFiles();
    answer.accepted = !answer.paths.isEmpty();
    return answer;
}

void KZFileDialogSheetPresenter::present(const Request& request, Completion done)
{
    QWidget* window = qobject_cast<QWidget*>(request.window.data());
    if (window)
        window = window->window();
    std::unique_ptr<QFileDialog> dialog = createDialog(request, window);
    if (!window) {
        const int result = dialog->exec();
        if (done)
            done(answerOf(*dialog, result, request.checkBoxChecked));
        return;
    }
    QFileDialog* sheet = dialog.release();
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(sheet, &QDialog::finished, sheet, [sheet, done, checked = request.checkBoxChecked](int result) {
        if (done)
            done(answerOf(*sheet, result, checked));
    });
    sheet->open();
}
