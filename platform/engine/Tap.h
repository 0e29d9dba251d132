#pragma once
// One tap: a copy of a unit's output bus, handed to a block in chunks of a
// fixed number of frames on the engine's tap thread.
//
// The render thread only feeds the tap's ring; gathering, channel adaptation
// and the block call happen on the tap thread. The engine swaps the ring only
// while the tap thread does not know the tap.

#include "platform/engine/AudioRing.h"
#include "platform/engine/Format.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace corvane::engine {

class Unit;

// Tap thread (or the main thread, in Engine::deliverTaps): `channels` holds
// `channelCount` planar channels of `frames` frames, valid only during the
// call. Must not call back into the engine.
using TapBlock = std::function<void(const float* const* channels, int channelCount, std::uint32_t frames)>;

class Tap {
public:
    // The most whole chunks the tap thread may be left to find at once (see
    // Engine::setTapChunksPerWake): each ring has room for that many waiting.
    static constexpr std::uint32_t kMaxChunksPerWake = 4;

    Tap(Unit& unit, int bus, std::uint32_t bufferFrames, const Format& format, TapBlock block);

    Unit& unit() const { return *unit_; }
    int bus() const { return bus_; }
    std::uint32_t bufferFrames() const { return bufferFrames_; }
    const Format& format() const { return format_; }

    // Main thread: gives the tap a ring carrying `sourceChannels` channels for a
    // graph rendering at most `maxFrames` per period, unless the one it has fits.
    void provideRing(int sourceChannels, std::uint32_t maxFrames);
    AudioRing* ring() const { return ring_.get(); }

    // Render thread: appends one period; true when it completed a chunk, the
    // only moment the tap thread has anything to deliver.
    CORVANE_REALTIME bool feed(const float* const* channels, std::uint32_t frames) noexcept;

    // Tap thread: moves everything readable out of the ring and calls the block
    // once per complete chunk.
    void deliver();
    // Main thread, tap thread stopped: drops buffered audio and the partial chunk.
    void clear();

private:
    Unit* unit_;
    int bus_;
    std::uint32_t bufferFrames_;
    Format format_;
    TapBlock block_;
    std::unique_ptr<AudioRing> ring_;
    // The chunk being gathered, in the ring's channels, and its adaptation to
    // the tap's format.
    std::vector<float> gathered_;
    std::vector<float*> gatheredChannels_;
    std::vector<float> converted_;
    std::vector<float*> convertedChannels_;
    std::vector<float*> cursor_;
    std::uint32_t fill_ = 0;
    std::uint32_t fed_ = 0; // render thread: frames fed since the last completed chunk
};

} // namespace corvane::engine
