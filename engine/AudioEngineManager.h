#pragma once
// The single controller of the audio engine: owns the eight strips, the graph,
// the level store, and every piece of state the window shows about the engine.
// It follows the selected device through the hardware's device list (its
// DeviceTracking part), applies the requested buffer size and rate at start,
// loads the strips' effects, builds and runs the graph, watches it while it
// runs and recovers from reconfigurations.
//
// Main thread only. Operations report through the observable state (messages,
// flags), never through return values.
//
// The window reads the same state through the properties below: values that
// may be absent read as a neutral value (empty text, 0, an empty record) beside
// a has-flag, and records are value types whose fields QML reads by name.

#include "devices/AudioDevice.h"
#include "devices/DeviceEnumeration.h"
#include "engine/ChannelSlot.h"
#include "engine/DeviceTracking.h"
#include "engine/DropoutMonitor.h"
#include "engine/EffectLoading.h"
#include "engine/LatencyEstimate.h"
#include "engine/LatencyLine.h"
#include "engine/LevelStore.h"
#include "engine/MatrixMixerNode.h"
#include "engine/MidiControl.h"
#include "engine/PluginLoadFailure.h"
#include "engine/ConfigurationRecovery.h"
#include "engine/SettledEdits.h"
#include "engine/StripMeters.h"
#include "platform/engine/Engine.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/ProcessActivity.h"
#include "platform/system/Clock.h"
#include "platform/system/Task.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace corvane {

namespace lv2 {
class IsolatedEffect;
}
namespace test {
class ManagerPeer;
}
class SetupExchange;

class AudioEngineManager : public QObject, private ConfigurationRecovery::Host, private DeviceTracking::Host {
    Q_OBJECT
    Q_PROPERTY(QList<corvane::AudioDevice> devices READ devices NOTIFY devicesChanged)
    // An empty record (id 0, no channels) while none is selected.
    Q_PROPERTY(corvane::AudioDevice selectedDevice READ selectedDeviceOrNone NOTIFY selectedDeviceChanged)
    Q_PROPERTY(bool hasSelectedDevice READ hasSelectedDevice NOTIFY selectedDeviceChanged)
    // Writing it is the user's choice of size (setBufferFrames).
    Q_PROPERTY(quint32 bufferFrames READ bufferFrames WRITE setBufferFrames NOTIFY bufferFramesChanged)
    Q_PROPERTY(double sampleRate READ sampleRate WRITE setSampleRate NOTIFY sampleRateChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isRecovering READ isRecovering NOTIFY isRecoveringChanged)
    // From the moment a start begins (or queues behind another) until it has
    // ended, however it ended: the transport button's busy state.
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    // Empty while there is none.
    Q_PROPERTY(QString errorMessage READ errorText NOTIFY errorMessageChanged)
    Q_PROPERTY(QString warningMessage READ warningText NOTIFY warningMessageChanged)
    // 0 while not known.
    Q_PROPERTY(quint32 actualBufferFrames READ actualBufferFramesOrZero NOTIFY actualBufferFramesChanged)
    Q_PROPERTY(double actualSampleRate READ actualSampleRateOrZero NOTIFY actualSampleRateChanged)
    // The line under the buffer-size choice: its text, tooltip (may be empty)
    // and whether it is shown as a warning.
    Q_PROPERTY(QString latencyText READ latencyText NOTIFY latencyLineChanged)
    Q_PROPERTY(QString latencyToolTip READ latencyToolTip NOTIFY latencyLineChanged)
    Q_PROPERTY(bool latencyWarning READ latencyWarning NOTIFY latencyLineChanged)
    Q_PROPERTY(int audioDropoutCount READ audioDropoutCount NOTIFY audioDropoutCountChanged)
    Q_PROPERTY(bool audioDropoutActive READ audioDropoutActive NOTIFY audioDropoutActiveChanged)
    // {0, 0} while not known.
    Q_PROPERTY(corvane::BufferRange supportedBufferRange READ supportedBufferRangeOrNone NOTIFY supportedBufferRangeChanged)
    Q_PROPERTY(bool hasSupportedBufferRange READ hasSupportedBufferRange NOTIFY supportedBufferRangeChanged)
    // An empty record while there is none.
    Q_PROPERTY(corvane::PluginLoadFailure pluginLoadFailure READ pluginLoadFailureOrNone NOTIFY pluginLoadFailureChanged)
    Q_PROPERTY(bool hasPluginLoadFailure READ hasPluginLoadFailure NOTIFY pluginLoadFailureChanged)
    Q_PROPERTY(QList<corvane::ChannelSlot*> channels READ channels CONSTANT)

public:
    static constexpr int kChannelCount = 8;

