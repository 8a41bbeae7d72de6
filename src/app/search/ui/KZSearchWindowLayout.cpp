#include "app/search/ui/KZSearchWindowLayout.h"

#include "app/search/ui/KZSearchWindowCntrl.h"

#include <QWidget>

KZSearchWindowLayout buildSearchWindowLayout(QObject* owner)
{
    KZSearchWindowLayout layout;
    layout.windowCntrl = new KZSearchWindowCntrl(owner);
    layout.window = new QWidget;
    layout.window->resize(400, 400);
    QObject::connect(layout.windowCntrl, &QObject::destroyed, layout.window, &QObject::deleteLater);
    return layout;
}
