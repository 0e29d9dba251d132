#include "ui/LatencyMeasurer.h"

#include "engine/RoundTripMeasurement.h"

#include <QSettings>
#include <QUrl>

namespace corvane {

namespace {

// One entry per device, rate and buffer size; a uid may hold slashes, which
// QSettings would take for groups.
QString settingsKey(const QString& uid, double rate, std::uint32_t buffer) {
    // One pass: the percent signs of an encoded uid are no placeholders.
    return QStringLiteral("MeasuredLatency/%1/%2-%3")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(uid)), QString::number(qint64(rate)), QString::number(buffer));
}

} // namespace

LatencyMeasurer::LatencyMeasurer(QObject* parent) : QObject(parent) {}

LatencyMeasurer::~LatencyMeasurer() { task_.cancel(); }

void LatencyMeasurer::setManager(AudioEngineManager* manager) {
    if (manager_ == manager)
        return;
    if (manager_)
        disconnect(manager_, nullptr, this, nullptr);
    manager_ = manager;
    if (manager_)
        for (auto signal : {&AudioEngineManager::selectedDeviceChanged, &AudioEngineManager::sampleRateChanged,
                            &AudioEngineManager::bufferFramesChanged})
            connect(manager_, signal, this, &LatencyMeasurer::changed);
    emit managerChanged();
    emit changed();
}

QString LatencyMeasurer::kept() const {
    const AudioEngineManager* manager = manager_.data();
    if (!manager)
        return {};
    const auto& device = manager->selectedDevice();
    if (!device)
        return {};
    return QSettings().value(settingsKey(device->uid, manager->sampleRate(), manager->bufferFrames())).toString();
}

void LatencyMeasurer::finish(QString status, bool failed) {
    busy_ = false;
    status_ = std::move(status);
    failed_ = failed;
    emit changed();
}

void LatencyMeasurer::measure(int output, int input) {
    AudioEngineManager* manager = manager_.data();
    if (busy_ || !manager)
        return;
    const auto device = manager->selectedDevice();
    if (!device)
        return finish(QStringLiteral("Select an audio device."), true);
    const bool stopped = manager->isRunning();
    if (stopped)
        manager->stop();
    const QString stoppedNote = stopped ? QStringLiteral("Playback was stopped for the measurement. ") : QString();
    RoundTripRequest request{device->uid, output, input, std::uint32_t(manager->sampleRate()), std::nullopt};
    if (manager->bufferFramesChosen())
        request.bufferFrames = manager->bufferFrames();
    busy_ = true;
    failed_ = false;
    status_ = stoppedNote + QStringLiteral("Measuring… (about four seconds)");
    emit changed();

    QPointer<LatencyMeasurer> self(this);
    auto job = [hardware = &manager->hardware(), request, pass = pass_] {
        return measureRoundTrip(*hardware, request, pass);
    };
    task_ = spawnWith([self, job = std::move(job), stoppedNote]() -> Async<void> {
        auto result = co_await runDetached(job);
        if (!self)
            co_return;
        if (!result)
            co_return self->finish(stoppedNote + QStringLiteral("The measurement did not finish."), true);
        if (result->exitCode != 0)
            co_return self->finish(stoppedNote + result->errorLine, true);
        const auto& report = result->report;
        const QString summary = report[QStringLiteral("summary")].toString();
        QSettings().setValue(settingsKey(report[QStringLiteral("device")].toString(),
                                         report[QStringLiteral("sampleRate")].toDouble(),
                                         std::uint32_t(report[QStringLiteral("bufferFrames")].toInteger())),
                             summary);
        self->finish(stoppedNote + summary, false);
    });
}

} // namespace corvane
