#include "platform/hardware/alsa/PcmProbe.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>

namespace corvane::hw::alsa {

namespace {

struct Side {
    std::uint32_t channels = 0;
    std::vector<double> rates;
    std::vector<std::uint32_t> periodSizes;
    std::uint32_t minPeriod = 0;
    std::uint32_t maxPeriod = 0;
};

std::optional<Side> probeSide(const std::string& name, snd_pcm_stream_t stream, int& error) {
    snd_pcm_t* pcm = nullptr;
    if (int err = snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK); err < 0) {
        error = err;
        return std::nullopt;
    }
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    std::optional<Side> side;
    if (snd_pcm_hw_params_any(pcm, params) >= 0) {
        // Plug-in PCMs would resample to anything; the rates that count are
        // those the device runs at itself.
        snd_pcm_hw_params_set_rate_resample(pcm, params, 0);
        side.emplace();
        unsigned channels = 0;
        if (snd_pcm_hw_params_get_channels_max(params, &channels) == 0)
            side->channels = std::min<std::uint32_t>(channels, kMaxChannels);
        for (double rate : kCandidateRates)
            if (snd_pcm_hw_params_test_rate(pcm, params, static_cast<unsigned>(rate), 0) == 0)
                side->rates.push_back(rate);
        snd_pcm_uframes_t frames = 0;
        int dir = 0;
        side->minPeriod = kMinPeriodFrames;
        side->maxPeriod = kMaxPeriodFrames;
        if (snd_pcm_hw_params_get_period_size_min(params, &frames, &dir) == 0)
            side->minPeriod = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(frames), kMinPeriodFrames,
                                                        kMaxPeriodFrames);
        if (snd_pcm_hw_params_get_period_size_max(params, &frames, &dir) == 0 && frames < kMaxPeriodFrames)
            side->maxPeriod = std::max<std::uint32_t>(static_cast<std::uint32_t>(frames), side->minPeriod);
        for (std::uint32_t size = kMinPeriodFrames; size <= kMaxPeriodFrames; size *= 2)
            if (snd_pcm_hw_params_test_period_size(pcm, params, size, 0) == 0)
                side->periodSizes.push_back(size);
    } else {
        error = -EINVAL;
    }
    snd_pcm_close(pcm);
    return side;
}

} // namespace

std::optional<std::uint32_t> nearestPeriod(const std::string& name, bool capture, bool playback, double rate,
                                           std::uint32_t frames) {
    const snd_pcm_stream_t stream = playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
    if (!playback && !capture)
        return std::nullopt;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK) < 0)
        return std::nullopt;
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    std::optional<std::uint32_t> nearest;
    snd_pcm_uframes_t period = frames;
    int dir = 0;
    if (snd_pcm_hw_params_any(pcm, params) >= 0) {
        snd_pcm_hw_params_set_rate_resample(pcm, params, 0);
        snd_pcm_hw_params_set_rate(pcm, params, static_cast<unsigned>(std::lround(rate)), 0);
        if (snd_pcm_hw_params_set_period_size_near(pcm, params, &period, &dir) == 0)
            nearest = static_cast<std::uint32_t>(period);
    }
    snd_pcm_close(pcm);
    return nearest;
}

ProbeResult probePcm(const std::string& name, bool capture, bool playback) {
    ProbeResult result;
    std::optional<Side> in = capture ? probeSide(name, SND_PCM_STREAM_CAPTURE, result.error) : std::nullopt;
    std::optional<Side> out = playback ? probeSide(name, SND_PCM_STREAM_PLAYBACK, result.error) : std::nullopt;
    if (!in && !out)
        return result;
    PcmCapabilities caps;
    caps.inputs = in ? in->channels : 0;
    caps.outputs = out ? out->channels : 0;
    if (in && out) {
        std::set_intersection(in->rates.begin(), in->rates.end(), out->rates.begin(), out->rates.end(),
                              std::back_inserter(caps.rates));
        std::set_intersection(in->periodSizes.begin(), in->periodSizes.end(), out->periodSizes.begin(),
                              out->periodSizes.end(), std::back_inserter(caps.periodSizes));
        caps.minPeriod = std::max(in->minPeriod, out->minPeriod);
        caps.maxPeriod = std::max(caps.minPeriod, std::min(in->maxPeriod, out->maxPeriod));
    } else {
        const Side& side = in ? *in : *out;
        caps.rates = side.rates;
        caps.periodSizes = side.periodSizes;
        caps.minPeriod = side.minPeriod;
        caps.maxPeriod = side.maxPeriod;
    }
    result.capabilities = std::move(caps);
    return result;
}

} // namespace corvane::hw::alsa
