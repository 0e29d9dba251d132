#include "ui/MeterSteps.h"

#include "ui/LevelMeterView.h"

#include <algorithm>

namespace corvane {

namespace {

constexpr int kDelayMs = LevelMeterView::kStepMs + MeterSteps::kSlackMs;

} // namespace

MeterSteps& MeterSteps::shared() {
    static MeterSteps* steps = new MeterSteps;
    return *steps;
}

MeterSteps::MeterSteps() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer); // stays in phase with the readings
    QObject::connect(&timer_, &QTimer::timeout, [this] { due(); });
}

void MeterSteps::request(LevelMeterView* meter) {
    sinceRequest_.start();
    if (std::find(waiting_.begin(), waiting_.end(), meter) == waiting_.end())
        waiting_.push_back(meter);
    if (!timer_.isActive())
        timer_.start(kDelayMs);
}

void MeterSteps::withdraw(LevelMeterView* meter) {
    std::erase(waiting_, meter);
    std::replace(stepping_.begin(), stepping_.end(), meter, static_cast<LevelMeterView*>(nullptr));
}

void MeterSteps::due() {
    // Requested since the timer was armed: their step is not due yet, and
    // the others' waits with it (they came with the same readings).
    const qint64 left = kDelayMs - sinceRequest_.elapsed();
    if (left > 0) {
        timer_.start(int(left));
        return;
    }
    stepping_.swap(waiting_);
    for (LevelMeterView* meter : stepping_)
        if (meter)
            meter->advance(); // a glide still under way asks again
    stepping_.clear();
}

} // namespace corvane
