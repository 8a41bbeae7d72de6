#include "preferences/ui/KZSubscribeWindow.h"

KZSubscribeWindow::KZSubscribeWindow(QWidget* parent) : KZPanelWindow(parent)
{
    setObjectName(QStringLiteral("subscribeWindow"));
    setWindowTitle(tr("Maravex Newsletter"));
}
