#include "platform/lv2/IsolatedRegion.h"

#include <cstring>
#include <new>

namespace corvane::lv2 {

static_assert(std::atomic<float>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free,
              "values shared with another process must not hide a lock");

std::size_t IsolatedRegion::header() {
    return (sizeof(IsolatedRegion) + 63) / 64 * 64;
}

std::size_t IsolatedRegion::bytesFor(std::uint32_t maxFrames) {
    // Two input slots and one output.
    return header() + sizeof(float) * (3 * kMaxChannels * static_cast<std::size_t>(maxFrames) + kControlCapacity);
}

IsolatedRegion* IsolatedRegion::create(void* memory, std::uint32_t maxFrames) {
    if (maxFrames == 0 || maxFrames > kMaxFrames)
        return nullptr;
    // Every page written once here: a memfd's pages are made on first touch,
    // which must not be the audio thread's.
    std::memset(memory, 0, bytesFor(maxFrames));
    auto* region = new (memory) IsolatedRegion;
    region->magic_ = kMagic;
    region->maxFrames_ = maxFrames;
    region->size_ = bytesFor(maxFrames);
    std::atomic<float>* values = region->controls();
    for (std::uint32_t i = 0; i < kControlCapacity; ++i)
        new (&values[i]) std::atomic<float>(0.0f);
    return region;
}

IsolatedRegion* IsolatedRegion::open(void* memory, std::size_t size) {
    if (size < sizeof(IsolatedRegion))
        return nullptr;
    // Made by create() in the other process; only its plain words are read
    // before they are trusted.
    auto* region = std::launder(static_cast<IsolatedRegion*>(memory));
    if (region->magic_ != kMagic || region->maxFrames_ == 0 || region->maxFrames_ > kMaxFrames
        || region->size_ != bytesFor(region->maxFrames_) || size < region->size_)
        return nullptr;
    return region;
}

float* IsolatedRegion::samples(int buffer) {
    auto* base = reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(this) + header());
    return base + static_cast<std::size_t>(buffer) * maxFrames_;
}

std::atomic<float>* IsolatedRegion::controls() {
    return reinterpret_cast<std::atomic<float>*>(samples(3 * kMaxChannels));
}

} // namespace corvane::lv2
