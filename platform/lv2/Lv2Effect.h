#pragma once
// One LV2 plug-in instance hosted as an effect of a channel strip.
//
// Threads: instantiate() and restoreState() on a background thread; prepare(),
// reset(), the rest of state and parameter metadata on the main thread while
// the graph is stopped; process() on the render thread; setBypass(),
// setParameter(), parameter() and latencySeconds() from any thread (atomics
// the render thread copies at the top of each period, so a change takes effect
// from the next period); resetIfFaulted() on the main thread while the graph
// runs.
//
// The instance lives as LV2 hosts keep it: instantiated and activated together,
// run only while active, deactivated before it is freed, on every path. Some
// plug-ins free in cleanup() what activate() made and crash otherwise.

#include "platform/lv2/DryPath.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/lv2/Parameter.h"
#include "platform/lv2/Preset.h"
#include "platform/lv2/UiLink.h"

#include <lilv/lilv.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::lv2 {

class HostFeatures;
class Worker;
class World;

class Lv2Effect final : public HostedEffect {
public:
    // Loads the plug-in with this URI. On failure returns null and puts a reason
    // a person can read into `error` (not installed, unreadable description, a
    // required feature we lack, not an audio effect, the plug-in refused).
    // `maxBlockFrames` is the longest block process() will ever be given;
    // `nominalBlockFrames` the block length expected most of the time.
    static std::unique_ptr<Lv2Effect> instantiate(const std::string& uri, double sampleRate,
                                                  std::uint32_t maxBlockFrames, std::uint32_t nominalBlockFrames,
                                                  std::string& error);
    static std::unique_ptr<Lv2Effect> instantiate(const std::string& uri, double sampleRate,
                                                  std::uint32_t maxBlockFrames, std::string& error) {
        return instantiate(uri, sampleRate, maxBlockFrames, maxBlockFrames, error);
    }
    ~Lv2Effect() override;
    Lv2Effect(const Lv2Effect&) = delete;
    Lv2Effect& operator=(const Lv2Effect&) = delete;

    // The rate must be the one given to instantiate() and maxFrames at most its
    // block length: the plug-in was promised both. Ends with one silent run so
    // that a latency reported on the first run is known before start.
    bool prepare(double sampleRate, std::uint32_t maxFrames, int inputChannels, int outputChannels,
                 std::string& error) override;
    void process(const float* const* inputs, float* const* outputs, std::uint32_t frames) noexcept override;
    void reset() override;
    // The reported latency; a value that is not finite, negative or beyond ten
    // seconds is no latency a plug-in can have and counts as none.
    double latencySeconds() const override;
    // In process there is nothing to fail apart from us.
    Fault fault() const override { return Fault::None; }
    // What the latency port last said, in frames, unchecked (0 without one).
    float reportedLatencyFrames() const override { return latencyFrames_.load(std::memory_order_relaxed); }

    // Uses the plug-in's own enable port when it has one. Without one the
    // plug-in keeps running, so its history and latency stay current, while a
    // short cross-fade moves to its input delayed by the plug-in's latency.
    void setBypass(bool bypassed) noexcept override { bypass_.store(bypassed, std::memory_order_relaxed); }
    bool isBypassed() const noexcept override { return bypass_.load(std::memory_order_relaxed); }
    bool hasEnablePort() const override { return enablePort_ >= 0; }

    // Periods whose output held NaN or infinity (zeroed before it left). After
    // such a period the plug-in is not run again until resetIfFaulted().
    std::uint64_t nonFinitePeriods() const override { return nonFinitePeriods_.load(std::memory_order_relaxed); }
    // Main thread, also while running: brings a plug-in that produced
    // non-finite audio back to a fresh history. True when it did reset it.
    bool resetIfFaulted() override;