    // `hardware` and `clock` must outlive the manager.
    explicit AudioEngineManager(hw::AudioHardware& hardware, Clock& clock = SystemClock::instance(),
                                QObject* parent = nullptr);
    ~AudioEngineManager() override;
    // For what must open the device on its own while playback is stopped (a latency measurement).
    hw::AudioHardware& hardware() const { return hardware_; }

    // --- Observable state -------------------------------------------------
    const QList<AudioDevice>& devices() const { return deviceTracking_.devices(); }
    const std::optional<AudioDevice>& selectedDevice() const { return deviceTracking_.selected(); }
    // The requested period size. It starts as the selected device's current one
    // (a JACK server's is shared with every other program on it); only a size
    // the user chose with setBufferFrames() is ever written to the device.
    std::uint32_t bufferFrames() const { return bufferFrames_; }
    void setBufferFrames(std::uint32_t frames);
    bool bufferFramesChosen() const { return bufferFramesChosen_; }
    double sampleRate() const { return sampleRate_; }
    void setSampleRate(double rate);
    bool isRunning() const { return isRunning_; }
    // Between a reconfiguration that stopped playback and the end of the
    // automatic restarts that follow it (playing again, or given up).
    bool isRecovering() const { return recovery_.isRecovering(); }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    const std::optional<QString>& warningMessage() const { return warningMessage_; }
    std::optional<std::uint32_t> actualBufferFrames() const { return actualBufferFrames_; }
    std::optional<double> actualSampleRate() const { return actualSampleRate_; }
    const std::optional<LatencyEstimate>& latencyEstimate() const { return latencyEstimate_; }
    int audioDropoutCount() const { return dropouts_.count(); }
    bool audioDropoutActive() const { return dropouts_.isActive(); }
    // Counts the running device's dropouts (and flashes for each).
    DropoutMonitor& dropouts() { return dropouts_; }
    const DropoutMonitor& dropouts() const { return dropouts_; }
    std::optional<BufferRange> supportedBufferRange() const { return supportedBufferRange_; }
    const std::optional<PluginLoadFailure>& pluginLoadFailure() const { return pluginLoadFailure_; }
    // Always the eight strips, in id order.
    const QList<ChannelSlot*>& channels() const { return channels_; }
    bool isStarting() const { return isStarting_; }

    // The one-way figure shown while no estimate exists.
    double requestedBufferMilliseconds() const;

    // --- The same state as the window reads it ----------------------------
    AudioDevice selectedDeviceOrNone() const { return selectedDevice().value_or(AudioDevice{}); }
    bool hasSelectedDevice() const { return selectedDevice().has_value(); }
    QString errorText() const { return errorMessage_.value_or(QString()); }
    QString warningText() const { return warningMessage_.value_or(QString()); }
    std::uint32_t actualBufferFramesOrZero() const { return actualBufferFrames_.value_or(0); }
    double actualSampleRateOrZero() const { return actualSampleRate_.value_or(0.0); }
    QString latencyText() const { return latencyLine_.text; }
    QString latencyToolTip() const { return latencyLine_.toolTip; }
    bool latencyWarning() const { return latencyLine_.warning; }
    BufferRange supportedBufferRangeOrNone() const { return supportedBufferRange_.value_or(BufferRange{}); }
    bool hasSupportedBufferRange() const { return supportedBufferRange_.has_value(); }
    PluginLoadFailure pluginLoadFailureOrNone() const { return pluginLoadFailure_.value_or(PluginLoadFailure{}); }
    bool hasPluginLoadFailure() const { return pluginLoadFailure_.has_value(); }

    // --- The window's commands ----------------------------------------------
    // The user's Start, and the transport button with its shortcut (Stop
    // while running, else Start). A Start while a start is in flight (see
    // isStarting) is ignored: the button shows that start as busy, and a press
    // there asks for what it is already doing; a second full start queued
    // behind it would only tear down what the first one built. Stop is never
    // ignored.
    Q_INVOKABLE void start() { startByUser(); }
    Q_INVOKABLE void toggle();
    // Device id 0 selects none; an id not in the list (one that went away
    // meanwhile) changes nothing.
    Q_INVOKABLE void selectDeviceById(quint32 id);
    // refreshDevices() as a task of its own (the window's first showing, its
    // refresh button).
    Q_INVOKABLE void refreshDeviceList();
    Q_INVOKABLE void setBypass(int slotID, bool bypass);
    // "Restart Plugin": a strip whose plug-in's host has ended gets a new one
    // while the rest plays on, with the settings saved last and the control
    // values it had. False (and a warning) when it cannot be restarted.
    Q_INVOKABLE bool restartPlugin(int slotID);
    // The load-failure alert's buttons: Try Again starts again as it was;
    // Remove Plugin drops the failed strip's effect first; Cancel only closes.
    // Both starts are the user's Start.
    Q_INVOKABLE void tryAgainAfterPluginFailure();
    Q_INVOKABLE void removeFailedPlugin();
    Q_INVOKABLE void dismissPluginLoadFailure() { setPluginLoadFailure(std::nullopt); }

