#include "platform/lv2/IsolatedEffect.h"

#include "platform/lv2/HostMessages.h"
#include "platform/lv2/IsolatedRegion.h"
#include "platform/lv2/PeriodBoard.h"
#include "platform/system/Futex.h"
#include "platform/system/HostProcess.h"
#include "platform/system/Logging.h"
#include "platform/system/SharedMemory.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <utility>

namespace corvane::lv2 {

namespace {

timespec monotonicIn(std::chrono::milliseconds limit) {
    return monotonicAfter(std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count());
}

std::string seconds(std::chrono::milliseconds limit) {
    const auto whole = limit.count() / 1000;
    if (limit.count() % 1000 == 0)
        return std::to_string(whole) + (whole == 1 ? " second" : " seconds");
    char text[32];
    std::snprintf(text, sizeof text, "%.1f seconds", static_cast<double>(limit.count()) / 1000.0);
    return text;
}

std::vector<std::string> hostArguments(const IsolatedEffect::Options& options) {
    std::vector<std::string> arguments;
    if (options.realtimePriority > 0)
        arguments = {"--realtime-priority", std::to_string(options.realtimePriority)};
    if (options.addressSpaceLimit > 0)
        arguments.insert(arguments.end(), {"--address-space-limit", std::to_string(options.addressSpaceLimit)});
    return arguments;
}

} // namespace

std::string IsolatedEffect::programBesideUs() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path("corvane-plugin-host") : self.parent_path() / "corvane-plugin-host").string();
}

std::unique_ptr<IsolatedEffect> IsolatedEffect::instantiate(const std::string& uri, double sampleRate,
                                                            std::uint32_t maxBlockFrames,
                                                            std::uint32_t nominalBlockFrames, const Options& options,
                                                            std::string& error) {
    if (maxBlockFrames == 0 || maxBlockFrames > IsolatedRegion::kMaxFrames || !(sampleRate > 0.0)) {
        error = "the sample rate or block length is beyond what a plug-in host takes";
        return nullptr;
    }
    auto effect = std::unique_ptr<IsolatedEffect>(new IsolatedEffect);
    effect->options_ = options;
    effect->uri_ = uri;
    effect->sampleRate_ = sampleRate;
    effect->nominalFrames_ = nominalBlockFrames;
    effect->waitLimitNs_.store(static_cast<std::int64_t>(5e8 * maxBlockFrames / sampleRate));
    effect->memory_ = SharedMemory::create(IsolatedRegion::bytesFor(maxBlockFrames), error);
    if (!effect->memory_)
        return nullptr;
    effect->region_ = IsolatedRegion::create(effect->memory_->data(), maxBlockFrames);
    std::string noSeat;
    effect->seat_ = BoardSeat::take(noSeat);
    if (effect->seat_)
        effect->region_->boardBit = effect->seat_->bit();
    else // this strip's answers are waited for one by one
        qCWarning(lcEngine).noquote() << QString::fromStdString(uri) << "goes without the period board:"
                                      << QString::fromStdString(noSeat);
    effect->host_ = HostProcess::start(options.hostProgram, hostArguments(options), effect->memory_->fd(), error,
                                       effect->seat_ ? effect->seat_->fd() : -1);
    if (!effect->host_)
        return nullptr;
    effect->channel_ = std::make_unique<HostChannel>(effect->host_->channel());

    const LoadRequest load{uri, sampleRate, maxBlockFrames, nominalBlockFrames};
    Message message;
    LoadAnswer answer;
    if (!effect->request(static_cast<std::uint32_t>(HostMessage::Load), encode(load), message, options.loadLimit)) {
        effect->host_->waitForEnd(std::chrono::milliseconds(500));
        if (effect->killedForSilence_) {
            error = "the plug-in did not finish loading within " + seconds(options.loadLimit);
        } else {
            const std::string& ending = effect->host_->howItEnded();
            error = ending.rfind("SIG", 0) == 0 ? "the plug-in crashed while loading (" + ending + ")"
                    : ending.empty()           ? "the plug-in's host stopped answering while loading"
                                               : "the plug-in's host ended while loading (" + ending + ")";
        }
        qCWarning(lcEngine).noquote() << QString::fromStdString(uri) << "did not load:"
                                      << QString::fromStdString(error + "; its host: " + effect->faultReport());
        return nullptr;
    }
    if (!decode(message.payload, answer)) {
        error = "the plug-in's host answered what is no answer";
        return nullptr;
    }
    if (!answer.ok) {
        error = answer.error;
        return nullptr;
    }
    effect->name_ = answer.name;
    effect->audioInputs_ = answer.audioInputs;
    effect->audioOutputs_ = answer.audioOutputs;
    effect->hasEnablePort_ = answer.hasEnablePort;
    effect->parameters_ = std::move(answer.parameters);
    return effect;
}

