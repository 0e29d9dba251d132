#include "platform/hardware/alsa/StopEvent.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace corvane::hw::alsa {

StopEvent::StopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopEvent::~StopEvent() {
    if (fd_ >= 0)
        close(fd_);
}

void StopEvent::raise() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(fd_, &one, sizeof one);
}

} // namespace corvane::hw::alsa
