#pragma once
// Measuring tapped audio for the meters, and the fall-off the displayed levels
// follow between collections.

#include "engine/LevelStore.h"

#include <cstdint>
#include <utility>

namespace corvane {

// Peak (largest magnitude) and rms of the first two channels; a mono buffer
// leaves the right reading zero, channels beyond the second are ignored, and
// non-finite samples count as silence.
std::pair<LevelStore::Reading, LevelStore::Reading> measureLevels(const float* const* channels, int channelCount,
                                                                  std::uint32_t frames);

// Measures outside the store's lock, then folds into the store.
void recordLevels(LevelStore& store, int slot, bool input, bool output, const float* const* channels,
                  int channelCount, std::uint32_t frames);

// The frames a level tap hands over at a time. Shown meters collect every
// 33 ms: a chunk no longer than that (at rates from 32 kHz up) reaches every
// collection, where a longer one left some with nothing and a steady tone's
// meter fell back a tenth at each of them. Unseen meters are read at the end
// of a run only: twice that, for half the tap thread's wake-ups.
constexpr std::uint32_t levelTapFrames(bool metersShown) { return metersShown ? 1024 : 2048; }

// One 33 ms step of a displayed level: the old value falls by 0.9 (snapping to
// zero below 0.005), and a new reading above it takes over at once.
LevelStore::Reading decayedLevel(LevelStore::Reading current, LevelStore::Reading collected);

} // namespace corvane
