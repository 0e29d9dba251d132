#pragma once
// The single controller of the audio engine: owns the eight strips, the graph,
// the level store, and every piece of state the window shows about the engine.
// It keeps the device list in step with the hardware, applies the requested
// buffer size and rate at start, builds and runs the graph, watches it while it
// runs and recovers from reconfigurations.
//
// Main thread only. Operations report through the observable state (messages,
// flags), never through return values; every setter notifies only on a change.

#include "devices/AudioDevice.h"
#include "devices/DeviceEnumeration.h"
#include "engine/ChannelSlot.h"
#include "engine/LatencyEstimate.h"
#include "engine/LevelStore.h"
#include "engine/MatrixMixerNode.h"
#include "engine/PluginLoadFailure.h"
#include "engine/RecoveryThrottle.h"
#include "platform/engine/Engine.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/ProcessActivity.h"
#include "platform/system/Clock.h"
#include "platform/system/Task.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace corvane {

class AudioEngineManager : public QObject {
    Q_OBJECT

public:
    static constexpr int kChannelCount = 8;

    // `hardware` and `clock` must outlive the manager.
    explicit AudioEngineManager(hw::AudioHardware& hardware, Clock& clock = SystemClock::instance(),
                                QObject* parent = nullptr);
    ~AudioEngineManager() override;

    // --- Observable state -------------------------------------------------
    const QList<AudioDevice>& devices() const { return devices_; }
    void setDevices(QList<AudioDevice> devices);
    const std::optional<AudioDevice>& selectedDevice() const { return selectedDevice_; }
    void setSelectedDevice(std::optional<AudioDevice> device);
    std::uint32_t bufferFrames() const { return bufferFrames_; }
    void setBufferFrames(std::uint32_t frames);
    double sampleRate() const { return sampleRate_; }
    void setSampleRate(double rate);
    bool isRunning() const { return isRunning_; }
    void setRunning(bool running);
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    void setErrorMessage(std::optional<QString> message);
    const std::optional<QString>& warningMessage() const { return warningMessage_; }
    void setWarningMessage(std::optional<QString> message);
    std::optional<std::uint32_t> actualBufferFrames() const { return actualBufferFrames_; }
    void setActualBufferFrames(std::optional<std::uint32_t> frames);
    std::optional<double> actualSampleRate() const { return actualSampleRate_; }
    void setActualSampleRate(std::optional<double> rate);
    const std::optional<LatencyEstimate>& latencyEstimate() const { return latencyEstimate_; }
    void setLatencyEstimate(std::optional<LatencyEstimate> estimate);
    int audioDropoutCount() const { return audioDropoutCount_; }
    void setAudioDropoutCount(int count);
    bool audioDropoutActive() const { return audioDropoutActive_; }
    void setAudioDropoutActive(bool active);
    std::optional<BufferRange> supportedBufferRange() const { return supportedBufferRange_; }
    void setSupportedBufferRange(std::optional<BufferRange> range);
    const std::optional<PluginLoadFailure>& pluginLoadFailure() const { return pluginLoadFailure_; }
    void setPluginLoadFailure(std::optional<PluginLoadFailure> failure);
    // Always the eight strips, in id order.
    const QList<ChannelSlot*>& channels() const { return channels_; }

    // The one-way figure shown while no estimate exists.
    double requestedBufferMilliseconds() const;

    // --- Strips -----------------------------------------------------------
    // Stores the flag and, while an effect is loaded, bypasses it at once.
    void setBypass(ChannelSlot& slot, bool bypass);

    // --- Devices ----------------------------------------------------------
    // Enumerates and applies the list; safe to call again while it runs: any
    // number of calls during one enumeration cause exactly one more.
    Async<void> refreshDevices();
    void deviceListChanged(const QList<AudioDevice>& devices);
    // The user's choice (none included); restarts on the new device if running.
    void selectDevice(std::optional<AudioDevice> device);
    // Drops every strip channel the device cannot serve.
    void clampChannels(const AudioDevice& device);
    void refreshSupportedBufferRange();

    // --- Engine -----------------------------------------------------------
    // Stops what runs, applies the settings to the selected device and builds
    // and runs the graph. Every outcome is reported through the state.
    Async<void> start(bool automaticRestart);
    // Tears the graph down, keeping each effect's state for the next build.
    void stop();

    // The user's reset of the dropout count.
    void resetDropouts();

