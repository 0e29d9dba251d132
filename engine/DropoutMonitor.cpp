#include "engine/DropoutMonitor.h"

#include "engine/ObservableField.h"
#include "platform/system/MainThread.h"

#include <QPointer>

namespace corvane {

DropoutMonitor::DropoutMonitor(hw::AudioHardware& hardware, Clock& clock, QObject* parent)
    : QObject(parent), hardware_(hardware), clock_(clock) {}

DropoutMonitor::~DropoutMonitor() {
    unwatch();
    cancelFall();
}

void DropoutMonitor::watch(hw::ObjectId device) {
    unwatch();
    reset();
    QPointer<DropoutMonitor> self(this);
    // Called on a hardware thread: only hop to the main thread.
    const auto id = hardware_.addListener(device, hw::Address{hw::Selector::Overload}, [self] {
        postToMain([self] {
            if (self)
                self->noteDropout();
        });
    });
    listener_ = Listener{device, id};
}

void DropoutMonitor::unwatch() {
    if (listener_)
        hardware_.removeListener(listener_->device, hw::Address{hw::Selector::Overload}, listener_->id);
    listener_.reset();
}

void DropoutMonitor::noteDropout() {
    setCount(count_ + 1);
    emit droppedOut();
    setActive(true);
    // A newer dropout moves the fall rather than adding another.
    cancelFall();
    fall_ = clock_.callAt(clock_.now() + kFlash, [this] {
        fall_.reset();
        setActive(false);
    });
}

void DropoutMonitor::reset() {
    cancelFall();
    setCount(0);
    setActive(false);
}

void DropoutMonitor::cancelFall() {
    if (fall_)
        clock_.cancelTimer(*std::exchange(fall_, std::nullopt));
}

void DropoutMonitor::setCount(int count) {
    if (assignIfChanged(count_, count))
        emit countChanged();
}

void DropoutMonitor::setActive(bool active) {
    if (assignIfChanged(active_, active))
        emit activeChanged();
}

} // namespace corvane
