// receive() and apply() run on the audio thread: no allocation, locks or
// logging there.
#include "engine/MidiControl.h"

#include "engine/ChannelSlot.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/system/Logging.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace corvane {

namespace {

QString describe(const MidiMapping& m) {
    const QString source = m.source.kind == MidiKind::Note ? QStringLiteral("note %1") : QStringLiteral("CC %1");
    const QString channel = m.source.channel == 0 ? QStringLiteral("any channel")
                                                  : QStringLiteral("channel %1").arg(m.source.channel);
    return source.arg(m.source.number) + QStringLiteral(" (") + channel + QLatin1Char(')');
}

// How often what the audio thread did is taken in: the window's switch
// follows a pedal within a frame or two.
constexpr std::chrono::milliseconds kCollectInterval{30};

} // namespace

MidiControl::MidiControl(Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

MidiControl::~MidiControl() {
    if (collector_)
        clock_.cancelTimer(*collector_);
    publish(nullptr);
}

bool MidiControl::needsCollecting() const { return armed_ && (learning_ || switchesBound_); }

void MidiControl::collectLater() {
    if (collector_ || !needsCollecting())
        return;
    // Each turn takes in what came before it and only then asks whether to
    // come again: what the audio thread did just before the need ended is
    // still taken in.
    collector_ = clock_.callAt(clock_.now() + kCollectInterval, [this] {
        collector_.reset();
        collect();
        collectLater();
    });
}

void MidiControl::setMappings(QList<MidiMapping> mappings) {
    QList<MidiMapping> kept;
    for (const MidiMapping& m : mappings)
        if (!kept.contains(m))
            kept.append(m);
    if (kept == mappings_)
        return;
    mappings_ = std::move(kept);
    if (armed_)
        rebind();
    emit mappingsChanged();
}

void MidiControl::arm(const QList<ChannelSlot*>& strips) {
    strips_ = strips;
    armed_ = true;
    rebind();
}

void MidiControl::disarm() {
    if (!armed_)
        return;
    collect();
    publish(nullptr);
    if (collector_)
        clock_.cancelTimer(*collector_);
    collector_.reset();
    armed_ = false;
    switchesBound_ = false;
    strips_.clear();
    cancelLearning();
}

void MidiControl::rebind() {
    auto table = std::make_unique<Table>();
    QList<MidiMapping> stale;
    for (const MidiMapping& m : mappings_) {
        ChannelSlot* slot = m.target.strip >= 0 && m.target.strip < strips_.size() ? strips_[m.target.strip] : nullptr;
        lv2::HostedEffect* effect = slot ? slot->effect() : nullptr;
        if (!effect)
            continue; // nothing to move on that strip now; the mapping waits for its plug-in
        Binding binding{m, effect, 0, {}};
        if (!m.target.isStripSwitch()) {
            const std::string symbol = m.target.parameter.toStdString();
            const lv2::Parameter* port = nullptr;
            for (const auto& p : effect->parameters())
                if (p.isInput && p.symbol == symbol)
                    port = &p;
            // A plug-in chosen anew but not loaded yet may well have it.
            const bool chosenIsLoaded = slot->component() && slot->component()->uri.toStdString() == effect->uri();
            if (!port && !chosenIsLoaded)
                continue;
            if (!port) {
                qCWarning(lcEngine, "MIDI: the mapping of %s to “%s” on strip %d was dropped: “%s” has no such control",
                          qUtf8Printable(describe(m)), qUtf8Printable(m.target.parameter), m.target.strip + 1,
                          effect->name().c_str());
                stale.append(m);
                continue;
            }
            binding.port = port->portIndex;
            binding.scale = scaleOf(*port);
        }
        table->push_back(std::move(binding));
    }
    switchesBound_ = std::any_of(table->begin(), table->end(),
                                 [](const Binding& b) { return b.mapping.target.isStripSwitch(); });
    publish(std::move(table));
    collectLater();
    if (!stale.isEmpty()) {
        mappings_.removeIf([&](const MidiMapping& m) { return stale.contains(m); });
        emit mappingsChanged();
    }
}

void MidiControl::publish(std::unique_ptr<Table> table) {
    Table* old = table_.exchange(table.release());
    // The audio thread marks the table it reads before reading it, and looks
    // again: once it is not marked, that thread never comes back to it.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (old && inUse_.load() == old) {
        if (std::chrono::steady_clock::now() >= giveUp)
            return; // a period that never ends keeps it: left to it
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    delete old;
}

void MidiControl::learn(MidiTarget target) {
    learning_ = std::move(target);
    heard_.clear();
    listening_.store(true);
    collectLater();
    emit learningChanged();
}

void MidiControl::cancelLearning() {
    if (!learning_)
        return;
    learning_.reset();
    listening_.store(false);
    emit learningChanged();
}

void MidiControl::collect() {
    const unsigned switched = switched_.exchange(0);
    for (ChannelSlot* slot : strips_)
        if (switched & (1u << slot->id()))
            if (auto* effect = slot->effect())
                slot->setBypassFlag(effect->isBypassed());

    MidiMessage message;
    while (heard_.read(&message, sizeof message) == sizeof message) {
        if (!learning_)
            continue;
        const bool usable = message.kind == MidiKind::ControlChange ||
                            (message.kind == MidiKind::Note && learning_->isStripSwitch());
        if (!usable)
            continue;
        MidiMapping mapping{{message.kind, message.number, 0}, *learning_, defaultSwitchMode(message.kind), false};
        cancelLearning();
        QList<MidiMapping> next = mappings_;
        next.removeIf([&](const MidiMapping& m) { return m.target == mapping.target; });
        next.append(mapping);
        setMappings(std::move(next));
        emit learned(mapping);
    }
}

CORVANE_REALTIME
void MidiControl::receive(const std::uint8_t* bytes, std::uint32_t size) noexcept {
    Table* table = table_.load();
    for (;;) {
        inUse_.store(table);
        Table* again = table_.load();
        if (again == table)
            break;
        table = again;
    }
    MidiMessage message;
    for (std::uint32_t i = 0; i < size; ++i) {
        if (!parser_.feed(bytes[i], message))
            continue;
        received_.fetch_add(1, std::memory_order_relaxed);
        bool acted = false;
        if (table)
            for (const Binding& binding : *table)
                if (binding.mapping.source.matches(message))
                    acted = apply(binding, message) || acted;
        if (acted)
            applied_.fetch_add(1, std::memory_order_relaxed);
        if (listening_.load(std::memory_order_relaxed))
            heard_.write(&message, sizeof message);
    }
    inUse_.store(nullptr);
}

CORVANE_REALTIME
bool MidiControl::apply(const Binding& binding, const MidiMessage& message) noexcept {
    const MidiMapping& m = binding.mapping;
    lv2::HostedEffect& effect = *binding.effect;
    if (m.target.isStripSwitch()) {
        // The switch is ON while the effect plays: bypass is its opposite.
        const auto on = nextSwitchState(m.mode, m.inverted, message, !effect.isBypassed());
        if (!on)
            return false;
        effect.setBypass(!*on);
        switched_.fetch_or(1u << m.target.strip, std::memory_order_relaxed);
        return true;
    }
    if (binding.scale.toggled) {
        const float middle = (binding.scale.minimum + binding.scale.maximum) / 2;
        const auto on = nextSwitchState(m.mode, m.inverted, message, effect.parameter(binding.port) > middle);
        return on && effect.setParameter(binding.port, *on ? binding.scale.maximum : binding.scale.minimum);
    }
    return effect.setParameter(binding.port, scaledValue(binding.scale, message.value, m.inverted));
}

} // namespace corvane
