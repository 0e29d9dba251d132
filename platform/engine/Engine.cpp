#include "platform/engine/Engine.h"

#include "platform/engine/DeviceWatch.h"
#include "platform/engine/GraphCompiler.h"
#include "platform/system/KeepForever.h"
#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"

#include <QPointer>

#include <algorithm>
#include <numeric>

namespace corvane::engine {

namespace {

// The graph's period limit when the device gives no buffer-size range: as long
// as JACK's longest period.
constexpr std::uint32_t kFallbackPeriodLimit = 8192;

int channelCount(const hw::AudioHardware& hardware, hw::ObjectId device, hw::Scope scope) {
    auto layout = hardware.getAs<hw::StreamConfiguration>(device, {hw::Selector::StreamConfiguration, scope, 0});
    if (!layout)
        return 0;
    return static_cast<int>(std::accumulate(layout->bufferChannels.begin(), layout->bufferChannels.end(), 0u));
}

bool listed(const hw::AudioHardware& hardware, hw::ObjectId device) {
    auto ids = hardware.getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, {hw::Selector::Devices});
    return ids && std::find(ids->begin(), ids->end(), device) != ids->end();
}

} // namespace

Engine::Engine(hw::AudioHardware& hardware, QObject* parent)
    : QObject(parent), hardware_(hardware), input_(std::make_shared<DeviceInputNode>()),
      output_(std::make_shared<DeviceOutputNode>()) {
    units_.push_back(input_);
    units_.push_back(output_);
}

Engine::~Engine() {
    stop();
    renderer_.publish(nullptr, stallPatience_);
}

bool Engine::fail(std::string message) {
    lastError_ = std::move(message);
    qCWarning(lcEngine, "%s", lastError_.c_str());
    return false;
}

// --- device ---------------------------------------------------------------

void Engine::setDevice(hw::ObjectId device) {
    if (running_)
        stop();
    if (device == device_)
        return;
    const bool moved = device_ != hw::kNoObject;
    device_ = device;
    bindDeviceNodes();
    planCurrent_ = false;
    if (!moved)
        return;
    postToMain([self = QPointer<Engine>(this)] {
        if (self)
            emit self->configurationChanged();
    });
}

Format Engine::hardwareInputFormat() const {
    if (device_ == hw::kNoObject)
        return {};
    return {channelCount(hardware_, device_, hw::Scope::Input), deviceSampleRate()};
}

Format Engine::hardwareOutputFormat() const {
    if (device_ == hw::kNoObject)
        return {};
    return {channelCount(hardware_, device_, hw::Scope::Output), deviceSampleRate()};
}

double Engine::deviceSampleRate() const {
    return hardware_.getAs<double>(device_, {hw::Selector::NominalSampleRate}).value_or(0.0);
}

std::uint32_t Engine::periodLimit() const {
    const auto ranges = hardware_.getAs<std::vector<hw::ValueRange>>(device_, {hw::Selector::BufferFrameSizeRange});
    double top = 0.0;
    if (ranges)
        for (const auto& range : *ranges)
            top = std::max(top, range.maximum);
    if (!(top >= 1.0) || top > 1 << 20)
        top = kFallbackPeriodLimit;
    // A device may still be running a period longer than its range admits.
    const auto current = hardware_.getAs<std::uint32_t>(device_, {hw::Selector::BufferFrameSize}).value_or(0);
    return std::max(static_cast<std::uint32_t>(top), current);
}

void Engine::setTimingGroup(Unit& unit, int group) {
    if (group >= 0 && group < RenderStats::kGroups)
        timingGroups_[&unit] = group;
    else
        timingGroups_.erase(&unit);
    planCurrent_ = false;
}

Unit* Engine::stalledUnit() const {
    return abandoned_ ? stalled_ : renderer_.stalledUnit(stallPatience_);
}

void Engine::bindDeviceNodes() {
    const Format in = hardwareInputFormat();
    const Format out = hardwareOutputFormat();
    input_->bind(in.isValid() ? std::optional<Format>(in) : std::nullopt);
    output_->bind(out.isValid() ? std::optional<Format>(out) : std::nullopt);
}

// --- graph ----------------------------------------------------------------

