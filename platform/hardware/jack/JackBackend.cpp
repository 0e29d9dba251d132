#include "platform/hardware/jack/JackBackend.h"

#include "platform/hardware/FrameCount.h"
#include "platform/hardware/jack/CancellationShield.h"

#include "platform/hardware/jack/JackConnector.h"
#include "platform/hardware/jack/LibjackMessages.h"
#include "platform/system/KeepForever.h"
#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <mutex>
#include <string_view>

namespace corvane::hw {

namespace {

// How long stopping waits for a period in progress to end.
constexpr std::chrono::milliseconds kStopPatience{2000};

// How often, and for how long after a new period size, port latencies are read again.
constexpr std::chrono::milliseconds kLatencyWatchInterval{100};
constexpr int kLatencyWatchTicks = 30;

// libjack talks to the server over a socket with plain write(): a server that
// dies between two requests would end this process with SIGPIPE. A JACK client
// has to take that signal away; the failed write then returns an error, which
// libjack reports, and the server's loss is handled as such.
void surviveServerLoss() {
    static const bool ignored = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    (void)ignored;
}

std::vector<ValueRange> supportedBufferSizes() {
    // jackd2 takes any size up to 8192, PipeWire wants powers of two: offer the
    // sizes both accept.
    std::vector<ValueRange> sizes;
    for (double frames = 16; frames <= JackBackend::kMaxPeriodFrames; frames *= 2)
        sizes.push_back(ValueRange{frames, frames});
    return sizes;
}

StreamConfiguration channelsOf(std::size_t count) {
    StreamConfiguration configuration;
    if (count > 0)
        configuration.bufferChannels.push_back(static_cast<std::uint32_t>(count));
    return configuration;
}

} // namespace

JackBackend::JackBackend() : JackBackend(Options{}) {}

JackBackend::JackBackend(Options options) : options_(std::move(options)) {
    surviveServerLoss();
    routeLibjackMessages();
    relay_->wakeup = wakeup_.source();
    latencyWatch_.setInterval(kLatencyWatchInterval);
    QObject::connect(&latencyWatch_, &QTimer::timeout, [this] {
        if (++latencyWatchTicks_ >= kLatencyWatchTicks)
            latencyWatch_.stop();
        rescan();
    });
    connector_ = std::make_unique<JackConnector>(
        JackConnector::Settings{options_.clientName, options_.serverName, options_.retryInterval},
        [this](jack_client_t* client) { return configure(client); },
        [this] {
            // No server: the list (none of ours) is whole, which those who wait for it are told.
            if (!settled_.exchange(true))
                relay_->raise(Settled);
        });
}

JackBackend::~JackBackend() {
    std::unique_ptr<JackIoSession> session;
    jack_client_t* client = nullptr;
    {
        std::lock_guard lock(mutex_);
        session = std::move(session_);
        client = std::exchange(client_, nullptr);
    }
    if (session) {
        if (retract(session, kStopPatience)) {
            session->close();
        } else {
            connector_->forget(client);
            relayLeftBehind_ = true;
        }
    }
    // Closes the client; JACK calls none of our callbacks after this, but for
    // those of a client left behind, which still reach the relay.
    connector_.reset();
    alive_.reset();
    if (relayLeftBehind_)
        keepForever(relay_);
}

bool JackBackend::retract(std::unique_ptr<JackIoSession>& session, std::chrono::milliseconds patience) {
    relay_->ioRunning.store(false);
    if (slot_->retract(patience))
        return true;
    // The process thread hangs inside: it keeps the session and the slot.
    keepForever(std::shared_ptr<JackIoSession>(std::move(session)));
    keepForever(std::shared_ptr<JackProcessSlot>(std::move(slot_)));
    slot_ = std::make_unique<JackProcessSlot>();
    return false;
}

bool JackBackend::configure(jack_client_t* client) {
    // Registration callbacks only arrive for an activated client, so the
    // client stays active throughout; its process callback idles without I/O.
    jack_set_process_callback(client, &JackProcessSlot::process, slot_.get());
    Relay* relay = relay_.get();
    jack_set_client_registration_callback(client, &JackBackend::onClientRegistration, relay);
    jack_set_port_registration_callback(client, &JackBackend::onPortRegistration, relay);
    jack_set_buffer_size_callback(client, &JackBackend::onBufferSize, relay);
    jack_set_sample_rate_callback(client, &JackBackend::onSampleRate, relay);
    jack_set_xrun_callback(client, &JackBackend::onXrun, relay);
    // jackd2 calls the info variant when both are set; PipeWire calls only the plain one.
    jack_on_shutdown(client, &JackBackend::onShutdown, relay);
    jack_on_info_shutdown(client, &JackBackend::onInfoShutdown, relay);
    if (jack_activate(client) != 0)
        return false;
    std::weak_ptr<int> alive = alive_;
    postToMain([alive, this, client] {
        if (alive.lock())
            adopt(client);
    });
    return true;
}

void JackBackend::Relay::raise(Event event) noexcept {
    // One wake-up covers a burst (a card's worth of port registrations).
    if ((pending.fetch_or(event) & event) == 0)
        wakeup->signal();
}

// The callbacks below run on libjack's threads; see CancellationShield.h.

void JackBackend::onClientRegistration(const char*, int, void* relay) {
    shieldedFromCancellation([relay] { static_cast<Relay*>(relay)->raise(Graph); });
}

void JackBackend::onPortRegistration(jack_port_id_t, int, void* relay) {
    shieldedFromCancellation([relay] { static_cast<Relay*>(relay)->raise(Graph); });
}

int JackBackend::onBufferSize(jack_nframes_t, void* relay) {
    shieldedFromCancellation([relay] { static_cast<Relay*>(relay)->raise(BufferSize); });
    return 0;
}

int JackBackend::onSampleRate(jack_nframes_t, void* relay) {
    shieldedFromCancellation([relay] { static_cast<Relay*>(relay)->raise(SampleRate); });
    return 0;
}

int JackBackend::onXrun(void* relay) {
    shieldedFromCancellation([r = static_cast<Relay*>(relay)] {
        if (r->ioRunning.load()) {
            r->xruns.fetch_add(1);
            r->raise(Xrun);
        }
    });
    return 0;
}

void JackBackend::onShutdown(void* relay) {
    shieldedFromCancellation([relay] { static_cast<Relay*>(relay)->raise(Shutdown); });
}

void JackBackend::onInfoShutdown(jack_status_t, const char*, void* relay) {
    shieldedFromCancellation([relay] { static_cast<Relay*>(relay)->raise(Shutdown); });
}

void JackBackend::adopt(jack_client_t* client) {
    {
        std::lock_guard lock(mutex_);
        client_ = client;
        knownSampleRate_ = jack_get_sample_rate(client);
        qCInfo(lcJack, "connected to the JACK server as \"%s\"", jack_get_client_name(client));
    }
    rescan();
    // Told even when the server has no devices of ours: the list is whole now.
    if (!settled_.exchange(true))
        notify(kSystemObject, Address{Selector::Devices});
}

void JackBackend::handleEvents() {
    const unsigned events = relay_->pending.exchange(0);
    if (events & Settled)
        notify(kSystemObject, Address{Selector::Devices});
    if (events & Shutdown) {
        lose();
        return;
    }
    if (events & BufferSize) {
        // jackd2 recomputes port latencies for a new period size only when the
        // graph next changes; ask for it now, so our ports pass on the new ones.
        std::lock_guard lock(mutex_);
        if (client_)
            jack_recompute_total_latencies(client_);
    }
    if (events & (Graph | BufferSize))
        rescan(); // port latencies follow the period size
    if (events & BufferSize) {
        latencyWatchTicks_ = 0;
        latencyWatch_.start();
    }
    if (events & BufferSize) {
        std::vector<ObjectId> ids = deviceIds();
        for (ObjectId id : ids)
            notify(id, Address{Selector::BufferFrameSize});
    }
    if (events & SampleRate)
        checkSampleRate();
    if (events & Xrun) {
        ObjectId device = kNoObject;
        {
            std::lock_guard lock(mutex_);
            if (session_)
                device = session_->device();
        }
        const std::uint64_t total = relay_->xruns.load();
        const std::uint64_t fresh = total - std::exchange(xrunsReported_, total);
        for (std::uint64_t i = 0; device != kNoObject && i < fresh; ++i)
            notify(device, Address{Selector::Overload});
    }
}

void JackBackend::rescan() {
    bool listChanged = false;
    std::vector<ObjectId> latencyChanged;
    {
        std::lock_guard lock(mutex_);
        if (!client_)
            return;
        std::vector<Device> next;
        for (auto& info : scanJackDevices(client_)) {
            auto old = std::find_if(devices_.begin(), devices_.end(),
                                    [&](const Device& d) { return d.info.clientName == info.clientName; });
            const ObjectId id = old != devices_.end() ? old->id : nextId_++;
            if (old != devices_.end() && (old->info.captureLatency != info.captureLatency ||
                                          old->info.playbackLatency != info.playbackLatency))
                latencyChanged.push_back(id);
            next.push_back(Device{id, std::move(info)});
        }
        scannedBufferSize_ = jack_get_buffer_size(client_);
        // Latencies alone do not make another device list.
        auto sameDevice = [](const Device& a, const Device& b) {
            return a.id == b.id && a.info.clientName == b.info.clientName &&
                   a.info.capturePorts == b.info.capturePorts && a.info.playbackPorts == b.info.playbackPorts;
        };
        listChanged = next.size() != devices_.size() || !std::equal(next.begin(), next.end(), devices_.begin(), sameDevice);
        devices_ = std::move(next);
    }
    if (listChanged)
        notify(kSystemObject, Address{Selector::Devices});
    for (ObjectId id : latencyChanged)
        notify(id, Address{Selector::Latency});
}

void JackBackend::checkSampleRate() {
    ObjectId device = kNoObject;
    {
        std::lock_guard lock(mutex_);
        if (!client_)
            return;
        const std::uint32_t rate = jack_get_sample_rate(client_);
        if (session_ && rate != knownSampleRate_)
            device = session_->device();
        knownSampleRate_ = rate;
    }
    if (device != kNoObject)
        notify(device, Address{Selector::ConfigurationChange});
}

void JackBackend::lose(bool hung) {
    jack_client_t* client = nullptr;
    bool hadDevices = false;
    std::unique_ptr<JackIoSession> session;
    {
        std::lock_guard lock(mutex_);
        if (!client_)
            return;
        client = std::exchange(client_, nullptr);
        session = std::move(session_);
        hadDevices = !devices_.empty();
        devices_.clear();
    }
    // The ports died with the server (or go with the client we give up); only
    // our side is left to drop.
    if (session) {
        if (retract(session, kStopPatience))
            session->abandon();
        else
            hung = true;
    }
    if (hung) {
        qCWarning(lcJack, "our audio callback stopped responding: leaving the JACK client behind");
        connector_->forget(client);
        relayLeftBehind_ = true;
    } else {
        qCInfo(lcJack, "the JACK server went away");
        connector_->discard(client);
    }
    if (hadDevices)
        notify(kSystemObject, Address{Selector::Devices});
}

const JackBackend::Device* JackBackend::findDevice(ObjectId id) const {
    for (auto& device : devices_)
        if (device.id == id)
            return &device;
    return nullptr;
}

std::vector<ObjectId> JackBackend::deviceIds() const {
    std::lock_guard lock(mutex_);
    std::vector<ObjectId> ids;
    for (auto& device : devices_)
        ids.push_back(device.id);
    return ids;
}

bool JackBackend::owns(ObjectId object) const { return object >= kFirstId && object < kIdRangeEnd; }

bool JackBackend::isConnected() const {
    std::lock_guard lock(mutex_);
    return client_ != nullptr;
}

std::vector<std::string> JackBackend::midiSources() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> sources;
    if (!client_)
        return sources;
    const std::string own = std::string(jack_get_client_name(client_)) + ':';
    if (const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
        for (const char** name = names; *name; ++name)
            if (std::string_view(*name).substr(0, own.size()) != own)
                sources.emplace_back(*name);
        jack_free(names);
    }
    return sources;
}

