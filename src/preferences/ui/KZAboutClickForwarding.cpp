#include "preferences/ui/KZAboutClickForwarding.h"

#include <QAbstractButton>

namespace KZAboutClickForwarding {

namespace {
bool isOver(QAbstractButton* splash, const QPointF& globalPosition)
{
    return splash->rect().contains(splash->mapFromGlobal(globalPosition.toPoint()));
}
} // namespace

void press(QAbstractButton* splash)
{
    if (splash)
        splash->setDown(true);
}

void drag(QAbstractButton* splash, const QPointF& globalPosition)
{
    if (splash)
        splash->setDown(isOver(splash, globalPosition));
}

void release(QAbstractButton* splash, const QPointF& globalPosition)
{
    if (!splash)
        return;
    const bool over = isOver(splash, globalPosition);
    splash->setDown(false);
    if (over)
        splash->click();
}

} // namespace KZAboutClickForwarding
