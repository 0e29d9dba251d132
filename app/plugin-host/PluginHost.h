#pragma once
// The plug-in host's main thread: answers Corvane's requests on the socket
// (load the one plug-in, prepare it, reset, save and restore its state, its
// presets, its own editor) until the socket closes. While the editor is open
// it is idled here between requests, as X11 editors expect of a main thread,
// and what it did (a size asked for, a control set) is sent to Corvane unasked.

#include "app/plugin-host/PeriodThread.h"
#include "platform/lv2/HostChannel.h"

#include <memory>
#include <string>

namespace corvane::lv2 {
class IsolatedRegion;
class Lv2Effect;
class PeriodBoard;
class PluginUi;
struct EditorView;
struct Outcome;
} // namespace corvane::lv2

namespace corvane::pluginhost {

class PluginHost {
public:
    // `priority` > 0: the audio thread asks for SCHED_FIFO at that priority.
    // `board` (may be null) is shared with Corvane's other hosts.
    PluginHost(int channelFd, lv2::IsolatedRegion& region, lv2::PeriodBoard* board, int priority);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Returns when Corvane closes the socket or sends what is no message.
    void serve();

private:
    bool answer(const lv2::Message& message);
    lv2::MessageWriter load(const std::vector<unsigned char>& payload);
    lv2::Outcome prepare(const std::vector<unsigned char>& payload);
    // The plug-in's control values into the region, after a load or a restore
    // changed them behind Corvane's back.
    void publishControls();
    void startPeriods();
    lv2::EditorView openEditor(const std::vector<unsigned char>& payload);
    // Sends the editor's news, if it has any, as a notice; false when Corvane has gone.
    bool tellEditorNews();
    // Takes Corvane's audio-thread priority and memory locking; what it could
    // not have is said in the answer, for Corvane's log.
    lv2::Outcome schedule(const std::vector<unsigned char>& payload);

    // Keeps the audio thread off the plug-in while it is reset or restored.
    // A period still running (one Corvane gave up on) is waited for; one that
    // never ends keeps the request from being answered, and Corvane kills the
    // host for it. Periods asked for meanwhile are not answered.
    class Pause {
    public:
        explicit Pause(PluginHost& host);
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        PluginHost& host_;
        bool wasRunning_;
    };

    lv2::HostChannel channel_;
    lv2::IsolatedRegion& region_;
    lv2::PeriodBoard* board_;
    int priority_;
    bool memoryLocked_ = false;
    int channelFd_;
    std::unique_ptr<lv2::Lv2Effect> effect_;
    // The plug-in's own editor, and the size it asked for that Corvane has
    // not heard of yet (0 × 0: none). It goes before the effect.
    std::unique_ptr<lv2::PluginUi> editor_;
    int editorWidth_ = 0;
    int editorHeight_ = 0;
    std::uint32_t editorTouched_; // the control input a user set in it last, for MIDI learning
    std::unique_ptr<PeriodThread> periods_; // declared last: it goes first
};

} // namespace corvane::pluginhost
