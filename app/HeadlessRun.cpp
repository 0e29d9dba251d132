#include "app/HeadlessRun.h"

#include "devices/DeviceEnumeration.h"
#include "engine/AudioEngineManager.h"
#include "engine/MidiInputs.h"
#include "engine/SetupExchange.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/system/Logging.h"
#include "plugins/PluginCatalog.h"
#include "setup/SetupFile.h"

#include <QJsonArray>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace corvane {

using namespace std::chrono_literals;

namespace {

const QString kInterruptedBeforePlayback = QStringLiteral("The run was interrupted before playback started.");

QString channelsText(int first, bool stereo) {
    return stereo ? QStringLiteral("%1-%2").arg(first).arg(first + 1) : QString::number(first);
}

QJsonValue orNull(const std::optional<double>& value) { return value ? QJsonValue(*value) : QJsonValue(); }

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// The largest levels each strip reached during the run: with the meters not
// shown, the level store kept them from the start, and the stop that ended the
// run kept them for us.
struct Peaks {
    LevelStore::Reading input;
    LevelStore::Reading output;
};

std::vector<Peaks> runPeaks(const std::vector<LevelStore::Reading>& readings) {
    const auto n = std::size_t(AudioEngineManager::kChannelCount);
    std::vector<Peaks> peaks(n);
    if (readings.size() < 4 * n)
        return peaks;
    auto larger = [](LevelStore::Reading a, LevelStore::Reading b) {
        return LevelStore::Reading{std::max(a.peak, b.peak), std::max(a.rms, b.rms)};
    };
    for (std::size_t i = 0; i < n; ++i)
        peaks[i] = {larger(readings[i], readings[n + i]), larger(readings[2 * n + i], readings[3 * n + i])};
    return peaks;
}

// The first channel of the strip that the device has not got, as the message
// that names it; none when the device serves the strip.
std::optional<QString> beyondDevice(const StripSpec& spec, const AudioDevice& device) {
    auto check = [&](int first, bool stereo, int count, const char* one, const char* many) -> std::optional<QString> {
        const int last = first + (stereo ? 1 : 0);
        if (last <= count)
            return std::nullopt;
        return QStringLiteral("--strip %1: %2 %3 is beyond “%4” (%5 %6)")
            .arg(spec.strip)
            .arg(QLatin1String(one))
            .arg(first > count ? first : last)
            .arg(device.name)
            .arg(count)
            .arg(QLatin1String(count == 1 ? one : many));
    };
    if (auto input = check(spec.input, spec.inputStereo, device.inputChannels, "input", "inputs"))
        return input;
    return check(spec.output, spec.outputStereo, device.outputChannels, "output", "outputs");
}

// What the manager said about why it is not playing.
QString whyStopped(const AudioEngineManager& manager, const QString& otherwise) {
    if (const auto& failure = manager.pluginLoadFailure())
        return QStringLiteral("Couldn’t load “%1” on channel %2: %3")
            .arg(failure->pluginName)
            .arg(failure->slotID + 1)
            .arg(failure->reason);
    return manager.errorMessage().value_or(otherwise);
}

// Sleeps until one of the things it was told about happens. Each wait() is
// woken once, through the event loop, by the first wake() after it began.
class Wakeup {
public:
    void wake() {
        auto gate = gate_;
        postToMain([gate] {
            if (!gate->isDone())
                gate->markDone();
        });
    }
    Async<void> wait() {
        gate_ = std::make_shared<TaskState>();
        co_await Task(gate_).join();
    }

private:
    std::shared_ptr<TaskState> gate_ = std::make_shared<TaskState>();
};

// Runs `flow` as a task of its own and waits until it ends or the user
// interrupts; true when it ended. An interrupted flow goes on by itself, so
// what it uses must be shared with it or be checked for still being there.
template <class F>
Async<bool> endsBeforeInterrupt(RunInterrupt& interrupt, F flow) {
    if (interrupt.isRequested())
        co_return false;
    auto wakeup = std::make_shared<Wakeup>();
    auto finished = std::make_shared<bool>(false);
    QObject context;
    QObject::connect(&interrupt, &RunInterrupt::requested, &context, [wakeup] { wakeup->wake(); });
    const Task task = spawnWith([flow = std::move(flow), finished, wakeup]() -> Async<void> {
        co_await flow();
        *finished = true;
        wakeup->wake();
    });
    if (!*finished)
        co_await wakeup->wait();
    co_return *finished && !interrupt.isRequested();
}

} // namespace

