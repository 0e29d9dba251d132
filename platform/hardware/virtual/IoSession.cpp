#include "platform/hardware/virtual/IoSession.h"

#include "platform/system/RealtimeScope.h"

#include <algorithm>

namespace corvane::hw::virt {

IoSession::IoSession(Setup setup)
    : callback_(*setup.callback), inputs_(setup.inputs), outputs_(setup.outputs),
      periodFrames_(setup.periodFrames), sampleRate_(setup.sampleRate), counters_(std::move(setup.counters)),
      controlRing_(setup.control ? std::move(setup.controlRing) : nullptr), control_(setup.control),
      inputSamples_(static_cast<std::size_t>(inputs_) * periodFrames_),
      outputSamples_(static_cast<std::size_t>(outputs_) * periodFrames_),
      signals_(std::make_unique<std::atomic<const SignalSource*>[]>(inputs_)),
      notifier_(std::move(setup.announceOverload)) {
    for (std::uint32_t c = 0; c < inputs_; ++c)
        inputPointers_.push_back(inputSamples_.data() + static_cast<std::size_t>(c) * periodFrames_);
    for (std::uint32_t c = 0; c < outputs_; ++c) {
        outputPointers_.push_back(outputSamples_.data() + static_cast<std::size_t>(c) * periodFrames_);
        outputReadPointers_.push_back(outputPointers_.back());
    }
    for (std::uint32_t c = 0; c < inputs_ && c < setup.inputSignals.size(); ++c)
        setSignal(c, std::move(setup.inputSignals[c]));
    setLoopback(std::move(setup.loopback));
    setRecording(std::move(setup.recording));
    counters_->framesProcessed.store(0);
    if (controlRing_) {
        controlRing_->attach();
        ringAttached_ = true;
    }
}

IoSession::~IoSession() { stop(); }

void IoSession::setPaced(bool paced) {
    std::lock_guard lock(controlMutex_);
    if (stopped_ || paced == clock_.running())
        return;
    if (paced)
        clock_.start(periodFrames_, sampleRate_, [this] { runPeriod(); }, [this] { overload(); });
    else
        clock_.stop();
}

bool IoSession::runManual(std::uint64_t periods) {
    std::lock_guard lock(controlMutex_);
    if (stopped_ || clock_.running())
        return false;
    for (std::uint64_t i = 0; i < periods; ++i)
        runPeriod();
    return true;
}

bool IoSession::stop(std::chrono::milliseconds patience) {
    bool ended = true;
    {
        std::lock_guard lock(controlMutex_);
        stopped_ = true;
        ended = clock_.stop(patience);
        // Once only: a later session may have taken the ring meanwhile.
        if (ended && ringAttached_) {
            ringAttached_ = false;
            controlRing_->detach();
        }
    }
    notifier_.stop();
    return ended;
}

void IoSession::keep(std::shared_ptr<const void> object) {
    if (!object)
        return;
    std::lock_guard lock(keepMutex_);
    kept_.push_back(std::move(object));
}

void IoSession::setSignal(std::uint32_t channel, std::shared_ptr<const SignalSource> source) {
    if (channel >= inputs_)
        return;
    signals_[channel].store(source.get(), std::memory_order_release);
    keep(std::move(source));
}

void IoSession::setLoopback(std::shared_ptr<LoopbackRing> loopback) {
    loopback_.store(loopback.get(), std::memory_order_release);
    keep(std::move(loopback));
}

void IoSession::setRecording(std::shared_ptr<SignalRecording> recording) {
    recording_.store(recording.get(), std::memory_order_release);
    keep(std::move(recording));
}

// Real-time I/O thread from here on: no allocation, no locks, no system calls.

CORVANE_REALTIME
void IoSession::runPeriod() noexcept {
    RealtimeScope realtime;
    const std::uint32_t frames = periodFrames_;
    // Before the audio: what the controls change is heard in this period.
    if (controlRing_)
        controlRing_->drain([this](const std::uint8_t* bytes, std::uint32_t size) { control_->receive(bytes, size); });
    LoopbackRing* loopback = loopback_.load(std::memory_order_acquire);
    for (std::uint32_t c = 0; c < inputs_; ++c) {
        float* in = inputSamples_.data() + static_cast<std::size_t>(c) * frames;
        if (loopback)
            loopback->read(c, frame_, in, frames);
        else if (const SignalSource* source = signals_[c].load(std::memory_order_acquire))
            source->render(frame_, sampleRate_, in, frames);
        else
            std::fill(in, in + frames, 0.0f);
    }
    std::fill(outputSamples_.begin(), outputSamples_.end(), 0.0f);

    callback_.process(inputPointers_.data(), inputs_, outputPointers_.data(), outputs_, frames);

    if (loopback)
        for (std::uint32_t c = 0; c < outputs_; ++c)
            loopback->write(c, frame_, outputPointers_[c], frames);
    if (SignalRecording* recording = recording_.load(std::memory_order_acquire))
        recording->append(inputPointers_.data(), inputs_, outputReadPointers_.data(), outputs_, frames);

    frame_ += frames;
    counters_->framesProcessed.fetch_add(frames, std::memory_order_relaxed);
}

CORVANE_REALTIME
void IoSession::overload() noexcept {
    counters_->overloads.fetch_add(1, std::memory_order_relaxed);
    notifier_.post();
}

} // namespace corvane::hw::virt