    // --- Setups ------------------------------------------------------------
    // The one way setups are taken from the manager and given to it.
    SetupExchange& setups() { return *setups_; }

    // --- MIDI control --------------------------------------------------------
    // The controllers mapped to the strips, bound while the graph runs.
    MidiControl& midiControl() { return *midiControl_; }
    const MidiControl& midiControl() const { return *midiControl_; }

    // --- Strips -----------------------------------------------------------
    // Stores the flag and, while an effect is loaded, bypasses it at once.
    void setBypass(ChannelSlot& slot, bool bypass);

    // --- Devices ----------------------------------------------------------
    // Enumerates and applies the list; safe to call again while it runs: any
    // number of calls during one enumeration cause exactly one more.
    Async<void> refreshDevices() { return deviceTracking_.refresh(); }
    // Applies a list; `complete` when every backend had finished its first
    // look for devices before it was read (see devicesSettled).
    void deviceListChanged(const QList<AudioDevice>& devices, bool complete = true) {
        deviceTracking_.listChanged(devices, complete);
    }
    // Whether the device list holds every backend's devices: a JACK server is
    // looked for on a thread of its own, and until it has been found (or not)
    // the list may lack it. Until then no device is picked for want of one,
    // and a setup's device is not looked for. The manager waits for that at
    // most kDevicePatience from its creation, then takes the list as it is.
    bool devicesSettled() const { return deviceTracking_.settled(); }
    static constexpr std::chrono::seconds kDevicePatience = DeviceTracking::kPatience;
    // Takes the list as it is from now on: for a caller that already waited
    // for the hardware as long as it would (hw::waitUntilSettled).
    void stopWaitingForDevices() { deviceTracking_.stopWaiting(); }
    // The user's choice (none included); restarts on the new device if running.
    void selectDevice(std::optional<AudioDevice> device) { deviceTracking_.select(std::move(device)); }
    // Drops every strip channel the device cannot serve.
    void clampChannels(const AudioDevice& device);
    void refreshSupportedBufferRange() override;

    // --- Engine -----------------------------------------------------------
    // Stops what runs, applies the settings to the selected device and builds
    // and runs the graph. Every outcome is reported through the state.
    Async<void> start(bool automaticRestart);
    // Tears the graph down, keeping each effect's state for the next build.
    Q_INVOKABLE void stop();

    // The user's reset of the dropout count.
    Q_INVOKABLE void resetDropouts() { dropouts_.reset(); }

    // Per strip while running (and after a stop, for the last run): periods in
    // which its effect's output was not finite, periods its effect answered too
    // late, and its longest render time in one period.
    std::uint64_t nonFinitePeriods(int slotID) const;
    std::uint64_t latePeriods(int slotID) const;
    std::chrono::nanoseconds longestStripRender(int slotID) const;
    // The longest render of a whole period, and the period's own length.
    std::chrono::nanoseconds longestPeriodRender() const;

    // The strips' levels; whether anything shows them (StripMeters::setShown)
    // and, when nothing did, the largest readings of the last run.
    StripMeters& meters() { return *meters_; }
    const StripMeters& meters() const { return *meters_; }

    // How long a render call may take before its plug-in counts as hung (and
    // how long stopping waits for it). Two seconds unless a test says less.
    void setStallPatience(std::chrono::milliseconds patience) { stallPatience_ = patience; }
    // Whether process memory is locked against paging (tried at the first
    // start when allowed; never in sanitizer builds).
    void setLockMemory(bool lock) { lockMemory_ = lock; }
    // Whether each strip's plug-in runs in a host process of its own, from
    // the next start on.
    void setIsolation(bool isolated) { isolation_ = isolated; }
    bool isolation() const { return isolation_; }
    // The host program; corvane-plugin-host beside the running one unless set.
    void setPluginHostProgram(std::string path) { pluginHostProgram_ = std::move(path); }
    bool memoryLocked() const { return memoryLocked_; }

