#include "platform/lv2/HostMessages.h"

namespace corvane::lv2 {

namespace {

// A parameter's smallest encoding: its fixed fields and empty texts.
constexpr std::size_t kMinParameterBytes = 64;
constexpr std::size_t kMinScalePointBytes = 8;
constexpr std::size_t kMinPresetBytes = 12;

void put(MessageWriter& out, const Parameter& p) {
    out.u32(p.portIndex).text(p.symbol).text(p.name).f32(p.minimum).f32(p.maximum).f32(p.defaultValue);
    out.flag(p.isInput).flag(p.toggled).flag(p.integer).flag(p.enumeration).flag(p.logarithmic).flag(p.expert);
    out.flag(p.isEnable).flag(p.reportsLatency).text(p.unit).u32(static_cast<std::uint32_t>(p.scalePoints.size()));
    for (const ScalePoint& point : p.scalePoints)
        out.f32(point.value).text(point.label);
}

bool take(MessageReader& in, Parameter& p) {
    std::uint32_t points = 0;
    in.u32(p.portIndex), in.text(p.symbol), in.text(p.name), in.f32(p.minimum), in.f32(p.maximum);
    in.f32(p.defaultValue), in.flag(p.isInput), in.flag(p.toggled), in.flag(p.integer), in.flag(p.enumeration);
    in.flag(p.logarithmic), in.flag(p.expert), in.flag(p.isEnable), in.flag(p.reportsLatency), in.text(p.unit);
    if (!in.count(points, kMinScalePointBytes))
        return false;
    p.scalePoints.resize(points);
    for (ScalePoint& point : p.scalePoints)
        in.f32(point.value), in.text(point.label);
    return true;
}

// A plug-in's audio ports (a sampler's direct outputs run to about a hundred).
bool channels(int count) {
    return count >= 0 && count <= 4096;
}

} // namespace

MessageWriter encode(const LoadRequest& request) {
    MessageWriter out;
    out.text(request.uri).f64(request.sampleRate).u32(request.maxBlockFrames).u32(request.nominalBlockFrames);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, LoadRequest& request) {
    MessageReader in(payload);
    in.text(request.uri), in.f64(request.sampleRate), in.u32(request.maxBlockFrames);
    in.u32(request.nominalBlockFrames);
    return in.ok();
}

MessageWriter encode(const LoadAnswer& answer) {
    MessageWriter out;
    out.flag(answer.ok).text(answer.error).text(answer.name);
    out.u32(static_cast<std::uint32_t>(answer.audioInputs)).u32(static_cast<std::uint32_t>(answer.audioOutputs));
    out.flag(answer.hasEnablePort).u32(static_cast<std::uint32_t>(answer.parameters.size()));
    for (const Parameter& p : answer.parameters)
        put(out, p);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, LoadAnswer& answer) {
    MessageReader in(payload);
    std::uint32_t ins = 0, outs = 0, count = 0;
    in.flag(answer.ok), in.text(answer.error), in.text(answer.name), in.u32(ins), in.u32(outs);
    in.flag(answer.hasEnablePort);
    if (!in.count(count, kMinParameterBytes))
        return false;
    answer.parameters.resize(count);
    for (Parameter& p : answer.parameters)
        if (!take(in, p))
            return false;
    answer.audioInputs = static_cast<int>(ins);
    answer.audioOutputs = static_cast<int>(outs);
    return in.ok() && channels(answer.audioInputs) && channels(answer.audioOutputs);
}

MessageWriter encode(const PrepareRequest& request) {
    MessageWriter out;
    out.f64(request.sampleRate).u32(request.maxFrames);
    out.u32(static_cast<std::uint32_t>(request.inputChannels)).u32(static_cast<std::uint32_t>(request.outputChannels));
    return out;
}

bool decode(const std::vector<unsigned char>& payload, PrepareRequest& request) {
    MessageReader in(payload);
    std::uint32_t ins = 0, outs = 0;
    in.f64(request.sampleRate), in.u32(request.maxFrames), in.u32(ins), in.u32(outs);
    request.inputChannels = static_cast<int>(ins);
    request.outputChannels = static_cast<int>(outs);
    return in.ok() && channels(request.inputChannels) && channels(request.outputChannels);
}

MessageWriter encode(const Outcome& outcome) {
    MessageWriter out;
    out.flag(outcome.ok).text(outcome.text);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, Outcome& outcome) {
    MessageReader in(payload);
    in.flag(outcome.ok), in.text(outcome.text);
    return in.ok();
}

MessageWriter encode(const std::vector<Preset>& presets) {
    MessageWriter out;
    out.u32(static_cast<std::uint32_t>(presets.size()));
    for (const Preset& p : presets)
        out.text(p.uri).text(p.label).flag(p.user);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, std::vector<Preset>& presets) {
    MessageReader in(payload);
    std::uint32_t count = 0;
    if (!in.count(count, kMinPresetBytes))
        return false;
    presets.resize(count);
    for (Preset& p : presets)
        in.text(p.uri), in.text(p.label), in.flag(p.user);
    return in.ok();
}

MessageWriter encode(const SavePresetRequest& request) {
    MessageWriter out;
    out.text(request.label).text(request.userDir);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, SavePresetRequest& request) {
    MessageReader in(payload);
    in.text(request.label), in.text(request.userDir);
    return in.ok();
}

MessageWriter encode(const EditorView& view) {
    MessageWriter out;
    out.flag(view.ok).text(view.error).u32(view.window);
    out.u32(static_cast<std::uint32_t>(view.width)).u32(static_cast<std::uint32_t>(view.height));
    out.u32(view.touchedPort);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, EditorView& view) {
    MessageReader in(payload);
    std::uint32_t width = 0, height = 0;
    in.flag(view.ok), in.text(view.error), in.u32(view.window), in.u32(width), in.u32(height);
    in.u32(view.touchedPort);
    // No screen is a million pixels wide.
    if (!in.ok() || width > 1'000'000 || height > 1'000'000)
        return false;
    view.width = static_cast<int>(width);
    view.height = static_cast<int>(height);
    return true;
}

MessageWriter encode(const ScheduleRequest& request) {
    MessageWriter out;
    out.u32(static_cast<std::uint32_t>(request.realtimePriority)).flag(request.lockMemory);
    return out;
}

bool decode(const std::vector<unsigned char>& payload, ScheduleRequest& request) {
    MessageReader in(payload);
    std::uint32_t priority = 0;
    in.u32(priority), in.flag(request.lockMemory);
    request.realtimePriority = static_cast<int>(priority);
    return in.ok() && priority <= 99;
}

} // namespace corvane::lv2
