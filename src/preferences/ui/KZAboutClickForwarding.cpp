#include "preferences/ui/KZAboutClickForwarding.h"

#include <QAbstractButton>

namespace KZAboutClickForwarding {

namespace {
bool isOver(const QWidget* widget, const QPointF& globalPosition)
{
    return widget && widget->rect().contains(widget->mapFromGlobal(globalPosition.toPoint()));
}
bool isOver(QAbstractButton* splash, const QWidget* text, const QPointF& globalPosition)
{
    return isOver(splash, globalPosition) || isOver(text, globalPosition);
}
} // namespace

void press(QAbstractButton* splash)
{
    if (splash)
        splash->setDown(true);
}

void drag(QAbstractButton* splash, const QWidget* text, const QPointF& globalPosition)
{
    if (splash)
        splash->setDown(isOver(splash, text, globalPosition));
}

void release(QAbstractButton* splash, const QWidget* text, const QPointF& globalPosition)
{
    if (!splash)
        return;
    const bool over = isOver(splash, text, globalPosition);
    splash->setDown(false);
    if (over)
        splash->click();
}

} // namespace KZAboutClickForwarding