    // The engine the graph runs on (tests and the editor look at it).
    engine::Engine& engine() { return *engine_; }

signals:
    void devicesChanged();
    void devicesSettledChanged();
    void selectedDeviceChanged();
    void bufferFramesChanged();
    void sampleRateChanged();
    void isRunningChanged();
    void isRecoveringChanged();
    void errorMessageChanged();
    void warningMessageChanged();
    void actualBufferFramesChanged();
    void actualSampleRateChanged();
    void latencyEstimateChanged();
    void audioDropoutCountChanged();
    void audioDropoutActiveChanged();
    void supportedBufferRangeChanged();
    void pluginLoadFailureChanged();
    void isStartingChanged();
    void latencyLineChanged();

private:
    // A test stages states the hardware would otherwise have to produce, and
    // looks at the graph and the tasks it waits for.
    friend class test::ManagerPeer;
    friend class SetupExchange;

    // What giving a setup decided differently from its file, or why none could
    // be given, becomes the warning; no notes clear it (an earlier setup's
    // notes are no longer about the strips).
    void showSetupNotes(const QStringList& notes);

    // The state's setters: each notifies only on a change.
    void setRunning(bool running);
    void setErrorMessage(std::optional<QString> message);
    void setWarningMessage(std::optional<QString> message);
    void setActualBufferFrames(std::optional<std::uint32_t> frames);
    void setActualSampleRate(std::optional<double> rate);
    void setLatencyEstimate(std::optional<LatencyEstimate> estimate);
    void setSupportedBufferRange(std::optional<BufferRange> range);
    void setPluginLoadFailure(std::optional<PluginLoadFailure> failure);

    struct HardwareFormats {
        engine::Format input;
        engine::Format output;
    };
    struct ActiveStrip {
        RoutingPlan::Route route;
        ChannelSlot* slot = nullptr;
    };

    // What a start finds after each of its waits: the world as it left it, a
    // stop() (the start is abandoned), or another selected device (the start
    // begins again on it; with none selected it ends).
    enum class Checkpoint { Continue, Abandoned, Reselected };
    // Everything a graph is built from, taken once the start's waits are over.
    struct GraphSnapshot {
        RoutingPlan plan;
        QList<ActiveStrip> strips;
        std::vector<LoadedEffect> effects; // one per strip, in the same order
        HardwareFormats formats;
        double rate = 0.0;
    };

    // True when the sequence must run again for a newly selected device.
    Async<bool> startSequence(bool automaticRestart);
    Checkpoint checkpoint(const AudioDevice& device, std::uint64_t run) const;
    // Builds and prepares the whole graph at once; yields why it could not.
    std::optional<QString> buildGraph(GraphSnapshot snapshot);
    // Puts the strip's loaded effect between its splitter and the combiner's input bus.
    std::optional<QString> attachEffect(ChannelSlot& slot, LoadedEffect loaded, engine::Unit& splitter,
                                        int combinerBus, engine::Format splitterOutput, engine::Format combinerInput);
    // Keeps each strip's effect's full state for the next build, but the
    // `hung` one's (may be null), and lets the effects go.
    void saveEffectStates(const ChannelSlot* hung);
    // Logs each effect whose reported latency cannot be right, once per run.
    double largestPluginLatency(const QList<ActiveStrip>& strips);
    void applyGains(const RoutingPlan& plan, const QList<ActiveStrip>& strips);
    void failStart(const QString& message);
    // Points the engine at the device and waits (bounded) for its reconfiguration.
    Async<HardwareFormats> moveEngine(engine::Engine& engine, const AudioDevice& device);
    Async<void> computeLatencyEstimate(hw::ObjectId device, double rate, QList<ActiveStrip> strips);
    // The running device's period size or latency changed underneath (a JACK
    // server's buffer size): the actual size and the estimate follow.
    void followDeviceSettings(hw::ObjectId device);
    void stopFollowingDeviceSettings();
    void deviceSettingsChanged();

    // Logs which strip took longest since the last dropout: the first suspect.
    void nameDropoutSuspect();

    // Resets effects that produced non-finite audio, and stops playback when a
    // plug-in stopped responding. On every meter tick.
    void watchEffects();
    // Tells of an isolated strip's plug-in whose host has ended, once.
    void notePluginFault(ChannelSlot& slot, const lv2::IsolatedEffect& effect);
    // Learns of the host's end as it happens rather than at the next meter tick.
    void watchHost(ChannelSlot& slot, lv2::IsolatedEffect& effect);
    // Keeps an isolated plug-in's settings as its edits settle, for a
    // restart or the next start after its host has crashed.
    void keepSettledState(ChannelSlot& slot, lv2::IsolatedEffect& effect);
    // Gives an isolated plug-in's host our audio thread's priority and our
    // memory locking; what it cannot have is logged.
    void shareScheduling(ChannelSlot& slot, lv2::IsolatedEffect& effect);
    void lockMemoryOnce();

