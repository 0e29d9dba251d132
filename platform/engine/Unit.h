#pragma once
// The base of everything the graph engine renders: a unit with input and output
// buses, each carrying one format once it is set.
//
// Threads: bus counts and formats are read and written on the main thread, and
// only while the unit is not rendering (the engine marks it from start to stop).
// prepareToRender(), render() and resetState() are called by the engine alone.

#include "platform/engine/Format.h"
#include "platform/system/RealtimeScope.h"

#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::engine {

enum class Direction { Input, Output };

// One bus as the render thread sees it: `channelCount` channel pointers, each
// to at least the frames of the current call.
struct InputBus {
    const float* const* channels = nullptr;
    int channelCount = 0;
};

struct OutputBus {
    float* const* channels = nullptr;
    int channelCount = 0;
};

class Unit {
public:
    virtual ~Unit();
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    // Short lower-case description for error messages ("matrix mixer").
    virtual std::string name() const = 0;

    int inputBusCount() const { return busCount(Direction::Input); }
    bool isInputBusCountChangeable() const { return isBusCountChangeable(Direction::Input); }
    bool setInputBusCount(int count, std::string& error) { return setBusCount(Direction::Input, count, error); }
    int outputBusCount() const { return busCount(Direction::Output); }
    bool isOutputBusCountChangeable() const { return isBusCountChangeable(Direction::Output); }
    bool setOutputBusCount(int count, std::string& error) { return setBusCount(Direction::Output, count, error); }

    // No value for a bus that does not exist or has no format yet.
    std::optional<Format> inputFormat(int bus) const { return format(Direction::Input, bus); }
    std::optional<Format> outputFormat(int bus) const { return format(Direction::Output, bus); }
    bool setInputFormat(int bus, const Format& format, std::string& error) {
        return setFormat(Direction::Input, bus, format, error);
    }
    bool setOutputFormat(int bus, const Format& format, std::string& error) {
        return setFormat(Direction::Output, bus, format, error);
    }

    int busCount(Direction direction) const;
    bool isBusCountChangeable(Direction direction) const;
    bool setBusCount(Direction direction, int count, std::string& error);
    std::optional<Format> format(Direction direction, int bus) const;
    bool setFormat(Direction direction, int bus, const Format& format, std::string& error);

    // A bus whose format is dictated from outside (the device's): connections
    // adapt to it instead of setting it.
    virtual bool hasFixedFormat(Direction direction, int bus) const;

    // True between the engine's start and stop.
    bool isRendering() const { return rendering_; }
    void setRendering(bool rendering) { rendering_ = rendering; }

    // Main thread, while not rendering: allocate everything render() touches for
    // calls of at most `maxFrames` at `sampleRate`. Returns false with a reason.
    virtual bool prepareToRender(double sampleRate, std::uint32_t maxFrames, std::string& error);

    // Render thread. `inputs` has one entry per input bus and `outputs` one per
    // output bus, each with that bus's channel count; every output sample must
    // be written.
    virtual void render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept = 0;

    // Render thread, at the top of a period, before that period's render: one
    // flag per channel of input bus `bus`, zero for a channel the render will
    // certainly not read; or null, when it may read them all. Likewise for the
    // output channels it may write anything but silence to. What the graph
    // reads from the device and writes to it follows from these, and a device
    // channel nothing reads or writes costs nothing per period.
    virtual const std::uint8_t* inputsRead(int bus) noexcept {
        (void)bus;
        return nullptr;
    }
    virtual const std::uint8_t* outputsWritten(int bus) noexcept {
        (void)bus;
        return nullptr;
    }

    // A unit whose work runs elsewhere renders in two halves, instead of
    // render(): begun in its place in the schedule, finished right before the
    // first unit that reads it, waiting at most until `deadline`
    // (CLOCK_MONOTONIC). See EffectProcessor::rendersAhead().
    virtual bool rendersAhead() const { return false; }
    virtual void beginRender(const InputBus* inputs, std::uint32_t frames) noexcept {
        (void)inputs;
        (void)frames;
    }
    virtual void finishRender(const OutputBus* outputs, const timespec& deadline) noexcept {
        (void)outputs;
        (void)deadline;
    }

    // Main thread, while not rendering: forget audio history.
    virtual void resetState() {}

protected:
    struct BusRule {
        int count = 0;
        bool changeable = false;
        int minimum = 0;
    };

    Unit(BusRule inputs, BusRule outputs);

    // Further checks a subclass makes before a format is taken (the bus exists
    // and the format is valid by then).
    virtual bool acceptsFormat(Direction direction, int bus, const Format& format, std::string& error) const;
    // Called after any bus count or format change.
    virtual void busesChanged() {}

    // Sets a format without the checks, for formats that come from outside.
    void assignFormat(Direction direction, int bus, std::optional<Format> format);

private:
    struct Side {
        BusRule rule;
        std::vector<std::optional<Format>> formats;
    };
    Side& side(Direction direction) { return direction == Direction::Input ? inputs_ : outputs_; }
    const Side& side(Direction direction) const { return direction == Direction::Input ? inputs_ : outputs_; }

    Side inputs_;
    Side outputs_;
    bool rendering_ = false;
};

} // namespace corvane::engine
