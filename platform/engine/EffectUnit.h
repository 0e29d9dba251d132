#pragma once
// A unit that runs one hosted effect between one input bus and one output bus.
// The buses take their widths (1 or 2 channels) from the connections made to
// them; preparing the unit prepares the effect for exactly those widths.

#include "platform/engine/EffectProcessor.h"
#include "platform/engine/Unit.h"

#include <memory>

namespace corvane::engine {

class EffectUnit final : public Unit {
public:
    // `processor` must not be null.
    explicit EffectUnit(std::unique_ptr<EffectProcessor> processor);
    ~EffectUnit() override;

    std::string name() const override { return "effect"; }

    EffectProcessor& processor() { return *processor_; }
    const EffectProcessor& processor() const { return *processor_; }
    double latencySeconds() const { return processor_->latencySeconds(); }

    bool prepareToRender(double sampleRate, std::uint32_t maxFrames, std::string& error) override;
    void render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept override;
    bool rendersAhead() const override { return processor_->rendersAhead(); }
    void beginRender(const InputBus* inputs, std::uint32_t frames) noexcept override;
    void finishRender(const OutputBus* outputs, const timespec& deadline) noexcept override;
    void resetState() override { processor_->reset(); }

private:
    bool acceptsFormat(Direction direction, int bus, const Format& format, std::string& error) const override;

    std::unique_ptr<EffectProcessor> processor_;
};

} // namespace corvane::engine
