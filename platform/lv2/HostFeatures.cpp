#include "platform/lv2/HostFeatures.h"

#include "platform/lv2/UridMap.h"
#include "platform/lv2/Worker.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <cstring>

namespace corvane::lv2 {

namespace {

char* duplicate(const std::string& s) { return strdup(s.c_str()); }

} // namespace

HostFeatures::HostFeatures(double sampleRate, std::uint32_t maxBlockFrames, std::uint32_t nominalBlockFrames,
                           std::uint32_t sequenceBytes, Worker& worker, std::string scratchDir)
    : sampleRate_(static_cast<float>(sampleRate)), minBlock_(1), maxBlock_(static_cast<std::int32_t>(maxBlockFrames)),
      nominalBlock_(static_cast<std::int32_t>(nominalBlockFrames)), sequenceSize_(static_cast<std::int32_t>(sequenceBytes)), scratchDir_(std::move(scratchDir)) {
    UridMap& urids = UridMap::instance();
    const LV2_URID atomInt = urids.map(LV2_ATOM__Int);
    const LV2_URID atomFloat = urids.map(LV2_ATOM__Float);
    auto option = [&](const char* key, LV2_URID type, const void* value, std::uint32_t size) {
        options_.push_back({LV2_OPTIONS_INSTANCE, 0, urids.map(key), size, type, value});
    };
    option(LV2_PARAMETERS__sampleRate, atomFloat, &sampleRate_, sizeof sampleRate_);
    option(LV2_BUF_SIZE__minBlockLength, atomInt, &minBlock_, sizeof minBlock_);
    option(LV2_BUF_SIZE__maxBlockLength, atomInt, &maxBlock_, sizeof maxBlock_);
    option(LV2_BUF_SIZE__nominalBlockLength, atomInt, &nominalBlock_, sizeof nominalBlock_);
    option(LV2_BUF_SIZE__sequenceSize, atomInt, &sequenceSize_, sizeof sequenceSize_);
    options_.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});

    makePath_.handle = this;
    makePath_.path = &HostFeatures::makePath;
    mapPath_.handle = this;
    mapPath_.abstract_path = &HostFeatures::mapAbstract;
    mapPath_.absolute_path = &HostFeatures::mapAbsolute;
    freePath_.handle = this;
    freePath_.free_path = &HostFeatures::freePath;

    features_ = {
        {LV2_URID__map, urids.mapFeature()},
        {LV2_URID__unmap, urids.unmapFeature()},
        {LV2_OPTIONS__options, options_.data()},
        {LV2_BUF_SIZE__boundedBlockLength, nullptr},
        {LV2_WORKER__schedule, worker.scheduleFeature()},
        {LV2_LOG__log, log_.feature()},
        {LV2_STATE__makePath, &makePath_},
        {LV2_STATE__mapPath, &mapPath_},
        {LV2_STATE__freePath, &freePath_},
    };
    for (const LV2_Feature& f : features_)
        pointers_.push_back(&f);
    pointers_.push_back(nullptr);
}

bool HostFeatures::supports(const char* uri) {
    static const char* const known[] = {
        LV2_URID__map,          LV2_URID__unmap,     LV2_OPTIONS__options, LV2_BUF_SIZE__boundedBlockLength,
        LV2_WORKER__schedule,   LV2_LOG__log,        LV2_STATE__makePath,  LV2_STATE__mapPath,
        LV2_STATE__freePath,    LV2_CORE__hardRTCapable, LV2_CORE__inPlaceBroken, LV2_CORE__isLive,
    };
    for (const char* k : known)
        if (std::strcmp(k, uri) == 0)
            return true;
    return false;
}

char* HostFeatures::makePath(LV2_State_Make_Path_Handle handle, const char* path) {
    auto* self = static_cast<HostFeatures*>(handle);
    const QString full = QDir(QString::fromStdString(self->scratchDir_)).filePath(QString::fromUtf8(path));
    QDir().mkpath(QFileInfo(full).absolutePath());
    return duplicate(full.toStdString());
}

// Outside a state save nothing is relocated, so abstract and absolute paths
// are the same text.
char* HostFeatures::mapAbstract(LV2_State_Map_Path_Handle, const char* absolutePath) {
    return duplicate(absolutePath);
}

char* HostFeatures::mapAbsolute(LV2_State_Map_Path_Handle, const char* abstractPath) {
    return duplicate(abstractPath);
}

void HostFeatures::freePath(LV2_State_Free_Path_Handle, char* path) { std::free(path); }

} // namespace corvane::lv2
