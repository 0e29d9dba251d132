#pragma once
// One running I/O of a virtual device: the buffers, signals, loopback and
// recording the period function touches, and what drives it (a paced clock
// thread, or a test calling runManual()). Everything the real-time path reads
// is fixed at construction or published through atomics; replaced objects are
// kept alive until the session ends, so the I/O thread never sees one freed.

#include "platform/hardware/ControlInput.h"
#include "platform/hardware/IoCallback.h"
#include "platform/hardware/virtual/LoopbackRing.h"
#include "platform/hardware/virtual/PacedClock.h"
#include "platform/hardware/virtual/SignalRecording.h"
#include "platform/hardware/virtual/SignalSource.h"
#include "platform/system/MidiEventRing.h"
#include "platform/system/RealtimeNotifier.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane::hw::virt {

// Counters of one device that outlive its sessions.
struct IoCounters {
    std::atomic<std::uint64_t> framesProcessed{0}; // since the last start of I/O
    std::atomic<std::uint64_t> overloads{0};       // since the device appeared
};

class IoSession {
public:
    struct Setup {
        IoCallback* callback = nullptr;
        std::uint32_t inputs = 0;
        std::uint32_t outputs = 0;
        std::uint32_t periodFrames = 256;
        double sampleRate = 48000.0;
        std::vector<std::shared_ptr<const SignalSource>> inputSignals; // one per input
        std::shared_ptr<LoopbackRing> loopback;                   // may be null
        std::shared_ptr<SignalRecording> recording;               // may be null
        std::shared_ptr<IoCounters> counters;
        std::function<void()> announceOverload; // called off the real-time thread
        // MIDI control: what waits in the ring goes to `control` at the top of
        // every period. Either null: none.
        std::shared_ptr<MidiEventRing> controlRing;
        ControlInput* control = nullptr;
    };

    explicit IoSession(Setup setup);
    ~IoSession();
    IoSession(const IoSession&) = delete;
    IoSession& operator=(const IoSession&) = delete;

    std::uint32_t periodFrames() const { return periodFrames_; }
    std::uint32_t inputs() const { return inputs_; }
    std::uint32_t outputs() const { return outputs_; }

    // Control, from any non-real-time thread (never while holding a lock an
    // overload listener takes: these may join the clock and notifier threads).
    void setPaced(bool paced);
    // Runs `periods` periods on the calling thread; false once stopped or while paced.
    bool runManual(std::uint64_t periods);
    // After this returns true the callback never runs again. False when a
    // period in progress did not end within `patience`: its thread is left
    // behind, and this session must then never be destroyed.
    bool stop(std::chrono::milliseconds patience = std::chrono::seconds(2));

    // Publishing, from any non-real-time thread; takes effect at the next period.
    void setSignal(std::uint32_t channel, std::shared_ptr<const SignalSource> source);
    void setLoopback(std::shared_ptr<LoopbackRing> loopback);
    void setRecording(std::shared_ptr<SignalRecording> recording);

private:
    void runPeriod() noexcept; // real-time
    void overload() noexcept;  // real-time
    void keep(std::shared_ptr<const void> object);

    IoCallback& callback_;
    const std::uint32_t inputs_;
    const std::uint32_t outputs_;
    const std::uint32_t periodFrames_;
    const double sampleRate_;
    std::shared_ptr<IoCounters> counters_;
    const std::shared_ptr<MidiEventRing> controlRing_; // null without a control input
    ControlInput* const control_;

    // Touched by the real-time path only (or by runManual, which stands in for it).
    std::vector<float> inputSamples_;
    std::vector<float> outputSamples_;
    std::vector<const float*> inputPointers_;
    std::vector<float*> outputPointers_;
    std::vector<const float*> outputReadPointers_;
    std::uint64_t frame_ = 0;

    std::unique_ptr<std::atomic<const SignalSource*>[]> signals_;
    std::atomic<LoopbackRing*> loopback_{nullptr};
    std::atomic<SignalRecording*> recording_{nullptr};

    std::mutex keepMutex_;
    std::vector<std::shared_ptr<const void>> kept_;

    std::mutex controlMutex_; // serialises the control calls; never taken on the real-time path
    bool stopped_ = false;
    bool ringAttached_ = false; // this session takes from the control ring
    RealtimeNotifier notifier_;
    PacedClock clock_;
};

} // namespace corvane::hw::virt
