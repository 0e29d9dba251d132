#include "engine/LevelStore.h"

#include <algorithm>

namespace corvane {

namespace {
void raise(LevelStore::Reading& stored, LevelStore::Reading r) {
    stored.peak = std::max(stored.peak, r.peak);
    stored.rms = std::max(stored.rms, r.rms);
}
} // namespace

LevelStore::LevelStore(int slotCount) : slotCount_(slotCount), readings_(std::size_t(4 * slotCount)) {}

void LevelStore::fold(int slot, Reading left, Reading right, bool input, bool output) {
    if (slot < 0 || slot >= slotCount_)
        return;
    const auto n = std::size_t(slotCount_);
    const auto i = std::size_t(slot);
    std::lock_guard lock(mutex_);
    if (input) {
        raise(readings_[i], left);
        raise(readings_[n + i], right);
    }
    if (output) {
        raise(readings_[2 * n + i], left);
        raise(readings_[3 * n + i], right);
    }
}

std::vector<LevelStore::Reading> LevelStore::collect() {
    std::vector<Reading> zero(readings_.size());
    std::lock_guard lock(mutex_);
    readings_.swap(zero);
    return zero;
}

void LevelStore::clear() {
    std::lock_guard lock(mutex_);
    std::fill(readings_.begin(), readings_.end(), Reading{});
}

} // namespace corvane