IsolatedEffect::~IsolatedEffect() = default;

bool IsolatedEffect::request(std::uint32_t type, const MessageWriter& payload, Message& answer,
                             std::chrono::milliseconds limit, bool afterFault) {
    if (hasFailed() && !afterFault)
        return false;
    const timespec deadline = monotonicIn(limit);
    const std::uint32_t tag = nextTag();
    HostChannel::Result result = channel_->send(type, tag, payload, &deadline);
    while (result == HostChannel::Result::Done) {
        result = channel_->receive(answer, &deadline, host_->pidfd());
        if (result != HostChannel::Result::Done)
            break;
        if (answer.tag == tag && answer.type == type)
            return true;
        if (answer.tag == tag || !takeUnasked(answer))
            result = HostChannel::Result::Malformed;
    }
    failWith(result);
    return false;
}

std::uint32_t IsolatedEffect::nextTag() {
    if (++lastTag_ == kNoticeTag)
        ++lastTag_;
    return lastTag_;
}

void IsolatedEffect::failWith(HostChannel::Result result) {
    if (result == HostChannel::Result::TimedOut) {
        host_->kill();
        killedForSilence_ = true;
        markFailed(Fault::StoppedResponding);
        return;
    }
    // Gone, or talking nonsense: either way it is no longer a host to trust.
    // One that closed its socket may yet run: it is ended too, so that every
    // failure is told once the process has ended, with how it ended. A
    // process already on its way out keeps its own ending.
    host_->kill();
    markFailed(Fault::Crashed);
}

Outcome IsolatedEffect::ask(std::uint32_t type, const MessageWriter& payload, bool afterFault) {
    Message message;
    Outcome outcome;
    if (!request(type, payload, message, options_.answerLimit, afterFault))
        return {false, "the plug-in's host did not answer"};
    if (!decode(message.payload, outcome))
        return {false, "the plug-in's host answered what is no answer"};
    return outcome;
}

void IsolatedEffect::markFailed(Fault fault) {
    int none = static_cast<int>(Fault::None);
    if (!fault_.compare_exchange_strong(none, static_cast<int>(fault), std::memory_order_acq_rel) || !editorListener_)
        return;
    // A copy: the listener may let itself go.
    const auto listener = editorListener_;
    listener(EditorView{}); // the editor went with its host
}

bool IsolatedEffect::takeUnasked(const Message& message) {
    if (stateSave_ && !stateSave_->answered && message.tag == stateSave_->tag
        && message.type == static_cast<std::uint32_t>(HostMessage::SaveState)) {
        Outcome outcome;
        if (!decode(message.payload, outcome))
            return false;
        stateSave_->answered = true;
        if (outcome.ok)
            stateSave_->state = std::move(outcome.text);
        return true;
    }
    if (stateFetch_ && message.tag == *stateFetch_
        && message.type == static_cast<std::uint32_t>(HostMessage::SaveState)) {
        stateFetch_.reset();
        Outcome outcome;
        if (!decode(message.payload, outcome))
            return false;
        if (outcome.ok && stateTaker_) {
            const auto taker = stateTaker_;
            taker(std::move(outcome.text));
        }
        if (std::exchange(fetchAgain_, false))
            sendStateFetch();
        return true;
    }
    if (message.tag != kNoticeTag || message.type != static_cast<std::uint32_t>(HostMessage::EditorNews))
        return false;
    EditorView view;
    if (!decode(message.payload, view) || !view.ok)
        return false;
    if (editorListener_) {
        const auto listener = editorListener_;
        listener(view);
    }
    return true;
}

