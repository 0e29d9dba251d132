#include "platform/hardware/virtual/VirtualBackend.h"

#include "platform/system/KeepForever.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace corvane::hw {

using virt::VirtualDevice;

namespace {

constexpr Address kDevicesAddress{Selector::Devices};

bool isDirection(Scope scope) { return scope == Scope::Input || scope == Scope::Output; }

// The first matching device, const or not as `devices` is; null when none.
template <class Devices, class Match>
auto* findIn(Devices& devices, Match match) {
    auto it = std::find_if(devices.begin(), devices.end(), match);
    return it == devices.end() ? nullptr : &*it;
}

// How long a device that goes away waits for a period in progress to end.
constexpr std::chrono::milliseconds kStopPatience{2000};

// CORVANE_VIRTUAL_LOOPBACK_FRAMES: set (even empty) lists the loopback device;
// its number, when it is one, is the delay beyond the estimate.
std::optional<double> loopbackFromEnvironment() {
    const char* text = std::getenv("CORVANE_VIRTUAL_LOOPBACK_FRAMES");
    if (!text)
        return std::nullopt;
    char* end = nullptr;
    const double frames = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(frames) && frames >= 0 ? frames : 0.0;
}

std::uint32_t orZero(std::optional<std::uint32_t> frames) { return frames.value_or(0); }

// The delay that puts a loopback `beyond` frames past what the latency estimate
// counts for `device`.
double delayBeyondEstimate(const VirtualDevice& device, double beyond) {
    double frames = 2.0 * device.bufferFrames + beyond;
    for (const auto* latency : {&device.inputLatency, &device.outputLatency})
        frames += double(orZero(latency->device)) + orZero(latency->safetyOffset) + orZero(latency->stream);
    return frames;
}

} // namespace

VirtualBackend::VirtualBackend() {
    addDevice(DeviceSpec{kDefaultUid, kDefaultName, 8, 8});
    if (const auto beyond = loopbackFromEnvironment())
        addLoopbackDevice(*beyond);
}

VirtualBackend::~VirtualBackend() { stopAllIo(kStopPatience); }

VirtualDevice* VirtualBackend::find(const std::string& uid) {
    return findIn(devices_, [&](const auto& d) { return d.uid == uid; });
}

const VirtualDevice* VirtualBackend::find(const std::string& uid) const {
    return findIn(devices_, [&](const auto& d) { return d.uid == uid; });
}

const VirtualDevice* VirtualBackend::findOwner(ObjectId object) const {
    return findIn(devices_, [&](const auto& d) { return d.owns(object); });
}

void VirtualBackend::announce(const Events& events) const {
    for (const auto& [object, address] : events)
        notify(object, address);
}

void VirtualBackend::fitStreams(VirtualDevice& device) {
    for (auto [channels, stream] : {std::pair{device.inputs, &device.inputStream},
                                    std::pair{device.outputs, &device.outputStream}}) {
        if (channels > 0 && *stream == kNoObject)
            *stream = nextId();
        else if (channels == 0)
            *stream = kNoObject;
    }
}

// --- Backend -----------------------------------------------------------------

std::vector<ObjectId> VirtualBackend::deviceIds() const {
    if (listFails_)
        return {};
    return DeviceListBackend::deviceIds();
}

bool VirtualBackend::owns(ObjectId object) const {
    std::lock_guard lock(mutex_);
    return findOwner(object) != nullptr;
}

std::optional<PropertyValue> VirtualBackend::get(ObjectId object, Address address) const {
    std::lock_guard lock(mutex_);
    const auto* device = findOwner(object);
    return device ? device->read(object, address) : std::nullopt;
}

bool VirtualBackend::set(ObjectId object, Address address, const PropertyValue& value) {
    Events events;
    bool accepted = false;
    {
        std::lock_guard lock(mutex_);
        auto* device = find(object);
        if (!device || address.scope != Scope::Global || address.element != 0)
            return false;
        bool changed = false;
        if (address.selector == Selector::BufferFrameSize) {
            const auto* frames = std::get_if<std::uint32_t>(&value);
            if (!frames || *frames < virt::kMinBufferFrames || *frames > virt::kMaxBufferFrames)
                return false;
            changed = device->bufferFrames != *frames;
            device->bufferFrames = *frames;
        } else if (address.selector == Selector::NominalSampleRate) {
            const auto* rate = std::get_if<double>(&value);
            if (!rate || !(*rate >= virt::kMinSampleRate && *rate <= virt::kMaxSampleRate))
                return false;
            const auto& refused = device->refusedRates;
            if (std::find(refused.begin(), refused.end(), *rate) != refused.end())
                return false;
            changed = device->sampleRate != *rate;
            device->sampleRate = *rate;
        } else {
            return false;
        }
        accepted = true;
        if (changed) {
            events.emplace_back(device->id, Address{address.selector});
            if (device->session)
                events.emplace_back(device->id, Address{Selector::ConfigurationChange});
        }
    }
    announce(events);
    return accepted;
}

