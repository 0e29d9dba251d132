#pragma once
// One running duplex I/O on an ALSA PCM: capture and playback opened on the
// same name, linked when the driver allows, and a poll-driven thread that
// moves one period at a time between them and the callback.
//
// Each side runs 2 periods (3 where the device insists), in the widest sample
// format it offers, with mmap access where it offers that and read/write
// access where it does not (plug-in PCMs such as `jack` or `file`). The period
// size asked for is a wish: the nearest the device accepts is taken.
//
// Real-time: the thread (SCHED_FIFO where allowed) converts and calls the
// callback inside a RealtimeScope; it waits in poll() and talks to
// alsa-lib outside it. An xrun is recovered on the thread itself (both sides
// stopped, prepared, refilled with silence and restarted) and reported once
// through announceOverload. A device that fails any other way (ENODEV when a
// card is pulled, or a second without a period) ends the thread, which then
// reports announceLost once. Both are called on a notifier thread, never on
// the real-time one.

#include "platform/hardware/ControlInput.h"
#include "platform/hardware/IoCallback.h"
#include "platform/hardware/alsa/SampleFormat.h"
#include "platform/hardware/alsa/StopEvent.h"
#include "platform/system/MidiEventRing.h"
#include "platform/system/RealtimeNotifier.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <semaphore.h>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;
struct pollfd;

namespace corvane::hw::alsa {

class IoSession {
public:
    struct Setup {
        std::string pcmName;
        std::uint32_t inputs = 0;  // capture channels; 0: capture is not opened
        std::uint32_t outputs = 0; // playback channels; 0: playback is not opened
        double sampleRate = 48000.0;
        std::uint32_t periodFrames = 256;
        IoCallback* callback = nullptr;
        std::function<void()> announceOverload;
        std::function<void()> announceLost;
        // Once, when the driver's own delay has been read (see driverDelay()).
        std::function<void()> announceDelay;
        // MIDI control: what waits in the ring goes to `control` at the top of
        // every period. Either null: none.
        std::shared_ptr<MidiEventRing> controlRing;
        ControlInput* control = nullptr;
    };

    // What the device agreed to.
    struct Actual {
        std::uint32_t periodFrames = 0;
        std::uint32_t periods = 0;
        SampleFormat captureFormat = SampleFormat::Float;
        SampleFormat playbackFormat = SampleFormat::Float;
        bool captureMmap = false;
        bool playbackMmap = false;
        bool linked = false;
    };

    // Opens and configures both sides. Null on failure, with a readable
    // reason in `error` and alsa-lib's negative errno in `code`.
    static std::unique_ptr<IoSession> open(Setup setup, std::string& error, int& code);
    ~IoSession();
    IoSession(const IoSession&) = delete;
    IoSession& operator=(const IoSession&) = delete;

    // Fills playback with silence and starts the thread. False, with a
    // reason, if the device does not start. `realtime` tells whether the
    // thread got SCHED_FIFO.
    bool start(std::string& error, bool& realtime);
    // After true the callback never runs again and the PCMs are closed. False
    // when a period in progress did not end within `patience`: the thread is
    // left behind, and the session must then never be destroyed.
    bool stop(std::chrono::milliseconds patience);

    const Actual& actual() const { return actual_; }
    std::uint64_t xruns() const { return xruns_.load(); }
    // Frames the driver holds beyond the ALSA buffer (a USB card's packets, a
    // codec's FIFO), as snd_pcm_delay reports them once I/O runs; 0 until read
    // after the first period.
    std::uint32_t driverDelay(bool capture) const {
        return (capture ? captureDelay_ : playbackDelay_).load(std::memory_order_relaxed);
    }

private:
    enum class Wait { Ready, Failed, Stop, Lost };

    explicit IoSession(Setup setup);
    bool configure(snd_pcm_t* pcm, bool capture, std::uint32_t channels, bool exactPeriod, std::string& error,
                   int& code);
    void prepareBuffers();
    int prime();      // prepare both sides and fill playback with silence
    int startPcms();  // start both sides (one call when linked)
    int recover();    // after an xrun
    void run();       // the I/O thread
    Wait waitForPeriod(int& code);
    // Moves one period between the callback's buffers and one side (none there: 0).
    int transferPeriod(bool capture);
    void process() noexcept;
    void readDriverDelay();

    Setup setup_;
    Actual actual_;
    snd_pcm_t* capture_ = nullptr;
    snd_pcm_t* playback_ = nullptr;
    std::uint32_t bufferFrames_ = 0;

    // Touched by the I/O thread only once it runs; sized before.
    std::vector<float> inputSamples_;
    std::vector<float> outputSamples_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    std::vector<std::uint8_t> captureBytes_;  // one period, read/write access
    std::vector<std::uint8_t> playbackBytes_; // one period, read/write access
    std::vector<std::uint8_t> silence_;       // one period of playback silence
    std::vector<pollfd> captureFds_;
    std::vector<pollfd> playbackFds_;
    std::vector<pollfd> waitFds_; // what one poll() waits on, stop descriptor included

    StopEvent stop_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> xruns_{0};
    std::atomic<std::uint32_t> captureDelay_{0};
    std::atomic<std::uint32_t> playbackDelay_{0};
    sem_t exited_;
    std::thread thread_;
    bool started_ = false;
    bool stopped_ = false;
    RealtimeNotifier overloadNotifier_;
    RealtimeNotifier lostNotifier_;
    RealtimeNotifier delayNotifier_;
};

} // namespace corvane::hw::alsa
