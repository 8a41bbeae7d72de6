#pragma once

class QGraphicsOpacityEffect;
class QPropertyAnimation;

// The standard half-second fades of the shared views, on an opacity effect.
// The animation is not started: the caller starts it (usually with
// DeleteWhenStopped) and decides what the widget does at the end. Durations
// follow KZAnimationTiming.
namespace KZFadeAnimations {

inline constexpr double kFadeSeconds = 0.5;

QPropertyAnimation* fadeInAnimation(QGraphicsOpacityEffect* effect);
QPropertyAnimation* fadeOutAnimation(QGraphicsOpacityEffect* effect);

} // namespace KZFadeAnimations
