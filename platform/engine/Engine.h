#pragma once
// The real-time graph engine: units attached and connected bus to bus between
// a device input node and a device output node, rendered on the device's I/O
// thread with no latency of its own (what enters in a period leaves in it).
//
// Threads: every method is for the main thread. configurationChanged() is
// emitted on the main thread: after setDevice() moves the engine from one
// device to another, and while running when the device vanishes, changes its
// rate or channel layout, reports a configuration change, or delivers a longer
// period than it said it could (that period plays silence). The owner is
// expected to stop and rebuild; the engine never stops itself.
//
// The graph is prepared for the longest period the device offers, so the
// device's period size may change while it runs (a JACK server's buffer size):
// the new size is simply rendered.
//
// A unit that never returns from its render call (a plug-in that hangs) leaves
// the render thread inside this engine for good: stop() then gives up after a
// bounded wait and marks the engine abandoned. An abandoned engine must never
// be destroyed, since that thread may come back into it at any time.

#include "platform/engine/Connection.h"
#include "platform/engine/DeviceNodes.h"
#include "platform/engine/Format.h"
#include "platform/engine/Renderer.h"
#include "platform/engine/Tap.h"
#include "platform/engine/TapThread.h"
#include "platform/engine/Unit.h"
#include "platform/hardware/AudioHardware.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

namespace corvane::engine {

class DeviceWatch;
enum class DeviceEvent;

class Engine final : public QObject {
    Q_OBJECT

public:
    explicit Engine(hw::AudioHardware& hardware, QObject* parent = nullptr);
    ~Engine() override;

    // Binds both device nodes to `device` (stopping first if running). When the
    // engine was on another device before, configurationChanged() follows
    // asynchronously; a fresh engine has nothing to move and announces nothing.
    void setDevice(hw::ObjectId device);
    hw::ObjectId device() const { return device_; }
    // The device's input (output) channel count and nominal rate, read now;
    // 0 channels when the device has none or is gone.
    Format hardwareInputFormat() const;
    Format hardwareOutputFormat() const;

    Unit& inputNode() { return *input_; }
    Unit& outputNode() { return *output_; }

    // The engine shares ownership until the unit is detached (and while a built
    // graph still refers to it).
    void attach(std::shared_ptr<Unit> unit);
    // Removes the unit with its connections and taps. Not while running.
    bool detach(Unit& unit);
    bool isAttached(const Unit& unit) const;

    // Connects `source`'s output bus to `destination`'s input bus, replacing what
    // fed that input bus before. `format` is set on each of the two buses that
    // has no format yet; a bus that has one keeps it (as do the device nodes),
    // and the channel rule bridges any difference in width. Both units must be
    // attached; not while running. False with lastError() on failure.
    bool connect(Unit& source, int sourceBus, Unit& destination, int destinationBus, const Format& format);
    // Fan-out: `source`'s bus feeds each of `destinations` with one format and
    // nothing else (connections it had before are dropped).
    bool connect(Unit& source, int sourceBus, const std::vector<ConnectionPoint>& destinations, const Format& format);
    void disconnectInput(Unit& destination, int bus);

    // Builds the render plan for the device's current period size and prepares
    // every connected unit. start() does it too when anything changed since.
    bool prepare();
    bool prepare(std::string& error);
    // Starts I/O on the device. False with a readable reason in `error`.
    bool start(std::string& error);
    // Returns once the render thread is out and the tap thread has ended, and
    // true. Tapped audio not yet delivered is dropped. False when the render
    // thread did not come out within the stall patience: the engine is then
    // abandoned (see above).
    bool stop();
    // Clears every unit's audio history and all tapped audio not yet delivered.
    // While stopped only.
    void reset();
    bool isRunning() const { return running_; }

    // A copy of `unit`'s output bus `bus` reaches `block` on the tap thread in
    // chunks of `bufferFrames` frames, adapted to `format`'s channel count by the
    // channel rule (no rate conversion). One tap per bus; allowed while running.
    bool installTap(Unit& unit, int bus, std::uint32_t bufferFrames, const Format& format, TapBlock block);
    // After it returns the tap's block is not called again.
    void removeTap(Unit& unit, int bus);
    // The tap thread is woken once every `chunks` (1 to Tap::kMaxChunksPerWake)
    // completed chunks instead of at each: for taps that need not hear at
    // once, such as meters nobody looks at, every wake-up spared is a switch
    // of threads spared.
    void setTapChunksPerWake(std::uint32_t chunks);
    // Main thread, while running: the blocks get every whole chunk the taps
    // hold now, on this thread, without waiting for the tap thread's turn.
    void deliverTaps();

    // The reason the last failed call gave.
    const std::string& lastError() const { return lastError_; }
    // The largest period the built graph takes (0 before prepare).
    std::uint32_t maximumFrames() const;
    // The largest period the device says it may ever deliver (the top of its
    // buffer-size range, else 8192): what the graph and its effects are made for.
    std::uint32_t periodLimit() const;
    Renderer& renderer() { return renderer_; }
    const Renderer& renderer() const { return renderer_; }

    // Counts `unit`'s render time in timing group `group` (0 to
    // RenderStats::kGroups - 1) from the next prepare or start on.
    void setTimingGroup(Unit& unit, int group);

    // How long stop() and the hardware wait for the render thread to come out.
    void setStallPatience(std::chrono::milliseconds patience) { stallPatience_ = patience; }
    // While running: the unit the render thread has been inside for longer than
    // the stall patience. After an abandoning stop(): the unit it is stuck in.
    Unit* stalledUnit() const;
    // True once stop() had to leave the render thread behind.
    bool isAbandoned() const { return abandoned_; }

signals:
    void configurationChanged();

private:
    bool fail(std::string message);
    bool checkAttached(const Unit& unit);
    bool setConnectionFormats(Unit& source, int sourceBus, Unit& destination, int destinationBus, const Format& format);
    void bindDeviceNodes();
    double deviceSampleRate() const;
    bool rebuild(bool prepareUnits, std::string& error);
    void republishWhileRunning();
    void onDeviceEvent(std::uint64_t generation, DeviceEvent event);
    void announceChange(std::uint64_t generation, const char* reason);

    hw::AudioHardware& hardware_;
    hw::ObjectId device_ = hw::kNoObject;
    std::shared_ptr<DeviceInputNode> input_;
    std::shared_ptr<DeviceOutputNode> output_;
    std::vector<std::shared_ptr<Unit>> units_;
    std::vector<Connection> connections_;
    std::vector<std::shared_ptr<Tap>> taps_;

    std::unique_ptr<RenderPlan> plan_;
    bool planCurrent_ = false;

    TapThread tapThread_;
    Renderer renderer_{tapThread_};
    std::unique_ptr<DeviceWatch> watch_;
    bool running_ = false;
    // Counts runs, so that events posted during one run are ignored after it.
    std::uint64_t generation_ = 0;
    bool changeAnnounced_ = false;
    std::unordered_map<const Unit*, int> timingGroups_;
    std::chrono::milliseconds stallPatience_{2000};
    bool abandoned_ = false;
    Unit* stalled_ = nullptr;
    Format runningInput_;
    Format runningOutput_;
    std::string lastError_;
};

} // namespace corvane::engine
