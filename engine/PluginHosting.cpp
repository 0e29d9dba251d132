// Running a strip's effect between its splitter and the combiner, and keeping
// the effect's settings across every stop and rebuild.
#include "engine/AudioEngineManager.h"

#include "engine/LevelMeter.h"
#include "platform/lv2/IsolatedEffect.h"
#include "platform/system/Logging.h"

#include <QSocketNotifier>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

namespace {
// How long a stop waits for the states of all isolated plug-ins together.
constexpr std::chrono::milliseconds kStopSaveLimit{2000};
} // namespace

std::optional<QString> AudioEngineManager::attachEffect(ChannelSlot& slot, LoadedEffect loaded, engine::Unit& splitter,
                                                        int combinerBus, engine::Format splitterOutput,
                                                        engine::Format combinerInput) {
    // The unit owns the effect from here on; the strip reaches it through the unit.
    auto unit = std::make_shared<engine::EffectUnit>(std::move(loaded.effect));
    slot.setEffectNode(unit);
    // Another effect or other settings given while the start loaded this one
    // are for the next build, like those given while it runs.
    if (slot.component() != loaded.component || slot.lastPluginState() != loaded.state)
        slot.replacePluginState(slot.lastPluginState());
    engine_->attach(unit);
    engine_->setTimingGroup(*unit, slot.id());
    const int n = slot.id() + 1;
    if (!engine_->connect(splitter, 0, *unit, 0, splitterOutput) ||
        !engine_->connect(*unit, 0, *combiner_->unit(), combinerBus, combinerInput))
        return QStringLiteral("Connecting the effect on channel %1 failed: %2")
            .arg(n)
            .arg(QString::fromStdString(engine_->lastError()));
    slot.effect()->setBypass(slot.bypass());
    LevelStore* store = &meters_->store();
    const std::uint32_t tapFrames = levelTapFrames(meters_->isShown());
    const int id = slot.id();
    engine_->installTap(splitter, 0, tapFrames, splitterOutput,
                        [store, id](const float* const* channels, int count, std::uint32_t frames) {
                            recordLevels(*store, id, true, false, channels, count, frames);
                        });
    engine_->installTap(*unit, 0, tapFrames, combinerInput,
                        [store, id](const float* const* channels, int count, std::uint32_t frames) {
                            recordLevels(*store, id, false, true, channels, count, frames);
                        });
    return std::nullopt;
}

void AudioEngineManager::saveEffectStates(const ChannelSlot* hung) {
    // Settings given while it ran (or another effect chosen) are for the next
    // build: the running effect's own are not kept over them. A plug-in whose
    // host has ended has no state to give, nor has a hung one: the state it
    // was loaded with, or last saved, is kept.
    std::vector<ChannelSlot*> saving;
    std::vector<lv2::IsolatedEffect*> isolated;
    for (auto* slot : channels_) {
        auto* effect = slot->effect();
        if (slot == hung || !effect || slot->stateReplacedWhileLoaded()
            || effect->fault() != lv2::HostedEffect::Fault::None)
            continue;
        saving.push_back(slot);
        if (auto* hosted = dynamic_cast<lv2::IsolatedEffect*>(effect))
            isolated.push_back(hosted);
    }
    // Every host is asked at once and all get one deadline together: hung
    // hosts hold a stop up for that long at most, not each for as long as
    // any other request may take.
    auto answers = lv2::IsolatedEffect::saveStates(isolated, kStopSaveLimit);
    std::size_t answer = 0;
    for (auto* slot : saving) {
        auto* effect = slot->effect();
        const bool hosted = answer < isolated.size() && isolated[answer] == effect;
        auto state = hosted ? std::move(answers[answer++]) : effect->saveState();
        const QString name = slot->component() ? slot->component()->name : QString();
        // A state that cannot be saved leaves nothing rather than an older
        // state the user has since changed; but a host that ended or hung
        // while saving leaves the state fetched once its edits had settled,
        // which is at most a second older.
        const auto fault = effect->fault();
        if (!state && fault == lv2::HostedEffect::Fault::StoppedResponding)
            qCWarning(lcEngine, "“%s” on channel %d did not give its settings in time and was ended: the "
                      "settings it last gave are kept", qUtf8Printable(name), slot->id() + 1);
        else if (!state && fault != lv2::HostedEffect::Fault::None)
            qCWarning(lcEngine, "“%s” on channel %d ended while its settings were saved: the settings it last "
                      "gave are kept", qUtf8Printable(name), slot->id() + 1);
        else if (!state)
            qCWarning(lcEngine, "The settings of “%s” on channel %d could not be saved", qUtf8Printable(name),
                      slot->id() + 1);
        if (state || fault == lv2::HostedEffect::Fault::None)
            slot->setLastPluginState(state ? std::optional<QByteArray>(QByteArray::fromStdString(*state))
                                           : std::nullopt);
    }
    for (auto* slot : channels_)
        slot->setEffectNode(nullptr);
}

