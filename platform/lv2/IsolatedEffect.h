#pragma once
// One LV2 plug-in hosted in a process of its own (corvane-plugin-host), as an
// effect of a channel strip: whatever the plug-in does, a crash, a hang, an
// exit or memory without end, ends that process and leaves ours and every
// other strip playing. The strip then plays its input unprocessed.
//
// Each period the audio thread copies the strip's input into memory shared
// with the host, wakes it, and waits for its answer only until a deadline: an
// answer that is not there in time is dropped (the strip plays dry for that
// period, counted in latePeriods()), and a late one is known by its number and
// never used. begin() and finish() are the two halves, so a renderer can hand
// every strip its period first, render what does not depend on them, and
// collect after. The hosts of all strips share a board (PeriodBoard.h): the
// first finish() of a period wakes every host handed a period with one call,
// and sleeps once until all have answered or the deadline.
//
// Threads: instantiate() on any thread but the audio one; prepare(), reset(),
// the state, checkHealth(), takeMessages() and faultReport() on the main
// thread (prepare and reset while no period runs); process(), begin() and
// finish() on the audio thread; setBypass(), setParameter(), parameter(),
// latencySeconds(), fault() and latePeriods() from any thread.

#include "platform/lv2/DryPath.h"
#include "platform/lv2/HostChannel.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/lv2/Parameter.h"
#include "platform/system/RealtimeScope.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
class HostProcess;
class SharedMemory;
} // namespace corvane

namespace corvane::lv2 {

class BoardSeat;
class IsolatedRegion;
struct EditorView;
struct Outcome;

class IsolatedEffect final : public HostedEffect {
public:
    struct Options {
        std::string hostProgram = programBesideUs();
        // A host that has not loaded the plug-in by then is killed.
        std::chrono::milliseconds loadLimit{15000};
        // For every later request (prepare, reset, state).
        std::chrono::milliseconds answerLimit{5000};
        // > 0: the host's audio thread asks for SCHED_FIFO at this priority.
        int realtimePriority = 0;
        // The host's address space in bytes; 0: the host's own limit (4 GiB).
        std::uint64_t addressSpaceLimit = 0;
    };
    // A host that answers no period for this long is killed.
    static constexpr std::chrono::seconds kSilenceLimit{1};

    // corvane-plugin-host beside the running program.
    static std::string programBesideUs();

    // Starts a host and loads the plug-in there. On failure null and a reason
    // a person can read in `error`: the host's own (as Lv2Effect::instantiate
    // gives it) or what became of the host ("the plug-in crashed while
    // loading (SIGABRT)", "... did not finish loading within 15 seconds").
    static std::unique_ptr<IsolatedEffect> instantiate(const std::string& uri, double sampleRate,
                                                       std::uint32_t maxBlockFrames, std::uint32_t nominalBlockFrames,
                                                       const Options& options, std::string& error);
    ~IsolatedEffect() override; // kills the host and reaps it
    IsolatedEffect(const IsolatedEffect&) = delete;
    IsolatedEffect& operator=(const IsolatedEffect&) = delete;

    bool prepare(double sampleRate, std::uint32_t maxFrames, int inputChannels, int outputChannels,
                 std::string& error) override;
    // begin() and finish(), waiting at most waitLimit() past the start.
    void process(const float* const* inputs, float* const* outputs, std::uint32_t frames) noexcept override;
    void reset() override;
    double latencySeconds() const override;

    // Audio thread: hands this period's input (the strip's channels) to the
    // host; a host on the board is woken by the next finish().
    CORVANE_REALTIME
    void begin(const float* const* inputs, std::uint32_t frames) noexcept override;
    // Audio thread, after begin(): the host's output, or, when it has not
    // answered by `deadline` (CLOCK_MONOTONIC) or has failed, the dry input
    // delayed by the plug-in's latency, as bypass plays it; when answers come
    // again they fade in as after a bypass. A late answer is never used.
    CORVANE_REALTIME
    void finish(float* const* outputs, const timespec& deadline) noexcept override;
    // The host works while the rest of the graph renders.
    bool rendersAhead() const override { return true; }
    // What process() waits at most; by default half of a prepared block.
    void setWaitLimit(std::chrono::nanoseconds limit) { waitLimitNs_.store(limit.count()); }
    std::chrono::nanoseconds waitLimit() const { return std::chrono::nanoseconds(waitLimitNs_.load()); }

