#include "platform/system/MainThreadWakeup.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace corvane {

MainThreadWakeup::MainThreadWakeup(std::function<void()> handler)
    : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), handler_(std::move(handler)) {
    if (fd_ < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

MainThreadWakeup::~MainThreadWakeup() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void MainThreadWakeup::signal() noexcept {
    if (fd_ < 0)
        return;
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then a wake-up is pending anyway.
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

void MainThreadWakeup::drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(fd_, &count, sizeof count);
    if (handler_)
        handler_();
}

} // namespace corvane