    // What the running graph is made of (tests and the editor look at it).
    engine::Engine& engine() { return *engine_; }
    const QList<std::shared_ptr<MatrixMixerNode>>& splitters() const { return splitters_; }
    const std::shared_ptr<MatrixMixerNode>& combiner() const { return combiner_; }
    const Task& deviceSwitchTask() const { return deviceSwitchTask_; }
    const Task& recoveryTask() const { return recoveryTask_; }
    const RecoveryThrottle& recoveryThrottle() const { return recoveryThrottle_; }
    LevelStore& levelStore() { return levelStore_; }
    bool holdsProcessActivity() const { return latencyCriticalActivity_ != nullptr; }
    bool hasDropoutListener() const { return dropoutListener_.has_value(); }

signals:
    void devicesChanged();
    void selectedDeviceChanged();
    void bufferFramesChanged();
    void sampleRateChanged();
    void isRunningChanged();
    void errorMessageChanged();
    void warningMessageChanged();
    void actualBufferFramesChanged();
    void actualSampleRateChanged();
    void latencyEstimateChanged();
    void audioDropoutCountChanged();
    void audioDropoutActiveChanged();
    void supportedBufferRangeChanged();
    void pluginLoadFailureChanged();

private:
    struct HardwareFormats {
        engine::Format input;
        engine::Format output;
    };
    struct ActiveStrip {
        RoutingPlan::Route route;
        ChannelSlot* slot = nullptr;
    };

    // How building the graph ended: built, failed with a message for the
    // failure exit, or ended by an effect that would not load (already reported).
    struct BuildResult {
        enum class Kind { Built, Failed, PluginFailed } kind = Kind::Built;
        QString message;
    };

    Async<void> startSequence(bool automaticRestart);
    Async<BuildResult> buildGraph(RoutingPlan plan, QList<ActiveStrip> strips, HardwareFormats formats, double rate);
    // Loads the strip's effect between its splitter and the combiner's input bus;
    // false when it would not load (the start is then over).
    Async<bool> hostEffect(ChannelSlot& slot, engine::Unit& splitter, int combinerBus, engine::Format splitterOutput,
                           engine::Format combinerInput, double rate);
    // Keeps the effect's full state for the next build and lets the effect go.
    void saveEffectState(ChannelSlot& slot);
    double largestPluginLatency(const QList<ActiveStrip>& strips) const;
    void applyGains(const RoutingPlan& plan, const QList<ActiveStrip>& strips);
    void failStart(const QString& message);
    // Points the engine at the device and waits (bounded) for its reconfiguration.
    Async<HardwareFormats> moveEngine(engine::Engine& engine, const AudioDevice& device);
    Async<void> computeLatencyEstimate(hw::ObjectId device, double rate, QList<ActiveStrip> strips);

    void installDropoutListener(hw::ObjectId device);
    void removeDropoutListener();
    void noteDropout();

    void startMetering();
    void collectLevels();

    void handleConfigurationChange();
    void scheduleRecovery(const QString& deviceUID);
    Async<void> runRecoveryAttempt(int attempt, QString deviceUID);

    // Applies bufferFrames and sampleRate to the selected device and waits for
    // an accepted rate to settle; yields whether the device accepted the rate.
    Async<bool> prepareDevice();
    void onDeviceListListener();

    hw::AudioHardware& hardware_;
    Clock& clock_;
    std::unique_ptr<engine::Engine> engine_;
    QList<std::shared_ptr<MatrixMixerNode>> splitters_;
    std::shared_ptr<MatrixMixerNode> combiner_;

    QList<AudioDevice> devices_;
    std::optional<AudioDevice> selectedDevice_;
    std::uint32_t bufferFrames_ = 256;
    double sampleRate_ = 48000.0;
    bool isRunning_ = false;
    std::optional<QString> errorMessage_;
    std::optional<QString> warningMessage_;
    std::optional<std::uint32_t> actualBufferFrames_;
    std::optional<double> actualSampleRate_;
    std::optional<LatencyEstimate> latencyEstimate_;
    int audioDropoutCount_ = 0;
    bool audioDropoutActive_ = false;
    std::optional<BufferRange> supportedBufferRange_;
    std::optional<PluginLoadFailure> pluginLoadFailure_;
    QList<ChannelSlot*> channels_;

    std::optional<Clock::TimePoint> lastDropoutDate_;
    struct DropoutListener {
        hw::ObjectId device;
        hw::AudioHardware::ListenerId id;
    };
    std::optional<DropoutListener> dropoutListener_;
    std::optional<hw::AudioHardware::ListenerId> deviceListListener_;
    QMetaObject::Connection configurationChangeObserver_;
    std::unique_ptr<ProcessActivity> latencyCriticalActivity_;
    // Starts run one at a time; a stop() during a start's waits abandons it.
    std::shared_ptr<TaskState> startInFlight_;
    std::uint64_t stopCount_ = 0;
    std::optional<QString> preferredDeviceUID_;
    std::optional<QString> preferredDeviceName_;
    Task deviceRefreshTask_;
    bool deviceRefreshRequestedAgain_ = false;
    Task supportedBufferRangeTask_;
    Task deviceSwitchTask_;
    LevelStore levelStore_{kChannelCount};
    Task meterTask_;
    Task recoveryTask_;
    Task configurationCheck_;
    RecoveryThrottle recoveryThrottle_;
};

} // namespace corvane
