#include "engine/StripMeters.h"

#include "engine/LevelMeter.h"

#include <QPointer>

namespace corvane {

using namespace std::chrono_literals;

StripMeters::StripMeters(Clock& clock, QList<ChannelSlot*> strips, QObject* parent)
    : QObject(parent), clock_(clock), strips_(std::move(strips)), store_(int(strips_.size())) {}

StripMeters::~StripMeters() { tick_.cancel(); }

void StripMeters::start(std::function<void()> everyTick) {
    tick_.cancel();
    QPointer<StripMeters> self(this);
    tick_ = spawnWith([this, self, everyTick = std::move(everyTick)]() -> Async<void> {
        while (!co_await currentTaskCancelled()) {
            if (!co_await sleepFor(clock_, shown_ ? 33ms : 250ms) || !self)
                co_return;
            if (shown_)
                collect();
            everyTick();
        }
    });
}

void StripMeters::stop(bool runEnded) {
    tick_.cancel();
    tick_ = Task();
    if (runEnded && !shown_)
        lastRunLevels_ = store_.collect();
    store_.clear();
    for (auto* slot : strips_) {
        slot->setInputLevel({});
        slot->setInputLevelRight({});
        slot->setOutputLevel({});
        slot->setOutputLevelRight({});
    }
}

void StripMeters::collect() {
    const auto readings = store_.collect();
    const auto n = std::size_t(strips_.size());
    for (std::size_t i = 0; i < n; ++i) {
        ChannelSlot* slot = strips_[qsizetype(i)];
        slot->setInputLevel(decayedLevel(slot->inputLevel(), readings[i]));
        slot->setInputLevelRight(decayedLevel(slot->inputLevelRight(), readings[n + i]));
        slot->setOutputLevel(decayedLevel(slot->outputLevel(), readings[2 * n + i]));
        slot->setOutputLevelRight(decayedLevel(slot->outputLevelRight(), readings[3 * n + i]));
    }
}

} // namespace corvane
