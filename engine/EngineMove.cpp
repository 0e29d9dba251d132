// Pointing a fresh engine at the selected device before the graph is built.
#include "engine/AudioEngineManager.h"

#include "platform/system/Logging.h"

#include <QPointer>
#include <cmath>

namespace corvane {

using namespace std::chrono_literals;

Async<AudioEngineManager::HardwareFormats> AudioEngineManager::moveEngine(engine::Engine& engine,
                                                                          const AudioDevice& device) {
    QPointer<AudioEngineManager> self(this);
    // A fresh engine is on no device yet: binding it is no move, and nothing
    // will be announced to wait for.
    const bool alreadyThere = engine.device() == device.id || engine.device() == hw::kNoObject;
    // Binding announces a reconfiguration; building on a half-switched engine
    // would be wasted, so wait (bounded) for that announcement.
    auto raised = std::make_shared<bool>(false);
    auto observer = connect(&engine, &engine::Engine::configurationChanged, this, [raised] { *raised = true; });
    engine.setDevice(device.id);
    const HardwareFormats formats{engine.hardwareInputFormat(), engine.hardwareOutputFormat()};
    if (alreadyThere) {
        disconnect(observer);
        co_return formats;
    }
    const auto began = clock_.now();
    while (!*raised && clock_.now() - began < 1s) {
        if (!co_await sleepFor(clock_, 5ms))
            break; // a cancelled sleep would only spin until the deadline
    }
    if (!self)
        co_return formats;
    const auto elapsed = std::chrono::duration<double, std::milli>(clock_.now() - began).count();
    qCInfo(lcEngine, "Moved the engine onto “%s” (%d in / %d out): %s after %lld ms", qUtf8Printable(device.name),
           formats.input.channels, formats.output.channels,
           *raised ? "its configuration change arrived" : "no configuration change",
           static_cast<long long>(std::llround(elapsed)));
    disconnect(observer);
    co_return formats;
}

} // namespace corvane
