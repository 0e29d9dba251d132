#include "platform/hardware/AudioHardware.h"

#include "platform/hardware/jack/JackBackend.h"
#include "platform/hardware/virtual/VirtualBackend.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace corvane::hw {

std::unique_ptr<AudioHardware> createDefaultHardware() {
    std::vector<std::unique_ptr<Backend>> backends;
    backends.push_back(std::make_unique<JackBackend>());
    // Always present, always last.
    backends.push_back(std::make_unique<VirtualBackend>());
    return std::make_unique<AudioHardware>(std::move(backends));
}

bool waitUntilSettled(AudioHardware& hardware, std::chrono::milliseconds timeout) {
    auto* jack = hardware.backend<JackBackend>();
    QDeadlineTimer deadline(timeout);
    while (jack && !jack->isSettled() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return !jack || jack->isSettled();
}

} // namespace corvane::hw