void Engine::attach(std::shared_ptr<Unit> unit) {
    if (!unit || isAttached(*unit))
        return;
    units_.push_back(std::move(unit));
}

bool Engine::isAttached(const Unit& unit) const {
    return std::any_of(units_.begin(), units_.end(), [&](const auto& u) { return u.get() == &unit; });
}

bool Engine::detach(Unit& unit) {
    if (&unit == input_.get() || &unit == output_.get())
        return fail("The device nodes cannot be detached.");
    if (running_)
        return fail("Units cannot be detached while the engine is running.");
    std::erase_if(connections_, [&](const Connection& c) { return c.source == &unit || c.destination == &unit; });
    std::erase_if(taps_, [&](const auto& tap) { return &tap->unit() == &unit; });
    std::erase_if(units_, [&](const auto& u) { return u.get() == &unit; });
    planCurrent_ = false;
    return true;
}

bool Engine::checkAttached(const Unit& unit) {
    if (isAttached(unit))
        return true;
    return fail("The " + unit.name() + " is not attached to the engine.");
}

bool Engine::setConnectionFormats(Unit& source, int sourceBus, Unit& destination, int destinationBus,
                                  const Format& format) {
    if (sourceBus < 0 || sourceBus >= source.outputBusCount())
        return fail("The " + source.name() + " has no output bus " + std::to_string(sourceBus) + ".");
    if (destinationBus < 0 || destinationBus >= destination.inputBusCount())
        return fail("The " + destination.name() + " has no input bus " + std::to_string(destinationBus) + ".");
    // A bus that already has a format keeps it (a configured mixer's width is
    // part of its routing); the channel rule adapts the connection instead.
    std::string error;
    if (!destination.hasFixedFormat(Direction::Input, destinationBus) && !destination.inputFormat(destinationBus) &&
        !destination.setInputFormat(destinationBus, format, error))
        return fail("Connecting to the " + destination.name() + " failed: " + error);
    if (!source.hasFixedFormat(Direction::Output, sourceBus) && !source.outputFormat(sourceBus) &&
        !source.setOutputFormat(sourceBus, format, error))
        return fail("Connecting from the " + source.name() + " failed: " + error);
    return true;
}

bool Engine::connect(Unit& source, int sourceBus, Unit& destination, int destinationBus, const Format& format) {
    if (running_)
        return fail("Connections cannot change while the engine is running.");
    if (!checkAttached(source) || !checkAttached(destination))
        return false;
    if (!setConnectionFormats(source, sourceBus, destination, destinationBus, format))
        return false;
    std::erase_if(connections_, [&](const Connection& c) {
        return c.destination == &destination && c.destinationBus == destinationBus;
    });
    connections_.push_back({&source, sourceBus, &destination, destinationBus, format});
    planCurrent_ = false;
    return true;
}

bool Engine::connect(Unit& source, int sourceBus, const std::vector<ConnectionPoint>& destinations,
                     const Format& format) {
    if (running_)
        return fail("Connections cannot change while the engine is running.");
    if (!checkAttached(source))
        return false;
    for (const auto& point : destinations)
        if (!point.unit || !checkAttached(*point.unit))
            return false;
    for (const auto& point : destinations)
        if (!setConnectionFormats(source, sourceBus, *point.unit, point.bus, format))
            return false;
    std::erase_if(connections_, [&](const Connection& c) {
        if (c.source == &source && c.sourceBus == sourceBus)
            return true;
        return std::any_of(destinations.begin(), destinations.end(), [&](const ConnectionPoint& p) {
            return c.destination == p.unit && c.destinationBus == p.bus;
        });
    });
    for (const auto& point : destinations)
        connections_.push_back({&source, sourceBus, point.unit, point.bus, format});
    planCurrent_ = false;
    return true;
}

void Engine::disconnectInput(Unit& destination, int bus) {
    if (running_) {
        fail("Connections cannot change while the engine is running.");
        return;
    }
    std::erase_if(connections_, [&](const Connection& c) { return c.destination == &destination && c.destinationBus == bus; });
    planCurrent_ = false;
}

// --- building -------------------------------------------------------------

