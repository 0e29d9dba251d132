#include "platform/hardware/AudioHardware.h"

#include "platform/hardware/alsa/AlsaBackend.h"
#include "platform/hardware/jack/JackBackend.h"
#include "platform/hardware/virtual/VirtualBackend.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QThread>

#include <cstdlib>

namespace corvane::hw {

namespace {

// The ALSA PCMs the user names: CORVANE_ALSA_DEVICES for one run, else the
// setting AlsaDevices (a list, or one comma-separated string).
std::vector<std::string> userAlsaPcms() {
    if (const char* list = std::getenv("CORVANE_ALSA_DEVICES"))
        return AlsaBackend::splitPcmNames(list);
    const QVariant setting = QSettings().value(QStringLiteral("AlsaDevices"));
    const QString joined = setting.canConvert<QStringList>() && setting.typeId() != QMetaType::QString
                               ? setting.toStringList().join(QLatin1Char(','))
                               : setting.toString();
    return AlsaBackend::splitPcmNames(joined.toStdString());
}

} // namespace

std::unique_ptr<AudioHardware> createDefaultHardware() {
    std::vector<std::unique_ptr<Backend>> backends;
    backends.push_back(std::make_unique<JackBackend>());
    AlsaBackend::Options options;
    options.userPcms = userAlsaPcms();
    auto alsaBackend = std::make_unique<AlsaBackend>(std::move(options));
    // Always present, always last.
    auto virtualBackend = std::make_unique<VirtualBackend>();
    // One sequencer port for both: only one device plays at a time.
    auto sequencer = std::make_shared<alsa::SequencerInput>();
    alsaBackend->setSequencer(sequencer);
    virtualBackend->setSequencer(sequencer);
    backends.push_back(std::move(alsaBackend));
    backends.push_back(std::move(virtualBackend));
    return std::make_unique<AudioHardware>(std::move(backends));
}

bool waitUntilSettled(AudioHardware& hardware, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!hardware.isSettled() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return hardware.isSettled();
}

} // namespace corvane::hw