Async<HeadlessResult> runHeadless(hw::AudioHardware& hardware, Clock& clock, const HeadlessOptions& options,
                                  RunInterrupt& interrupt, std::function<void(const QString&)> warn) {
    HeadlessResult result;
    std::optional<ReadSetup> setup;
    if (!options.setupPath.isEmpty()) {
        auto read = readSetupFile(options.setupPath);
        if (auto* error = std::get_if<SetupReadError>(&read)) {
            result.exitCode = 2;
            result.errorLine = QStringLiteral("--setup ") + error->message;
            co_return result;
        }
        setup = std::get<ReadSetup>(std::move(read));
    }
    AudioEngineManager manager(hardware, clock);
    manager.setLockMemory(true);
    manager.setIsolation(options.isolated);
    manager.meters().setShown(false);
    // The program waited for the hardware before the run.
    manager.stopWaitingForDevices();
    co_await manager.refreshDevices();

    QStringList warnings;
    auto noteWarning = [&](const QString& text) {
        if (text.isEmpty() || warnings.contains(text))
            return;
        warnings.append(text);
        if (warn)
            warn(text);
    };
    QObject context;
    QObject::connect(&manager, &AudioEngineManager::warningMessageChanged, &context, [&] {
        if (const auto& warning = manager.warningMessage())
            noteWarning(*warning);
    });
    // What the plug-ins logged as errors or warnings (a file that did not
    // load while their settings were restored): the run's log leaves their
    // words out.
    auto notePluginProblems = [&] {
        for (ChannelSlot* slot : manager.channels())
            if (auto* effect = slot->effect())
                for (const std::string& line : effect->takeLoggedProblems())
                    noteWarning(QStringLiteral("“%1” on channel %2: %3")
                                    .arg(QString::fromStdString(effect->name()))
                                    .arg(slot->id() + 1)
                                    .arg(QString::fromStdString(line)));
    };

    // Per strip, how its plug-in's host ended and when, in seconds of the
    // run: the strip's own mark goes with the graph at the end. The run starts
    // with the engine, before the rest of the start (the latency estimate)
    // is done, and a plug-in may fail in between.
    std::vector<std::optional<std::pair<QString, double>>> faults(AudioEngineManager::kChannelCount);
    std::optional<Clock::TimePoint> startedAt;
    QObject::connect(&manager, &AudioEngineManager::isRunningChanged, &context, [&] {
        if (manager.isRunning() && !startedAt)
            startedAt = clock.now();
    });
    for (ChannelSlot* slot : manager.channels())
        QObject::connect(slot, &ChannelSlot::pluginFaultChanged, &context, [&, slot] {
            auto& fault = faults[std::size_t(slot->id())];
            if (slot->pluginFault().isEmpty() || fault)
                return;
            const double at = startedAt ? std::chrono::duration<double>(clock.now() - *startedAt).count() : 0.0;
            fault = std::pair(slot->pluginFault(), at);
        });

    std::optional<double> actualRate;
    std::optional<std::uint32_t> actualFrames;
    std::vector<std::optional<double>> pluginLatency(AudioEngineManager::kChannelCount);
    QString deviceUid = options.deviceUid;
    // The strips that play, as the report lists them.
    std::vector<StripSpec> routed;

    // The report says what is known however the run ended, once it began.
    auto finish = [&]() -> HeadlessResult {
        QJsonObject report;
        report[QStringLiteral("device")] = deviceUid;
        report[QStringLiteral("sampleRate")] =
            QJsonObject{{QStringLiteral("requested"), manager.sampleRate()}, {QStringLiteral("actual"), orNull(actualRate)}};
        report[QStringLiteral("bufferFrames")] = QJsonObject{
            {QStringLiteral("requested"), qint64(options.bufferFrames.value_or(manager.bufferFrames()))},
            {QStringLiteral("actual"), actualFrames ? QJsonValue(qint64(*actualFrames)) : QJsonValue()}};
        if (auto latency = manager.latencyEstimate())
            report[QStringLiteral("latency")] =
                QJsonObject{{QStringLiteral("roundTripMs"), rounded(latency->roundTripMilliseconds(), 3)},
                            {QStringLiteral("summary"), latency->summary()}};
        else
            report[QStringLiteral("latency")] = QJsonValue();
        report[QStringLiteral("dropouts")] = manager.audioDropoutCount();
        report[QStringLiteral("midiEventsReceived")] = qint64(manager.midiControl().eventsReceived());
        report[QStringLiteral("midiEventsApplied")] = qint64(manager.midiControl().eventsApplied());
        report[QStringLiteral("memoryLocked")] = manager.memoryLocked();
        notePluginProblems();
        manager.stop();
        const std::vector<Peaks> peaks = runPeaks(manager.meters().lastRunLevels());
        report[QStringLiteral("warnings")] = QJsonArray::fromStringList(warnings);
        const double periodMicros =
            actualRate && actualFrames && *actualRate > 0 ? double(*actualFrames) / *actualRate * 1e6 : 0.0;
        report[QStringLiteral("periodMicros")] = rounded(periodMicros, 1);
        report[QStringLiteral("periodMaxMicros")] = rounded(double(manager.longestPeriodRender().count()) / 1e3, 1);
        report[QStringLiteral("interrupted")] = result.interrupted;
        report[QStringLiteral("error")] = result.errorLine.isEmpty() ? QJsonValue() : QJsonValue(result.errorLine);

        result.setup = manager.setups().capture();
        QJsonArray strips;
        for (const auto& spec : routed) {
            const auto index = std::size_t(spec.strip - 1);
            const auto& p = peaks[index];
            QJsonObject entry;
            entry[QStringLiteral("strip")] = spec.strip;
            entry[QStringLiteral("in")] = channelsText(spec.input, spec.inputStereo);
            entry[QStringLiteral("out")] = channelsText(spec.output, spec.outputStereo);
            entry[QStringLiteral("plugin")] = spec.pluginUri.isEmpty() ? QJsonValue() : QJsonValue(spec.pluginUri);
            entry[QStringLiteral("pluginLatencyMs")] =
                pluginLatency[index] ? QJsonValue(rounded(*pluginLatency[index], 3)) : QJsonValue();
            entry[QStringLiteral("bypass")] = spec.bypass;
            entry[QStringLiteral("inputPeak")] = rounded(p.input.peak, 6);
            entry[QStringLiteral("inputRms")] = rounded(p.input.rms, 6);
            entry[QStringLiteral("outputPeak")] = rounded(p.output.peak, 6);
            entry[QStringLiteral("outputRms")] = rounded(p.output.rms, 6);
            entry[QStringLiteral("dspMaxMicros")] = rounded(double(manager.longestStripRender(spec.strip - 1).count()) / 1e3, 1);
            entry[QStringLiteral("nonFinitePeriods")] = qint64(manager.nonFinitePeriods(spec.strip - 1));
            entry[QStringLiteral("latePeriods")] = qint64(manager.latePeriods(spec.strip - 1));
            const auto& fault = faults[index];
            entry[QStringLiteral("pluginFault")] = fault ? QJsonValue(fault->first) : QJsonValue();
            entry[QStringLiteral("faultAtSeconds")] = fault ? QJsonValue(rounded(fault->second, 3)) : QJsonValue();
            strips.append(entry);
        }
        report[QStringLiteral("strips")] = strips;
        result.report = report;
        return result;
    };
    auto fail = [&](int exitCode, const QString& message) {
        result.exitCode = exitCode;
        result.errorLine = message;
        return finish();
    };
    auto interrupted = [&] {
        result.interrupted = true;
        return fail(1, kInterruptedBeforePlayback);
    };

    // The setup first; what the command line says besides overrides it.
    if (setup)
        manager.setups().give(setup->setup, readingNotes(*setup), options.deviceUid.isEmpty());
    if (!options.deviceUid.isEmpty()) {
        auto it = std::find_if(manager.devices().begin(), manager.devices().end(),
                               [&](const AudioDevice& d) { return d.uid == options.deviceUid; });
        if (it == manager.devices().end())
            co_return fail(1, QStringLiteral("“%1” is not available (see --list-devices)").arg(options.deviceUid));
        manager.selectDevice(*it);
    }
    if (!manager.selectedDevice())
        co_return fail(1, QStringLiteral("Select an audio device."));
    const AudioDevice device = *manager.selectedDevice();
    deviceUid = device.uid;

    // The MIDI input the window remembers feeds the run's control input too.
    if (const QString source = midi_inputs::remembered(); !source.isEmpty()) {
        if (const auto sources = midi_inputs::sources(hardware, device.id); !sources || !sources->contains(source))
            qCWarning(lcEngine, "the remembered MIDI input “%s” is not there: no MIDI control comes from it",
                      qUtf8Printable(source));
        midi_inputs::give(hardware, source);
    }

    // A strip asked for by hand that the device cannot serve is a mistake in
    // the arguments, not something to leave out quietly.
    for (const auto& spec : options.strips)
        if (auto beyond = beyondDevice(spec, device)) {
            result.exitCode = 2;
            result.errorLine = *beyond;
            co_return result;
        }

    if (options.sampleRate)
        manager.setSampleRate(*options.sampleRate);
    if (const auto wanted = options.bufferFrames ? options.bufferFrames : setup ? setup->setup.bufferFrames : std::nullopt) {
        auto offered = co_await runDetached([&hardware, id = device.id, frames = *wanted] {
            return nearestBufferFrameSize(hardware, id, frames);
        });
        const std::uint32_t frames = offered.value_or(*wanted);
        if (frames != *wanted)
            noteWarning(QStringLiteral("“%1” does not offer a buffer of %2 frames - using %3, the nearest it offers.")
                            .arg(device.name)
                            .arg(*wanted)
                            .arg(frames));
        manager.setBufferFrames(frames);
    }

    auto installed = std::make_shared<QList<PluginComponent>>();
    if (std::any_of(options.strips.begin(), options.strips.end(), [](const StripSpec& s) { return !s.pluginUri.isEmpty(); })) {
        auto scan = [installed]() -> Async<void> { *installed = co_await PluginCatalog::components(); };
        if (!co_await endsBeforeInterrupt(interrupt, std::move(scan)))
            co_return interrupted();
    }
    for (const auto& spec : options.strips) {
        auto* slot = manager.channels()[spec.strip - 1];
        if (!spec.pluginUri.isEmpty()) {
            // An effect the catalog does not list is still tried: the load
            // failure then says why it cannot run.
            PluginComponent component{spec.pluginUri, spec.pluginUri, {}, false};
            for (const auto& c : *installed)
                if (c.uri == spec.pluginUri)
                    component = c;
            slot->setComponent(component);
        } else {
            slot->setComponent(std::nullopt);
        }
        slot->setInputStereo(spec.inputStereo);
        slot->setOutputStereo(spec.outputStereo);
        slot->setInputChannel(spec.input - 1);
        slot->setOutputChannel(spec.output - 1);
        manager.setBypass(*slot, spec.bypass);
    }
    for (const ChannelSlot* slot : manager.channels())
        if (slot->inputChannel() && slot->outputChannel())
            routed.push_back(StripSpec{slot->id() + 1, *slot->inputChannel() + 1, slot->inputStereo(),
                                       *slot->outputChannel() + 1, slot->outputStereo(),
                                       slot->component() ? slot->component()->uri : QString(), slot->bypass()});

    // An abandoned start checks that its manager still exists after each wait.
    auto start = [&manager]() -> Async<void> { co_await manager.start(false); };
    // Interrupted while the start finishes what follows the engine's start
    // (the latency estimate) is an interrupted run, not an interrupted start.
    if (!co_await endsBeforeInterrupt(interrupt, std::move(start)) && !manager.isRunning())
        co_return interrupted();
    actualRate = manager.actualSampleRate();
    actualFrames = manager.actualBufferFrames();
    if (!manager.isRunning())
        co_return fail(1, whyStopped(manager, QStringLiteral("The engine did not start.")));
    if (!startedAt)
        startedAt = clock.now();
    if (const auto& warning = manager.warningMessage())
        noteWarning(*warning);
    notePluginProblems();
    for (auto* slot : manager.channels())
        if (slot->effectNode())
            pluginLatency[std::size_t(slot->id())] = slot->effectNode()->latencySeconds() * 1000.0;

    // Sleeps until the end, the user's interrupt, or playback stopping for
    // good: a reconfiguration stops it for a moment and the manager restarts it.
    Wakeup wakeup;
    auto wake = [&wakeup] { wakeup.wake(); };
    QObject::connect(&manager, &AudioEngineManager::isRunningChanged, &context, wake);
    QObject::connect(&manager, &AudioEngineManager::isRecoveringChanged, &context, wake);
    QObject::connect(&interrupt, &RunInterrupt::requested, &context, wake);
    bool timeUp = false;
    std::optional<Clock::TimerId> deadline;
    if (options.seconds)
        deadline = clock.callAt(clock.now() + std::chrono::duration_cast<Clock::Duration>(
                                                   std::chrono::duration<double>(*options.seconds)),
                                [&timeUp, wake] {
                                    timeUp = true;
                                    wake();
                                });
    while (!timeUp && !interrupt.isRequested() && (manager.isRunning() || manager.isRecovering())) {
        // What the device really runs at: a server may apply a new period size
        // well after it was asked for, and a restart may have moved the rate.
        if (manager.isRunning()) {
            actualRate = manager.actualSampleRate();
            actualFrames = manager.actualBufferFrames();
        }
        co_await wakeup.wait();
    }
    if (deadline && !timeUp)
        clock.cancelTimer(*deadline);
    if (manager.isRunning()) {
        actualRate = manager.actualSampleRate();
        actualFrames = manager.actualBufferFrames();
        result.interrupted = interrupt.isRequested();
    } else if (interrupt.isRequested() && manager.isRecovering()) {
        result.interrupted = true;
    } else {
        result.exitCode = 1;
        result.errorLine = whyStopped(manager, QStringLiteral("Playback stopped."));
    }
    co_return finish();
}

} // namespace corvane
