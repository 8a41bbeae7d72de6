#include "app/ui/KZWindowCrossFade.h"

#include "app/KZWindowTransitionMath.h"
#include "app/ui/KZTransitionOverlay.h"

#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <utility>

namespace {

// The running fade; it puts both windows back to full opacity however it
// ends, so that a window shown later is never shown faded.
class Fade : public QVariantAnimation {
public:
    Fade(QWidget* from, QWidget* to, QObject* parent) : QVariantAnimation(parent), from_(from), to_(to) {}
    ~Fade() override { settle(); }

    void step(double shown)
    {
        if (from_)
            from_->setWindowOpacity(1.0 - shown);
        if (to_)
            to_->setWindowOpacity(shown);
    }
    // The old window goes before it is made whole again, so that it never
    // flashes back.
    bool end()
    {
        if (from_)
            from_->hide();
        settle();
        return from_ && to_;
    }

private:
    void settle()
    {
        if (from_)
            from_->setWindowOpacity(1.0);
        if (to_)
            to_->setWindowOpacity(1.0);
    }

    QPointer<QWidget> from_;
    QPointer<QWidget> to_;
};

} // namespace

void KZWindowCrossFade::run(QWidget* from, QWidget* to, bool fade, double seconds, QObject* context,
                            std::function<void()> done)
{
    if (!from || !to || !fade) {
        if (to) {
            to->show();
            to->raise();
        }
        if (from)
            from->hide();
        if (done)
            done();
        return;
    }
    auto* animation = new Fade(from, to, context);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(qMax(1, int(seconds * 1000.0)));
    to->setWindowOpacity(0.0);
    to->show();
    to->raise();
    QObject::connect(animation, &QVariantAnimation::valueChanged, animation, [animation](const QVariant& value) {
        // Held where the transitions are held, so that a frame can be
        // photographed.
        double shown = value.toDouble();
        const double pause = KZTransitionMath::pauseAt();
        if (pause >= 0 && shown >= pause) {
            shown = pause;
            animation->pause();
        }
        animation->step(shown);
    });
    QObject::connect(animation, &QVariantAnimation::finished, animation, [animation, done = std::move(done)] {
        if (animation->end() && done)
            done();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    KZTransitionOverlay::holdAtPause(animation);
}