    void handleConfigurationChange();
    // What a recovery and the device tracking ask of the manager.
    void stopPlayback() override { stop(); }
    bool isPlaying() const override { return isRunning_; }
    Async<void> startPlayback() override { return start(false); }
    void fitStrips(const std::optional<AudioDevice>& device) override;
    void selectedDeviceVanished(const AudioDevice& device) override;
    void clearMessages() override;
    void clearWarning() override { setWarningMessage(std::nullopt); }
    Async<std::optional<QList<AudioDevice>>> listDevicesWithin(Clock::Duration limit) override;
    void takeDeviceList(const QList<AudioDevice>& devices) override { deviceListChanged(devices); }
    Async<std::optional<AudioDevice>> rediscover(QString uid) override;
    Async<bool> restartOn(AudioDevice device) override;
    void showError(const QString& message) override { setErrorMessage(message); }
    void showWarning(const QString& message) override { setWarningMessage(message); }

    // Applies bufferFrames and sampleRate to the selected device and waits for
    // an accepted rate to settle; yields whether the device accepted the rate.
    Async<bool> prepareDevice();

    std::unique_ptr<engine::Engine> makeEngine() const;
    // Takes the device's period size as the request, without making it a choice.
    void adoptBufferFrames(std::uint32_t frames);
    void startByUser();
    void setStarting(bool starting);
    void updateLatencyLine();

    hw::AudioHardware& hardware_;
    Clock& clock_;
    std::unique_ptr<engine::Engine> engine_;
    QList<ActiveStrip> runningStrips_; // the strips of the running graph, in route order
    double runningRate_ = 0.0;
    QList<std::shared_ptr<MatrixMixerNode>> splitters_;
    std::shared_ptr<MatrixMixerNode> combiner_;

    std::uint32_t bufferFrames_ = 256;
    bool bufferFramesChosen_ = false;
    double sampleRate_ = 48000.0;
    bool isRunning_ = false;
    std::optional<QString> errorMessage_;
    std::optional<QString> warningMessage_;
    std::optional<std::uint32_t> actualBufferFrames_;
    std::optional<double> actualSampleRate_;
    std::optional<LatencyEstimate> latencyEstimate_;
    std::optional<BufferRange> supportedBufferRange_;
    std::optional<PluginLoadFailure> pluginLoadFailure_;
    QList<ChannelSlot*> channels_;
    bool isStarting_ = false;
    int startsPending_ = 0; // begun and not yet ended, queued ones included
    LatencyLine latencyLine_;

    DropoutMonitor dropouts_;
    ConfigurationRecovery recovery_;
    DeviceTracking deviceTracking_;
    struct Registration {
        hw::ObjectId object;
        hw::Address address;
        hw::AudioHardware::ListenerId id;
    };
    std::vector<Registration> settingsListeners_;
    Task deviceSettingsTask_;
    QMetaObject::Connection configurationChangeObserver_;
    std::unique_ptr<ProcessActivity> latencyCriticalActivity_;
    // Starts run one at a time; a stop() during a start's waits abandons it.
    std::shared_ptr<TaskState> startInFlight_;
    std::uint64_t stopCount_ = 0;
    // Set by a stop() that had to leave a hung plug-in behind.
    std::optional<QString> stallMessage_;
    std::chrono::milliseconds stallPatience_{2000};
    bool lockMemory_ = false;
    bool isolation_ = false;
    std::string pluginHostProgram_;
    // Per strip, what watches its isolated plug-in's host while the graph runs.
    std::array<QSocketNotifier*, kChannelCount> hostWatchers_{};
    std::array<SettledEdits, kChannelCount> settledEdits_{};
    bool memoryLockTried_ = false;
    bool memoryLocked_ = false;
    int audioThreadPriority_ = 0; // SCHED_FIFO's, as the running audio thread has it; 0: none
    // Kept from the last run for the report after a stop.
    struct StripStats {
        std::uint64_t nonFinitePeriods = 0;
        std::uint64_t latePeriods = 0;
        std::chrono::nanoseconds longestRender{0};
    };
    std::array<StripStats, kChannelCount> stripStats_{};
    std::chrono::nanoseconds longestPeriodRender_{0};
    QList<const void*> latencyComplaints_; // effects whose latency was already called impossible
    Task supportedBufferRangeTask_;
    std::unique_ptr<StripMeters> meters_;
    SetupExchange* setups_ = nullptr; // a child
    MidiControl* midiControl_ = nullptr; // a child; the JACK backend's control input
};

} // namespace corvane