    Fault fault() const override { return static_cast<Fault>(fault_.load(std::memory_order_acquire)); }
    bool hasFailed() const { return fault() != Fault::None; }
    // Main thread: a fault whose host has ended, as checkHealth() learnt and
    // logged with how it ended. A fault found on the socket first is the
    // audio thread's at once, and the user's only from then on.
    bool faultEnded() const { return hasFailed() && faultLogged_; }
    // Periods the host did not answer in time (before and at a failure).
    std::uint64_t latePeriods() const override { return latePeriods_.load(std::memory_order_relaxed); }
    // As Lv2Effect's: periods whose output held NaN or infinity; the plug-in
    // then rests (silent) until resetIfFaulted(), main thread, also while
    // periods run, which asks the host only when there was such a period.
    std::uint64_t nonFinitePeriods() const override;
    bool resetIfFaulted() override;
    // Its log lines reach ours through the host's standard error.
    std::vector<std::string> takeLoggedProblems() override { return {}; }

    // Main thread: call when pidfd() becomes readable and now and then (about
    // every few hundred milliseconds) while periods run. Learns of the host's
    // end; kills a host that has answered no period for kSilenceLimit; tells
    // the board how the host fares, which decides where the hosts run.
    void checkHealth(std::chrono::steady_clock::time_point now);
    // Readable once the host has ended.
    int pidfd() const;
    int hostPid() const;
    // The socket to the host: readable when the host has sent what was not
    // waited for (see takeMessages()); -1 without a host.
    int channelFd() const;
    // Main thread, when channelFd() is readable: takes, without waiting, what
    // the host sent unasked and hands it on (onEditorNews()). What comes
    // while a request waits for its answer is handed on there and then.
    // A host that closed the socket or sent nonsense has failed.
    void takeMessages();
    // Main thread, after a fault: how the host ended ("SIGSEGV", "exit status
    // 0") and its last lines on standard error.
    std::string faultReport() const;

    // Main thread, after a fault, also while periods run: a new host with the
    // plug-in, prepared as the old one was, given `state` (when there is one)
    // and then the control values the strip had, which are newer. The strip
    // plays it from the next period. False, with the fault kept and a reason
    // in `error`, when the new host does not get that far.
    bool restart(const std::optional<std::string>& state, std::string& error);

    // Main thread, also while periods run: the host's audio thread gets
    // SCHED_FIFO at `realtimePriority` (> 0; 0 leaves it as it is), and its
    // memory is locked when `lockMemory`. What the host could not have, for
    // the log; empty when it had everything.
    std::string schedule(int realtimePriority, bool lockMemory);

    // Main thread, also while periods run. The plug-in's state as Turtle text.
    std::optional<std::string> saveState() override;
    // Main thread, also while periods run: asks the host for the state and
    // returns at once; `taker` gets it when the answer comes (handed on as
    // takeMessages() says), and nothing when the plug-in has none to give or
    // the host fails first. Asked again before that answer, the host is asked
    // once more after it, and `taker` is the last one given.
    void fetchState(std::function<void(std::string)> taker);
    // Main thread, while no period runs. False when the host refuses it.
    bool restoreState(const std::string& text) override;
    // Main thread, at a stop: the state of each of `effects`, in their order,
    // asked of every host at once and waited for until `limit` from now,
    // together. Nothing for a plug-in with none to give or a host that ends
    // meanwhile; a host that has not answered by then is killed and has
    // stopped responding. Hosts that failed before are not asked.
    static std::vector<std::optional<std::string>> saveStates(const std::vector<IsolatedEffect*>& effects,
                                                               std::chrono::milliseconds limit);

    // Main thread, also while periods run: the host lists, saves and applies
    // them as an in-process plug-in does. An applied preset's control values
    // are the strip's from then on.
    std::vector<Preset> presets() override;
    std::optional<std::string> savePreset(const std::string& label, const std::string& userDir,
                                          std::string& error) override;
    bool loadPreset(const std::string& presetUri, std::string& error) override;

    // The plug-in's own X11 editor, which the host makes as a child of our
    // window `parent` and idles itself. Main thread. Its window, and the size
    // it asked for; null with `error` set when there is no such editor or it
    // did not start. A crash of the editor is a crash of the host.
    std::optional<EditorView> openEditor(std::uint32_t parent, std::string& error);
    // Main thread: `listener` hears what became of the open editor as the
    // host tells it (the size it asked for, the control a user set in it
    // last; see EditorView), and, with ok false, that the host failed and
    // took the editor along. It may be called from within any request to the
    // host, so it must not ask the host anything itself. Null: none.
    void onEditorNews(std::function<void(const EditorView&)> listener);
    // Tells the editor its parent now has this size.
    void resizeEditor(int width, int height);
    // Takes the editor and its window down: before its parent goes.
    void closeEditor();

