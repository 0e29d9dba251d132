#include "platform/lv2/UridMap.h"

#include "platform/system/RealtimeScope.h"

#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace corvane::lv2 {

namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<std::string, LV2_URID> ids;
    std::deque<std::string> uris; // deque: unmap() hands out pointers that must stay valid
};

Table& table() {
    static Table t;
    return t;
}

} // namespace

UridMap& UridMap::instance() {
    static UridMap map;
    return map;
}

UridMap::UridMap() {
    // LV2 lets these be slow, yet nothing stops a plug-in calling them from
    // run(): when it does, what the table does there is the host's doing.
    map_.handle = this;
    map_.map = [](LV2_URID_Map_Handle handle, const char* uri) {
        HostCallbackScope host;
        return static_cast<UridMap*>(handle)->map(uri);
    };
    unmap_.handle = this;
    unmap_.unmap = [](LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        HostCallbackScope host;
        return static_cast<UridMap*>(handle)->unmap(urid);
    };
}

LV2_URID UridMap::map(const char* uri) {
    if (!uri)
        return 0;
    Table& t = table();
    std::lock_guard guard(t.mutex);
    auto [it, inserted] = t.ids.try_emplace(uri, static_cast<LV2_URID>(t.uris.size() + 1));
    if (inserted)
        t.uris.emplace_back(uri);
    return it->second;
}

const char* UridMap::unmap(LV2_URID urid) {
    Table& t = table();
    std::lock_guard guard(t.mutex);
    if (urid == 0 || urid > t.uris.size())
        return nullptr;
    return t.uris[urid - 1].c_str();
}

} // namespace corvane::lv2
