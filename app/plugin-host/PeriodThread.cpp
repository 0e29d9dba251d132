// Runs on the host's audio thread, apart from run()'s start and end.
#include "app/plugin-host/PeriodThread.h"

#include "platform/engine/DenormalFlush.h"
#include "platform/lv2/IsolatedRegion.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/lv2/PeriodBoard.h"
#include "platform/system/Futex.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cmath>

namespace corvane::pluginhost {

namespace {
// How often an idle thread looks whether it should end.
constexpr std::int64_t kIdleCheckNs = 200'000'000;
} // namespace

PeriodThread::PeriodThread(lv2::Lv2Effect& effect, lv2::IsolatedRegion& region, lv2::PeriodBoard* board,
                           std::vector<std::uint32_t> inputPorts, std::vector<std::uint32_t> outputPorts, int priority)
    : effect_(effect), region_(region), board_(region.boardBit != 0 ? board : nullptr),
      inputPorts_(std::move(inputPorts)),
      outputPorts_(std::move(outputPorts)), applied_([this] {
          std::vector<float> values;
          for (std::uint32_t port : inputPorts_)
              values.push_back(region_.control(port).load(std::memory_order_relaxed));
          return values;
      }()),
      // Read here, before the request that made this thread is answered:
      // a period Corvane asks for after that answer is this thread's, even
      // when the thread starts running only after it was asked.
      thread_([this, seen = region.go.load(std::memory_order_acquire)] { run(seen); }) {
    if (priority > 0)
        setPriority(priority);
}

bool PeriodThread::setPriority(int priority) {
    sched_param param{};
    param.sched_priority = std::min(priority, sched_get_priority_max(SCHED_FIFO));
    realtime_ = pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &param) == 0;
    return realtime_;
}

PeriodThread::~PeriodThread() {
    stop_.store(true);
    // Most likely it waits for a period: woken, it sees it should end. One
    // that was about to wait ends at its next look. (On the board this wakes
    // the other hosts too; they look at their `go` and sleep again.)
    futexWake(board_ ? board_->started : region_.go);
    thread_.join();
}

void PeriodThread::run(std::uint32_t seen) noexcept {
    const engine::DenormalFlush flush;
    while (!stop_.load(std::memory_order_relaxed)) {
        const std::uint32_t asked = region_.go.load(std::memory_order_acquire);
        if (asked == seen && board_) {
            // Counted and `started` read before the last look, so that
            // Corvane wakes us if it asks after it (see PeriodBoard.h).
            board_->sleepers.fetch_add(1);
            const std::uint32_t started = board_->started.load();
            if (region_.go.load() == seen)
                futexWaitUntil(board_->started, started, monotonicAfter(kIdleCheckNs));
            board_->sleepers.fetch_sub(1);
            continue;
        }
        if (asked == seen) {
            // Said before the last look, so that Corvane wakes us if it asks
            // after it (see IsolatedRegion.h).
            region_.hostWaiting.store(1);
            if (region_.go.load() == seen)
                futexWaitUntil(region_.go, seen, monotonicAfter(kIdleCheckNs));
            region_.hostWaiting.store(0, std::memory_order_relaxed);
            continue;
        }
        // Marked before the last look at `go`: Corvane writes a slot only
        // while it is not marked (see IsolatedRegion.h).
        region_.reading[asked & 1u].store(1);
        if (region_.go.load() != asked) {
            region_.reading[asked & 1u].store(0);
            continue; // a newer period came meanwhile, maybe into this slot
        }
        seen = asked;
        runPeriod(asked);
    }
}

void PeriodThread::runPeriod(std::uint32_t sequence) noexcept {
    lv2::IsolatedRegion& r = region_;
    const std::uint32_t slot = sequence & 1u;
    const std::uint32_t frames = std::min(r.frames[slot].load(std::memory_order_relaxed), r.maxFrames());
    for (std::size_t i = 0; i < inputPorts_.size(); ++i) {
        const float value = r.control(inputPorts_[i]).load(std::memory_order_relaxed);
        if (value != applied_[i]) {
            effect_.setParameter(inputPorts_[i], value);
            applied_[i] = value;
        }
    }
    effect_.setBypass(r.bypass.load(std::memory_order_relaxed) != 0);
    const float* in[lv2::IsolatedRegion::kMaxChannels] = {r.input(sequence, 0), r.input(sequence, 1)};
    float* out[lv2::IsolatedRegion::kMaxChannels] = {r.output(0), r.output(1)};
    effect_.process(in, out, frames);
    r.reading[slot].store(0);
    // A value the plug-in's own editor set (or a preset) in this period is
    // the strip's from now on: Corvane reads the region, not the plug-in.
    for (std::size_t i = 0; i < inputPorts_.size(); ++i) {
        const float value = effect_.parameter(inputPorts_[i]);
        if (value != applied_[i]) {
            r.control(inputPorts_[i]).store(value, std::memory_order_relaxed);
            applied_[i] = value;
        }
    }
    for (std::uint32_t port : outputPorts_)
        r.control(port).store(effect_.parameter(port), std::memory_order_relaxed);
    r.latencyFrames.store(effect_.reportedLatencyFrames(), std::memory_order_relaxed);
    r.nonFinitePeriods.store(effect_.nonFinitePeriods(), std::memory_order_relaxed);
    r.periodsRun.fetch_add(1, std::memory_order_relaxed);
    r.done.store(sequence);
    if (r.corvaneWaiting.load() != 0)
        futexWake(r.done);
    // Not when a newer period was handed over meanwhile: the bit is that one's.
    if (board_ && r.go.load() == sequence)
        board_->answered(r.boardBit);
}

} // namespace corvane::pluginhost
