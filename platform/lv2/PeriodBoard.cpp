#include "platform/lv2/PeriodBoard.h"

#include "platform/lv2/HostPlacement.h"
#include "platform/system/SharedMemory.h"

#include <time.h>

#include <bit>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace corvane::lv2 {

PeriodBoard* PeriodBoard::create(void* memory) {
    auto* board = new (memory) PeriodBoard;
    board->magic_ = kMagic;
    return board;
}

PeriodBoard* PeriodBoard::open(void* memory, std::size_t size) {
    if (size < sizeof(PeriodBoard))
        return nullptr;
    auto* board = std::launder(static_cast<PeriodBoard*>(memory));
    return board->magic_ == kMagic ? board : nullptr;
}

CORVANE_REALTIME
void PeriodBoard::answered(std::uint32_t bit) noexcept {
    const std::uint32_t before = outstanding.fetch_and(~bit);
    const std::uint32_t waitedFor = awaited.load();
    // Only the host that clears the last awaited bit wakes, and only a sleeper.
    if ((before & bit & waitedFor) != 0 && (before & ~bit & waitedFor) == 0) {
        completed.fetch_add(1);
        futexWake(completed);
    }
}

struct BoardSeat::Shared {
    std::unique_ptr<SharedMemory> memory;
    PeriodBoard* board = nullptr;
    std::uint32_t taken = 0; // bits with a seat; under seatsMutex()
    HostPlacement placement; // under seatsMutex()
    // Whether the placement keeps the hosts together, for the audio thread.
    std::atomic<bool> keptTogether{false};
    // The audio thread's own: periods in a row in which a host handed one
    // missed it, and whether this one had such a host.
    std::uint32_t missedInARow = 0;
    bool missedThisPeriod = false;
    // Counted on (and woken) by the audio thread when hosts kept together
    // miss kMissesToAlarm periods in a row: the watcher then lets them run
    // anywhere at once. A stuck host beside them would hold them up until the
    // next review otherwise, hundreds of periods.
    FutexWord alarm{0};
    std::atomic<bool> ending{false};
    std::thread watcher;

    Shared();
    ~Shared();
    // Handed a period and not yet collected; the audio thread's own.
    std::atomic<std::uint32_t> pending{0};
    // Handed a period since the hosts were last woken; the audio thread's own.
    std::atomic<bool> startOwed{false};
};

namespace {

constexpr std::uint32_t kMissesToAlarm = 3;

// Never destroyed: a seat may go after static destruction has begun.
std::mutex& seatsMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::weak_ptr<BoardSeat::Shared>& currentBoard() {
    static auto* board = new std::weak_ptr<BoardSeat::Shared>;
    return *board;
}

} // namespace

BoardSeat::Shared::Shared()
    : watcher([this] {
          std::uint32_t seen = alarm.load();
          while (!ending.load()) {
              // Woken by an alarm or by the end; the deadline is only there
              // because every wait has one.
              futexWaitUntil(alarm, seen, monotonicAfter(3600LL * 1'000'000'000));
              const std::uint32_t now = alarm.load();
              if (now == seen || ending.load())
                  continue;
              seen = now;
              const std::lock_guard lock(seatsMutex());
              placement.periodsMissed();
              keptTogether.store(placement.keptTogether(), std::memory_order_relaxed);
          }
      }) {}

BoardSeat::Shared::~Shared() {
    ending.store(true);
    alarm.fetch_add(1);
    futexWake(alarm);
    watcher.join();
}

std::unique_ptr<BoardSeat> BoardSeat::take(std::string& error) {
    const std::lock_guard lock(seatsMutex());
    std::shared_ptr<Shared> shared = currentBoard().lock();
    if (!shared) {
        shared = std::make_shared<Shared>();
        shared->memory = SharedMemory::create(sizeof(PeriodBoard), error);
        if (!shared->memory)
            return nullptr;
        shared->board = PeriodBoard::create(shared->memory->data());
        currentBoard() = shared;
    }
    for (int slot = 0; slot < PeriodBoard::kSlots; ++slot) {
        const std::uint32_t bit = 1u << slot;
        if ((shared->taken & bit) == 0) {
            shared->taken |= bit;
            return std::unique_ptr<BoardSeat>(new BoardSeat(std::move(shared), bit));
        }
    }
    error = "every place on the period board is taken";
    return nullptr;
}

BoardSeat::~BoardSeat() {
    withdraw();
    shared_->pending.fetch_and(~bit_, std::memory_order_relaxed);
    const std::lock_guard lock(seatsMutex());
    shared_->taken &= ~bit_;
    shared_->placement.leave(std::countr_zero(bit_));
}

void BoardSeat::review(int hostPid, std::uint64_t latePeriods) {
    const std::lock_guard lock(seatsMutex());
    shared_->placement.review(std::countr_zero(bit_), hostPid, latePeriods);
    shared_->keptTogether.store(shared_->placement.keptTogether(), std::memory_order_relaxed);
}

int BoardSeat::fd() const {
    return shared_->memory->fd();
}

CORVANE_REALTIME
void BoardSeat::handOver() noexcept {
    shared_->pending.fetch_or(bit_, std::memory_order_relaxed);
    shared_->board->outstanding.fetch_or(bit_);
    shared_->startOwed.store(true, std::memory_order_relaxed);
}

CORVANE_REALTIME
void BoardSeat::startHandedOver() noexcept {
    if (!shared_->startOwed.exchange(false, std::memory_order_relaxed))
        return;
    // Once a period: the period before is over.
    if (!shared_->missedThisPeriod)
        shared_->missedInARow = 0;
    shared_->missedThisPeriod = false;
    PeriodBoard& board = *shared_->board;
    board.started.fetch_add(1);
    if (board.sleepers.load() != 0)
        futexWake(board.started);
}

CORVANE_REALTIME
void BoardSeat::collected() noexcept {
    shared_->pending.fetch_and(~bit_, std::memory_order_relaxed);
}

namespace {

// Read through the vDSO: no system call.
CORVANE_REALTIME
bool hasPassed(const timespec& deadline) noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

} // namespace

CORVANE_REALTIME
bool BoardSeat::awaitHandedOver(const timespec& deadline) noexcept {
    startHandedOver();
    PeriodBoard& board = *shared_->board;
    const std::uint32_t wanted = shared_->pending.load(std::memory_order_relaxed);
    if ((board.outstanding.load() & wanted) == 0)
        return true;
    board.awaited.store(wanted);
    bool inTime = true;
    for (;;) {
        // Read before the last look: a completion after it changes the word.
        const std::uint32_t mark = board.completed.load();
        if ((board.outstanding.load() & wanted) == 0)
            break;
        // Once the deadline has passed, the strips collected after this one
        // cost no call each.
        if (hasPassed(deadline)
            || futexWaitUntil(board.completed, mark, deadline) == FutexWait::TimedOut) {
            inTime = (board.outstanding.load() & wanted) == 0;
            if (!inTime && !shared_->missedThisPeriod) {
                shared_->missedThisPeriod = true;
                if (++shared_->missedInARow == kMissesToAlarm
                    && shared_->keptTogether.load(std::memory_order_relaxed)) {
                    shared_->alarm.fetch_add(1);
                    futexWake(shared_->alarm);
                }
            }
            break;
        }
    }
    board.awaited.store(0, std::memory_order_relaxed);
    return inTime;
}

void BoardSeat::withdraw() noexcept {
    shared_->board->outstanding.fetch_and(~bit_);
}

} // namespace corvane::lv2
