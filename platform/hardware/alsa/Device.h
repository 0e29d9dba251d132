#pragma once
// What the ALSA backend knows of one of its devices. Plain data: the backend's
// lock guards it.

#include "platform/hardware/Properties.h"
#include "platform/hardware/alsa/IoSession.h"
#include "platform/hardware/alsa/PcmProbe.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace corvane::hw::alsa {

struct Device {
    ObjectId id = kNoObject;
    std::string uid;
    std::string name;
    std::string pcmName;
    bool wantsCapture = true;
    bool wantsPlayback = true;
    std::optional<PcmHolder> holder; // when it was busy at the last look
    std::optional<PcmCapabilities> caps;
    double rate = 48000.0;
    std::uint32_t periodFrames = 256;
    std::uint32_t periods = 2;
    std::shared_ptr<IoSession> session; // set while I/O runs
};

} // namespace corvane::hw::alsa
