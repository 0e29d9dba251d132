// Counting the device's real I/O deadline misses while the engine runs, with a
// short-lived flag for "a dropout just now".
#include "engine/AudioEngineManager.h"

#include "platform/system/Logging.h"

#include <QPointer>

namespace corvane {

using namespace std::chrono_literals;

void AudioEngineManager::installDropoutListener(hw::ObjectId device) {
    removeDropoutListener();
    QPointer<AudioEngineManager> self(this);
    // Called on a hardware thread: only hop to the main thread.
    const auto id = hardware_.addListener(device, hw::Address{hw::Selector::Overload}, [self] {
        postToMain([self] {
            if (self)
                self->noteDropout();
        });
    });
    dropoutListener_ = DropoutListener{device, id};
}

void AudioEngineManager::removeDropoutListener() {
    if (dropoutListener_)
        hardware_.removeListener(dropoutListener_->device, hw::Address{hw::Selector::Overload}, dropoutListener_->id);
    dropoutListener_.reset();
}

void AudioEngineManager::noteDropout() {
    setAudioDropoutCount(audioDropoutCount_ + 1);
    if (isRunning_) {
        // Which strip took longest since the last dropout: the first suspect.
        const auto window = engine_->renderer().stats().takeWindow();
        const ChannelSlot* slowest = nullptr;
        std::uint64_t slowestNanos = 0;
        for (const auto& strip : runningStrips_) {
            const auto nanos = window.groupNanos[std::size_t(strip.slot->id())];
            if (nanos > slowestNanos) {
                slowest = strip.slot;
                slowestNanos = nanos;
            }
        }
        const double periodMicros = runningRate_ > 0 ? actualBufferFrames_.value_or(bufferFrames_) / runningRate_ * 1e6 : 0;
        if (slowest && periodMicros > 0)
            qCInfo(lcEngine, "Dropout %d: the slowest strip was channel %d, %.0f µs of the %.0f µs period (%.0f %%)",
                   audioDropoutCount_, slowest->id() + 1, slowestNanos / 1e3, periodMicros,
                   slowestNanos / 1e3 / periodMicros * 100.0);
    }
    const auto now = clock_.now();
    lastDropoutDate_ = now;
    setAudioDropoutActive(true);
    // Each dropout keeps the flag up until 1.5 s after it; an older flash finds
    // a newer date and leaves the flag alone.
    QPointer<AudioEngineManager> self(this);
    spawnWith([this, self, now]() -> Async<void> {
        co_await sleepFor(clock_, 1500ms);
        if (self && lastDropoutDate_ == now)
            setAudioDropoutActive(false);
    });
}

void AudioEngineManager::resetDropouts() {
    setAudioDropoutCount(0);
    setAudioDropoutActive(false);
    lastDropoutDate_.reset();
}

} // namespace corvane
