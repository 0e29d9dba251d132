#include "platform/hardware/alsa/AlsaBackend.h"

#include "platform/hardware/FrameCount.h"
#include "platform/hardware/alsa/LibMessages.h"
#include "platform/system/KeepForever.h"
#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <sstream>

namespace corvane::hw {

namespace {

constexpr std::chrono::milliseconds kStopPatience{2000};
constexpr double kPreferredRate = 48000.0;
constexpr std::uint32_t kPreferredPeriod = 256;

bool isJackServer(const alsa::PcmHolder& holder) {
    return holder.program == "jackd" || holder.program == "jackdbus";
}

StreamConfiguration channelsOf(std::uint32_t count) {
    StreamConfiguration configuration;
    if (count > 0)
        configuration.bufferChannels.push_back(count);
    return configuration;
}

} // namespace

AlsaBackend::AlsaBackend() : AlsaBackend(Options{}) {}

AlsaBackend::AlsaBackend(Options options)
    : cards_(options.cards ? std::move(options.cards) : std::make_shared<alsa::SystemCardList>()),
      userPcms_(std::move(options.userPcms)), hotplug_(std::move(options.hotplug)) {
    alsa::quietAlsaLib();
    if (!hotplug_ && options.systemHotplug)
        hotplug_ = std::make_unique<alsa::UdevMonitor>();
    if (hotplug_) {
        std::shared_ptr<WakeupSignal> wake = wakeup_.source();
        hotplugRunning_ = hotplug_->start([wake] { wake->signal(); });
        if (!hotplugRunning_)
            qCInfo(lcAlsa, "no hot-plug events from udev: cards are looked for every few seconds instead");
    }
    rescan();
    if (options.rescanInterval.count() > 0) {
        rescanTimer_.setInterval(options.rescanInterval);
        QObject::connect(&rescanTimer_, &QTimer::timeout, [this] { rescan(); });
        rescanTimer_.start();
    }
}

AlsaBackend::~AlsaBackend() {
    hotplug_.reset();
    rescanTimer_.stop();
    alive_.reset();
    stopAllIo(kStopPatience);
}

std::vector<std::string> AlsaBackend::splitPcmNames(const std::string& list) {
    std::vector<std::string> names;
    std::istringstream in(list);
    std::string name;
    while (std::getline(in, name, ',')) {
        const auto first = name.find_first_not_of(" \t");
        const auto last = name.find_last_not_of(" \t");
        if (first != std::string::npos)
            names.push_back(name.substr(first, last - first + 1));
    }
    return names;
}

void AlsaBackend::adoptCapabilities(Device& device, const alsa::PcmCapabilities& caps) {
    device.caps = caps;
    device.holder.reset();
    const auto& rates = caps.rates;
    if (std::find(rates.begin(), rates.end(), device.rate) == rates.end())
        device.rate = std::find(rates.begin(), rates.end(), kPreferredRate) != rates.end() || rates.empty()
                          ? kPreferredRate
                          : rates.front();
    device.periodFrames = std::clamp(device.periodFrames, caps.minPeriod, caps.maxPeriod);
}

void AlsaBackend::rescan() {
    struct Wanted {
        std::string uid, name, pcmName;
        bool capture = true, playback = true;
        std::optional<alsa::PcmHolder> holder;
    };
    std::vector<Wanted> wanted;
    const int self = getpid();
    for (const auto& card : cards_->cards()) {
        for (const auto& pcm : card.devices) {
            Wanted w;
            w.uid = "alsa:" + card.id + "," + std::to_string(pcm.device);
            w.name = card.devices.size() > 1 && !pcm.name.empty() ? card.name + " - " + pcm.name : card.name;
            w.pcmName = cards_->pcmName(card, pcm.device);
            w.capture = pcm.capture;
            w.playback = pcm.playback;
            if (pcm.holder && pcm.holder->pid != self)
                w.holder = pcm.holder;
            if (w.holder && isJackServer(*w.holder))
                continue;
            wanted.push_back(std::move(w));
        }
    }
    for (const auto& name : userPcms_)
        wanted.push_back(Wanted{"alsa-pcm:" + name, name, name, true, true, std::nullopt});

    // What is already known keeps its id, settings and capabilities; what is
    // new is opened once to learn what it accepts (outside the lock: a
    // plug-in PCM may take a moment).
    std::vector<Device> known;
    {
        std::lock_guard lock(mutex_);
        known = devices_;
    }
    std::erase_if(lost_, [&](const std::string& uid) {
        return std::none_of(wanted.begin(), wanted.end(), [&](const Wanted& w) { return w.uid == uid; });
    });
    std::vector<Device> next;
    for (auto& w : wanted) {
        const bool userPcm = w.uid.rfind("alsa-pcm:", 0) == 0;
        if (lost_.count(w.uid)) {
            // A named PCM that failed stays out while it still opens (whatever
            // broke may break again) and comes back after it has not opened once:
            // a JACK server behind a `jack` PCM that was restarted, say.
            if (userPcm && !alsa::probePcm(w.pcmName, true, true).capabilities)
                lost_.erase(w.uid);
            continue;
        }
        auto old = std::find_if(known.begin(), known.end(), [&](const Device& d) { return d.uid == w.uid; });
        Device device;
        if (old != known.end()) {
            device = *old;
        } else {
            device.uid = w.uid;
            device.pcmName = w.pcmName;
            device.wantsCapture = w.capture;
            device.wantsPlayback = w.playback;
            device.periodFrames = kPreferredPeriod;
        }
        device.name = w.name;
        if (!device.session) {
            device.holder = w.holder;
            if (!device.caps && !w.holder) {
                const auto probe = alsa::probePcm(device.pcmName, w.capture, w.playback);
                if (probe.capabilities) {
                    adoptCapabilities(device, *probe.capabilities);
                } else if (userPcm) {
                    if (reportedMissing_.insert(w.pcmName).second)
                        qCWarning(lcAlsa, "ALSA PCM \"%s\" could not be opened (%s) - skipped", w.pcmName.c_str(),
                                  snd_strerror(probe.error));
                    continue;
                } else if (probe.error == -EBUSY) {
                    device.holder = alsa::PcmHolder{};
                }
            }
        }
        if (userPcm)
            reportedMissing_.erase(w.pcmName);
        next.push_back(std::move(device));
    }

    std::vector<std::shared_ptr<alsa::IoSession>> orphans;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        for (auto& device : next)
            if (device.id == kNoObject)
                device.id = nextId_++;
        // Sessions live in devices_ and may have started since the copy.
        for (auto& device : devices_) {
            auto kept = std::find_if(next.begin(), next.end(), [&](const Device& d) { return d.id == device.id; });
            if (kept != next.end()) {
                kept->session = device.session;
                kept->periodFrames = device.periodFrames;
                kept->rate = device.rate;
                kept->periods = device.periods;
            } else if (device.session) {
                orphans.push_back(std::move(device.session));
            }
        }
        const auto same = [](const Device& a, const Device& b) {
            return a.id == b.id && a.name == b.name && (a.caps.has_value() == b.caps.has_value()) &&
                   (!a.caps || (a.caps->inputs == b.caps->inputs && a.caps->outputs == b.caps->outputs));
        };
        changed = next.size() != devices_.size() || !std::equal(next.begin(), next.end(), devices_.begin(), same);
        devices_ = std::move(next);
    }
    for (auto& session : orphans)
        stopOrKeepForever(std::move(session), kStopPatience);
    if (changed)
        notify(kSystemObject, Address{Selector::Devices});
}

