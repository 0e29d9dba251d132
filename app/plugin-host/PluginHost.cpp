#include "app/plugin-host/PluginHost.h"

#include "platform/lv2/HostMessages.h"
#include "platform/lv2/IsolatedRegion.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/lv2/PluginUi.h"
#include "platform/system/MemoryLock.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

namespace corvane::pluginhost {

namespace {
// How often an open editor is idled: about as often as a screen shows a meter
// move. Its news goes out after an idle, so at most this often too.
constexpr auto kEditorIdle = std::chrono::milliseconds(33);
} // namespace

using lv2::HostMessage;
using lv2::Outcome;

PluginHost::PluginHost(int channelFd, lv2::IsolatedRegion& region, lv2::PeriodBoard* board, int priority)
    : channel_(channelFd), region_(region), board_(board), priority_(priority), channelFd_(channelFd),
      editorTouched_(lv2::EditorView::kNoPort) {}

PluginHost::~PluginHost() {
    periods_.reset();
    editor_.reset();
}

void PluginHost::serve() {
    lv2::Message message;
    // On a clock of its own: Corvane's requests must not keep the editor from its turns.
    auto nextIdle = std::chrono::steady_clock::now();
    for (;;) {
        if (editor_) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextIdle) {
                editor_->idle(); // an embedded editor is closed by Corvane, whatever it returns
                if (!tellEditorNews())
                    return;
                nextIdle += kEditorIdle;
                if (nextIdle <= now)
                    nextIdle = now + kEditorIdle; // turns missed are not made up
                continue;
            }
            pollfd socket{channelFd_, POLLIN, 0};
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextIdle - now);
            const int ready = poll(&socket, 1, static_cast<int>(wait.count()));
            if (ready < 0 && errno != EINTR)
                return;
            if (ready <= 0)
                continue;
        }
        if (channel_.receive(message) != lv2::HostChannel::Result::Done || !answer(message))
            return;
    }
}

bool PluginHost::answer(const lv2::Message& message) {
    const auto type = static_cast<HostMessage>(message.type);
    lv2::MessageWriter reply;
    Outcome outcome{true, {}};
    switch (type) {
    case HostMessage::Load:
        reply = load(message.payload);
        break;
    case HostMessage::Prepare:
        reply = encode(prepare(message.payload));
        break;
    case HostMessage::Reset: {
        const Pause paused(*this);
        if (effect_)
            effect_->reset();
        reply = encode(outcome);
        break;
    }
    case HostMessage::ResetIfFaulted:
        // The audio thread keeps off a faulted plug-in, so this needs no pause.
        outcome.ok = effect_ && effect_->resetIfFaulted();
        reply = encode(outcome);
        break;
    case HostMessage::SaveState:
        if (auto text = effect_ ? effect_->saveState() : std::nullopt)
            outcome.text = std::move(*text);
        else
            outcome = {false, "the plug-in's state cannot be saved"};
        reply = encode(outcome);
        break;
    case HostMessage::RestoreState: {
        const Pause paused(*this);
        lv2::MessageReader in(message.payload);
        std::string text;
        if (!effect_ || !in.text(text) || !in.ok() || !effect_->restoreState(text))
            outcome = {false, "the state does not fit the plug-in"};
        publishControls();
        reply = encode(outcome);
        break;
    }
    case HostMessage::ListPresets:
        reply = encode(effect_ ? effect_->presets() : std::vector<lv2::Preset>());
        break;
    case HostMessage::LoadPreset: {
        // The effect keeps the audio thread off the instance itself while
        // the plug-in's own state is restored; the periods go on meanwhile.
        lv2::MessageReader in(message.payload);
        std::string uri;
        if (!effect_ || !in.text(uri) || !in.ok())
            outcome = {false, "the host was asked what it cannot do"};
        else if (!effect_->loadPreset(uri, outcome.text))
            outcome.ok = false;
        publishControls();
        reply = encode(outcome);
        break;
    }
    case HostMessage::SavePreset: {
        lv2::SavePresetRequest request;
        if (!effect_ || !decode(message.payload, request))
            outcome = {false, "the host was asked what it cannot do"};
        else if (auto uri = effect_->savePreset(request.label, request.userDir, outcome.text))
            outcome.text = std::move(*uri);
        else
            outcome.ok = false;
        reply = encode(outcome);
        break;
    }
    case HostMessage::Schedule:
        reply = encode(schedule(message.payload));
        break;
    case HostMessage::OpenEditor:
        reply = encode(openEditor(message.payload));
        break;
    case HostMessage::ResizeEditor: {
        lv2::MessageReader in(message.payload);
        std::uint32_t width = 0, height = 0;
        in.u32(width), in.u32(height);
        if (editor_ && in.ok() && width <= 1'000'000 && height <= 1'000'000)
            editor_->resize(static_cast<int>(width), static_cast<int>(height));
        else
            outcome = {false, "no editor to resize"};
        reply = encode(outcome);
        break;
    }
    case HostMessage::CloseEditor:
        editor_.reset(); // the editor's window goes with it, before Corvane's parent does
        reply = encode(outcome);
        break;
    default:
        return channel_.send(static_cast<std::uint32_t>(HostMessage::Unknown), message.tag, {})
               == lv2::HostChannel::Result::Done;
    }
    return channel_.send(message.type, message.tag, reply) == lv2::HostChannel::Result::Done;
}