void JackBackend::setControlSource(std::string source) {
    std::lock_guard lock(mutex_);
    if (source == controlChoice_)
        return;
    if (!controlChoice_.empty()) {
        // Kept from the last stop, it would come back at the next start.
        std::erase(controlSources_, controlChoice_);
        if (session_)
            session_->disconnectControl(controlChoice_);
    }
    controlChoice_ = std::move(source);
    if (session_ && !controlChoice_.empty())
        session_->connectControl({controlChoice_});
}

std::string JackBackend::clientName() const {
    std::lock_guard lock(mutex_);
    return client_ ? std::string(jack_get_client_name(client_)) : std::string();
}

std::optional<PropertyValue> JackBackend::get(ObjectId object, Address address) const {
    std::lock_guard lock(mutex_);
    const Device* device = findDevice(object);
    if (!device || !client_)
        return std::nullopt;
    const auto& info = device->info;
    const bool input = address.scope == Scope::Input;
    const bool output = address.scope == Scope::Output;
    switch (address.selector) {
    case Selector::Name:
        return info.clientName + " (JACK)";
    case Selector::Uid:
        return "jack:" + info.clientName;
    case Selector::StreamConfiguration:
        if (input || output)
            return channelsOf(input ? info.capturePorts.size() : info.playbackPorts.size());
        return std::nullopt;
    case Selector::Latency: {
        if (!input && !output)
            return std::nullopt;
        const std::uint32_t ports = input ? info.captureLatency : info.playbackLatency;
        return ports > scannedBufferSize_ ? ports - scannedBufferSize_ : 0u;
    }
    case Selector::NominalSampleRate:
        return static_cast<double>(jack_get_sample_rate(client_));
    case Selector::BufferFrameSize:
        return static_cast<std::uint32_t>(jack_get_buffer_size(client_));
    case Selector::BufferFrameSizeRange:
        return supportedBufferSizes();
    default:
        return std::nullopt;
    }
}