void AlsaBackend::onHotplug() {
    // A card that failed may be back: give every device a fresh look.
    lost_.clear();
    rescan();
}

void AlsaBackend::onLost(ObjectId id, std::shared_ptr<alsa::IoSession> session) {
    std::string uid, name;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.id == id; });
        if (it == devices_.end() || it->session != session)
            return; // stopped or gone already
        uid = it->uid;
        name = it->name;
        devices_.erase(it);
    }
    qCWarning(lcAlsa, "\"%s\" stopped working while running - taken off the device list", name.c_str());
    lost_.insert(uid);
    stopOrKeepForever(std::move(session), kStopPatience);
    notify(kSystemObject, Address{Selector::Devices});
}

bool AlsaBackend::owns(ObjectId object) const { return object >= kFirstId && object < kIdRangeEnd; }

std::uint64_t AlsaBackend::xrunCount(ObjectId id) const {
    std::lock_guard lock(mutex_);
    const Device* device = find(id);
    return device && device->session ? device->session->xruns() : 0;
}

std::optional<PropertyValue> AlsaBackend::get(ObjectId object, Address address) const {
    std::lock_guard lock(mutex_);
    const Device* device = find(object);
    if (!device)
        return std::nullopt;
    const bool input = address.scope == Scope::Input;
    const bool output = address.scope == Scope::Output;
    switch (address.selector) {
    case Selector::Name:
        return device->holder && !device->holder->program.empty()
                   ? device->name + " (in use by " + device->holder->program + ")"
                   : device->name;
    case Selector::Uid:
        return device->uid;
    case Selector::StreamConfiguration:
        if (!input && !output)
            return std::nullopt;
        return channelsOf(device->caps ? (input ? device->caps->inputs : device->caps->outputs) : 0);
    case Selector::Latency:
        if (input)
            return 0u;
        if (output)
            return (device->periods - 1) * device->periodFrames;
        return std::nullopt;
    case Selector::SafetyOffset:
        // The driver's delay beyond the buffer, known once I/O runs.
        if (input || output)
            return device->session ? device->session->driverDelay(input) : 0u;
        return std::nullopt;
    case Selector::NominalSampleRate:
        return device->rate;
    case Selector::BufferFrameSize:
        return device->periodFrames;
    case Selector::BufferFrameSizeRange:
        if (!device->caps)
            return std::nullopt;
        if (device->caps->periodSizes.empty())
            return std::vector<ValueRange>{
                ValueRange{double(device->caps->minPeriod), double(device->caps->maxPeriod)}};
        else {
            std::vector<ValueRange> sizes;
            for (std::uint32_t size : device->caps->periodSizes)
                sizes.push_back(ValueRange{double(size), double(size)});
            return sizes;
        }
    default:
        return std::nullopt;
    }
}

