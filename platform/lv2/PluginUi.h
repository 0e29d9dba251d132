#pragma once
// A plug-in's own editor, hosted without a toolkit wrapper: an X11 UI embedded
// in a window of ours (ui:parent is that window's native id), or a UI that
// shows a window of its own through the show interface. The editor talks to
// the plug-in only through the effect's UI link; it never touches the instance.
//
// Threads: everything on the main thread, which is where X11 UIs expect their
// idle calls. Destroy it before the effect: it detaches from the effect and
// cleans the UI up first.

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::lv2 {

class Lv2Effect;

class PluginUi {
public:
    enum class Kind { X11, Show };
    // The UI a host like this one can show, read from the plug-in's description.
    struct Choice {
        Kind kind = Kind::X11;
        std::string uri;
        std::string bundlePath; // ends in '/'
        std::string binaryPath;
        std::vector<std::uint32_t> atomPortsToUi; // declared notifications (all atom outputs without any)
    };

    // The first X11 UI (when `x11` says an X11 parent can be given) or, failing
    // that, the first UI with the show interface; nothing when there is none.
    static std::optional<Choice> choose(const Lv2Effect& effect, bool x11);

    // Why a plug-in must not be shown its own editor in this host, when it is
    // known to crash the process once that editor is connected; null for any
    // other plug-in.
    static const char* knownCrashWithEditor(const std::string& pluginUri);

    // Loads and instantiates `choice` for `effect`. `parent` is the native
    // window an X11 UI goes into. `requestResize` is called when the UI asks
    // for a new size (never with a zero side). Null with `error` set when the
    // library does not load or the UI refuses; the effect is left as it was.
    static std::unique_ptr<PluginUi> create(Lv2Effect& effect, const Choice& choice, std::uintptr_t parent,
                                            std::function<void(int, int)> requestResize, std::string& error);
    ~PluginUi();
    PluginUi(const PluginUi&) = delete;
    PluginUi& operator=(const PluginUi&) = delete;

    Kind kind() const { return kind_; }
    // An X11 UI's window (a child of the parent).
    std::uintptr_t widget() const { return reinterpret_cast<std::uintptr_t>(widget_); }
    // The size the UI asked for while it was built; 0 × 0 when it asked none.
    int preferredWidth() const { return preferredWidth_; }
    int preferredHeight() const { return preferredHeight_; }

    // One round of the UI's own work plus the plug-in's news for it. False
    // when the UI asks to be closed (a show-interface UI whose window was shut).
    bool idle();
    // Delivers what the plug-in sent since the last call (idle() does too).
    void deliverPluginEvents();
    // Tells the UI its parent now has this size (when the UI takes resizes).
    void resize(int width, int height);
    // Show-interface UIs only; false when the UI would not.
    bool show();
    void hide();
    // Called with the port index each time the UI sets a control input's
    // value, as a user moving one does (on the main thread, from within the
    // UI's own code). Values the UI sends while it is being built do not count.
    void onControlWritten(std::function<void(std::uint32_t)> written) { controlWritten_ = std::move(written); }

private:
    PluginUi() = default;
    static void write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size, std::uint32_t protocol,
                      const void* buffer);
    static int hostResize(LV2UI_Feature_Handle handle, int width, int height);
    static std::uint32_t portIndex(LV2UI_Feature_Handle handle, const char* symbol);
    void portEvent(std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size);

    Kind kind_ = Kind::X11;
    Lv2Effect* effect_ = nullptr;
    const LV2UI_Descriptor* descriptor_ = nullptr;
    LV2UI_Handle handle_ = nullptr;
    LV2UI_Widget widget_ = nullptr;
    const LV2UI_Idle_Interface* idle_ = nullptr;
    const LV2UI_Show_Interface* show_ = nullptr;
    const LV2UI_Resize* resize_ = nullptr;
    std::function<void(int, int)> requestResize_;
    std::function<void(std::uint32_t)> controlWritten_;
    bool building_ = false;
    int preferredWidth_ = 0;
    int preferredHeight_ = 0;
    float updateRate_ = 30.0f;
    float sampleRate_ = 48000.0f;

    LV2UI_Resize hostResizeFeature_{};
    LV2UI_Port_Map portMapFeature_{};
    std::vector<LV2_Options_Option> options_;
    std::vector<LV2_Feature> features_;
    std::vector<const LV2_Feature*> featurePointers_;
};

} // namespace corvane::lv2