bool VirtualBackend::startIo(ObjectId deviceId, IoCallback& callback, std::string& error) {
    std::shared_ptr<virt::IoSession> session;
    alsa::SequencerInput::Feed control = controlFeed();
    {
        std::lock_guard lock(mutex_);
        auto* device = idleDevice(deviceId, error);
        if (!device)
            return false;
        virt::IoSession::Setup setup;
        setup.controlRing = std::move(control.ring);
        setup.control = control.input;
        setup.callback = &callback;
        setup.inputs = device->inputs;
        setup.outputs = device->outputs;
        setup.periodFrames = device->bufferFrames;
        setup.sampleRate = device->sampleRate;
        setup.inputSignals = device->inputSignals;
        if (device->loopbackBeyondEstimate)
            setup.loopback = std::make_shared<virt::LoopbackRing>(
                device->outputs, device->bufferFrames, delayBeyondEstimate(*device, *device->loopbackBeyondEstimate));
        else if (device->loopbackDelay)
            setup.loopback =
                std::make_shared<virt::LoopbackRing>(device->outputs, device->bufferFrames, *device->loopbackDelay);
        if (device->recordingActive)
            setup.recording = device->recording;
        setup.counters = device->counters;
        setup.announceOverload = [this, deviceId] { notify(deviceId, Address{Selector::Overload}); };
        session = std::make_shared<virt::IoSession>(std::move(setup));
        device->session = session;
        if (device->clockMode == ClockMode::Manual)
            return true;
    }
    session->setPaced(true);
    return true;
}

// --- Devices -----------------------------------------------------------------

ObjectId VirtualBackend::addDevice(const DeviceSpec& spec) {
    ObjectId id = kNoObject;
    {
        std::lock_guard lock(mutex_);
        if (spec.uid.empty() || find(spec.uid))
            return kNoObject;
        VirtualDevice device;
        device.id = id = nextId();
        device.uid = spec.uid;
        device.name = spec.name;
        device.inputs = spec.inputs;
        device.outputs = spec.outputs;
        fitStreams(device);
        device.fitSignals();
        devices_.push_back(std::move(device));
    }
    notify(kSystemObject, kDevicesAddress);
    return id;
}

ObjectId VirtualBackend::addLoopbackDevice(double framesBeyondEstimate) {
    const ObjectId id = addDevice(DeviceSpec{kLoopbackUid, kLoopbackName, 8, 8});
    std::lock_guard lock(mutex_);
    if (auto* device = find(kLoopbackUid); device && id != kNoObject)
        device->loopbackBeyondEstimate = framesBeyondEstimate;
    return id;
}

bool VirtualBackend::removeDevice(const std::string& uid) {
    std::shared_ptr<virt::IoSession> session;
    {
        std::lock_guard lock(mutex_);
        auto* device = find(uid);
        if (!device)
            return false;
        session = std::move(device->session);
        devices_.erase(devices_.begin() + (device - devices_.data()));
    }
    stopOrKeepForever(std::move(session), kStopPatience);
    notify(kSystemObject, kDevicesAddress);
    return true;
}

bool VirtualBackend::changeDevice(const std::string& uid, const DeviceSpec& spec) {
    Events events;
    {
        std::lock_guard lock(mutex_);
        auto* device = find(uid);
        if (!device)
            return false;
        const bool renamed = device->name != spec.name;
        const bool inputsChanged = device->inputs != spec.inputs;
        const bool outputsChanged = device->outputs != spec.outputs;
        device->name = spec.name;
        device->inputs = spec.inputs;
        device->outputs = spec.outputs;
        fitStreams(*device);
        device->fitSignals();
        if (inputsChanged)
            events.emplace_back(device->id, Address{Selector::StreamConfiguration, Scope::Input});
        if (outputsChanged)
            events.emplace_back(device->id, Address{Selector::StreamConfiguration, Scope::Output});
        if ((inputsChanged || outputsChanged) && device->session)
            events.emplace_back(device->id, Address{Selector::ConfigurationChange});
        if (renamed || inputsChanged || outputsChanged)
            events.emplace_back(kSystemObject, kDevicesAddress);
    }
    announce(events);
    return true;
}

std::optional<ObjectId> VirtualBackend::deviceId(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    const auto* device = find(uid);
    return device ? std::optional(device->id) : std::nullopt;
}

void VirtualBackend::failDeviceList(bool fail) {
    {
        std::lock_guard lock(mutex_);
        if (listFails_ == fail)
            return;
        listFails_ = fail;
    }
    notify(kSystemObject, kDevicesAddress);
}

// --- Faults ------------------------------------------------------------------

bool VirtualBackend::refuseSampleRate(const std::string& uid, double rate, bool refuse) {
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device)
        return false;
    auto& refused = device->refusedRates;
    std::erase(refused, rate);
    if (refuse)
        refused.push_back(rate);
    return true;
}

bool VirtualBackend::setReportedSampleRate(const std::string& uid, std::optional<double> rate) {
    ObjectId id = kNoObject;
    {
        std::lock_guard lock(mutex_);
        auto* device = find(uid);
        if (!device)
            return false;
        if (device->reportedRate == rate)
            return true;
        device->reportedRate = rate;
        id = device->id;
    }
    notify(id, Address{Selector::NominalSampleRate});
    return true;
}

