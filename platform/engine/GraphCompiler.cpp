#include "platform/engine/GraphCompiler.h"

#include "platform/engine/ChannelRule.h"

#include <algorithm>
#include <unordered_map>

namespace corvane::engine {

namespace {

int busWidth(const Unit& unit, Direction direction, int bus) {
    auto format = unit.format(direction, bus);
    return format ? format->channels : 0;
}

class Compiler {
public:
    Compiler(const GraphDescription& graph, const CompileOptions& options, std::string& error)
        : graph_(graph), options_(options), error_(error), plan_(std::make_unique<RenderPlan>()) {}

    std::unique_ptr<RenderPlan> run() {
        plan_->maxFrames = options_.maxFrames;
        plan_->sampleRate = options_.sampleRate;
        if (!indexUnits() || !checkConnections() || !schedule())
            return nullptr;
        silence_ = newBuffer();
        outputLists_.resize(graph_.units.size());
        for (std::size_t u : order_)
            if (!addStep(u))
                return nullptr;
        plan_->deviceOutput = makeInput(*graph_.output, 0, plan_->deviceOutputMixdowns);
        if (!addTaps() || !prepareUnits())
            return nullptr;
        scheduleAhead();
        noteDeviceWriters();
        sizeChannelUse();
        return std::move(plan_);
    }

private:
    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    bool indexUnits() {
        for (std::size_t i = 0; i < graph_.units.size(); ++i)
            index_[graph_.units[i].get()] = i;
        if (!index_.contains(graph_.input.get()) || !index_.contains(graph_.output.get()))
            return fail("The engine's device nodes are missing from the graph.");
        return true;
    }

    bool checkConnections() {
        for (const auto& c : graph_.connections) {
            if (!index_.contains(c.source) || !index_.contains(c.destination))
                return fail("A connection refers to a unit that is no longer attached.");
            if (c.sourceBus < 0 || c.sourceBus >= c.source->outputBusCount())
                return fail("Output bus " + std::to_string(c.sourceBus) + " of the " + c.source->name() +
                            " no longer exists.");
            if (c.destinationBus < 0 || c.destinationBus >= c.destination->inputBusCount())
                return fail("Input bus " + std::to_string(c.destinationBus) + " of the " + c.destination->name() +
                            " no longer exists.");
        }
        for (const auto& tap : graph_.taps)
            if (!index_.contains(&tap->unit()))
                return fail("A tap sits on a unit that is no longer attached.");
        return true;
    }

    // Kahn's algorithm, taking ready units in attach order so the schedule is
    // stable from one build to the next.
    bool schedule() {
        const std::size_t n = graph_.units.size();
        std::vector<bool> used(n, false);
        used[index_[graph_.input.get()]] = true;
        used[index_[graph_.output.get()]] = true;
        std::vector<int> pending(n, 0);
        for (const auto& c : graph_.connections) {
            used[index_[c.source]] = used[index_[c.destination]] = true;
            ++pending[index_[c.destination]];
        }
        for (const auto& tap : graph_.taps)
            used[index_[&tap->unit()]] = true;
        const auto usedCount = static_cast<std::size_t>(std::count(used.begin(), used.end(), true));
        std::vector<bool> done(n, false);
        while (order_.size() < usedCount) {
            std::size_t next = n;
            for (std::size_t i = 0; i < n && next == n; ++i)
                if (used[i] && !done[i] && pending[i] == 0)
                    next = i;
            if (next == n)
                return fail("The connections form a loop, so the graph cannot be rendered.");
            done[next] = true;
            order_.push_back(next);
            for (const auto& c : graph_.connections)
                if (c.source == graph_.units[next].get())
                    --pending[index_[c.destination]];
        }
        return true;
    }

    float* newBuffer() {
        plan_->buffers.push_back(std::make_unique<float[]>(std::max<std::uint32_t>(options_.maxFrames, 1)));
        return plan_->buffers.back().get();
    }

    const Connection* connectionInto(const Unit& unit, int bus) const {
        const Connection* found = nullptr;
        for (const auto& c : graph_.connections)
            if (c.destination == &unit && c.destinationBus == bus)
                found = &c;
        return found;
    }

