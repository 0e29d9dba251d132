#pragma once
// Marks code that runs on a real-time thread (a device callback and all it
// calls), so that the test programs' real-time checker can tell when a thread
// is inside such code. Here, below the hardware and the engine, so that both
// mark their real-time code the same way.

namespace corvane {

// Put before the definition of a function that runs on a real-time thread: it
// must not allocate, lock, log, wait or do I/O, and may only call functions that
// carry the same mark.
#define CORVANE_REALTIME

// Depth of real-time scopes on the calling thread. A plain thread_local int with
// a constant initialiser, so reading it from inside malloc is safe: it needs no
// lazy set-up and never allocates.
inline thread_local int realtimeScopeDepth = 0;

inline bool inRealtimeScope() noexcept { return realtimeScopeDepth > 0; }

// Held for the whole of each device callback. Always compiled: it costs an
// increment and a decrement, and lets the tests watch the real thing.
class RealtimeScope {
public:
    RealtimeScope() noexcept { ++realtimeScopeDepth; }
    ~RealtimeScope() { --realtimeScopeDepth; }
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;
};

// Whose code the calling thread is running: the checker holds the host to
// account for what it does in real time, but only reports what a hosted
// plug-in's own code does. Per thread, like the depth above.
enum class CodeOwner : unsigned char { Host, Plugin, HostCallback };
inline thread_local CodeOwner codeOwner = CodeOwner::Host;

inline bool inPluginCode() noexcept { return codeOwner == CodeOwner::Plugin; }

// Held around a hosted plug-in's own processing inside a real-time scope. What
// a third-party plug-in does there is its own business: the checker reports it
// apart from the host's own calls instead of failing on it.
class PluginCodeScope {
public:
    PluginCodeScope() noexcept : previous_(codeOwner) { codeOwner = CodeOwner::Plugin; }
    ~PluginCodeScope() { codeOwner = previous_; }
    PluginCodeScope(const PluginCodeScope&) = delete;
    PluginCodeScope& operator=(const PluginCodeScope&) = delete;

private:
    CodeOwner previous_;
};

// Held by every host function a plug-in may call from its processing (worker
// schedule, log, URID map): the plug-in has handed control back to us, and what
// our code does there is ours to answer for. Called by the host itself it
// changes nothing.
class HostCallbackScope {
public:
    HostCallbackScope() noexcept : previous_(codeOwner) {
        if (previous_ == CodeOwner::Plugin)
            codeOwner = CodeOwner::HostCallback;
    }
    ~HostCallbackScope() { codeOwner = previous_; }
    HostCallbackScope(const HostCallbackScope&) = delete;
    HostCallbackScope& operator=(const HostCallbackScope&) = delete;

private:
    CodeOwner previous_;
};

} // namespace corvane
