#pragma once
// The level readings the tap thread shares with the main thread: four per strip
// (input left/right, output left/right), each the largest peak and rms folded in
// since the last collection. The lock is held only around array element updates
// or one copy; measuring happens before it is taken.

#include "engine/LevelReading.h"

#include <mutex>
#include <vector>

namespace corvane {

class LevelStore {
public:
    // Its own type, not nested here: moc cannot describe a nested value type.
    using Reading = LevelReading;

    explicit LevelStore(int slotCount);

    int slotCount() const { return slotCount_; }

    // Tap thread. Maximises the strip's input readings with (left, right) when
    // `input` is set, and its output readings when `output` is set.
    void fold(int slot, Reading left, Reading right, bool input, bool output);

    // Main thread. Returns all readings (index layout: input left at slot,
    // input right at slotCount + slot, output left at 2 * slotCount + slot,
    // output right at 3 * slotCount + slot) and zeroes the store.
    std::vector<Reading> collect();

    // Main thread. Zeroes every reading.
    void clear();

private:
    const int slotCount_;
    std::mutex mutex_;
    std::vector<Reading> readings_;
};

} // namespace corvane
