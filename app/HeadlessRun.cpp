#include "app/HeadlessRun.h"

#include "engine/AudioEngineManager.h"
#include "plugins/PluginCatalog.h"

#include <QJsonArray>
#include <QPointer>
#include <algorithm>
#include <cmath>

namespace corvane {

using namespace std::chrono_literals;

namespace {

QString channelsText(int first, bool stereo) {
    return stereo ? QStringLiteral("%1-%2").arg(first).arg(first + 1) : QString::number(first);
}

QJsonValue optionalText(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
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

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

} // namespace

Async<HeadlessResult> runHeadless(hw::AudioHardware& hardware, Clock& clock, const HeadlessOptions& options,
                                  RunInterrupt& interrupt) {
    HeadlessResult result;
    AudioEngineManager manager(hardware, clock);
    manager.setLockMemory(true);
    manager.setMetersShown(false);
    co_await manager.refreshDevices();

    if (!options.deviceUid.isEmpty()) {
        auto it = std::find_if(manager.devices().begin(), manager.devices().end(),
                               [&](const AudioDevice& d) { return d.uid == options.deviceUid; });
        if (it == manager.devices().end()) {
            result.exitCode = 2;
            result.errorLine = QStringLiteral("--device %1: no such device (see --list-devices)").arg(options.deviceUid);
            co_return result;
        }
        manager.selectDevice(*it);
    }
    if (!manager.selectedDevice()) {
        result.exitCode = 1;
        result.errorLine = QStringLiteral("Select an audio device.");
        co_return result;
    }
    if (options.sampleRate)
        manager.setSampleRate(*options.sampleRate);
    if (options.bufferFrames)
        manager.setBufferFrames(*options.bufferFrames);
    QList<PluginComponent> installed;
    if (std::any_of(options.strips.begin(), options.strips.end(), [](const StripSpec& s) { return !s.pluginUri.isEmpty(); }))
        installed = co_await PluginCatalog::components();
    for (const auto& spec : options.strips) {
        auto* slot = manager.channels()[spec.strip - 1];
        if (!spec.pluginUri.isEmpty()) {
            // An effect the catalog does not list is still tried: the load
            // failure then says why it cannot run.
            PluginComponent component{spec.pluginUri, spec.pluginUri, {}, false};
            for (const auto& c : installed)
                if (c.uri == spec.pluginUri)
                    component = c;
            slot->setComponent(component);
        }
        slot->setInputStereo(spec.inputStereo);
        slot->setOutputStereo(spec.outputStereo);
        slot->setInputChannel(spec.input - 1);
        slot->setOutputChannel(spec.output - 1);
        manager.setBypass(*slot, spec.bypass);
    }

    co_await manager.start(false);
    if (const auto& failure = manager.pluginLoadFailure()) {
        result.exitCode = 1;
        result.errorLine = QStringLiteral("Couldn’t load “%1” on channel %2: %3")
                               .arg(failure->pluginName)
                               .arg(failure->slotID + 1)
                               .arg(failure->reason);
        co_return result;
    }
    const AudioDevice device = *manager.selectedDevice();
    std::vector<std::optional<double>> pluginLatency(AudioEngineManager::kChannelCount);
    for (auto* slot : manager.channels())
        if (slot->effectNode())
            pluginLatency[std::size_t(slot->id())] = slot->effectNode()->latencySeconds() * 1000.0;
    const auto actualRate = manager.actualSampleRate();
    auto actualFrames = manager.actualBufferFrames();
    const auto warning = manager.warningMessage();
    if (!manager.isRunning()) {
        result.exitCode = 1;
        result.errorLine = manager.errorMessage().value_or(QStringLiteral("The engine did not start."));
    } else {
        // Sleeps until the end, the user's interrupt, or playback stopping by itself.
        auto gate = std::make_shared<TaskState>();
        auto open = [gate] {
            postToMain([gate] {
                if (!gate->isDone())
                    gate->markDone();
            });
        };
        QObject context;
        QObject::connect(&manager, &AudioEngineManager::isRunningChanged, &context, open);
        QObject::connect(&interrupt, &RunInterrupt::requested, &context, open);
        std::optional<Clock::TimerId> deadline;
        if (options.seconds)
            deadline = clock.callAt(clock.now() + std::chrono::duration_cast<Clock::Duration>(
                                                       std::chrono::duration<double>(*options.seconds)),
                                    open);
        if (!interrupt.isRequested())
            co_await Task(gate).join();
        if (deadline)
            clock.cancelTimer(*deadline);
        // What the device really ran at in the end: a server may apply a new
        // period size well after it was asked for.
        if (manager.isRunning())
            actualFrames = manager.actualBufferFrames();
        if (!manager.isRunning()) {
            result.exitCode = 1;
            result.errorLine = manager.errorMessage().value_or(QStringLiteral("Playback stopped."));
        }
    }

    QJsonObject report;
    report[QStringLiteral("device")] = device.uid;
    report[QStringLiteral("sampleRate")] = QJsonObject{
        {QStringLiteral("requested"), manager.sampleRate()},
        {QStringLiteral("actual"), actualRate ? QJsonValue(*actualRate) : QJsonValue(QJsonValue::Null)}};
    report[QStringLiteral("bufferFrames")] = QJsonObject{
        {QStringLiteral("requested"), qint64(manager.bufferFrames())},
        {QStringLiteral("actual"), actualFrames ? QJsonValue(qint64(*actualFrames)) : QJsonValue(QJsonValue::Null)}};
    if (auto latency = manager.latencyEstimate()) {
        report[QStringLiteral("latency")] =
            QJsonObject{{QStringLiteral("roundTripMs"), rounded(latency->roundTripMilliseconds(), 3)},
                        {QStringLiteral("summary"), latency->summary()}};
    } else {
        report[QStringLiteral("latency")] = QJsonValue(QJsonValue::Null);
    }
    report[QStringLiteral("dropouts")] = manager.audioDropoutCount();
    report[QStringLiteral("warning")] = optionalText(warning);
    report[QStringLiteral("memoryLocked")] = manager.memoryLocked();
    manager.stop();
    const std::vector<Peaks> peaks = runPeaks(manager.lastRunLevels());
    const double periodMicros =
        actualRate && actualFrames && *actualRate > 0 ? double(*actualFrames) / *actualRate * 1e6 : 0.0;
    report[QStringLiteral("periodMicros")] = rounded(periodMicros, 1);
    report[QStringLiteral("periodMaxMicros")] = rounded(double(manager.longestPeriodRender().count()) / 1e3, 1);
    report[QStringLiteral("error")] = result.exitCode == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(result.errorLine);

    // Only what the device could route: the same rule the graph build applies.
    QList<RoutingPlan::SlotRequest> requests;
    for (const auto& spec : options.strips)
        requests.append({spec.strip - 1, spec.input - 1, spec.inputStereo, spec.output - 1, spec.outputStereo});
    const RoutingPlan plan(requests, device.inputChannels, device.outputChannels);
    QJsonArray strips;
    for (const auto& spec : options.strips) {
        if (std::none_of(plan.routes.begin(), plan.routes.end(),
                         [&](const RoutingPlan::Route& r) { return r.slotID == spec.strip - 1; }))
            continue;
        const auto& p = peaks[std::size_t(spec.strip - 1)];
        QJsonObject entry;
        entry[QStringLiteral("strip")] = spec.strip;
        entry[QStringLiteral("in")] = channelsText(spec.input, spec.inputStereo);
        entry[QStringLiteral("out")] = channelsText(spec.output, spec.outputStereo);
        entry[QStringLiteral("plugin")] = spec.pluginUri.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(spec.pluginUri);
        const auto& latency = pluginLatency[std::size_t(spec.strip - 1)];
        entry[QStringLiteral("pluginLatencyMs")] = latency ? QJsonValue(rounded(*latency, 3)) : QJsonValue(QJsonValue::Null);
        entry[QStringLiteral("bypass")] = spec.bypass;
        entry[QStringLiteral("inputPeak")] = rounded(p.input.peak, 6);
        entry[QStringLiteral("inputRms")] = rounded(p.input.rms, 6);
        entry[QStringLiteral("outputPeak")] = rounded(p.output.peak, 6);
        entry[QStringLiteral("outputRms")] = rounded(p.output.rms, 6);
        entry[QStringLiteral("dspMaxMicros")] = rounded(double(manager.longestStripRender(spec.strip - 1).count()) / 1e3, 1);
        entry[QStringLiteral("nonFinitePeriods")] = qint64(manager.nonFinitePeriods(spec.strip - 1));
        strips.append(entry);
    }
    report[QStringLiteral("strips")] = strips;
    result.report = report;
    co_return result;
}

} // namespace corvane