lv2::MessageWriter PluginHost::load(const std::vector<unsigned char>& payload) {
    lv2::LoadRequest request;
    lv2::LoadAnswer answer;
    if (!decode(payload, request) || request.maxBlockFrames > region_.maxFrames()) {
        answer.error = "the host was asked what it cannot do";
    } else if (effect_) {
        answer.error = "the host already holds a plug-in";
    } else {
        effect_ = lv2::Lv2Effect::instantiate(request.uri, request.sampleRate, request.maxBlockFrames,
                                              request.nominalBlockFrames, answer.error);
    }
    if (effect_) {
        answer.ok = true;
        answer.name = effect_->name();
        answer.audioInputs = effect_->audioInputCount();
        answer.audioOutputs = effect_->audioOutputCount();
        answer.hasEnablePort = effect_->hasEnablePort();
        answer.parameters = effect_->parameters();
        publishControls();
    }
    return encode(answer);
}

Outcome PluginHost::schedule(const std::vector<unsigned char>& payload) {
    lv2::ScheduleRequest request;
    if (!decode(payload, request))
        return {false, "the host was asked what it cannot do"};
    Outcome outcome{true, {}};
    // Kept for the audio threads of later prepares too. Without a priority
    // of Corvane's, the host's stays as it is.
    if (request.realtimePriority > 0) {
        priority_ = request.realtimePriority;
        if (periods_ && !periods_->setPriority(priority_))
            outcome.text = "its audio thread runs without real-time priority (SCHED_FIFO was refused)";
    }
    if (request.lockMemory && !memoryLocked_) {
        // Current and future pages, as Corvane locks its own.
        memoryLocked_ = true;
        const MemoryLockResult locked = lockProcessMemory();
        if (!locked.locked)
            outcome.text += std::string(outcome.text.empty() ? "" : "; ") + "its memory is not locked: "
                            + locked.reason.toStdString();
    }
    return outcome;
}

Outcome PluginHost::prepare(const std::vector<unsigned char>& payload) {
    lv2::PrepareRequest request;
    if (!effect_ || !decode(payload, request) || request.maxFrames > region_.maxFrames()
        || request.inputChannels > lv2::IsolatedRegion::kMaxChannels
        || request.outputChannels > lv2::IsolatedRegion::kMaxChannels)
        return {false, "the host was asked what it cannot do"};
    periods_.reset();
    Outcome outcome{true, {}};
    if (!effect_->prepare(request.sampleRate, request.maxFrames, request.inputChannels, request.outputChannels,
                          outcome.text)) {
        outcome.ok = false;
        return outcome;
    }
    publishControls();
    startPeriods();
    if (priority_ > 0 && !periods_->isRealtime())
        std::fprintf(stderr, "the plug-in's audio thread runs without real-time priority (SCHED_FIFO was refused)\n");
    return outcome;
}

lv2::EditorView PluginHost::openEditor(const std::vector<unsigned char>& payload) {
    lv2::EditorView view;
    lv2::MessageReader in(payload);
    std::uint32_t parent = 0;
    in.u32(parent);
    if (!effect_ || !in.ok() || parent == 0) {
        view.error = "the host was asked what it cannot do";
        return view;
    }
    editor_.reset(); // one editor at a time: a new parent replaces the old
    editorWidth_ = editorHeight_ = 0;
    editorTouched_ = lv2::EditorView::kNoPort;
    const auto choice = lv2::PluginUi::choose(*effect_, true);
    if (!choice || choice->kind != lv2::PluginUi::Kind::X11) {
        view.error = "the plug-in has no X11 editor";
        return view;
    }
    auto asked = [this](int width, int height) {
        editorWidth_ = width;
        editorHeight_ = height;
    };
    editor_ = lv2::PluginUi::create(*effect_, *choice, parent, asked, view.error);
    if (!editor_)
        return view;
    editor_->onControlWritten([this](std::uint32_t port) { editorTouched_ = port; });
    view.ok = true;
    view.window = static_cast<std::uint32_t>(editor_->widget());
    view.width = editor_->preferredWidth();
    view.height = editor_->preferredHeight();
    editorWidth_ = editorHeight_ = 0; // that size is told already
    return view;
}

bool PluginHost::tellEditorNews() {
    if (!editor_ || (editorWidth_ <= 0 && editorHeight_ <= 0 && editorTouched_ == lv2::EditorView::kNoPort))
        return true;
    lv2::EditorView view;
    view.ok = true;
    view.window = static_cast<std::uint32_t>(editor_->widget());
    view.width = std::exchange(editorWidth_, 0);
    view.height = std::exchange(editorHeight_, 0);
    view.touchedPort = std::exchange(editorTouched_, lv2::EditorView::kNoPort);
    return channel_.send(static_cast<std::uint32_t>(HostMessage::EditorNews), lv2::kNoticeTag, encode(view))
           == lv2::HostChannel::Result::Done;
}

void PluginHost::startPeriods() {
    std::vector<std::uint32_t> inputs, outputs;
    for (const lv2::Parameter& p : effect_->parameters())
        if (p.portIndex < lv2::IsolatedRegion::kControlCapacity)
            (p.isInput ? inputs : outputs).push_back(p.portIndex);
    periods_ = std::make_unique<PeriodThread>(*effect_, region_, board_, std::move(inputs), std::move(outputs), priority_);
}

PluginHost::Pause::Pause(PluginHost& host) : host_(host), wasRunning_(host.periods_ != nullptr) {
    host_.periods_.reset();
}

PluginHost::Pause::~Pause() {
    if (wasRunning_)
        host_.startPeriods();
}

void PluginHost::publishControls() {
    if (!effect_)
        return;
    for (const lv2::Parameter& p : effect_->parameters())
        if (p.portIndex < lv2::IsolatedRegion::kControlCapacity)
            region_.control(p.portIndex).store(effect_->parameter(p.portIndex), std::memory_order_relaxed);
    region_.latencyFrames.store(effect_->reportedLatencyFrames(), std::memory_order_relaxed);
}

} // namespace corvane::pluginhost
