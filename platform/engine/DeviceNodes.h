#pragma once
// The engine's two ends: the device input node (no inputs, one output bus that
// carries the device's input channels) and the device output node (one input
// bus whose channels go to the device's outputs). Their formats are the
// device's and are set by the engine when it binds to a device; connections to
// them adapt by the channel rule instead of changing them.

#include "platform/engine/Unit.h"

namespace corvane::engine {

class DeviceInputNode final : public Unit {
public:
    DeviceInputNode() : Unit({0, false, 0}, {1, false, 1}) {}
    std::string name() const override { return "device input"; }
    bool hasFixedFormat(Direction, int) const override { return true; }
    // The engine fills this node's output buffers from the device itself.
    void render(const InputBus*, const OutputBus*, std::uint32_t) noexcept override {}
    // Engine only: the device's input format (none without a device or channels).
    void bind(std::optional<Format> format) { assignFormat(Direction::Output, 0, format); }

private:
    bool acceptsFormat(Direction, int, const Format&, std::string& error) const override {
        error = "The device input's format is the device's.";
        return false;
    }
};

class DeviceOutputNode final : public Unit {
public:
    DeviceOutputNode() : Unit({1, false, 1}, {0, false, 0}) {}
    std::string name() const override { return "device output"; }
    bool hasFixedFormat(Direction, int) const override { return true; }
    // The engine copies this node's input bus to the device itself.
    void render(const InputBus*, const OutputBus*, std::uint32_t) noexcept override {}
    void bind(std::optional<Format> format) { assignFormat(Direction::Input, 0, format); }

private:
    bool acceptsFormat(Direction, int, const Format&, std::string& error) const override {
        error = "The device output's format is the device's.";
        return false;
    }
};

} // namespace corvane::engine
