// A plug-in in a host process of its own: it plays as it does in ours, and
// whatever it does wrong ends only its host, with the strip playing dry, the
// fault told, and nothing left behind.

#include "platform/lv2/IsolatedEffect.h"
#include "platform/system/Futex.h"
#include "tests/lv2/Lv2TestSupport.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

namespace corvane::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

using namespace std::chrono_literals;
using lv2::IsolatedEffect;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBlock = 64;

std::multiset<std::string> openDescriptors() {
    std::multiset<std::string> targets;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        targets.insert(std::filesystem::read_symlink(entry.path(), error).string());
    }
    return targets;
}

std::string children() {
    std::string all;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream file(task.path() / "children");
        for (std::string pid; file >> pid;)
            all += pid + " ";
    }
    return all;
}

// Every test leaves no host, descriptor or shared memory behind.
class Isolation : public ::testing::Test {
protected:
    void SetUp() override {
        // Only the fixtures: every host reads the whole path when it starts.
        static const bool onlyFixtures = [] {
            useFixturePlugins();
            return setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1) == 0;
        }();
        ASSERT_TRUE(onlyFixtures);
        // The in-process host's world, made once, keeps its descriptors.
        static const bool warm = loadEffect(gainUri) != nullptr;
        ASSERT_TRUE(warm);
        // Under the address sanitizer a host would end a segfault with a
        // report and exit status 1, and an exit(0) in run() with a leak
        // report and status 23, instead of how a user's build ends.
        static const bool hostOptions = [] {
            const char* asan = std::getenv("ASAN_OPTIONS");
            const std::string options = std::string(asan ? asan : "") + ":handle_segv=0:detect_leaks=0";
            return setenv("ASAN_OPTIONS", options.c_str(), 1) == 0;
        }();
        ASSERT_TRUE(hostOptions);
        descriptors_ = openDescriptors();
    }
    void TearDown() override {
        EXPECT_EQ(children(), "");
        EXPECT_EQ(openDescriptors(), descriptors_);
    }

    static IsolatedEffect::Options options() {
        IsolatedEffect::Options o;
        o.hostProgram = CORVANE_PLUGIN_HOST;
        return o;
    }
    static std::unique_ptr<IsolatedEffect> isolated(const std::string& uri, int channels = 1,
                                                    const IsolatedEffect::Options& o = options()) {
        std::string error;
        auto effect = IsolatedEffect::instantiate(uri, 48000, kBlock, kBlock, o, error);
        EXPECT_TRUE(effect) << error;
        if (effect) {
            EXPECT_TRUE(effect->prepare(48000, kBlock, channels, channels, error)) << error;
        }
        return effect;
    }

    std::multiset<std::string> descriptors_;
};

std::vector<float> period(IsolatedEffect& effect, const std::vector<float>& in, timespec deadline) {
    std::vector<float> out(in.size(), -99.0f);
    const float* inputs[] = {in.data()};
    float* outputs[] = {out.data()};
    effect.begin(inputs, static_cast<std::uint32_t>(in.size()));
    effect.finish(outputs, deadline);
    return out;
}