void IsolatedEffect::takeMessages() {
    if (!channel_ || hasFailed())
        return;
    const timespec now = monotonicIn(std::chrono::milliseconds(0)); // only what has arrived
    Message message;
    for (;;) {
        const HostChannel::Result result = channel_->receive(message, &now);
        if (result == HostChannel::Result::TimedOut)
            return;
        if (result == HostChannel::Result::Done && takeUnasked(message))
            continue;
        failWith(result == HostChannel::Result::Done ? HostChannel::Result::Malformed : result);
        return;
    }
}

void IsolatedEffect::fetchState(std::function<void(std::string)> taker) {
    stateTaker_ = std::move(taker);
    if (stateFetch_)
        fetchAgain_ = true; // the answer on its way may hold the state from before the last edits
    else
        sendStateFetch();
}

void IsolatedEffect::sendStateFetch() {
    if (hasFailed())
        return;
    // Only the sending may wait, and a request is a few bytes on an idle socket.
    const timespec deadline = monotonicIn(options_.answerLimit);
    const std::uint32_t tag = nextTag();
    const HostChannel::Result result =
        channel_->send(static_cast<std::uint32_t>(HostMessage::SaveState), tag, MessageWriter(), &deadline);
    if (result == HostChannel::Result::Done)
        stateFetch_ = tag;
    else
        failWith(result);
}

