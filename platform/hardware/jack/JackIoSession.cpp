// process() and JackProcessSlot::process run on JACK's real-time process
// thread: no allocation, no locks, no logging there.
#include "platform/hardware/jack/JackIoSession.h"

#include "platform/hardware/jack/CancellationShield.h"
#include "platform/system/RealtimeScope.h"

#include <jack/midiport.h>

#include <algorithm>
#include <thread>

namespace corvane::hw {

JackIoSession::JackIoSession(jack_client_t* client, ObjectId device, IoCallback& callback, ControlInput* control,
                             std::uint32_t maxFrames)
    : client_(client), device_(device), callback_(callback), control_(control),
      maxFrames_(std::max<std::uint32_t>(maxFrames, 1)) {}

std::unique_ptr<JackIoSession> JackIoSession::open(jack_client_t* client, ObjectId device, const JackDeviceInfo& info,
                                                   IoCallback& callback, ControlInput* control, std::uint32_t maxFrames,
                                                   std::string& error) {
    std::unique_ptr<JackIoSession> session(new JackIoSession(client, device, callback, control, maxFrames));
    session->captureSources_ = info.capturePorts;
    session->playbackTargets_ = info.playbackPorts;

    auto registerPorts = [&](std::size_t count, const char* prefix, unsigned long flags,
                             std::vector<jack_port_t*>& ports) {
        for (std::size_t k = 1; k <= count; ++k) {
            const std::string name = prefix + std::to_string(k);
            jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
            if (!port) {
                error = "Could not register the JACK port \"" + name + "\".";
                return false;
            }
            ports.push_back(port);
        }
        return true;
    };
    if (!registerPorts(info.capturePorts.size(), "in_", JackPortIsInput, session->inputs_) ||
        !registerPorts(info.playbackPorts.size(), "out_", JackPortIsOutput, session->outputs_)) {
        session->close();
        return nullptr;
    }
    if (control) {
        session->controlPort_ = jack_port_register(client, "control", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!session->controlPort_) {
            error = "Could not register the JACK MIDI port \"control\".";
            session->close();
            return nullptr;
        }
    }
    session->inputBuffers_.assign(session->inputs_.size(), nullptr);
    session->outputBuffers_.assign(session->outputs_.size(), nullptr);
    session->inputSlice_.assign(session->inputs_.size(), nullptr);
    session->outputSlice_.assign(session->outputs_.size(), nullptr);
    session->silentFrames_.assign(session->outputs_.size(), 0);
    return session;
}

JackIoSession::~JackIoSession() { close(); }

bool JackIoSession::connect(std::string& error) {
    for (std::size_t k = 0; k < inputs_.size(); ++k)
        if (jack_connect(client_, captureSources_[k].c_str(), jack_port_name(inputs_[k])) != 0) {
            error = "Could not connect \"" + captureSources_[k] + "\" to our input.";
            return false;
        }
    for (std::size_t k = 0; k < outputs_.size(); ++k)
        if (jack_connect(client_, jack_port_name(outputs_[k]), playbackTargets_[k].c_str()) != 0) {
            error = "Could not connect our output to \"" + playbackTargets_[k] + "\".";
            return false;
        }
    return true;
}

std::vector<std::string> JackIoSession::controlSources() const {
    std::vector<std::string> sources;
    if (!client_ || !controlPort_)
        return sources;
    if (const char** names = jack_port_get_all_connections(client_, controlPort_)) {
        for (const char** name = names; *name; ++name)
            sources.emplace_back(*name);
        jack_free(names);
    }
    return sources;
}

void JackIoSession::connectControl(const std::vector<std::string>& sources) {
    if (!controlPort_)
        return;
    for (const auto& source : sources)
        jack_connect(client_, source.c_str(), jack_port_name(controlPort_));
}

void JackIoSession::disconnectControl(const std::string& source) {
    if (controlPort_)
        jack_disconnect(client_, source.c_str(), jack_port_name(controlPort_));
}

void JackIoSession::close() {
    if (!client_)
        return;
    // Unregistering drops the port's connections as well; connections to a
    // physical port that vanished meanwhile simply no longer exist.
    for (auto* port : inputs_)
        jack_port_unregister(client_, port);
    for (auto* port : outputs_)
        jack_port_unregister(client_, port);
    if (controlPort_)
        jack_port_unregister(client_, controlPort_);
    controlPort_ = nullptr;
    inputs_.clear();
    outputs_.clear();
    client_ = nullptr;
}

CORVANE_REALTIME
void JackIoSession::process(jack_nframes_t frames) noexcept {
    // Before the audio: what the controls change is heard in this period.
    if (controlPort_) {
        void* midi = jack_port_get_buffer(controlPort_, frames);
        const std::uint32_t count = jack_midi_get_event_count(midi);
        for (std::uint32_t e = 0; e < count; ++e)
            if (jack_midi_event_t event; jack_midi_event_get(&event, midi, e) == 0)
                control_->receive(event.buffer, static_cast<std::uint32_t>(event.size));
    }
    const auto inputCount = static_cast<std::uint32_t>(inputs_.size());
    const auto outputCount = static_cast<std::uint32_t>(outputs_.size());
    // Only the ports the period uses are fetched: on a server with many
    // channels, fetching the rest would cost more than a small graph's audio.
    const ChannelUse* use = frames > 0 ? callback_.channelUse(frames) : nullptr;
    if (use && useKnown_ && use->changes == useChanges_ && frames == useFrames_) {
        // As the period before: the unused buffers are null and silenced already.
        for (std::uint32_t k = 0; k < use->usedInputCount; ++k)
            if (const std::uint32_t i = use->usedInputs[k]; i < inputCount)
                inputBuffers_[i] = static_cast<float*>(jack_port_get_buffer(inputs_[i], frames));
        for (std::uint32_t k = 0; k < use->usedOutputCount; ++k)
            if (const std::uint32_t o = use->usedOutputs[k]; o < outputCount)
                outputBuffers_[o] = static_cast<float*>(jack_port_get_buffer(outputs_[o], frames));
    } else {
        fetchAll(use, frames);
    }

    if (frames <= maxFrames_) {
        callback_.process(inputBuffers_.data(), inputCount, outputBuffers_.data(), outputCount, frames);
        return;
    }
    // The callback was promised periods no longer than the session's maximum;
    // a server that goes beyond it still gets every frame, in slices.
    for (jack_nframes_t offset = 0; offset < frames; offset += maxFrames_) {
        const std::uint32_t slice = std::min<std::uint32_t>(maxFrames_, frames - offset);
        for (std::uint32_t i = 0; i < inputCount; ++i)
            inputSlice_[i] = inputBuffers_[i] ? inputBuffers_[i] + offset : nullptr;
        for (std::uint32_t o = 0; o < outputCount; ++o)
            outputSlice_[o] = outputBuffers_[o] ? outputBuffers_[o] + offset : nullptr;
        callback_.process(inputSlice_.data(), inputCount, outputSlice_.data(), outputCount, slice);
    }
}

CORVANE_REALTIME
void JackIoSession::fetchAll(const ChannelUse* use, jack_nframes_t frames) noexcept {
    const auto inputCount = static_cast<std::uint32_t>(inputs_.size());
    const auto outputCount = static_cast<std::uint32_t>(outputs_.size());
    for (std::uint32_t i = 0; i < inputCount; ++i) {
        const bool used = !use || (i < use->inputCount && use->inputs[i]);
        inputBuffers_[i] = used ? static_cast<float*>(jack_port_get_buffer(inputs_[i], frames)) : nullptr;
    }
    for (std::uint32_t o = 0; o < outputCount; ++o) {
        if (!use || (o < use->outputCount && use->outputs[o])) {
            outputBuffers_[o] = static_cast<float*>(jack_port_get_buffer(outputs_[o], frames));
            silentFrames_[o] = 0;
            continue;
        }
        // The server plays what an output's buffer last held: an unused one is
        // silenced when it falls out of use, and again only for a longer period.
        outputBuffers_[o] = nullptr;
        if (silentFrames_[o] < frames) {
            auto* buffer = static_cast<float*>(jack_port_get_buffer(outputs_[o], frames));
            std::fill(buffer, buffer + frames, 0.0f);
            silentFrames_[o] = frames;
        }
    }
    // Remembered, so that the next period with the same use fetches just its lists.
    useKnown_ = use != nullptr;
    useFrames_ = frames;
    useChanges_ = use ? use->changes : 0;
}

bool JackProcessSlot::retract(std::chrono::milliseconds patience) {
    session_.store(nullptr);
    // Sequentially consistent on both sides: either process() saw the cleared
    // slot, or we see it inside and wait for the rest of one period, unless
    // the callback hangs.
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (inside_.load() != 0) {
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

CORVANE_REALTIME
int JackProcessSlot::process(jack_nframes_t frames, void* slot) {
    // Held off cancellation: a deactivation must not leave `inside_` raised.
    shieldedFromCancellation([frames, self = static_cast<JackProcessSlot*>(slot)] {
        RealtimeScope realtime;
        self->inside_.fetch_add(1);
        if (auto* session = self->session_.load())
            session->process(frames);
        self->inside_.fetch_sub(1);
    });
    return 0;
}

} // namespace corvane::hw
