#pragma once
// Stages manager states in tests that only look at how they are shown, where
// producing them for real would take hardware (or timing) the test has not got.

#include "engine/AudioEngineManager.h"

#include <optional>

namespace corvane::test {

class ManagerPeer {
public:
    static void select(AudioEngineManager& m, std::optional<AudioDevice> device) {
        m.setSelectedDevice(std::move(device));
    }
    static void supportedRange(AudioEngineManager& m, std::optional<BufferRange> range) {
        m.setSupportedBufferRange(range);
    }
    static void actualRate(AudioEngineManager& m, std::optional<double> rate) { m.setActualSampleRate(rate); }
    static void warning(AudioEngineManager& m, std::optional<QString> text) { m.setWarningMessage(std::move(text)); }
    static void error(AudioEngineManager& m, std::optional<QString> text) { m.setErrorMessage(std::move(text)); }
    static void loadFailure(AudioEngineManager& m, std::optional<PluginLoadFailure> failure) {
        m.setPluginLoadFailure(std::move(failure));
    }
};

} // namespace corvane::test
