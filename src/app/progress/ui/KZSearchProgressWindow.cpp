#include "app/progress/ui/KZSearchProgressWindow.h"

#include "app/progress/ui/KZSearchProgress.h"

KZSearchProgressWindow::KZSearchProgressWindow(KZSearchProgress& controller, QWidget* searchView)
    : QWidget(nullptr, Qt::FramelessWindowHint), controller_(controller)
{
    if (searchView && searchView->window())
        setGeometry(searchView->window()->geometry());
}

KZSearchProgressWindow::~KZSearchProgressWindow() = default;
