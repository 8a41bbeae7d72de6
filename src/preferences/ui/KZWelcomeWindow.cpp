#include "preferences/ui/KZWelcomeWindow.h"

KZWelcomeWindow::KZWelcomeWindow(QWidget* parent) : KZPanelWindow(parent)
{
    setObjectName(QStringLiteral("welcomeWindow"));
    setWindowTitle(tr("Welcome to Maravex"));
}
