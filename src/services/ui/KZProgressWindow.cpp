#include "services/ui/KZProgressWindow.h"

#include "services/ui/KZGenericProgressWindowCntrl.h"

#include <QCloseEvent>

KZProgressWindow::KZProgressWindow(KZGenericProgressWindowCntrl* controller, QWidget* parent)
    : QDialog(parent)
    , controller_(controller)
{
}

void KZProgressWindow::reject()
{
    if (controller_)
        controller_->stopAction();
}

void KZProgressWindow::closeEvent(QCloseEvent* event)
{
    // A close from the window manager is the user's; one from code is the
    // owner ending its work.
    if (event->spontaneous() && controller_) {
        controller_->stopAction();
        event->ignore();
        return;
    }
    // QDialog::closeEvent() would go through reject(), which stops instead
    // of closing.
    done(QDialog::Rejected);
    event->accept();
}
