#include "app/search/ui/KZSearchWindowLayout.h"

#include "app/search/ui/KZSearchView.h"
#include "app/search/ui/KZSearchWindow.h"
#include "app/search/ui/KZSearchWindowCntrl.h"

KZSearchWindowLayout buildSearchWindowLayout(QObject* owner)
{
    KZSearchWindowLayout layout;
    auto* window = new KZSearchWindow;
    auto* view = new KZSearchView;
    window->setContentView(view);
    layout.window = window;
    layout.windowCntrl = new KZSearchWindowCntrl(view, owner);
    QObject::connect(layout.windowCntrl, &QObject::destroyed, window, &QObject::deleteLater);
    return layout;
}