    // Main thread, also while running (LV2 lets a plug-in save alongside
    // run()). The full state (plug-in properties and every input control
    // value) as Turtle text; nothing when it cannot be saved.
    std::optional<std::string> saveState() override;
    // Any thread but the render thread, while the plug-in is not run (before
    // start). False, with the plug-in left as it was, for text that does not
    // parse, belongs to another plug-in or is beyond what is read (see
    // StateText.h). The plug-in's own restore may read files and take long,
    // or never end (a file that is a FIFO): it runs without World::lock(), so
    // such a restore holds up nothing but its own thread.
    bool restoreState(const std::string& text) override;
    // restoreState() in its two halves, for a caller that limits only the
    // plug-in's own time: readState() parses the text (and may wait for
    // World::lock() while others read the world), applyState() runs the
    // plug-in's restore. Null from readState() where restoreState() is false.
    // The state frees itself under World::lock(); any thread.
    struct SavedState;
    struct SavedStateFree {
        void operator()(SavedState* state) const;
    };
    using SavedStatePtr = std::unique_ptr<SavedState, SavedStateFree>;
    SavedStatePtr readState(const std::string& text) const;
    void applyState(const SavedState& state);

    // Presets (Lv2EffectPresets.cpp). Any thread but the render thread, also
    // while running. The plug-in's own presets, then the user's, by label.
    std::vector<Preset> presets() override;
    // Saves the running state as an LV2 preset bundle `label` in `userDir`
    // (normally ~/.lv2) that any LV2 host finds; the preset's URI, or nothing
    // with `error` set.
    std::optional<std::string> savePreset(const std::string& label, const std::string& userDir,
                                          std::string& error) override;
    // Applies a preset to the running plug-in: control values through the
    // parameter slots (the next period has them); the plug-in's own state
    // while the render thread keeps off the instance, unless the plug-in
    // says its restore is safe alongside run(). Never on the main thread: it
    // may wait for the render thread to finish a period.
    bool loadPreset(const std::string& presetUri, std::string& error) override;

    // Every control port, inputs and outputs, in port order.
    const std::vector<Parameter>& parameters() const override { return parameters_; }
    // Main thread. Clamped to the port's range; false for an unknown port or an output.
    bool setParameter(std::uint32_t portIndex, float value) override;
    // Any thread. The last value set (inputs) or reported (outputs); NaN for an unknown port.
    float parameter(std::uint32_t portIndex) const override;

    // The plug-in's editor. Main thread. A message from the editor for a port:
    // a float for a control input, an atom (atom:eventTransfer) for an atom
    // input. It reaches the plug-in through the UI link at the top of the next
    // period; false for a port or protocol the plug-in cannot take. A control
    // value that finds the ring full is set directly instead.
    bool writeFromUi(std::uint32_t portIndex, std::uint32_t protocol, const void* body, std::uint32_t size);
    // Main thread. While an editor is attached, the render thread sends it the
    // changed control values about thirty times a second and every event of
    // the atom outputs in `atomPortsToUi`; all of them arrive once after
    // attaching. Detach before the editor goes.
    void attachUi(const std::vector<std::uint32_t>& atomPortsToUi);
    void detachUi();
    // Made on first use (main thread): only instances with an editor pay for
    // the rings, which are as large as the plug-in's largest atom buffer.
    UiLink& uiLink();
    std::uint32_t eventTransferType() const { return render_.eventTransferType; }
    bool isControlPort(std::uint32_t portIndex) const {
        return portIndex < ports_.size() && ports_[portIndex].kind == PortKind::Control;
    }
    bool isAtomPort(std::uint32_t portIndex, bool input) const {
        return portIndex < ports_.size() && ports_[portIndex].kind == PortKind::Atom && ports_[portIndex].isInput == input;
    }
    std::uint32_t portCount() const { return static_cast<std::uint32_t>(ports_.size()); }
    // For editors and presets, which query the plug-in's description. Use
    // both only while holding World::lock().
    const LilvPlugin* lilvPlugin() const { return plugin_; }
    const std::shared_ptr<World>& world() const { return world_; }
    double sampleRate() const { return sampleRate_; }

    const std::string& uri() const override { return uri_; }
    const std::string& name() const override { return name_; }
    // Any thread but the render thread. The errors and warnings the plug-in
    // logged since the last call, a line each (see PluginLog: a few, then a
    // count).
    std::vector<std::string> takeLoggedProblems() override;
    int audioInputCount() const override { return static_cast<int>(audioIn_.size()); }
    int audioOutputCount() const override { return static_cast<int>(audioOut_.size()); }

private:
    enum class PortKind { Audio, Control, Cv, Atom, Other };
    struct Port {
        PortKind kind = PortKind::Other;
        bool isInput = true;
        std::uint32_t atomCapacity = 0;
    };

