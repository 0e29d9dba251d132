#pragma once
// The host features one plug-in instance is given: URID map/unmap, options,
// bounded block length, worker schedule, state paths and log. One set per
// instance; it must outlive the instance.

#include "platform/lv2/PluginLog.h"

#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::lv2 {

class Worker;

class HostFeatures {
public:
    // `scratchDir` is where state:makePath puts files the plug-in creates; it is
    // made on first use. `sequenceBytes` is the capacity of every atom buffer.
    HostFeatures(double sampleRate, std::uint32_t maxBlockFrames, std::uint32_t nominalBlockFrames,
                 std::uint32_t sequenceBytes, Worker& worker, std::string scratchDir);
    HostFeatures(const HostFeatures&) = delete;
    HostFeatures& operator=(const HostFeatures&) = delete;

    // Null-terminated, as LV2 instantiate() and the state calls expect.
    const LV2_Feature* const* features() const { return pointers_.data(); }

    // True for every feature URI this host can satisfy, including those that
    // need no data (hard real-time, in-place-broken).
    static bool supports(const char* featureUri);

    const std::string& scratchDir() const { return scratchDir_; }
    PluginLog& log() { return log_; }

private:
    static char* makePath(LV2_State_Make_Path_Handle handle, const char* path);
    static char* mapAbstract(LV2_State_Map_Path_Handle handle, const char* absolutePath);
    static char* mapAbsolute(LV2_State_Map_Path_Handle handle, const char* abstractPath);
    static void freePath(LV2_State_Free_Path_Handle handle, char* path);

    float sampleRate_;
    std::int32_t minBlock_;
    std::int32_t maxBlock_;
    std::int32_t nominalBlock_;
    std::int32_t sequenceSize_;
    std::string scratchDir_;
    std::vector<LV2_Options_Option> options_;
    PluginLog log_;
    LV2_State_Make_Path makePath_{};
    LV2_State_Map_Path mapPath_{};
    LV2_State_Free_Path freePath_{};
    std::vector<LV2_Feature> features_;
    std::vector<const LV2_Feature*> pointers_;
};

} // namespace corvane::lv2
