// run() and the passes on the thread itself, wake() on any thread, the rest on
// the thread that owns the object.
#include "platform/system/WakeableThread.h"

#include <cerrno>

namespace corvane {

WakeableThread::WakeableThread() { sem_init(&semaphore_, 0, 0); }

WakeableThread::~WakeableThread() {
    stop();
    sem_destroy(&semaphore_);
}

void WakeableThread::start(std::function<void()> pass) {
    stop();
    pass_ = std::move(pass);
    stopping_ = false;
    while (sem_trywait(&semaphore_) == 0) {
    }
    thread_ = std::thread([this] { run(); });
}

void WakeableThread::stop() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    sem_post(&semaphore_);
    thread_.join();
}

void WakeableThread::run() {
    while (!stopping_.load()) {
        while (sem_wait(&semaphore_) != 0 && errno == EINTR) {
        }
        // Several posts may have piled up; one pass serves them all.
        while (sem_trywait(&semaphore_) == 0) {
        }
        pass_();
    }
}

} // namespace corvane
