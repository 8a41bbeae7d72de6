#include "result/window/ui/KZMarkMenuWidget.h"

#include "platform/StringTable.h"
#include "result/model/KZMarkingRequest.h"

#include <map>

namespace {

struct Rule {
    qint64 tag;
    const char* title;
    const char* tip;
};

const Rule kRules[] = {
    {KZMarkRule::byDefault, "mark_default_title", "mark_default_tip"},
    {KZMarkRule::oldest, "mark_oldest_title", "mark_oldest_tip"},
    {KZMarkRule::newest, "mark_newest_title", "mark_newest_tip"},
    {KZMarkRule::byChosenFolder, "mark_by_location_title", "mark_by_location_tip"},
    {KZMarkRule::random, "mark_random_title", "mark_random_tip"},
    {KZMarkRule::inLocation, "mark_location_title", "mark_location_tip"},
    {KZMarkRule::swap, "mark_swap_title", "mark_swap_tip"},
};

} // namespace

KZMarkMenuWidget::KZMarkMenuWidget(QWidget* parent) : QMenu(parent)
{
    setToolTipsVisible(true);
    for (const Rule& rule : kRules) {
        if (rule.tag == KZMarkRule::inLocation || rule.tag == KZMarkRule::swap)
            addSeparator();
        QAction* action = addAction(platform::localizedString(QString::fromLatin1(rule.title)));
        action->setData(rule.tag);
        action->setCheckable(true);
        action->setToolTip(platform::localizedString(tooltipKey(rule.tag)));
        connect(action, &QAction::triggered, this, [this, action] {
            Q_EMIT ruleChosen(action->data().toLongLong(), action->text());
        });
    }
}

QString KZMarkMenuWidget::tooltipKey(qint64 tag)
{
    for (const Rule& rule : kRules)
        if (rule.tag == tag)
            return QString::fromLatin1(rule.tip);
    return {};
}

void KZMarkMenuWidget::setOnMenuItemWithTag(qint64 tag)
{
    for (QAction* action : actions())
        if (!action->isSeparator())
            action->setChecked(action->data().toLongLong() == tag);
}

qint64 KZMarkMenuWidget::tagOfOnMenuItem() const
{
    for (QAction* action : actions())
        if (!action->isSeparator() && action->isChecked())
            return action->data().toLongLong();
    return 0;
}

QAction* KZMarkMenuWidget::actionWithTag(qint64 tag) const
{
    for (QAction* action : actions())
        if (!action->isSeparator() && action->data().toLongLong() == tag)
            return action;
    return nullptr;
}

void KZMarkMenuWidget::prepareToShow(bool isLocationItem, bool aboutIsOpen)
{
    for (QAction* action : actions()) {
        if (action->isSeparator())
            continue;
        const qint64 tag = action->data().toLongLong();
        if (tag == KZMarkRule::byDefault || tag == KZMarkRule::swap)
            action->setVisible(!isLocationItem);
        else if (tag == KZMarkRule::inLocation)
            action->setVisible(isLocationItem);
        action->setEnabled(!aboutIsOpen);
    }
}
