#include "ui/MidiMappingText.h"

#include "engine/ChannelSlot.h"
#include "platform/lv2/HostedEffect.h"

namespace corvane {

namespace {

const lv2::Parameter* portOf(const MidiTarget& target, const QList<ChannelSlot*>& strips) {
    const ChannelSlot* slot = target.strip >= 0 && target.strip < strips.size() ? strips[target.strip] : nullptr;
    const lv2::HostedEffect* effect = slot ? slot->effect() : nullptr;
    if (!effect || target.isStripSwitch())
        return nullptr;
    const std::string symbol = target.parameter.toStdString();
    for (const lv2::Parameter& p : effect->parameters())
        if (p.isInput && p.symbol == symbol)
            return &p;
    return nullptr;
}

} // namespace

QString midiMessageText(const MidiSource& source) {
    return (source.kind == MidiKind::Note ? QStringLiteral("Note %1") : QStringLiteral("CC %1")).arg(source.number);
}

QString midiChannelText(int channel) {
    return channel == 0 ? QStringLiteral("any ch") : QStringLiteral("ch %1").arg(channel);
}

QString midiSourceText(const MidiSource& source) {
    return midiMessageText(source) + QLatin1Char(' ') + midiChannelText(source.channel);
}

QString midiModeText(const MidiMapping& mapping, bool isSwitch) {
    const QString mode = !isSwitch ? QStringLiteral("Continuous")
                         : mapping.mode == SwitchMode::Momentary ? QStringLiteral("Momentary")
                                                                 : QStringLiteral("Latching");
    return mapping.inverted ? mode + QStringLiteral(", inverted") : mode;
}

QString midiTargetText(const MidiTarget& target, const QList<ChannelSlot*>& strips) {
    const QString strip = QStringLiteral("Strip %1").arg(target.strip + 1);
    if (target.isStripSwitch())
        return strip + QStringLiteral(" ON/OFF");
    const ChannelSlot* slot = target.strip >= 0 && target.strip < strips.size() ? strips[target.strip] : nullptr;
    const lv2::Parameter* port = portOf(target, strips);
    const QString plugin = slot && slot->component() ? slot->component()->name : QString();
    const QString parameter = port ? QString::fromStdString(port->name) : target.parameter;
    const QString dot = QStringLiteral(" · ");
    return plugin.isEmpty() ? strip + dot + parameter : strip + dot + plugin + dot + parameter;
}

bool isMidiSwitch(const MidiTarget& target, const QList<ChannelSlot*>& strips) {
    const lv2::Parameter* port = portOf(target, strips);
    return target.isStripSwitch() || (port && port->toggled);
}

} // namespace corvane
