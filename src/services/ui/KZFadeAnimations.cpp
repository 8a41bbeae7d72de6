#include "services/ui/KZFadeAnimations.h"

#include "services/ui/KZAnimationTiming.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>

namespace KZFadeAnimations {

namespace {

QPropertyAnimation* fade(QGraphicsOpacityEffect* effect, double from, double to)
{
    if (!effect)
        return nullptr;
    auto* animation = new QPropertyAnimation(effect, "opacity", effect);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(KZAnimationTiming::milliseconds(kFadeSeconds));
    return animation;
}

} // namespace

QPropertyAnimation* fadeInAnimation(QGraphicsOpacityEffect* effect)
{
    return fade(effect, 0.0, 1.0);
}

QPropertyAnimation* fadeOutAnimation(QGraphicsOpacityEffect* effect)
{
    return fade(effect, 1.0, 0.0);
}

} // namespace KZFadeAnimations
