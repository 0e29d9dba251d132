#pragma once
// What Corvane and a plug-in host say to each other over their HostChannel.
// Every request gets one answer of the same type and the request's tag, in
// order. The host also sends notices of its own, unasked, with kNoticeTag:
// one may come between a request and its answer, and so may the answer of a
// request Corvane did not wait for. A new message is a new type with its own
// encode and decode pair below; an end that does not know a type answers it
// with Unknown.

#include "platform/lv2/HostChannel.h"
#include "platform/lv2/Parameter.h"
#include "platform/lv2/Preset.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::lv2 {

enum class HostMessage : std::uint32_t {
    Unknown = 0,
    Load,         // LoadRequest -> LoadAnswer
    Prepare,      // PrepareRequest -> Outcome
    Reset,        // nothing -> Outcome
    SaveState,    // nothing -> Outcome (text: the state; ok false: none)
    RestoreState, // text -> Outcome
    ResetIfFaulted, // nothing -> Outcome (ok: it was reset)
    ListPresets,  // nothing -> the presets (encode(std::vector<Preset>))
    LoadPreset,   // text (the preset's URI) -> Outcome
    SavePreset,   // SavePresetRequest -> Outcome (text: the new preset's URI, or why not)
    OpenEditor,   // u32 parent window -> EditorView
    EditorNews,   // a notice: EditorView (ok; its size and touched port: news since the last)
    ResizeEditor, // u32 width, u32 height -> Outcome
    CloseEditor,  // nothing -> Outcome
    Schedule,     // ScheduleRequest -> Outcome (text: what the host could not have, for the log)
};

// The tag of a notice; requests count theirs from 1.
constexpr std::uint32_t kNoticeTag = 0;

struct LoadRequest {
    std::string uri;
    double sampleRate = 0.0;
    std::uint32_t maxBlockFrames = 0;
    std::uint32_t nominalBlockFrames = 0;
};

struct LoadAnswer {
    bool ok = false;
    std::string error; // why not, when not
    std::string name;
    int audioInputs = 0;
    int audioOutputs = 0;
    bool hasEnablePort = false;
    std::vector<Parameter> parameters;
};

struct PrepareRequest {
    double sampleRate = 0.0;
    std::uint32_t maxFrames = 0;
    int inputChannels = 0;
    int outputChannels = 0;
};

struct SavePresetRequest {
    std::string label;
    std::string userDir; // where the preset's bundle goes (normally ~/.lv2)
};

// What Corvane's audio thread and memory have, for the host to have the same:
// the audio thread's SCHED_FIFO priority (0: none) and whether memory is locked.
struct ScheduleRequest {
    int realtimePriority = 0;
    bool lockMemory = false;
};

// The plug-in's own X11 editor, made by the host as a child of a window of
// ours: its window, the size it asks for (0 × 0: none) and the control input
// a user set in it last (kNoPort: none).
struct EditorView {
    static constexpr std::uint32_t kNoPort = 0xffffffff;
    bool ok = false;
    std::string error; // why not, when not
    std::uint32_t window = 0;
    int width = 0;
    int height = 0;
    std::uint32_t touchedPort = kNoPort;
};

// The answer of requests that succeed or not, with a text either way.
struct Outcome {
    bool ok = false;
    std::string text; // the reason when not ok, else what was asked for (if anything)
};

MessageWriter encode(const LoadRequest& request);
MessageWriter encode(const LoadAnswer& answer);
MessageWriter encode(const PrepareRequest& request);
MessageWriter encode(const Outcome& outcome);
MessageWriter encode(const ScheduleRequest& request);
MessageWriter encode(const std::vector<Preset>& presets);
MessageWriter encode(const SavePresetRequest& request);
MessageWriter encode(const EditorView& view);
// False for a payload that is not a whole, well-formed message of the type.
bool decode(const std::vector<unsigned char>& payload, LoadRequest& request);
bool decode(const std::vector<unsigned char>& payload, LoadAnswer& answer);
bool decode(const std::vector<unsigned char>& payload, PrepareRequest& request);
bool decode(const std::vector<unsigned char>& payload, Outcome& outcome);
bool decode(const std::vector<unsigned char>& payload, ScheduleRequest& request);
bool decode(const std::vector<unsigned char>& payload, std::vector<Preset>& presets);
bool decode(const std::vector<unsigned char>& payload, SavePresetRequest& request);
bool decode(const std::vector<unsigned char>& payload, EditorView& view);

} // namespace corvane::lv2