bool JackBackend::set(ObjectId object, Address address, const PropertyValue& value) {
    std::lock_guard lock(mutex_);
    if (!findDevice(object) || !client_)
        return false;
    switch (address.selector) {
    case Selector::NominalSampleRate: {
        // The server owns the rate; a request can only agree with it.
        auto* rate = std::get_if<double>(&value);
        return rate && std::fabs(*rate - static_cast<double>(jack_get_sample_rate(client_))) < 0.5;
    }
    case Selector::BufferFrameSize: {
        // The server may apply it later (PipeWire does); the buffer-size
        // callback tells when.
        auto frames = framesFrom(value);
        if (!frames || *frames == 0 || *frames > kMaxPeriodFrames)
            return false;
        return jack_set_buffer_size(client_, *frames) == 0;
    }
    default:
        return false;
    }
}

bool JackBackend::startIo(ObjectId device, IoCallback& callback, std::string& error) {
    std::lock_guard lock(mutex_);
    if (!client_) {
        error = "The JACK server is not running.";
        return false;
    }
    const Device* target = findDevice(device);
    if (!target) {
        error = "The device is no longer present.";
        return false;
    }
    if (session_) {
        error = session_->device() == device ? "Audio I/O is already running on this device."
                                             : "Audio I/O is already running on another JACK device.";
        return false;
    }
    auto session =
        JackIoSession::open(client_, device, target->info, callback, controlInput_, kMaxPeriodFrames, error);
    if (!session)
        return false;
    knownSampleRate_ = jack_get_sample_rate(client_);
    xrunsReported_ = relay_->xruns.load();
    slot_->publish(session.get());
    relay_->ioRunning.store(true);
    if (!session->connect(error)) {
        if (!retract(session, kStopPatience))
            error = "The audio callback stopped responding.";
        return false; // the session's destructor unregisters its ports
    }
    session->connectControl(controlSources_);
    if (!controlChoice_.empty())
        session->connectControl({controlChoice_});
    session_ = std::move(session);
    return true;
}

bool JackBackend::stopIo(ObjectId device, std::chrono::milliseconds patience) {
    std::unique_ptr<JackIoSession> session;
    {
        std::lock_guard lock(mutex_);
        if (!session_ || session_->device() != device)
            return true;
        session = std::move(session_);
    }
    // Outside the lock: a callback that hangs must not take every property
    // read of this backend down with it.
    if (!retract(session, patience)) {
        lose(true); // its process thread is ours no more, and so is the client
        return false;
    }
    auto sources = session->controlSources();
    session->close();
    std::lock_guard lock(mutex_);
    controlSources_ = std::move(sources);
    return true;
}

} // namespace corvane::hw
