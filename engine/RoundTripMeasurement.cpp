#include "engine/RoundTripMeasurement.h"

#include "engine/LatencyPlayback.h"
#include "devices/DeviceEnumeration.h"
#include "devices/DeviceSettings.h"
#include "engine/LatencyEstimate.h"
#include "platform/engine/LatencyMeasurement.h"

#include <QJsonArray>
#include <QThread>

#include <chrono>
#include <cmath>
#include <memory>

namespace corvane {

namespace {

using engine::LatencyVerdict;

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

QString verdictMessage(const engine::LatencyResult& result, const RoundTripRequest& options) {
    switch (result.combined.verdict) {
    case LatencyVerdict::Measured:
        break;
    case LatencyVerdict::NoSignal:
        return QStringLiteral("No signal came back on input %1 - connect output %2 to input %1")
            .arg(options.input)
            .arg(options.output);
    case LatencyVerdict::LevelTooLow:
        return QStringLiteral("The test signal came back on input %1 too weak to measure (%2 dB) - raise the input "
                              "gain or the level of output %3")
            .arg(options.input)
            .arg(std::round(result.combined.levelDb))
            .arg(options.output);
    case LatencyVerdict::Unclear:
        return QStringLiteral("What came back on input %1 is not output %2's test signal, only delayed - is something "
                              "else in the path, an effect or another source?")
            .arg(options.input)
            .arg(options.output);
    case LatencyVerdict::RunsDisagree:
        return QStringLiteral("The runs disagree by %1 frames - the path drops or repeats audio; try a larger buffer")
            .arg(rounded(result.spreadFrames, 1));
    }
    return {};
}

// Why the device cannot be measured as asked, before anything plays.
std::optional<QString> problemWith(const AudioDevice* device, const RoundTripRequest& options) {
    if (!device)
        return QStringLiteral("“%1” is not available (see --list-devices)").arg(options.deviceUid);
    if (options.output < 1 || options.input < 1)
        return QStringLiteral("Channels are numbered from 1");
    if (options.output > device->outputChannels)
        return QStringLiteral("“%1” has no output %2 (it has %3)").arg(device->name).arg(options.output).arg(device->outputChannels);
    if (options.input > device->inputChannels)
        return QStringLiteral("“%1” has no input %2 (it has %3)").arg(device->name).arg(options.input).arg(device->inputChannels);
    return std::nullopt;
}

} // namespace

QString measuredLatencySummary(double measuredFrames, std::int64_t estimateFrames, double sampleRate, bool inverted,
                               bool jack) {
    const auto measured = std::llround(measuredFrames);
    const auto beyond = measured - estimateFrames;
    QString text = QStringLiteral("Measured %1 ms round trip (%2 frames) · estimate %3 ms")
                       .arg(measuredFrames / sampleRate * 1000.0, 0, 'f', 2)
                       .arg(measured)
                       .arg(double(estimateFrames) / sampleRate * 1000.0, 0, 'f', 2);
    if (beyond > 0) {
        text += QStringLiteral(": the device adds %1 frames it does not report").arg(beyond);
        // jackd adds -I to its capture ports' latency and -O to its playback
        // ports': half each way is the usual guess at where the frames are.
        if (jack)
            text += QStringLiteral(" (start jackd with -I and -O %1 and %2 frames higher for its own figures to match)")
                        .arg(beyond - beyond / 2)
                        .arg(beyond / 2);
    }
    else if (beyond < 0)
        text += QStringLiteral(": the device reports %1 frames more than it adds").arg(-beyond);
    else
        text += QStringLiteral(": the estimate is right");
    if (inverted)
        text += QStringLiteral(" · the polarity is inverted on the way");
    return text;
}

RoundTripResult measureRoundTrip(hw::AudioHardware& hardware, const RoundTripRequest& options,
                                 const std::function<void()>& pass, int runs) {
    RoundTripResult result;
    auto fail = [&](const QString& message) {
        result.exitCode = 1;
        result.errorLine = message;
        return result;
    };
    const auto devices = listDevices(hardware);
    const AudioDevice* device = nullptr;
    for (const auto& d : devices)
        if (d.uid == options.deviceUid)
            device = &d;
    if (auto problem = problemWith(device, options))
        return fail(*problem);

    if (options.sampleRate && !setNominalSampleRate(hardware, *options.sampleRate, device->id))
        return fail(QStringLiteral("“%1” does not run at %2 Hz").arg(device->name).arg(*options.sampleRate));
    if (options.bufferFrames)
        setBufferFrameSize(hardware, nearestBufferFrameSize(hardware, device->id, *options.bufferFrames), device->id);
    const auto rate = nominalSampleRate(hardware, device->id);
    const auto buffer = bufferFrameSize(hardware, device->id);
    if (!rate || !(*rate > 0) || !buffer)
        return fail(QStringLiteral("“%1” does not say its sample rate or buffer size").arg(device->name));

    // What the window's latency line says for the same device, without plug-ins.
    LatencyEstimate estimate;
    estimate.sampleRate = *rate;
    estimate.bufferFrames = *buffer;
    estimate.inputDeviceFrames = deviceLatencyFrames(hardware, device->id, hw::Scope::Input);
    estimate.outputDeviceFrames = deviceLatencyFrames(hardware, device->id, hw::Scope::Output);
    const std::int64_t estimateFrames = 2 * estimate.bufferFrames + estimate.inputDeviceFrames + estimate.outputDeviceFrames;

    // On the heap: a device whose I/O thread hangs keeps them for good.
    auto signal = std::make_unique<engine::LatencyTestSignal>(*rate);
    auto playback = std::make_unique<LatencyPlayback>(*signal, std::uint32_t(options.output - 1),
                                                      std::uint32_t(options.input - 1), runs);
    std::string error;
    if (!hardware.startIo(device->id, *playback, error))
        return fail(QStringLiteral("“%1” could not be started: %2").arg(device->name, QString::fromStdString(error)));

    // A device that stalls is given twice the time the runs take, and a few seconds.
    const auto playing = std::chrono::duration<double>(double(playback->totalFrames()) / *rate);
    const auto deadline = std::chrono::steady_clock::now() + 2 * playing + std::chrono::seconds(5);
    std::vector<engine::LatencyReading> readings;
    while (int(readings.size()) < runs && std::chrono::steady_clock::now() < deadline) {
        if (pass)
            pass();
        else
            QThread::msleep(20);
        while (int(readings.size()) < playback->completedRuns()) {
            readings.push_back(engine::readLatency(*signal, playback->recording(int(readings.size()))));
            // A run that measured nothing says all there is to say.
            if (readings.back().verdict != LatencyVerdict::Measured)
                break;
        }
        if (!readings.empty() && readings.back().verdict != LatencyVerdict::Measured)
            break;
    }
    if (!hardware.stopIo(device->id)) {
        (void)signal.release();
        (void)playback.release();
        return fail(QStringLiteral("“%1” stopped answering").arg(device->name));
    }
    if (readings.empty())
        return fail(QStringLiteral("“%1” stopped playing before the test signal came back").arg(device->name));

    const auto measured = engine::combineLatencyRuns(std::move(readings));
    if (measured.combined.verdict != LatencyVerdict::Measured)
        return fail(verdictMessage(measured, options));
    if (int(measured.runs.size()) < runs)
        return fail(QStringLiteral("“%1” stopped playing before the test signal came back").arg(device->name));

    auto& report = result.report;
    const double frames = measured.combined.frames;
    report[QStringLiteral("device")] = device->uid;
    report[QStringLiteral("output")] = options.output;
    report[QStringLiteral("input")] = options.input;
    report[QStringLiteral("sampleRate")] = *rate;
    report[QStringLiteral("bufferFrames")] = qint64(*buffer);
    report[QStringLiteral("measuredFrames")] = rounded(frames, 3);
    report[QStringLiteral("measuredMs")] = rounded(frames / *rate * 1000.0, 3);
    report[QStringLiteral("estimateFrames")] = qint64(estimateFrames);
    report[QStringLiteral("estimateMs")] = rounded(double(estimateFrames) / *rate * 1000.0, 3);
    report[QStringLiteral("polarity")] =
        measured.combined.inverted ? QStringLiteral("inverted") : QStringLiteral("normal");
    QJsonArray each;
    for (const auto& run : measured.runs)
        each.append(QJsonObject{{QStringLiteral("frames"), rounded(run.frames, 3)},
                                {QStringLiteral("ms"), rounded(run.frames / *rate * 1000.0, 3)},
                                {QStringLiteral("levelDb"), rounded(run.levelDb, 1)}});
    report[QStringLiteral("runs")] = each;
    report[QStringLiteral("summary")] = measuredLatencySummary(frames, estimateFrames, *rate, measured.combined.inverted,
                                                               device->uid.startsWith(QLatin1String("jack:")));
    return result;
}

} // namespace corvane