bool VirtualBackend::failPropertyRead(const std::string& uid, Selector selector, Scope scope, bool fail) {
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device)
        return false;
    auto& failed = device->failedReads;
    std::erase(failed, std::pair{selector, scope});
    if (fail)
        failed.emplace_back(selector, scope);
    return true;
}

bool VirtualBackend::setLatency(const std::string& uid, Scope scope, std::optional<std::uint32_t> deviceFrames,
                                std::optional<std::uint32_t> safetyOffset,
                                std::optional<std::uint32_t> streamLatency) {
    if (!isDirection(scope))
        return false;
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device)
        return false;
    device->latency(scope) = virt::DirectionLatency{deviceFrames, safetyOffset, streamLatency};
    return true;
}

bool VirtualBackend::forceOverload(const std::string& uid) {
    ObjectId id = kNoObject;
    {
        std::lock_guard lock(mutex_);
        auto* device = find(uid);
        if (!device)
            return false;
        device->counters->overloads.fetch_add(1);
        id = device->id;
    }
    notify(id, Address{Selector::Overload});
    return true;
}

bool VirtualBackend::forceReconfiguration(const std::string& uid) {
    const auto id = deviceId(uid);
    if (!id)
        return false;
    notify(*id, Address{Selector::ConfigurationChange});
    return true;
}

// --- I/O ---------------------------------------------------------------------

bool VirtualBackend::setClockMode(const std::string& uid, ClockMode mode) {
    std::shared_ptr<virt::IoSession> session;
    {
        std::lock_guard lock(mutex_);
        auto* device = find(uid);
        if (!device)
            return false;
        device->clockMode = mode;
        session = device->session;
    }
    if (session)
        session->setPaced(mode == ClockMode::Paced);
    return true;
}

bool VirtualBackend::runPeriods(const std::string& uid, std::uint64_t periods) {
    std::shared_ptr<virt::IoSession> session;
    {
        std::lock_guard lock(mutex_);
        if (auto* device = find(uid))
            session = device->session;
    }
    return session && session->runManual(periods);
}

std::uint64_t VirtualBackend::framesProcessed(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    const auto* device = find(uid);
    return device ? device->counters->framesProcessed.load() : 0;
}

std::uint64_t VirtualBackend::overloadCount(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    const auto* device = find(uid);
    return device ? device->counters->overloads.load() : 0;
}

bool VirtualBackend::setInputSignal(const std::string& uid, std::uint32_t channel, const Signal& signal,
                                    std::string* error) {
    // Decoded before taking the lock: reading a file may take a while.
    std::string reason;
    auto source = virt::SignalSource::make(signal, channel, reason);
    if (!source) {
        if (error)
            *error = reason;
        return false;
    }
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device || channel >= device->inputs) {
        if (error)
            *error = device ? "The device has no input channel " + std::to_string(channel) + "."
                            : "No virtual device " + uid + ".";
        return false;
    }
    device->inputSignals[channel] = source;
    if (device->session)
        device->session->setSignal(channel, std::move(source));
    return true;
}

bool VirtualBackend::setLoopback(const std::string& uid, std::optional<std::uint32_t> delayFrames) {
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device)
        return false;
    device->loopbackDelay = delayFrames;
    if (auto& session = device->session) {
        std::shared_ptr<virt::LoopbackRing> ring;
        if (delayFrames)
            ring = std::make_shared<virt::LoopbackRing>(session->outputs(), session->periodFrames(), *delayFrames);
        session->setLoopback(std::move(ring));
    }
    return true;
}

bool VirtualBackend::startRecording(const std::string& uid, std::uint64_t maxFrames) {
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device)
        return false;
    const auto& session = device->session;
    device->recording = std::make_shared<virt::SignalRecording>(session ? session->inputs() : device->inputs,
                                                                session ? session->outputs() : device->outputs,
                                                                maxFrames);
    device->recordingActive = true;
    if (session)
        session->setRecording(device->recording);
    return true;
}

void VirtualBackend::stopRecording(const std::string& uid) {
    std::lock_guard lock(mutex_);
    auto* device = find(uid);
    if (!device)
        return;
    device->recordingActive = false;
    if (device->session)
        device->session->setRecording(nullptr);
}

std::shared_ptr<virt::SignalRecording> VirtualBackend::recordingOf(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    const auto* device = find(uid);
    return device ? device->recording : nullptr;
}

std::vector<float> VirtualBackend::recordedInput(const std::string& uid, std::uint32_t channel) const {
    auto recording = recordingOf(uid);
    return recording ? recording->input(channel) : std::vector<float>{};
}

std::vector<float> VirtualBackend::recordedOutput(const std::string& uid, std::uint32_t channel) const {
    auto recording = recordingOf(uid);
    return recording ? recording->output(channel) : std::vector<float>{};
}

} // namespace corvane::hw