std::vector<std::optional<std::string>> IsolatedEffect::saveStates(const std::vector<IsolatedEffect*>& effects,
                                                                    std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    const timespec deadline = monotonicIn(limit);
    std::vector<IsolatedEffect*> waiting;
    for (IsolatedEffect* effect : effects) {
        effect->stateSave_.reset();
        if (effect->hasFailed())
            continue;
        const std::uint32_t tag = effect->nextTag();
        const HostChannel::Result sent =
            effect->channel_->send(static_cast<std::uint32_t>(HostMessage::SaveState), tag, MessageWriter(), &deadline);
        if (sent != HostChannel::Result::Done) {
            effect->failWith(sent);
            continue;
        }
        effect->stateSave_ = StateSave{tag, false, std::nullopt};
        waiting.push_back(effect);
    }
    // Each answer is taken as it arrives, whichever host gives it: one host
    // slow to write a long state must not keep the others' sockets unread.
    std::vector<pollfd> sockets;
    for (;;) {
        std::erase_if(waiting, [](const IsolatedEffect* e) { return e->hasFailed() || e->stateSave_->answered; });
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (waiting.empty() || left.count() <= 0)
            break;
        sockets.clear();
        for (const IsolatedEffect* effect : waiting)
            sockets.push_back({effect->channelFd(), POLLIN, 0});
        const int ready = poll(sockets.data(), sockets.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        for (std::size_t i = 0; ready > 0 && i < sockets.size(); ++i)
            if (sockets[i].revents != 0)
                waiting[i]->takeMessages();
    }
    for (IsolatedEffect* effect : waiting)
        effect->failWith(HostChannel::Result::TimedOut);
    std::vector<std::optional<std::string>> states;
    for (IsolatedEffect* effect : effects) {
        states.push_back(effect->stateSave_ ? std::move(effect->stateSave_->state) : std::nullopt);
        effect->stateSave_.reset();
    }
    return states;
}

void IsolatedEffect::onEditorNews(std::function<void(const EditorView&)> listener) {
    editorListener_ = std::move(listener);
}

bool IsolatedEffect::prepare(double sampleRate, std::uint32_t maxFrames, int inputChannels, int outputChannels,
                             std::string& error) {
    if (inputChannels < 1 || inputChannels > IsolatedRegion::kMaxChannels || outputChannels < 1
        || outputChannels > IsolatedRegion::kMaxChannels || maxFrames == 0 || maxFrames > region_->maxFrames()) {
        error = "a strip's channels or block length the plug-in was not loaded for";
        return false;
    }
    render_.prepared = false;
    const PrepareRequest request{sampleRate, maxFrames, inputChannels, outputChannels};
    Outcome outcome = ask(static_cast<std::uint32_t>(HostMessage::Prepare), encode(request));
    if (!outcome.ok) {
        error = std::move(outcome.text);
        return false;
    }
    render_.stripIn = inputChannels;
    render_.stripOut = outputChannels;
    render_.ownInput.assign(static_cast<std::size_t>(IsolatedRegion::kMaxChannels) * region_->maxFrames(), 0.0f);
    render_.prepared = true;
    preparedFrames_ = maxFrames;
    // The host ran the plug-in once: its latency is known.
    render_.dryPath.prepare(sampleRate_, region_->maxFrames(), outputChannels, latencySeconds() * sampleRate_);
    waitLimitNs_.store(static_cast<std::int64_t>(5e8 * maxFrames / sampleRate));
    return true;
}

void IsolatedEffect::reset() {
    render_.dryPath.clear(1.0f);
    ask(static_cast<std::uint32_t>(HostMessage::Reset), MessageWriter());
}

double IsolatedEffect::latencySeconds() const {
    const double frames = region_->latencyFrames.load(std::memory_order_relaxed);
    const double seconds = frames / sampleRate_;
    return std::isfinite(seconds) && seconds > 0.0 && seconds <= 10.0 ? seconds : 0.0;
}

CORVANE_REALTIME
void IsolatedEffect::process(const float* const* inputs, float* const* outputs, std::uint32_t frames) noexcept {
    const timespec deadline = monotonicAfter(waitLimitNs_.load(std::memory_order_relaxed));
    begin(inputs, frames);
    finish(outputs, deadline);
}

CORVANE_REALTIME
void IsolatedEffect::begin(const float* const* inputs, std::uint32_t frames) noexcept {
    RealtimeScope realtime;
    Render& r = render_;
    r.handedOver = false;
    r.heldBack = false;
    if (!r.prepared)
        return;
    r.frames = std::min(frames, region_->maxFrames());
    const std::uint32_t next = r.sequence + 1;
    // A host that failed may have left its slot marked.
    r.heldBack = !hasFailed() && region_->reading[next & 1u].load() != 0;
    if (hasFailed() || r.heldBack) {
        for (int c = 0; c < r.stripIn; ++c) {
            float* own = r.ownInput.data() + static_cast<std::size_t>(c) * region_->maxFrames();
            std::copy(inputs[c], inputs[c] + r.frames, own);
            r.dryInput[c] = own;
        }
        return;
    }
    for (int c = 0; c < r.stripIn; ++c) {
        std::copy(inputs[c], inputs[c] + r.frames, region_->input(next, c));
        r.dryInput[c] = region_->input(next, c);
    }
    r.sequence = next;
    region_->frames[next & 1u].store(r.frames, std::memory_order_relaxed);
    if (seat_)
        seat_->handOver(); // before `go`: the host clears it once it has answered
    region_->go.store(r.sequence);
    // With a board, the hosts sleep there, and finish() wakes all at once.
    if (!seat_ && region_->hostWaiting.load() != 0)
        futexWake(region_->go);
    asked_.store(r.sequence, std::memory_order_relaxed);
    r.handedOver = true;
}

CORVANE_REALTIME
void IsolatedEffect::finish(float* const* outputs, const timespec& deadline) noexcept {
    RealtimeScope realtime;
    Render& r = render_;
    if (!r.prepared)
        return;
    const float* const* inputs = r.dryInput;
    const double latencyFrames = latencySeconds() * sampleRate_;
    if (r.handedOver) {
        if (seat_)
            seat_->startHandedOver();
        std::uint32_t done = region_->done.load(std::memory_order_acquire);
        bool inTime = true;
        if (done != r.sequence && seat_) {
            // One sleep for every strip still out, not one for each.
            inTime = seat_->awaitHandedOver(deadline);
            done = region_->done.load(std::memory_order_acquire);
        }
        if (seat_)
            seat_->collected();
        // Without a board, or woken by a late host's answer to an older period.
        while (inTime && done != r.sequence) {
            // Said before the last look, so that the host wakes us if it
            // answers after it (see IsolatedRegion.h).
            region_->corvaneWaiting.store(1);
            done = region_->done.load();
            const FutexWait waited =
                done == r.sequence ? FutexWait::Changed : futexWaitUntil(region_->done, done, deadline);
            region_->corvaneWaiting.store(0, std::memory_order_relaxed);
            done = region_->done.load(std::memory_order_acquire);
            if (waited == FutexWait::TimedOut && done != r.sequence)
                break;
        }
        if (done == r.sequence) {
            for (int c = 0; c < r.stripOut; ++c)
                std::copy(region_->output(c), region_->output(c) + r.frames, outputs[c]);
            // Back from dry periods, fading in as bypass does.
            r.dryPath.mix(inputs, r.stripIn, outputs, r.stripOut, r.frames, latencyFrames, false);
            return;
        }
        latePeriods_.fetch_add(1, std::memory_order_relaxed);
    } else if (r.heldBack) {
        latePeriods_.fetch_add(1, std::memory_order_relaxed);
    }
    // The dry input in time with what the plug-in would have played.
    r.dryPath.replace(inputs, r.stripIn, outputs, r.stripOut, r.frames, latencyFrames);
}

std::uint64_t IsolatedEffect::nonFinitePeriods() const {
    return region_->nonFinitePeriods.load(std::memory_order_relaxed);
}

bool IsolatedEffect::resetIfFaulted() {
    const std::uint64_t seen = nonFinitePeriods();
    if (seen == nonFiniteSeen_)
        return false;
    nonFiniteSeen_ = seen;
    return ask(static_cast<std::uint32_t>(HostMessage::ResetIfFaulted), MessageWriter()).ok;
}

void IsolatedEffect::checkHealth(std::chrono::steady_clock::time_point now) {
    if (!host_)
        return;
    if (host_->hasEnded()) {
        markFailed(killedForSilence_ ? Fault::StoppedResponding : Fault::Crashed);
        if (!faultLogged_) {
            faultLogged_ = true;
            qCWarning(lcEngine).noquote() << QString::fromStdString(name_.empty() ? uri_ : name_)
                                          << (killedForSilence_ ? "stopped responding and was ended:" : "crashed:")
                                          << QString::fromStdString(faultReport());
        }
        return;
    }
    if (hasFailed())
        return;
    const std::uint32_t answered = region_->done.load(std::memory_order_acquire);
    if (answered == asked_.load(std::memory_order_relaxed)) {
        silentSince_.reset(); // nothing outstanding: idle, not silent
    } else if (answered != lastAnswered_ || !silentSince_) {
        silentSince_ = now; // a period is outstanding since now at the latest
    } else if (now - *silentSince_ >= kSilenceLimit) {
        host_->kill();
        killedForSilence_ = true;
        markFailed(Fault::StoppedResponding);
    }
    lastAnswered_ = answered;
    if (seat_)
        seat_->review(host_->pid(), latePeriods());
}

int IsolatedEffect::pidfd() const {
    return host_ ? host_->pidfd() : -1;
}

int IsolatedEffect::hostPid() const {
    return host_ ? host_->pid() : -1;
}

int IsolatedEffect::channelFd() const {
    return host_ ? host_->channel() : -1;
}

std::string IsolatedEffect::faultReport() const {
    if (!host_)
        return {};
    std::string report = host_->howItEnded().empty() ? "still running" : host_->howItEnded();
    const std::vector<std::string> lines = host_->lastErrorLines();
    // On one line: a log line that carries the program's name on each of its lines.
    if (!lines.empty())
        report += "; its last words:";
    for (std::size_t i = 0; i < lines.size(); ++i)
        report += (i == 0 ? " " : " | ") + lines[i];
    return report;
}

std::string IsolatedEffect::schedule(int realtimePriority, bool lockMemory) {
    const ScheduleRequest request{realtimePriority, lockMemory};
    // What the host could not have, or why it had nothing: for the log either way.
    return ask(static_cast<std::uint32_t>(HostMessage::Schedule), encode(request)).text;
}

std::optional<std::string> IsolatedEffect::saveState() {
    Outcome outcome = ask(static_cast<std::uint32_t>(HostMessage::SaveState), MessageWriter());
    if (!outcome.ok)
        return std::nullopt;
    return std::move(outcome.text);
}

bool IsolatedEffect::restoreState(const std::string& text) {
    MessageWriter payload;
    payload.text(text);
    return ask(static_cast<std::uint32_t>(HostMessage::RestoreState), payload).ok;
}

std::vector<Preset> IsolatedEffect::presets() {
    Message message;
    std::vector<Preset> found;
    if (!request(static_cast<std::uint32_t>(HostMessage::ListPresets), MessageWriter(), message, options_.answerLimit)
        || !decode(message.payload, found))
        return {};
    return found;
}

std::optional<std::string> IsolatedEffect::savePreset(const std::string& label, const std::string& userDir,
                                                      std::string& error) {
    Outcome outcome =
        ask(static_cast<std::uint32_t>(HostMessage::SavePreset), encode(SavePresetRequest{label, userDir}));
    if (!outcome.ok) {
        error = std::move(outcome.text);
        return std::nullopt;
    }
    return std::move(outcome.text);
}

bool IsolatedEffect::loadPreset(const std::string& presetUri, std::string& error) {
    MessageWriter payload;
    payload.text(presetUri);
    Outcome outcome = ask(static_cast<std::uint32_t>(HostMessage::LoadPreset), payload);
    if (!outcome.ok)
        error = std::move(outcome.text);
    return outcome.ok;
}

std::optional<EditorView> IsolatedEffect::openEditor(std::uint32_t parent, std::string& error) {
    MessageWriter payload;
    payload.u32(parent);
    Message message;
    EditorView view;
    if (!request(static_cast<std::uint32_t>(HostMessage::OpenEditor), payload, message, options_.loadLimit)) {
        error = hasFailed() ? "the plug-in's host ended while the editor was opened" : "the plug-in's host did not answer";
        return std::nullopt;
    }
    if (!decode(message.payload, view) || !view.ok) {
        error = view.error.empty() ? "the plug-in's host answered what is no answer" : view.error;
        return std::nullopt;
    }
    return view;
}

void IsolatedEffect::resizeEditor(int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    MessageWriter payload;
    payload.u32(static_cast<std::uint32_t>(width)).u32(static_cast<std::uint32_t>(height));
    ask(static_cast<std::uint32_t>(HostMessage::ResizeEditor), payload);
}

void IsolatedEffect::closeEditor() {
    ask(static_cast<std::uint32_t>(HostMessage::CloseEditor), MessageWriter());
}

bool IsolatedEffect::restart(const std::optional<std::string>& state, std::string& error) {
    if (!hasFailed()) {
        error = "the plug-in is still running";
        return false;
    }
    // What the strip's controls were set to last: the new host starts the
    // plug-in at its defaults and publishes those over them.
    std::vector<std::pair<std::uint32_t, float>> controls;
    for (const Parameter& p : parameters_)
        if (p.isInput)
            controls.emplace_back(p.portIndex, region_->control(p.portIndex).load(std::memory_order_relaxed));
    channel_.reset();
    host_.reset(); // killed and reaped, if it was not already
    stateFetch_.reset();
    fetchAgain_ = false;
    // No period is handed over while the fault stands: the new host starts
    // with every number answered.
    region_->done.store(region_->go.load(std::memory_order_acquire), std::memory_order_release);
    for (auto& slot : region_->reading) // the old host may have ended while it read
        slot.store(0);
    killedForSilence_ = false;
    auto fail = [&](std::string why) {
        error = std::move(why);
        channel_.reset();
        host_.reset();
        return false;
    };
    if (seat_)
        seat_->withdraw(); // an answer the old host owed
    host_ = HostProcess::start(options_.hostProgram, hostArguments(options_), memory_->fd(), error,
                               seat_ ? seat_->fd() : -1);
    if (!host_)
        return false;
    channel_ = std::make_unique<HostChannel>(host_->channel());
    const LoadRequest load{uri_, sampleRate_, region_->maxFrames(), nominalFrames_};
    Message message;
    LoadAnswer answer;
    if (!request(static_cast<std::uint32_t>(HostMessage::Load), encode(load), message, options_.loadLimit, true))
        return fail("the plug-in did not load again (" +
                    (host_->howItEnded().empty() ? std::string("no answer") : host_->howItEnded()) + ")");
    if (!decode(message.payload, answer) || !answer.ok)
        return fail(answer.error.empty() ? "the plug-in did not load again" : answer.error);
    if (render_.prepared) {
        const PrepareRequest prepare{sampleRate_, preparedFrames_, render_.stripIn, render_.stripOut};
        if (!ask(static_cast<std::uint32_t>(HostMessage::Prepare), encode(prepare), true).ok)
            return fail("the plug-in could not be prepared again");
    }
    if (state) {
        // A state the plug-in refuses leaves it at its defaults, as at a load.
        MessageWriter payload;
        payload.text(*state);
        ask(static_cast<std::uint32_t>(HostMessage::RestoreState), payload, true);
    }
    for (const auto& [port, value] : controls)
        region_->control(port).store(value, std::memory_order_relaxed);
    faultLogged_ = false;
    silentSince_.reset();
    lastAnswered_ = region_->done.load(std::memory_order_acquire);
    fault_.store(static_cast<int>(Fault::None), std::memory_order_release);
    return true;
}

void IsolatedEffect::setBypass(bool bypassed) noexcept {
    region_->bypass.store(bypassed ? 1 : 0, std::memory_order_relaxed);
}

bool IsolatedEffect::isBypassed() const noexcept {
    return region_->bypass.load(std::memory_order_relaxed) != 0;
}

float IsolatedEffect::reportedLatencyFrames() const {
    return region_->latencyFrames.load(std::memory_order_relaxed);
}

const Parameter* IsolatedEffect::findParameter(std::uint32_t portIndex) const {
    if (portIndex >= IsolatedRegion::kControlCapacity)
        return nullptr;
    for (const Parameter& p : parameters_)
        if (p.portIndex == portIndex)
            return &p;
    return nullptr;
}

bool IsolatedEffect::setParameter(std::uint32_t portIndex, float value) {
    const Parameter* p = findParameter(portIndex);
    if (p == nullptr || !p->isInput || !std::isfinite(value))
        return false;
    if (p->minimum < p->maximum)
        value = std::clamp(value, p->minimum, p->maximum);
    region_->control(portIndex).store(value, std::memory_order_relaxed);
    return true;
}

float IsolatedEffect::parameter(std::uint32_t portIndex) const {
    if (findParameter(portIndex) == nullptr)
        return std::numeric_limits<float>::quiet_NaN();
    return region_->control(portIndex).load(std::memory_order_relaxed);
}

} // namespace corvane::lv2