TEST_F(Isolation, PlaysSampleForSampleAsInProcessWithItsState) {
    auto here = loadEffect(gainUri, 48000, kBlock);
    ASSERT_TRUE(prepared(here, 48000, kBlock, 1, 1));
    auto there = isolated(gainUri);
    ASSERT_TRUE(there);
    EXPECT_EQ(there->name(), here->name());
    ASSERT_EQ(there->parameters().size(), here->parameters().size());
    const std::uint32_t gain = portOf(*here, "gain");
    here->setParameter(gain, 0.37f);
    EXPECT_TRUE(there->setParameter(gain, 0.37f));
    EXPECT_FALSE(there->setParameter(portOf(*here, "processed"), 1.0f));
    there->setWaitLimit(kSanitized ? 20s : 2s); // a slow machine must not make a period late here
    const RealtimeChecker checker;
    for (std::uint32_t frames : {kBlock, 37u, kBlock}) {
        const std::vector<float> in = ramp(frames, 0.001f * static_cast<float>(frames));
        std::vector<float> out(frames);
        const float* inputs[] = {in.data()};
        float* outputs[] = {out.data()};
        there->process(inputs, outputs, frames);
        EXPECT_EQ(out, runBlock(*here, {in}, 1)[0]) << frames << " frames";
    }
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
    EXPECT_EQ(there->latePeriods(), 0u);
    EXPECT_EQ(there->parameter(portOf(*here, "processed")), here->parameter(portOf(*here, "processed")));

    // Audio that is no number is silenced, counted, and the plug-in reset on request.
    const std::uint32_t poison = portOf(*here, "poison");
    there->setParameter(poison, 1.0f);
    const std::vector<float> in = ramp(kBlock);
    EXPECT_EQ(period(*there, in, monotonicAfter(1'000'000'000)), std::vector<float>(kBlock, 0.0f));
    EXPECT_EQ(there->nonFinitePeriods(), 1u);
    there->setParameter(poison, 0.0f);
    EXPECT_TRUE(there->resetIfFaulted());
    EXPECT_FALSE(there->resetIfFaulted());
    EXPECT_NE(period(*there, in, monotonicAfter(1'000'000'000)), std::vector<float>(kBlock, 0.0f));

    const std::optional<std::string> state = there->saveState();
    ASSERT_TRUE(state);
    there->setParameter(gain, 0.9f);
    ASSERT_TRUE(there->restoreState(*state));
    EXPECT_EQ(there->parameter(gain), 0.37f);
    EXPECT_FALSE(there->restoreState("not turtle"));
    EXPECT_FALSE(there->hasFailed());
}

TEST_F(Isolation, PresetsAreListedSavedAndAppliedByTheHost) {
    char folder[] = "/tmp/corvane-presets-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", folder, 1); // the host takes it when it starts: its own presets are told from the user's by it
    auto effect = isolated(gainUri);
    setenv("HOME", oldHome.c_str(), 1);
    ASSERT_TRUE(effect);
    std::uint32_t gain = 0;
    for (const lv2::Parameter& p : effect->parameters())
        if (p.symbol == "gain")
            gain = p.portIndex;
    const std::vector<float> in = ramp(kBlock);
    ASSERT_TRUE(effect->setParameter(gain, 0.37f));
    const std::vector<float> warm = period(*effect, in, monotonicAfter(2'000'000'000));
    std::string error;
    const auto uri = effect->savePreset("Warm", std::string(folder) + "/.lv2", error);
    ASSERT_TRUE(uri) << error;
    const std::vector<lv2::Preset> presets = effect->presets();
    const auto saved = std::find_if(presets.begin(), presets.end(), [](const lv2::Preset& p) { return p.label == "Warm"; });
    ASSERT_NE(saved, presets.end());
    EXPECT_EQ(saved->uri, *uri);
    EXPECT_TRUE(saved->user);

    effect->setParameter(gain, 0.9f);
    EXPECT_NE(period(*effect, in, monotonicAfter(2'000'000'000)), warm);
    ASSERT_TRUE(effect->loadPreset(*uri, error)) << error;
    EXPECT_EQ(effect->parameter(gain), 0.37f) << "the strip has the preset's values";
    EXPECT_EQ(period(*effect, in, monotonicAfter(2'000'000'000)), warm);
    EXPECT_FALSE(effect->loadPreset("urn:corvane:test:no-such-preset", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(effect->hasFailed());
    std::filesystem::remove_all(folder);
}

// The host's scheduling, as /proc shows it: the highest SCHED_FIFO priority
// among its threads (0: none) and whether any of its memory is locked.
std::pair<int, bool> schedulingOf(int pid) {
    int highest = 0;
    const std::string process = "/proc/" + std::to_string(pid);
    for (const auto& task : std::filesystem::directory_iterator(process + "/task")) {
        const pid_t thread = std::stoi(task.path().filename().string());
        sched_param param{};
        if (sched_getscheduler(thread) == SCHED_FIFO && sched_getparam(thread, &param) == 0)
            highest = std::max(highest, param.sched_priority);
    }
    std::ifstream status(process + "/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("VmLck:", 0) != 0) {
    }
    return {highest, std::stol(line.substr(6)) > 0};
}

// As Corvane's audio thread and memory are, so are the host's; nothing before it is told.
TEST_F(Isolation, TheHostRunsAsCorvanesAudioThreadAndLocksMemoryAsItDoes) {
    auto effect = isolated(gainUri);
    ASSERT_TRUE(effect);
    EXPECT_EQ(schedulingOf(effect->hostPid()), std::make_pair(0, false));
    // This machine's tests run as root; a sanitized host never locks its
    // memory (its shadow memory alone is terabytes), and says so.
    EXPECT_EQ(effect->schedule(7, true), kSanitized ? "its memory is not locked: not in a sanitizer build" : "");
    EXPECT_EQ(schedulingOf(effect->hostPid()), std::make_pair(7, !kSanitized));
    // A priority of none leaves it as it was.
    EXPECT_EQ(effect->schedule(0, false), "");
    EXPECT_EQ(schedulingOf(effect->hostPid()).first, 7);
}

// A period the host answers too late plays dry; its answer, when it comes, is
// not taken for the next period's.
TEST_F(Isolation, ALateAnswerIsDropped) {
    setenv("CORVANE_TEST_STALL_AFTER", "2", 1); // prepare's run, a good period, then 150 ms late
    setenv("CORVANE_TEST_STALL_FOR_MS", "150", 1);
    auto effect = isolated("urn:corvane:test:stall");
    unsetenv("CORVANE_TEST_STALL_AFTER");
    unsetenv("CORVANE_TEST_STALL_FOR_MS");
    ASSERT_TRUE(effect);
    for (int i = 0; i < 3; ++i) {
        const std::vector<float> in = ramp(kBlock, 0.1f * static_cast<float>(i + 1));
        EXPECT_EQ(period(*effect, in, monotonicAfter(i == 1 ? 20'000'000 : 1'000'000'000)), in) << "period " << i;
    }
    EXPECT_EQ(effect->latePeriods(), 1u);
    EXPECT_FALSE(effect->hasFailed());
}

// Sends `signal` to process `pid` and waits (at most 2 s) until each of its
// threads is in `state`: a stop takes effect only once the process runs, and
// a host let go again sleeps once it has answered the period it missed.
void signalHost(int pid, int signal, char state) {
    kill(pid, signal);
    const std::string inState = std::string(") ") + state + " ";
    const auto until = Clock::now() + 2s;
    for (bool all = false; !all && Clock::now() < until;) {
        all = true;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
            std::ifstream stat(task.path() / "stat");
            std::string line;
            std::getline(stat, line);
            all = all && line.find(inState) != std::string::npos;
        }
    }
}

// A period the host misses plays what bypass plays: the input delayed by the
// plug-in's latency, so a plug-in that only delays goes on without a step;
// the answers that come again fade in, and the late one is not used.
TEST_F(Isolation, AMissedPeriodPlaysTheInputDelayedAsBypassDoes) {
    auto effect = isolated("urn:corvane:test:delay"); // 64 frames, and says so; port 2 claims another
    ASSERT_TRUE(effect);
    ASSERT_EQ(effect->reportedLatencyFrames(), 64.0f);
    auto input = [](std::uint32_t n) { return static_cast<float>(std::sin(0.01 * n)); };
    auto delayed = [&](std::uint32_t n, std::uint32_t by) { return n < by ? 0.0f : input(n - by); };
    std::uint32_t at = 0;
    auto play = [&](bool missed) {
        std::vector<float> in(kBlock);
        for (std::uint32_t i = 0; i < kBlock; ++i)
            in[i] = input(at + i);
        if (missed)
            signalHost(effect->hostPid(), SIGSTOP, 'T');
        const auto out = period(*effect, in, monotonicAfter(missed ? 10'000'000 : 1'000'000'000));
        if (missed) {
            signalHost(effect->hostPid(), SIGCONT, 'S');
        }
        at += kBlock;
        return out;
    };
    auto delayedBlock = [&](std::uint32_t start, std::uint32_t by) {
        std::vector<float> block(kBlock);
        for (std::uint32_t i = 0; i < kBlock; ++i)
            block[i] = delayed(start + i, by);
        return block;
    };
    for (bool missed : {false, false, true, false, false}) {
        const std::uint32_t start = at;
        EXPECT_EQ(play(missed), delayedBlock(start, 64)) << "from frame " << start;
    }
    EXPECT_EQ(effect->latePeriods(), 1u);

    // Told a latency of 16 frames, the dry path is that much behind, and
    // the plug-in's output comes back from it in a fade.
    ASSERT_TRUE(effect->setParameter(2, 16.0f));
    play(false);
    ASSERT_EQ(effect->reportedLatencyFrames(), 16.0f) << effect->latePeriods() << " late";
    std::uint32_t start = at;
    EXPECT_EQ(play(true), delayedBlock(start, 16));
    start = at;
    const std::vector<float> back = play(false);
    const float dry = delayed(start, 16);
    EXPECT_NEAR(back[0], dry, std::abs(delayed(start, 64) - dry) / 100.0f) << "no step from the dry period";
    EXPECT_NE(back, delayedBlock(start, 16));
    for (int i = 0; i < 3; ++i)
        play(false); // 5 ms of fade at 48 kHz: 240 frames
    start = at;
    EXPECT_EQ(play(false), delayedBlock(start, 64));
    EXPECT_EQ(effect->latePeriods(), 2u);
}

// Crash, exit and hang in run(): the period it happens in and every later one
// play the input, the first late, the rest without waiting once the fault is known.
TEST_F(Isolation, AFailingHostLeavesTheStripDry) {
    // Sanitized, the hosts (and the fixtures) end their own way: a crash
    // becomes a report and exit status 1, and exit() from the audio thread
    // waits in the sanitizer's exit handling. The plain build checks this.
    if (kSanitized)
        GTEST_SKIP() << "sanitized plug-in hosts do not crash or exit as a user's build does";
    struct Case {
        const char* uri;
        IsolatedEffect::Fault fault;
        const char* ending;
    };
    for (const Case& c : {Case{"urn:corvane:test:segfault", IsolatedEffect::Fault::Crashed, "SIGSEGV"},
                          Case{"urn:corvane:test:exit", IsolatedEffect::Fault::Crashed, "exit status 0"},
                          Case{"urn:corvane:test:endless", IsolatedEffect::Fault::StoppedResponding, "SIGKILL"}}) {
        SCOPED_TRACE(c.uri);
        auto effect = isolated(c.uri);
        ASSERT_TRUE(effect);
        // Two good periods, then the fault (prepare runs the plug-in once).
        ASSERT_TRUE(effect->setParameter(2, 3.0f));
        const std::vector<float> in = ramp(kBlock);
        for (int i = 0; i < 3; ++i) // a busy machine must not make a good period late
            EXPECT_EQ(period(*effect, in, monotonicAfter(i < 2 ? 1'000'000'000 : 200'000'000)), in);
        EXPECT_EQ(effect->latePeriods(), 1u);

        const Clock::time_point now = Clock::now();
        effect->checkHealth(now);
        if (c.fault == IsolatedEffect::Fault::StoppedResponding) {
            EXPECT_FALSE(effect->hasFailed()) << "silent for less than a second";
            effect->checkHealth(now + 999ms);
            EXPECT_FALSE(effect->hasFailed());
            effect->checkHealth(now + 1s);
            EXPECT_TRUE(effect->hasFailed());
        }
        pollfd ended{effect->pidfd(), POLLIN, 0};
        ASSERT_EQ(poll(&ended, 1, 2000), 1);
        effect->checkHealth(now + 2s);
        EXPECT_EQ(effect->fault(), c.fault);
        EXPECT_EQ(effect->faultReport().rfind(c.ending, 0), 0u) << effect->faultReport();

        const auto start = Clock::now();
        EXPECT_EQ(period(*effect, in, monotonicAfter(5'000'000'000)), in);
        EXPECT_LT(Clock::now() - start, 1s);
        EXPECT_EQ(effect->latePeriods(), 1u);
        EXPECT_FALSE(effect->saveState());
    }
}

// The host's address space is limited: memory without end is a crash of that host.
TEST_F(Isolation, ARunawayAllocationEndsOnlyItsHost) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a host under the address sanitizer has no address space limit";
#endif
    IsolatedEffect::Options small = options();
    small.addressSpaceLimit = 256ull << 20;
    auto effect = isolated("urn:corvane:test:hog", 1, small);
    ASSERT_TRUE(effect);
    std::ifstream limits("/proc/" + std::to_string(effect->hostPid()) + "/limits");
    std::string line;
    while (std::getline(limits, line) && line.rfind("Max address space", 0) != 0) {
    }
    EXPECT_NE(line.find(std::to_string(small.addressSpaceLimit)), std::string::npos) << line;
    ASSERT_TRUE(effect->setParameter(2, 1.0f));
    const std::vector<float> in = ramp(kBlock);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(period(*effect, in, monotonicAfter(100'000'000)), in);
    pollfd ended{effect->pidfd(), POLLIN, 0};
    ASSERT_EQ(poll(&ended, 1, 5000), 1);
    effect->checkHealth(Clock::now());
    EXPECT_EQ(effect->fault(), IsolatedEffect::Fault::Crashed) << effect->faultReport();
}

TEST_F(Isolation, LoadFailuresSayWhatBecameOfTheHost) {
    std::string error;
    EXPECT_FALSE(IsolatedEffect::instantiate("urn:corvane:test:abort", 48000, kBlock, kBlock, options(), error));
    EXPECT_EQ(error, "the plug-in crashed while loading (SIGABRT)");

    IsolatedEffect::Options quick = options();
    quick.loadLimit = 300ms;
    setenv("CORVANE_TEST_STALL_LOADING", "1", 1);
    EXPECT_FALSE(IsolatedEffect::instantiate("urn:corvane:test:stall", 48000, kBlock, kBlock, quick, error));
    unsetenv("CORVANE_TEST_STALL_LOADING");
    EXPECT_EQ(error, "the plug-in did not finish loading within 0.3 seconds");

    // The host's own refusal comes through as it is.
    EXPECT_FALSE(IsolatedEffect::instantiate("urn:corvane:test:none", 48000, kBlock, kBlock, options(), error));
    EXPECT_NE(error.find("not installed"), std::string::npos) << error;
}

TEST_F(Isolation, AHostEndsWithAKilledParent) {
    int pipe[2];
    ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        // Its audio thread caught in the plug-in: a host that would not end by
        // itself when the socket closes.
        auto effect = isolated("urn:corvane:test:endless");
        const pid_t host = effect && effect->setParameter(2, 1.0f) ? effect->hostPid() : -1;
        const std::vector<float> in(kBlock);
        for (int i = 0; i < 2 && host > 0; ++i)
            period(*effect, in, monotonicAfter(100'000'000));
        (void)!write(pipe[1], &host, sizeof host);
        pause();
        _exit(0);
    }
    close(pipe[1]);
    pid_t host = -1;
    ASSERT_EQ(read(pipe[0], &host, sizeof host), static_cast<ssize_t>(sizeof host));
    close(pipe[0]);
    ASSERT_GT(host, 0);
    const int watch = static_cast<int>(syscall(SYS_pidfd_open, host, 0));
    ASSERT_GE(watch, 0);
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    pollfd ended{watch, POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, 2000), 1) << "the host outlived its parent";
    close(watch);
}

} // namespace
} // namespace corvane::test