    InputBus makeInput(const Unit& unit, int bus, std::vector<RenderPlan::Mixdown>& mixdowns) {
        const Connection* c = connectionInto(unit, bus);
        const std::vector<float*>* source = nullptr;
        if (c)
            source = &plan_->outputChannelLists[outputLists_[index_[c->source]][static_cast<std::size_t>(c->sourceBus)]];
        const int sourceWidth = source ? static_cast<int>(source->size()) : 0;
        int width = busWidth(unit, Direction::Input, bus);
        if (width == 0)
            width = sourceWidth;
        // What reads the device's inputs: the device output itself (a straight
        // wire) and a mixdown read them all the time; a unit, when it says so.
        const bool fromDevice = c && c->source == graph_.input.get();
        const bool readerAsks = &unit != graph_.output.get();
        std::vector<const float*> channels(static_cast<std::size_t>(width), silence_);
        if (source && needsMixdown(sourceWidth, width)) {
            float* mixed = newBuffer();
            mixdowns.push_back({source->data(), sourceWidth, mixed});
            channels[0] = mixed;
            for (int from = 0; fromDevice && from < sourceWidth; ++from)
                markAlwaysRead(from);
        } else if (source) {
            RenderPlan::DeviceReader reader{graph_.units[index_[&unit]].get(), bus, {}};
            for (int ch = 0; ch < width; ++ch) {
                const int from = sourceChannelFor(ch, sourceWidth, width);
                if (from < 0)
                    continue;
                channels[static_cast<std::size_t>(ch)] = (*source)[static_cast<std::size_t>(from)];
                if (fromDevice && readerAsks)
                    reader.channels.emplace_back(ch, static_cast<std::uint32_t>(from));
                else if (fromDevice)
                    markAlwaysRead(from);
            }
            if (!reader.channels.empty()) {
                reader.straight = true;
                for (std::size_t k = 0; k < reader.channels.size(); ++k) {
                    const auto& [channel, device] = reader.channels[k];
                    reader.straight = reader.straight && std::size_t(channel) == k && device == k;
                }
                plan_->deviceReaders.push_back(std::move(reader));
            }
        }
        plan_->inputChannelLists.push_back(std::move(channels));
        return {plan_->inputChannelLists.back().data(), width};
    }

    bool addStep(std::size_t u) {
        Unit& unit = *graph_.units[u];
        if (&unit == graph_.output.get())
            return true; // the render pass copies its input to the device itself
        RenderPlan::Step step;
        step.unit = &unit;
        if (auto group = graph_.timingGroups.find(&unit); group != graph_.timingGroups.end())
            step.timingGroup = group->second;
        for (int bus = 0; bus < unit.inputBusCount(); ++bus)
            step.inputs.push_back(makeInput(unit, bus, step.mixdowns));
        for (int bus = 0; bus < unit.outputBusCount(); ++bus) {
            std::vector<float*> channels;
            for (int ch = 0; ch < busWidth(unit, Direction::Output, bus); ++ch)
                channels.push_back(newBuffer());
            const int width = static_cast<int>(channels.size());
            outputLists_[u].push_back(plan_->outputChannelLists.size());
            plan_->outputChannelLists.push_back(std::move(channels));
            step.outputs.push_back({plan_->outputChannelLists.back().data(), width});
        }
        if (&unit == graph_.input.get())
            plan_->deviceInputs = plan_->outputChannelLists[outputLists_[u].at(0)];
        plan_->steps.push_back(std::move(step));
        plan_->units.push_back(graph_.units[u]);
        return true;
    }

    bool addTaps() {
        for (const auto& tap : graph_.taps) {
            Unit& unit = tap->unit();
            if (tap->bus() < 0 || tap->bus() >= unit.outputBusCount())
                return fail("The tapped output bus " + std::to_string(tap->bus()) + " of the " + unit.name() +
                            " no longer exists.");
            const int width = busWidth(unit, Direction::Output, tap->bus());
            if (width == 0)
                return fail("The tapped output bus " + std::to_string(tap->bus()) + " of the " + unit.name() +
                            " has no format.");
            if (!tap->ring() || options_.replaceRings)
                tap->provideRing(width, options_.maxFrames);
            if (tap->ring()->channels() != width)
                return fail("A tap's buffer no longer fits its bus; stop the engine first.");
            for (int from = 0; &unit == graph_.input.get() && from < width; ++from)
                markAlwaysRead(from);
            auto step = std::find_if(plan_->steps.begin(), plan_->steps.end(),
                                     [&](const RenderPlan::Step& s) { return s.unit == &unit; });
            step->taps.push_back({tap.get(), step->outputs[static_cast<std::size_t>(tap->bus())].channels});
            plan_->tapOwners.push_back(tap);
        }
        return true;
    }

