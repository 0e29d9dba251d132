#pragma once
// The process-wide URI <-> URID table handed to plug-ins and used for state.
// One table for every instance keeps URIDs comparable across plug-ins.

#include <lv2/urid/urid.h>

namespace corvane::lv2 {

class UridMap {
public:
    static UridMap& instance();

    // Thread-safe, but with a mutex: not real-time safe, which LV2 allows.
    // Plug-ins map during instantiation; one that maps in run() makes the
    // host take the lock on the render thread.
    LV2_URID map(const char* uri);
    const char* unmap(LV2_URID urid);

    // Feature structs pointing at this table; they live as long as the process.
    LV2_URID_Map* mapFeature() { return &map_; }
    LV2_URID_Unmap* unmapFeature() { return &unmap_; }

private:
    UridMap();
    LV2_URID_Map map_;
    LV2_URID_Unmap unmap_;
};

} // namespace corvane::lv2