bool Engine::rebuild(bool prepareUnits, std::string& error) {
    GraphDescription graph{input_, output_, units_, connections_, taps_, {}};
    for (const auto& [unit, group] : timingGroups_)
        graph.timingGroups[unit] = group;
    CompileOptions options;
    if (running_ && plan_) {
        options.sampleRate = plan_->sampleRate;
        options.maxFrames = plan_->maxFrames;
    } else {
        options.sampleRate = deviceSampleRate();
        if (options.sampleRate <= 0.0)
            options.sampleRate = input_->outputFormat(0).value_or(Format{0, 48000.0}).sampleRate;
        options.maxFrames = periodLimit();
    }
    options.prepareUnits = prepareUnits;
    options.replaceRings = !running_;
    auto plan = compileGraph(graph, options, error);
    if (!plan)
        return false;
    if (running_ && !renderer_.publish(plan.get(), stallPatience_)) {
        // The render thread is stuck in the old plan: it must never be freed.
        keepForever(std::shared_ptr<RenderPlan>(std::move(plan_)));
    }
    plan_ = std::move(plan);
    planCurrent_ = true;
    return true;
}

bool Engine::prepare() {
    std::string error;
    return prepare(error);
}

bool Engine::prepare(std::string& error) {
    if (running_)
        return true;
    bindDeviceNodes();
    if (!rebuild(true, error))
        return fail(error);
    return true;
}

std::uint32_t Engine::maximumFrames() const { return plan_ ? plan_->maxFrames : 0; }

// --- running --------------------------------------------------------------

bool Engine::start(std::string& error) {
    if (running_)
        return true;
    if (device_ == hw::kNoObject) {
        error = "No audio device is selected.";
        return fail(error);
    }
    bindDeviceNodes();
    if (abandoned_) {
        error = "A unit of this engine stopped responding; use a new engine.";
        return fail(error);
    }
    const bool stale = !planCurrent_ || !plan_ || plan_->maxFrames != periodLimit() ||
                       plan_->sampleRate != deviceSampleRate();
    if (stale && !rebuild(true, error))
        return fail(error);

    for (auto& unit : units_)
        unit->setRendering(true);
    runningInput_ = hardwareInputFormat();
    runningOutput_ = hardwareOutputFormat();
    const std::uint64_t generation = ++generation_;
    changeAnnounced_ = false;
    QPointer<Engine> self(this);
    auto hop = [self, generation](DeviceEvent event) {
        postToMain([self, generation, event] {
            if (self)
                self->onDeviceEvent(generation, event);
        });
    };
    watch_ = std::make_unique<DeviceWatch>(hardware_, device_, hop);
    renderer_.stats().clear();
    tapThread_.start(taps_, [self, generation] {
        postToMain([self, generation] {
            if (self)
                self->announceChange(generation, "the device delivered a longer period than the graph was built for");
        });
    });
    renderer_.publish(plan_.get());

    std::string reason;
    if (!hardware_.startIo(device_, renderer_, reason)) {
        renderer_.publish(nullptr);
        tapThread_.stop();
        watch_.reset();
        ++generation_;
        for (auto& unit : units_)
            unit->setRendering(false);
        error = reason.empty() ? "The device did not start." : reason;
        return fail(error);
    }
    running_ = true;
    qCInfo(lcEngine, "Graph running: %d in / %d out @ %.0f Hz, up to %u frames per period, %zu steps",
           runningInput_.channels, runningOutput_.channels, plan_->sampleRate, plan_->maxFrames, plan_->steps.size());
    return true;
}

bool Engine::stop() {
    if (!running_)
        return true;
    const bool ioStopped = hardware_.stopIo(device_, stallPatience_);
    running_ = false;
    ++generation_;
    // The device may have stopped calling us (a lost server) while the render
    // thread is still inside a period: that too must end within the patience.
    Unit* inside = renderer_.stalledUnit(std::chrono::nanoseconds(0));
    const bool out = renderer_.publish(nullptr, ioStopped ? stallPatience_ : std::chrono::milliseconds(0));
    tapThread_.stop();
    watch_.reset();
    if (!ioStopped || !out) {
        abandoned_ = true;
        stalled_ = renderer_.stalledUnit(std::chrono::nanoseconds(0));
        if (!stalled_)
            stalled_ = inside;
        qCWarning(lcEngine, "The render thread did not come out of the %s: leaving it behind",
                  stalled_ ? stalled_->name().c_str() : "graph");
        return false;
    }
    // A chunk half gathered now would be finished with audio of the next run.
    for (auto& tap : taps_)
        tap->clear();
    for (auto& unit : units_)
        unit->setRendering(false);
    return true;
}