    bool prepareUnits() {
        if (!options_.prepareUnits)
            return true;
        for (const auto& step : plan_->steps) {
            if (step.unit == graph_.input.get())
                continue;
            std::string reason;
            if (!step.unit->prepareToRender(options_.sampleRate, options_.maxFrames, reason))
                return fail("Preparing the " + step.unit->name() + " failed: " + reason);
        }
        return true;
    }

    void markAlwaysRead(int deviceChannel) {
        auto& always = plan_->deviceInputsAlwaysRead;
        if (always.size() <= static_cast<std::size_t>(deviceChannel))
            always.resize(static_cast<std::size_t>(deviceChannel) + 1, 0);
        always[static_cast<std::size_t>(deviceChannel)] = 1;
    }

    // Who writes each device output channel, by the same rule makeInput
    // followed: nobody (silent), a mixdown or the device input (always), or
    // one channel of the unit that feeds the device output.
    void noteDeviceWriters() {
        const int width = std::max(plan_->deviceOutput.channelCount, 0);
        auto& feeds = plan_->deviceOutputFeeds;
        feeds.assign(static_cast<std::size_t>(width), {});
        const Connection* c = connectionInto(*graph_.output, 0);
        if (!c)
            return;
        const int sourceWidth = busWidth(*c->source, Direction::Output, c->sourceBus);
        const bool always = needsMixdown(sourceWidth, width) || c->source == graph_.input.get();
        plan_->deviceWriter = c->source;
        plan_->deviceWriterBus = c->sourceBus;
        plan_->outputFeedsStraight = !always;
        for (int ch = 0; ch < width; ++ch) {
            auto& feed = feeds[static_cast<std::size_t>(ch)];
            feed.channel = needsMixdown(sourceWidth, width) ? 0 : sourceChannelFor(ch, sourceWidth, width);
            feed.always = feed.channel >= 0 && always;
            plan_->outputFeedsStraight &= feed.channel == ch;
        }
    }

    void sizeChannelUse() {
        const std::size_t inputs = plan_->deviceInputs.size();
        const std::size_t outputs = plan_->deviceOutputFeeds.size();
        plan_->deviceInputsAlwaysRead.resize(inputs, 0);
        plan_->inputsInUse.assign(inputs, 0);
        plan_->outputsInUse.assign(outputs, 0);
        plan_->previousInputsInUse.assign(inputs, 0);
        plan_->previousOutputsInUse.assign(outputs, 0);
        plan_->usedInputList.reserve(inputs);
        plan_->usedOutputList.reserve(outputs);
        // Fresh buffers are zeroed.
        plan_->silentInputFrames.assign(inputs, options_.maxFrames);
        plan_->channelUse = {plan_->inputsInUse.data(), static_cast<std::uint32_t>(inputs),
                             plan_->outputsInUse.data(), static_cast<std::uint32_t>(outputs)};
    }

    // A unit whose work runs elsewhere is begun in its place and finished
    // right before the first step that reads one of its outputs (at the end
    // when only the device output does): the steps between run beside it.
    void scheduleAhead() {
        auto& steps = plan_->steps;
        std::unordered_map<const Unit*, std::size_t> position;
        for (std::size_t i = 0; i < steps.size(); ++i)
            position[steps[i].unit] = i;
        for (std::size_t a = 0; a < steps.size(); ++a) {
            if (!steps[a].unit->rendersAhead())
                continue;
            steps[a].ahead = true;
            std::size_t reader = steps.size();
            for (const auto& c : graph_.connections)
                if (c.source == steps[a].unit)
                    if (auto p = position.find(c.destination); p != position.end())
                        reader = std::min(reader, p->second);
            (reader < steps.size() ? steps[reader].finishFirst : plan_->finishAtEnd).push_back(a);
        }
    }

    const GraphDescription& graph_;
    const CompileOptions& options_;
    std::string& error_;
    std::unique_ptr<RenderPlan> plan_;
    std::unordered_map<const Unit*, std::size_t> index_;
    std::vector<std::size_t> order_;
    std::vector<std::vector<std::size_t>> outputLists_; // per unit, per output bus: index into outputChannelLists
    float* silence_ = nullptr;
};

} // namespace

std::unique_ptr<RenderPlan> compileGraph(const GraphDescription& graph, const CompileOptions& options,
                                         std::string& error) {
    return Compiler(graph, options, error).run();
}

} // namespace corvane::engine