bool AlsaBackend::set(ObjectId object, Address address, const PropertyValue& value) {
    bool changed = false;
    bool running = false;
    {
        std::unique_lock lock(mutex_);
        Device* device = find(object);
        if (!device || !device->caps || address.scope != Scope::Global)
            return false;
        running = device->session != nullptr;
        // A size between the device's steps becomes the nearest it takes, so
        // that what is read back is what will run. Asked with the lock let go:
        // opening a plug-in PCM may take a moment. Running, the device is ours
        // and cannot be asked; the start of I/O settles it then.
        if (address.selector == Selector::BufferFrameSize && !running) {
            const auto frames = framesFrom(value);
            if (!frames || *frames < device->caps->minPeriod || *frames > device->caps->maxPeriod)
                return false;
            const std::string pcmName = device->pcmName;
            const bool capture = device->caps->inputs > 0, playback = device->caps->outputs > 0;
            const double rate = device->rate;
            lock.unlock();
            const auto nearest = alsa::nearestPeriod(pcmName, capture, playback, rate, *frames);
            lock.lock();
            device = find(object);
            if (!device || !device->caps)
                return false;
            const std::uint32_t taken =
                std::clamp(nearest.value_or(*frames), device->caps->minPeriod, device->caps->maxPeriod);
            changed = device->periodFrames != taken;
            device->periodFrames = taken;
            lock.unlock();
            if (changed)
                notify(object, Address{address.selector});
            return true;
        }
        if (address.selector == Selector::NominalSampleRate) {
            const auto* rate = std::get_if<double>(&value);
            const auto& rates = device->caps->rates;
            if (!rate || std::find(rates.begin(), rates.end(), *rate) == rates.end())
                return false;
            changed = device->rate != *rate;
            device->rate = *rate;
        } else if (address.selector == Selector::BufferFrameSize) {
            const auto frames = framesFrom(value);
            if (!frames || *frames < device->caps->minPeriod || *frames > device->caps->maxPeriod)
                return false;
            changed = device->periodFrames != *frames;
            device->periodFrames = *frames;
        } else {
            return false;
        }
    }
    if (changed) {
        notify(object, Address{address.selector});
        if (running)
            notify(object, Address{Selector::ConfigurationChange});
    }
    return true;
}

