#pragma once

#include "services/KZFileDialogPresenter.h"

#include <memory>

class QFileDialog;
class QWidget;

// Shows file requests in Qt's file dialog: window-modal on the request's
// window with open(), application-modal without one. Folder requests use
// the folder panel, which can also choose folder documents. Main thread only.
class KZFileDialogSheetPresenter : public KZFileDialogPresenter {
public:
    void present(const Request& request, Completion done) override;

    // The dialog for `request`, configured and not yet shown.
    static std::unique_ptr<QFileDialog> createDialog(const Request& request, QWidget* parent = nullptr);
    // What a dialog made by createDialog() answered when it closed with
    // `result`; `checkBoxChecked` stands for a check box it could not show.
    static Answer answerOf(const QFileDialog& dialog, int result, bool checkBoxChecked = false);
};