void AudioEngineManager::setBypass(ChannelSlot& slot, bool bypass) {
    slot.setBypassFlag(bypass);
    if (auto* effect = slot.effect())
        effect->setBypass(bypass);
}

void AudioEngineManager::setBypass(int slotID, bool bypass) {
    if (slotID >= 0 && slotID < channels_.size())
        setBypass(*channels_[slotID], bypass);
}

void AudioEngineManager::tryAgainAfterPluginFailure() {
    setPluginLoadFailure(std::nullopt);
    startByUser();
}

void AudioEngineManager::removeFailedPlugin() {
    if (!pluginLoadFailure_)
        return;
    const int slotID = pluginLoadFailure_->slotID;
    setPluginLoadFailure(std::nullopt);
    for (auto* slot : channels_)
        if (slot->id() == slotID) {
            slot->setComponent(std::nullopt);
            break;
        }
    startByUser();
}

void AudioEngineManager::watchEffects() {
    if (!isRunning_)
        return;
    for (const auto& strip : runningStrips_) {
        auto* effect = strip.slot->effect();
        if (auto* isolated = dynamic_cast<lv2::IsolatedEffect*>(effect)) {
            isolated->checkHealth(clock_.now());
            notePluginFault(*strip.slot, *isolated);
            keepSettledState(*strip.slot, *isolated);
        }
        if (effect && effect->resetIfFaulted())
            qCWarning(lcEngine, "Plugin “%s” on channel %d produced audio that is not a number; it was reset",
                      qUtf8Printable(strip.slot->component() ? strip.slot->component()->name : QString()),
                      strip.slot->id() + 1);
    }
    // A plug-in that never returns from its processing: stop() leaves it
    // behind and says which one it was.
    if (engine_->stalledUnit())
        stop();
}

void AudioEngineManager::watchHost(ChannelSlot& slot, lv2::IsolatedEffect& effect) {
    QSocketNotifier*& watcher = hostWatchers_[std::size_t(slot.id())];
    delete std::exchange(watcher, nullptr);
    if (effect.pidfd() < 0)
        return;
    watcher = new QSocketNotifier(effect.pidfd(), QSocketNotifier::Read, this);
    connect(watcher, &QSocketNotifier::activated, this, [this, watcher, &slot, &effect] {
        // Readable for good once the host has ended: once is enough.
        watcher->setEnabled(false);
        effect.checkHealth(clock_.now());
        notePluginFault(slot, effect);
    });
    // What the host sends unasked (its editor's news) is taken as it comes,
    // so the window never asks and never waits for it. It goes with the watcher.
    auto* messages = new QSocketNotifier(effect.channelFd(), QSocketNotifier::Read, watcher);
    // A host found failed here is ended by now, and told by the watcher above.
    connect(messages, &QSocketNotifier::activated, this, [messages, &effect] {
        effect.takeMessages();
        if (effect.hasFailed())
            messages->setEnabled(false); // a closed socket stays readable
    });
}