    // The render thread does not touch the instance while it is Faulted: that
    // is what lets the main thread reset it while the graph runs.
    // Held: a preset's state is being restored; the render thread passes the
    // input through meanwhile.
    enum class Health : int { Running, Faulted, Held };

    Lv2Effect() = default;
    bool load(const LilvPlugin* plugin, double sampleRate, std::uint32_t maxBlockFrames,
              std::uint32_t nominalBlockFrames, std::string& error);
    void describePorts(const LilvPlugin* plugin);
    void allocatePortBuffers();
    void connectPorts();
    void activate();
    void deactivate();
    void restart(); // deactivate and activate again, with the worker held off
    void clearBypassPath();
    int findPort(const char* symbol) const;
    // Render thread: the editor's messages, and what the editor is sent.
    void applyUiMessage(std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size) noexcept;
    void sendToUi(std::uint32_t frames) noexcept;

    static const void* stateValue(const char* symbol, void* self, std::uint32_t* size, std::uint32_t* type);
    static void restoreValue(const char* symbol, void* self, const void* value, std::uint32_t size,
                             std::uint32_t type);

    std::shared_ptr<World> world_;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::unique_ptr<Worker> worker_;
    std::unique_ptr<HostFeatures> features_;
    std::string uri_;
    std::string name_;
    double sampleRate_ = 0.0;
    std::uint32_t maxBlockFrames_ = 0;
    bool active_ = false;

    std::vector<Port> ports_;
    std::vector<Parameter> parameters_;
    std::vector<int> parameterOfPort_; // port index -> index in parameters_, -1 for none
    int enablePort_ = -1;
    int latencyPort_ = -1;
    int freeWheelPort_ = -1;
    std::vector<float> stateScratch_; // values handed to lilv while saving

    // Written from any thread, read by the render thread (and the reverse for outputs).
    std::unique_ptr<std::atomic<float>[]> values_;
    std::atomic<bool> bypass_{false};
    std::atomic<float> latencyFrames_{0.0f};
    std::atomic<Health> health_{Health::Running};
    std::atomic<bool> inProcess_{false}; // the render thread is inside process()
    bool threadSafeRestore_ = false;
    std::atomic<std::uint64_t> nonFinitePeriods_{0};
    std::unique_ptr<UiLink> uiLinkOwner_;
    std::atomic<UiLink*> uiLink_{nullptr}; // published once, kept until the instance goes
    std::uint32_t largestAtom_ = 0;
    std::atomic<bool> uiAttached_{false};
    std::atomic<bool> uiResend_{false};              // send every control value at the next chance
    std::unique_ptr<std::atomic<bool>[]> atomToUi_; // per port: forward its events while attached

    // What the render thread touches, all allocated by prepare().
    struct Render {
        bool prepared = false;
        int stripIn = 0;
        int stripOut = 0;
        std::vector<float> controls;                        // one slot per port
        std::vector<std::vector<float>> audio;              // one per port; empty for non-audio
        std::vector<std::vector<std::uint64_t>> atoms;      // 64-bit words keep atoms aligned
        std::vector<float*> pluginIn;
        std::vector<float*> pluginOut;
        std::vector<std::uint32_t> controlInputs;
        std::vector<std::uint32_t> controlOutputs;
        std::vector<std::uint32_t> atomInputs;
        std::vector<std::uint32_t> atomOutputs;
        std::uint32_t sequenceType = 0;
        std::uint32_t chunkType = 0;
        std::uint32_t eventTransferType = 0;
        std::vector<float> sentToUi;   // one per port: the value the editor last got
        std::uint32_t uiInterval = 0;  // frames between control updates for the editor
        std::uint32_t uiCountdown = 0;

        DryPath dryPath; // the host's bypass of a plug-in without an enable port
    } render_;
    std::vector<std::uint32_t> audioIn_;  // port indices in port order
    std::vector<std::uint32_t> audioOut_;
};

} // namespace corvane::lv2
