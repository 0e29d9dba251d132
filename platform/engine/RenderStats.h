#pragma once
// How long the render thread worked: the longest period, and the longest time
// each timing group (a channel strip's units) took within one period. The render
// thread writes; the main thread reads, and takes the "window" maxima (those
// since the last take) when it wants to know what was slow just now.
//
// All fields are relaxed atomics: a maximum that races with a take is either
// kept or lost once, which is good enough for a diagnostic.

#include "platform/system/RealtimeScope.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace corvane::engine {

class RenderStats {
public:
    static constexpr int kGroups = 16;

    struct Maxima {
        std::uint64_t periodNanos = 0;
        std::array<std::uint64_t, kGroups> groupNanos{};
    };

    // Render thread.
    CORVANE_REALTIME void notePeriod(std::uint64_t nanos) noexcept {
        raise(runPeriod_, nanos);
        raise(windowPeriod_, nanos);
    }
    CORVANE_REALTIME void noteGroup(int group, std::uint64_t nanos) noexcept {
        raise(runGroups_[static_cast<std::size_t>(group)], nanos);
        raise(windowGroups_[static_cast<std::size_t>(group)], nanos);
    }

    // Main thread: the maxima since clear().
    Maxima sinceStart() const { return snapshot(runPeriod_, runGroups_); }
    // Main thread: the maxima since the last takeWindow() (or clear()), and a new window.
    Maxima takeWindow() { return drain(windowPeriod_, windowGroups_); }
    // Main thread, before the render thread starts.
    void clear() {
        drain(runPeriod_, runGroups_);
        drain(windowPeriod_, windowGroups_);
    }

private:
    using Slots = std::array<std::atomic<std::uint64_t>, kGroups>;

    static void raise(std::atomic<std::uint64_t>& slot, std::uint64_t nanos) noexcept {
        if (nanos > slot.load(std::memory_order_relaxed))
            slot.store(nanos, std::memory_order_relaxed);
    }
    static Maxima snapshot(const std::atomic<std::uint64_t>& period, const Slots& groups) {
        Maxima m;
        m.periodNanos = period.load(std::memory_order_relaxed);
        for (std::size_t g = 0; g < groups.size(); ++g)
            m.groupNanos[g] = groups[g].load(std::memory_order_relaxed);
        return m;
    }
    static Maxima drain(std::atomic<std::uint64_t>& period, Slots& groups) {
        Maxima m;
        m.periodNanos = period.exchange(0, std::memory_order_relaxed);
        for (std::size_t g = 0; g < groups.size(); ++g)
            m.groupNanos[g] = groups[g].exchange(0, std::memory_order_relaxed);
        return m;
    }

    std::atomic<std::uint64_t> runPeriod_{0};
    std::atomic<std::uint64_t> windowPeriod_{0};
    Slots runGroups_{};
    Slots windowGroups_{};
};

} // namespace corvane::engine