void AudioEngineManager::keepSettledState(ChannelSlot& slot, lv2::IsolatedEffect& effect) {
    std::vector<float> values;
    for (const auto& parameter : effect.parameters())
        if (parameter.isInput)
            values.push_back(effect.parameter(parameter.portIndex));
    if (!settledEdits_[std::size_t(slot.id())].settledAt(std::move(values), clock_.now()) || effect.hasFailed()
        || slot.stateReplacedWhileLoaded())
        return;
    // Taken when the host answers (a plug-in may take its time to save):
    // the window does not wait for it. One that cannot be saved now, or
    // never comes, keeps the last one that could. The effect, and with it
    // this, goes before the slot.
    effect.fetchState([&slot](std::string state) {
        if (!slot.stateReplacedWhileLoaded())
            slot.setLastPluginState(QByteArray::fromStdString(state));
    });
}

void AudioEngineManager::shareScheduling(ChannelSlot& slot, lv2::IsolatedEffect& effect) {
    const std::string missing = effect.schedule(audioThreadPriority_, memoryLocked_);
    if (!missing.empty())
        qCInfo(lcEngine, "The plug-in host of channel %d: %s", slot.id() + 1, missing.c_str());
}

void AudioEngineManager::notePluginFault(ChannelSlot& slot, const lv2::IsolatedEffect& effect) {
    // Told once the host has ended and how is in the log, whoever found it first.
    const auto fault = effect.fault();
    if (!effect.faultEnded() || !slot.pluginFault().isEmpty())
        return;
    // The strip already plays dry, and every other strip plays on: playback
    // goes on, and the user is told which strip lost its plug-in.
    const QString how = fault == lv2::HostedEffect::Fault::Crashed ? QStringLiteral("crashed")
                                                                    : QStringLiteral("stopped responding");
    // How the host ended is in the log already (IsolatedEffect::checkHealth).
    slot.setPluginFault(how);
    setWarningMessage(slot.pluginFaultMessage());
}

bool AudioEngineManager::restartPlugin(int slotID) {
    if (!isRunning_ || slotID < 0 || slotID >= channels_.size())
        return false;
    ChannelSlot& slot = *channels_[slotID];
    auto* effect = dynamic_cast<lv2::IsolatedEffect*>(slot.effect());
    if (!effect || effect->fault() == lv2::HostedEffect::Fault::None)
        return false;
    const QString name = slot.component() ? slot.component()->name : QString::fromStdString(effect->name());
    std::optional<std::string> state;
    if (const auto& saved = slot.lastPluginState())
        state = saved->toStdString();
    // The old host's descriptor goes with it.
    delete std::exchange(hostWatchers_[std::size_t(slotID)], nullptr);
    std::string error;
    // On this thread, like every other request to the host: a plug-in loads
    // in moments, and the host's load limit bounds one that does not.
    if (!effect->restart(state, error)) {
        setWarningMessage(QStringLiteral("“%1” on channel %2 could not be restarted: %3")
                              .arg(name)
                              .arg(slotID + 1)
                              .arg(QString::fromStdString(error)));
        return false;
    }
    qCInfo(lcEngine, "Plugin “%s” on channel %d restarted", qUtf8Printable(name), slotID + 1);
    watchHost(slot, *effect);
    shareScheduling(slot, *effect);
    // The warning that it plays dry is no longer true.
    if (warningMessage_ && warningMessage_->startsWith(QStringLiteral("“%1” on channel %2 ").arg(name).arg(slotID + 1)))
        setWarningMessage(std::nullopt);
    slot.setPluginFault(QString());
    return true;
}

double AudioEngineManager::largestPluginLatency(const QList<ActiveStrip>& strips) {
    double longest = 0.0;
    for (const auto& strip : strips) {
        // Bypassed or not: a bypassed effect keeps its latency on the dry path.
        auto* effect = strip.slot->effect();
        if (!effect)
            continue;
        const double seconds = effect->latencySeconds();
        const float reported = effect->reportedLatencyFrames();
        if (seconds == 0.0 && reported != 0.0f && !latencyComplaints_.contains(effect)) {
            latencyComplaints_.append(effect);
            qCWarning(lcEngine, "Plugin “%s” on channel %d reports a latency of %g frames, which cannot be right - "
                                "counted as none",
                      qUtf8Printable(strip.slot->component() ? strip.slot->component()->name : QString()),
                      strip.slot->id() + 1, double(reported));
        }
        longest = std::max(longest, seconds);
    }
    return longest;
}

} // namespace corvane