std::string AlsaBackend::busyMessage(const Device& device) const {
    std::optional<alsa::PcmHolder> holder = device.holder;
    if (!holder || holder->pid == 0) {
        // Only cards tell who holds them.
        int card = -1, pcm = -1;
        for (const auto& info : cards_->cards())
            for (const auto& d : info.devices)
                if (device.uid == "alsa:" + info.id + "," + std::to_string(d.device)) {
                    card = info.index;
                    pcm = d.device;
                }
        if (card >= 0) {
            holder = alsa::pcmHolder(card, pcm, 'p');
            if (!holder)
                holder = alsa::pcmHolder(card, pcm, 'c');
        }
    }
    if (holder && holder->pid > 0)
        return "“" + device.name + "” is in use by another program (" +
               (holder->program.empty() ? "process" : holder->program + ", process") + " " +
               std::to_string(holder->pid) + ").";
    return "“" + device.name + "” is in use by another program.";
}

bool AlsaBackend::startIo(ObjectId id, IoCallback& callback, std::string& error) {
    alsa::SequencerInput::Feed control = controlFeed();
    std::unique_lock lock(mutex_);
    Device* device = idleDevice(id, error);
    if (!device)
        return false;
    if (!device->caps) {
        const auto probe = alsa::probePcm(device->pcmName, device->wantsCapture, device->wantsPlayback);
        if (!probe.capabilities) {
            // A card someone was seen holding is busy, whatever the open said.
            error = probe.error == -EBUSY || device->holder ? busyMessage(*device)
                                          : "“" + device->name + "” could not be opened: " + snd_strerror(probe.error) + ".";
            return false;
        }
        adoptCapabilities(*device, *probe.capabilities);
    }
    alsa::IoSession::Setup setup;
    setup.pcmName = device->pcmName;
    setup.inputs = device->caps->inputs;
    setup.outputs = device->caps->outputs;
    setup.sampleRate = device->rate;
    setup.periodFrames = device->periodFrames;
    setup.callback = &callback;
    setup.controlRing = std::move(control.ring);
    setup.control = control.input;
    setup.announceOverload = [this, id] { notify(id, Address{Selector::Overload}); };
    setup.announceDelay = [this, id] { notify(id, Address{Selector::Latency}); };
    // The session is not known yet; the lost handler finds it by device.
    auto sessionSlot = std::make_shared<std::weak_ptr<alsa::IoSession>>();
    std::weak_ptr<int> alive = alive_;
    setup.announceLost = [this, id, alive, sessionSlot] {
        postToMain([this, id, alive, sessionSlot] {
            if (alive.lock())
                if (auto session = sessionSlot->lock())
                    onLost(id, session);
        });
    };
    int code = 0;
    std::unique_ptr<alsa::IoSession> opened = alsa::IoSession::open(std::move(setup), error, code);
    if (!opened) {
        if (code == -EBUSY)
            error = busyMessage(*device);
        return false;
    }
    std::shared_ptr<alsa::IoSession> session(std::move(opened));
    *sessionSlot = session;
    bool realtime = false;
    if (!session->start(error, realtime))
        return false;
    static std::atomic<bool> warnedPriority{false};
    if (!realtime && !warnedPriority.exchange(true))
        qCWarning(lcAlsa, "the audio thread runs without real-time priority (SCHED_FIFO was refused): expect "
                          "dropouts under load; membership of the audio group with rtprio and memlock limits "
                          "allows it");
    const auto& actual = session->actual();
    qCInfo(lcAlsa, "\"%s\" running: %u frames x %u periods at %.0f Hz, capture %s%s, playback %s%s%s",
           device->pcmName.c_str(), actual.periodFrames, actual.periods, device->rate,
           device->caps->inputs ? alsa::formatName(actual.captureFormat) : "-",
           device->caps->inputs ? (actual.captureMmap ? " mmap" : " rw") : "",
           device->caps->outputs ? alsa::formatName(actual.playbackFormat) : "-",
           device->caps->outputs ? (actual.playbackMmap ? " mmap" : " rw") : "", actual.linked ? ", linked" : "");
    const bool periodChanged = device->periodFrames != actual.periodFrames;
    const bool latencyChanged = periodChanged || device->periods != actual.periods;
    device->periodFrames = actual.periodFrames;
    device->periods = actual.periods;
    device->session = std::move(session);
    lock.unlock();
    // The nearest size the device accepts, read back by whoever asked for another.
    if (periodChanged)
        notify(id, Address{Selector::BufferFrameSize});
    if (latencyChanged)
        notify(id, Address{Selector::Latency});
    return true;
}

} // namespace corvane::hw
