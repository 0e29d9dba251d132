#pragma once
// Memory Corvane shares with the hosts of all its isolated strips: which
// strips still owe this period's answer. With it the audio thread sleeps at
// most once a period however many hosts are out, and only the host whose
// answer completes what it waits for wakes it; without it the audio thread
// would sleep on each strip's own word in turn.
//
// Each strip has a bit. The audio thread sets a strip's bit before it hands
// the strip a period; the host clears it once it has answered, unless a newer
// period was handed over meanwhile. Before it sleeps the audio thread says in
// `awaited` which bits it waits for (0 while it is not asleep), then reads
// `outstanding` once more; a host changes `outstanding` and then reads
// `awaited` (both sequentially consistent, as in IsolatedRegion.h): either the
// sleeper sees the last bit cleared or the host that cleared it sees it
// asleep, counts `completed` on and wakes it. The sleeper sleeps on
// `completed`, not on `outstanding`: that word changes with every answer, and
// each change before the sleep would cost a futex call that returns at once.
//
// The other way, hosts with nothing to do sleep on `started`, and the audio
// thread, once it has handed this period to every strip, counts it on and
// wakes them all with one call instead of one for each (when `sleepers` says
// any sleeps: a host counts itself there, reads `started`, looks at its `go`
// once more and only then sleeps).
//
// The bits only decide when to sleep and when to wake. Whether an answer is
// the period's is still told by the strip's own `done` number: a late host
// may clear a bit that was already set again for the next period, and an
// audio thread woken too early then waits on that strip's own word.

#include "platform/system/Futex.h"
#include "platform/system/RealtimeScope.h"

#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace corvane {
class SharedMemory;
}

namespace corvane::lv2 {

class PeriodBoard {
public:
    static constexpr int kSlots = 32;

    // Corvane, on fresh memory of sizeof(PeriodBoard).
    static PeriodBoard* create(void* memory);
    // A host: the board in `memory` of `size` bytes, null when it is not one.
    static PeriodBoard* open(void* memory, std::size_t size);

    // A host, after storing its answer in `done`: clears `bit` and wakes the
    // audio thread when that was the last bit it waits for.
    CORVANE_REALTIME
    void answered(std::uint32_t bit) noexcept;

    alignas(64) FutexWord outstanding{0};
    std::atomic<std::uint32_t> awaited{0};
    FutexWord completed{0};
    alignas(64) FutexWord started{0};
    std::atomic<std::uint32_t> sleepers{0};

private:
    PeriodBoard() = default;
    static constexpr std::uint32_t kMagic = 0x43765042;
    std::uint32_t magic_ = 0;
};

// Corvane's side: the one board of this process, mapped while any strip holds
// a seat on it, and one strip's bit there.
class BoardSeat {
public:
    // Any thread but the audio one. Null (with a reason in `error`) when the
    // board cannot be made or every bit is taken: that strip goes without.
    static std::unique_ptr<BoardSeat> take(std::string& error);
    ~BoardSeat(); // frees the bit; the board goes with its last seat
    BoardSeat(const BoardSeat&) = delete;
    BoardSeat& operator=(const BoardSeat&) = delete;

    // What the strip's host is given: the board's descriptor, and its bit.
    int fd() const;
    std::uint32_t bit() const { return bit_; }

    // Audio thread: the strip is handed a period (before its `go`); its host
    // is woken by the next startHandedOver().
    CORVANE_REALTIME
    void handOver() noexcept;
    // Audio thread: wakes the hosts of every strip handed a period since the
    // last call, all at once. awaitHandedOver() calls it first.
    CORVANE_REALTIME
    void startHandedOver() noexcept;
    // Audio thread: the strip's answer was taken or given up on.
    CORVANE_REALTIME
    void collected() noexcept;
    // Audio thread: sleeps until every strip handed a period and not yet
    // collected has answered, or until `deadline`. False when the deadline came first.
    CORVANE_REALTIME
    bool awaitHandedOver(const timespec& deadline) noexcept;
    // Main thread, while the strip has no host that could answer: forgets an
    // answer its old host still owed.
    void withdraw() noexcept;
    // Main thread, now and then while periods run: the strip's host is process
    // `hostPid` and has been late `latePeriods` times. Where the hosts run is
    // decided from that (HostPlacement.h).
    void review(int hostPid, std::uint64_t latePeriods);

    struct Shared;

private:
    BoardSeat(std::shared_ptr<Shared> shared, std::uint32_t bit) : shared_(std::move(shared)), bit_(bit) {}
    std::shared_ptr<Shared> shared_;
    std::uint32_t bit_;
};

} // namespace corvane::lv2
