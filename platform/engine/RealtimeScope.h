#pragma once
// Marks code that runs on the render thread, and tells anyone watching (the
// test programs' allocation checker) when a thread is inside such code.

namespace corvane::engine {

// Put before the definition of a function that runs on the render thread: it
// must not allocate, lock, log, wait or do I/O, and may only call functions that
// carry the same mark.
#define CORVANE_REALTIME

// Depth of real-time scopes on the calling thread. A plain thread_local int with
// a constant initialiser, so reading it from inside malloc is safe: it needs no
// lazy set-up and never allocates.
inline thread_local int realtimeScopeDepth = 0;

inline bool inRealtimeScope() noexcept { return realtimeScopeDepth > 0; }

// Held by the render path for the whole of each device callback. Always compiled:
// it costs two increments per period and lets the tests watch the real thing.
class RealtimeScope {
public:
    RealtimeScope() noexcept { ++realtimeScopeDepth; }
    ~RealtimeScope() { --realtimeScopeDepth; }
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;
};

// Held around a hosted plug-in's own processing inside a real-time scope. What
// a third-party plug-in does there is its own business: the allocation checker
// reports it apart from the host's own heap use instead of failing on it.
inline thread_local int pluginCodeDepth = 0;
inline bool inPluginCode() noexcept { return pluginCodeDepth > 0; }

class PluginCodeScope {
public:
    PluginCodeScope() noexcept { ++pluginCodeDepth; }
    ~PluginCodeScope() { --pluginCodeDepth; }
    PluginCodeScope(const PluginCodeScope&) = delete;
    PluginCodeScope& operator=(const PluginCodeScope&) = delete;
};

} // namespace corvane::engine