void Engine::reset() {
    if (abandoned_)
        return; // the stuck render thread may still use every unit
    if (running_) {
        fail("The engine cannot be reset while it is running.");
        return;
    }
    for (auto& unit : units_)
        unit->resetState();
    for (auto& tap : taps_)
        tap->clear();
}

// --- taps -----------------------------------------------------------------

bool Engine::installTap(Unit& unit, int bus, std::uint32_t bufferFrames, const Format& format, TapBlock block) {
    if (!checkAttached(unit))
        return false;
    if (bus < 0 || bus >= unit.outputBusCount())
        return fail("The " + unit.name() + " has no output bus " + std::to_string(bus) + " to tap.");
    if (bufferFrames == 0 || format.channels <= 0 || !block)
        return fail("A tap needs a buffer size, a channel count and a block.");
    const bool taken = std::any_of(taps_.begin(), taps_.end(),
                                   [&](const auto& tap) { return &tap->unit() == &unit && tap->bus() == bus; });
    if (taken)
        return fail("Output bus " + std::to_string(bus) + " of the " + unit.name() + " already has a tap.");
    // A unit outside the running graph was never prepared, so it cannot join it now.
    const bool scheduled = plan_ && std::any_of(plan_->steps.begin(), plan_->steps.end(),
                                                [&](const RenderPlan::Step& step) { return step.unit == &unit; });
    if (running_ && !scheduled)
        return fail("The " + unit.name() + " is not part of the running graph, so it cannot be tapped until a restart.");
    taps_.push_back(std::make_shared<Tap>(unit, bus, bufferFrames, format, std::move(block)));
    if (!running_) {
        planCurrent_ = false;
        return true;
    }
    std::string error;
    if (!rebuild(false, error)) {
        taps_.pop_back();
        return fail(error);
    }
    tapThread_.setTaps(taps_);
    return true;
}

void Engine::removeTap(Unit& unit, int bus) {
    const auto before = taps_.size();
    std::erase_if(taps_, [&](const auto& tap) { return &tap->unit() == &unit && tap->bus() == bus; });
    if (taps_.size() == before)
        return;
    if (!running_) {
        planCurrent_ = false;
        return;
    }
    std::string error;
    if (!rebuild(false, error)) {
        // Cannot happen with one tap fewer than a graph that compiled; keep
        // rendering the old plan but never call the removed block again.
        fail(error);
    }
    tapThread_.setTaps(taps_);
}

void Engine::setTapChunksPerWake(std::uint32_t chunks) { tapThread_.setChunksPerWake(std::clamp(chunks, 1u, Tap::kMaxChunksPerWake)); }

void Engine::deliverTaps() {
    if (running_)
        tapThread_.deliverNow();
}

// --- configuration changes --------------------------------------------------

void Engine::onDeviceEvent(std::uint64_t generation, DeviceEvent event) {
    if (generation != generation_ || !running_ || changeAnnounced_)
        return;
    switch (event) {
    case DeviceEvent::DeviceListChanged:
        if (!listed(hardware_, device_))
            announceChange(generation, "the device is gone");
        return;
    case DeviceEvent::SampleRateChanged:
        if (deviceSampleRate() != runningInput_.sampleRate)
            announceChange(generation, "the device's sample rate changed");
        return;
    case DeviceEvent::LayoutChanged:
        if (hardwareInputFormat().channels != runningInput_.channels ||
            hardwareOutputFormat().channels != runningOutput_.channels)
            announceChange(generation, "the device's channel layout changed");
        return;
    case DeviceEvent::ConfigurationChanged:
        announceChange(generation, "the device reported a configuration change");
        return;
    }
}

void Engine::announceChange(std::uint64_t generation, const char* reason) {
    if (generation != generation_ || !running_ || changeAnnounced_)
        return;
    changeAnnounced_ = true;
    qCInfo(lcEngine, "Graph configuration changed: %s", reason);
    emit configurationChanged();
}

} // namespace corvane::engine
