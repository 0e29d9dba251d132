#pragma once
// Marks the thread that is inside an effect's process() call, so host callbacks
// a plug-in makes (log, worker schedule) know whether they run in real time.

namespace corvane::lv2 {

inline thread_local bool insideRender = false;

// Sets the mark for the span of one process() call. Real-time safe.
class RenderScope {
public:
    RenderScope() noexcept : previous_(insideRender) { insideRender = true; }
    ~RenderScope() { insideRender = previous_; }
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;

private:
    bool previous_;
};

} // namespace corvane::lv2
