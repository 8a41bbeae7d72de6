#include "app/search/ui/KZSearchWindowCntrl.h"

#include <QWidget>

KZSearchWindowCntrl::KZSearchWindowCntrl(QObject* parent) : QObject(parent) {}

KZSearchWindowCntrl::~KZSearchWindowCntrl() = default;

void KZSearchWindowCntrl::setTheWindow(QWidget* window)
{
    m_window = window;
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
