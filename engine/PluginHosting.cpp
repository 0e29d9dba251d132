// Running a strip's effect between its splitter and the combiner, and keeping
// the effect's settings across every stop and rebuild.
#include "engine/AudioEngineManager.h"

#include "engine/LevelMeter.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/system/Logging.h"

#include <QPointer>
#include <QUuid>

namespace corvane {

namespace {

constexpr std::uint32_t kTapFrames = 2048;

lv2::Lv2Effect* lv2EffectOf(const ChannelSlot& slot) {
    return slot.effectNode() ? dynamic_cast<lv2::Lv2Effect*>(&slot.effectNode()->processor()) : nullptr;
}

} // namespace

Async<bool> AudioEngineManager::hostEffect(ChannelSlot& slot, engine::Unit& splitter, int combinerBus,
                                           engine::Format splitterOutput, engine::Format combinerInput, double rate) {
    QPointer<AudioEngineManager> self(this);
    QPointer<ChannelSlot> strip(&slot);
    const PluginComponent component = *slot.component();
    const std::string uri = component.uri.toStdString();
    const std::uint32_t maxFrames = actualBufferFrames_.value_or(bufferFrames_);

    // Instantiation may be slow (plug-ins load files, build tables): never on
    // the main thread, never on the real-time one.
    // Named, not written inside the co_await: g++ 12 destroys a capturing
    // lambda twice when both share one expression.
    auto instantiate = [uri, rate, maxFrames] {
        std::string reason;
        std::unique_ptr<lv2::Lv2Effect> effect = lv2::Lv2Effect::instantiate(uri, rate, maxFrames, reason);
        return std::make_pair(std::move(effect), reason);
    };
    auto loaded = co_await runDetached(std::move(instantiate));
    if (!self || !strip)
        co_return false;
    std::unique_ptr<lv2::Lv2Effect> effect = loaded ? std::move(loaded->first) : nullptr;
    if (!effect) {
        const QString reason = loaded ? QString::fromStdString(loaded->second) : QStringLiteral("Loading was cancelled.");
        qCInfo(lcEngine, "Plugin “%s” failed to load on channel %d: %s", qUtf8Printable(component.name),
               slot.id() + 1, qUtf8Printable(reason));
        stop();
        setPluginLoadFailure(PluginLoadFailure{QUuid::createUuid(), slot.id(), component.name, reason});
        co_return false;
    }

    // The unit owns the effect from here on; the strip reaches it through the unit.
    auto unit = std::make_shared<engine::EffectUnit>(std::move(effect));
    slot.setEffectNode(unit);
    engine_->attach(unit);
    engine_->connect(splitter, 0, *unit, 0, splitterOutput);
    engine_->connect(*unit, 0, *combiner_->unit(), combinerBus, combinerInput);
    auto* hosted = lv2EffectOf(slot);
    hosted->setBypass(slot.bypass());
    if (const auto& saved = slot.lastPluginState()) {
        // A state that does not decode or belongs to another plug-in leaves the
        // effect at its defaults; the saved settings themselves stay.
        hosted->restoreState(saved->toStdString());
    }
    LevelStore* store = &levelStore_;
    const int id = slot.id();
    engine_->installTap(splitter, 0, kTapFrames, splitterOutput,
                        [store, id](const float* const* channels, int count, std::uint32_t frames) {
                            recordLevels(*store, id, true, false, channels, count, frames);
                        });
    engine_->installTap(*unit, 0, kTapFrames, combinerInput,
                        [store, id](const float* const* channels, int count, std::uint32_t frames) {
                            recordLevels(*store, id, false, true, channels, count, frames);
                        });
    co_return true;
}

void AudioEngineManager::saveEffectState(ChannelSlot& slot) {
    if (auto* effect = lv2EffectOf(slot)) {
        if (auto state = effect->saveState())
            slot.setLastPluginState(QByteArray::fromStdString(*state));
    }
    slot.setEffectNode(nullptr);
}

void AudioEngineManager::setBypass(ChannelSlot& slot, bool bypass) {
    slot.setBypassFlag(bypass);
    if (auto* effect = lv2EffectOf(slot))
        effect->setBypass(bypass);
}

double AudioEngineManager::largestPluginLatency(const QList<ActiveStrip>& strips) const {
    double longest = 0.0;
    for (const auto& strip : strips)
        if (strip.slot->effectNode())
            longest = std::max(longest, strip.slot->effectNode()->latencySeconds());
    return longest;
}

} // namespace corvane