    void setBypass(bool bypassed) noexcept override;
    bool isBypassed() const noexcept override;
    bool hasEnablePort() const override { return hasEnablePort_; }
    const std::vector<Parameter>& parameters() const override { return parameters_; }
    // Clamped to the port's range; false for an unknown port or an output.
    bool setParameter(std::uint32_t portIndex, float value) override;
    // The last value set (inputs) or reported (outputs); NaN for an unknown port.
    float parameter(std::uint32_t portIndex) const override;
    float reportedLatencyFrames() const override;
    const std::string& uri() const override { return uri_; }
    const std::string& name() const override { return name_; }
    int audioInputCount() const override { return audioInputs_; }
    int audioOutputCount() const override { return audioOutputs_; }

private:
    IsolatedEffect() = default;
    // Main thread: one request and its answer. False (with the host marked as
    // failed when it is gone or silent) when no answer came.
    // `afterFault`: for restart(), which talks to a new host while the fault
    // still keeps everyone else off it.
    bool request(std::uint32_t type, const MessageWriter& payload, Message& answer, std::chrono::milliseconds limit,
                 bool afterFault = false);
    // Hands on a message the host sent without our waiting for it; false for
    // one that is no such message.
    bool takeUnasked(const Message& message);
    std::uint32_t nextTag();
    // Marks the host failed as `result` (what is not Done) says, ending it
    // when it might still run.
    void failWith(HostChannel::Result result);
    void sendStateFetch();
    // request() for the requests answered by an Outcome: the host's, or,
    // when there was none to take, one not ok that says why.
    Outcome ask(std::uint32_t type, const MessageWriter& payload, bool afterFault = false);
    void markFailed(Fault fault);
    const Parameter* findParameter(std::uint32_t portIndex) const;

    std::unique_ptr<SharedMemory> memory_;
    // The strip's bit on the board all hosts share; null: its host answers on
    // `done` alone, and the audio thread waits there.
    std::unique_ptr<BoardSeat> seat_;
    std::unique_ptr<HostProcess> host_;
    std::unique_ptr<HostChannel> channel_; // to host_, with what arrived of a message not yet whole
    std::uint32_t lastTag_ = 0;
    std::function<void(const EditorView&)> editorListener_;
    std::optional<std::uint32_t> stateFetch_; // the tag of the state fetch out
    bool fetchAgain_ = false;
    std::function<void(std::string)> stateTaker_;
    // The state asked for by saveStates(): its tag, and what came.
    struct StateSave {
        std::uint32_t tag = 0;
        bool answered = false;
        std::optional<std::string> state;
    };
    std::optional<StateSave> stateSave_;
    IsolatedRegion* region_ = nullptr;
    Options options_;
    std::string uri_;
    std::string name_;
    double sampleRate_ = 0.0;
    std::uint32_t nominalFrames_ = 0;
    std::uint32_t preparedFrames_ = 0;
    int audioInputs_ = 0;
    int audioOutputs_ = 0;
    bool hasEnablePort_ = false;
    std::vector<Parameter> parameters_;

    std::atomic<int> fault_{0};
    std::atomic<std::uint64_t> latePeriods_{0};
    std::atomic<std::uint32_t> asked_{0}; // the last period handed over
    std::atomic<std::int64_t> waitLimitNs_{0};
    bool killedForSilence_ = false;
    std::uint64_t nonFiniteSeen_ = 0;
    bool faultLogged_ = false;
    std::uint32_t lastAnswered_ = 0;
    std::optional<std::chrono::steady_clock::time_point> silentSince_;

    // The audio thread's own.
    struct Render {
        bool prepared = false;
        int stripIn = 0;
        int stripOut = 0;
        std::uint32_t sequence = 0;
        std::uint32_t frames = 0;
        bool handedOver = false; // this period went to the host
        bool heldBack = false;   // it could not: the host still reads the slot it needed
        DryPath dryPath;         // what plays while the host gives no answer
        // The period's input for the dry path: the slot it was written to,
        // or, when it went to no slot, `ownInput`.
        const float* dryInput[2] = {nullptr, nullptr};
        std::vector<float> ownInput;
    } render_;
};

} // namespace corvane::lv2
