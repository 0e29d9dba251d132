#include "ui/BarGlide.h"

#include <algorithm>
#include <cmath>

namespace corvane {

BarGlide::BarGlide(QObject* parent) : BarGlide(SystemClock::instance(), parent) {}

BarGlide::BarGlide(Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

BarGlide::~BarGlide() {
    if (timer_)
        clock_.cancelTimer(timer_);
}

void BarGlide::setTarget(qreal target) {
    if (started_ && target == target_)
        return;
    target_ = target;
    emit targetChanged();
    if (!started_) {
        started_ = true;
        setValue(target);
        return;
    }
    // A new target mid-glide glides on from where the bar is drawn. The first
    // step is taken at once, in the frame that draws whatever brought the new
    // target (the load figures beside the bars): a step of its own 50 ms later
    // would cost a frame of the whole window.
    from_ = value_;
    startedAt_ = clock_.now() - kStep;
    if (timer_)
        clock_.cancelTimer(timer_);
    step();
}

void BarGlide::step() {
    const double progress = std::min(std::chrono::duration<double>(clock_.now() - startedAt_) / kDuration, 1.0);
    setValue(std::round(from_ + (target_ - from_) * progress));
    timer_ = progress < 1.0 ? clock_.callAt(clock_.now() + kStep, [this] { step(); }) : 0;
}

void BarGlide::setValue(qreal value) {
    if (value == value_)
        return;
    value_ = value;
    emit valueChanged();
}

} // namespace corvane
