#include "platform/system/MainThreadWakeup.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace corvane {

WakeupSignal::WakeupSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeupSignal::~WakeupSignal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void WakeupSignal::signal() noexcept {
    if (fd_ < 0)
        return;
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then a wake-up is pending anyway.
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

MainThreadWakeup::MainThreadWakeup(std::function<void()> handler) : handler_(std::move(handler)) {
    if (signal_->fd() < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(signal_->fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

MainThreadWakeup::~MainThreadWakeup() = default;

void MainThreadWakeup::drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(signal_->fd(), &count, sizeof count);
    if (handler_)
        handler_();
}

} // namespace corvane
