#pragma once
// Stages manager states in tests that only look at how they are shown, where
// producing them for real would take hardware (or timing) the test has not got;
// and shows tests what the manager keeps to itself: the graph it built, its
// recovery and its device switches.

#include "engine/AudioEngineManager.h"
#include "engine/ConfigurationRecovery.h"
#include "engine/MatrixMixerNode.h"
#include "platform/system/Task.h"

#include <QList>
#include <memory>
#include <optional>

namespace corvane::test {

class ManagerPeer {
public:
    static void select(AudioEngineManager& m, std::optional<AudioDevice> device) {
        m.deviceTracking_.setSelected(std::move(device));
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

    static const QList<std::shared_ptr<MatrixMixerNode>>& splitters(const AudioEngineManager& m) {
        return m.splitters_;
    }
    static const std::shared_ptr<MatrixMixerNode>& combiner(const AudioEngineManager& m) { return m.combiner_; }
    static const ConfigurationRecovery& recovery(const AudioEngineManager& m) { return m.recovery_; }
    static const Task& deviceSwitchTask(const AudioEngineManager& m) { return m.deviceTracking_.switchTask(); }
};

} // namespace corvane::test
