#include "engine/ChannelSlot.h"

#include "engine/ObservableField.h"
#include "platform/lv2/HostedEffect.h"

namespace corvane {

ChannelSlot::ChannelSlot(int id, QObject* parent) : QObject(parent), id_(id) {}

void ChannelSlot::setComponent(std::optional<PluginComponent> component) {
    if (!assignIfChanged(component_, std::move(component)))
        return;
    lastPluginState_.reset();
    stateReplacedWhileLoaded_ = effectNode_ != nullptr;
    setComponentMissing(false);
    emit componentChanged();
    updatePending();
}

void ChannelSlot::setComponentMissing(bool missing) {
    if (assignIfChanged(componentMissing_, missing))
        emit componentMissingChanged();
}

void ChannelSlot::replacePluginState(std::optional<QByteArray> state) {
    lastPluginState_ = std::move(state);
    stateReplacedWhileLoaded_ = effectNode_ != nullptr;
}

void ChannelSlot::chooseComponent(const PluginComponent& component) {
    setComponent(component.uri.isEmpty() ? std::nullopt : std::optional<PluginComponent>(component));
}

void ChannelSlot::setEffectNode(std::shared_ptr<engine::EffectUnit> node) {
    if (!assignIfChanged(effectNode_, std::move(node)))
        return;
    if (!effectNode_)
        stateReplacedWhileLoaded_ = false;
    // A fault belongs to the instance that had it.
    setPluginFault(QString());
    emit effectNodeChanged();
}

void ChannelSlot::setPluginFault(const QString& fault) {
    if (assignIfChanged(pluginFault_, fault))
        emit pluginFaultChanged();
}

QString ChannelSlot::pluginFaultMessage() const {
    if (pluginFault_.isEmpty())
        return {};
    return QStringLiteral("“%1” on channel %2 %3 - the strip plays its input unprocessed.")
        .arg(component_ ? component_->name : QStringLiteral("The plug-in"))
        .arg(id_ + 1)
        .arg(pluginFault_);
}

lv2::HostedEffect* ChannelSlot::effect() const {
    return effectNode_ ? dynamic_cast<lv2::HostedEffect*>(&effectNode_->processor()) : nullptr;
}

void ChannelSlot::setBypassFlag(bool bypass) {
    if (assignIfChanged(bypass_, bypass))
        emit bypassChanged();
}

void ChannelSlot::setInputChannel(std::optional<int> channel) {
    if (!assignIfChanged(inputChannel_, channel))
        return;
    emit inputChannelChanged();
    updatePending();
}

void ChannelSlot::setOutputChannel(std::optional<int> channel) {
    if (!assignIfChanged(outputChannel_, channel))
        return;
    emit outputChannelChanged();
    updatePending();
}

void ChannelSlot::setInputChannelIndex(int channel) {
    setInputChannel(channel < 0 ? std::nullopt : std::optional<int>(channel));
}

void ChannelSlot::setOutputChannelIndex(int channel) {
    setOutputChannel(channel < 0 ? std::nullopt : std::optional<int>(channel));
}

void ChannelSlot::setInputStereo(bool stereo) {
    if (!assignIfChanged(inputStereo_, stereo))
        return;
    emit inputStereoChanged();
    updatePending();
}

void ChannelSlot::setOutputStereo(bool stereo) {
    if (!assignIfChanged(outputStereo_, stereo))
        return;
    emit outputStereoChanged();
    updatePending();
}

ChannelSlot::StartChoices ChannelSlot::startChoices() const {
    return {component_ ? component_->uri : QString(), inputChannel_, outputChannel_, inputStereo_, outputStereo_};
}

void ChannelSlot::setPlayingChoices(std::optional<StartChoices> playing) {
    playing_ = std::move(playing);
    updatePending();
}

void ChannelSlot::updatePending() {
    if (assignIfChanged(pendingUntilStart_, playing_ && *playing_ != startChoices()))
        emit pendingUntilStartChanged();
}

void ChannelSlot::setInputLevel(Reading r) {
    if (assignIfChanged(inputLevel_, r))
        emit inputLevelChanged();
}

void ChannelSlot::setInputLevelRight(Reading r) {
    if (assignIfChanged(inputLevelRight_, r))
        emit inputLevelRightChanged();
}

void ChannelSlot::setOutputLevel(Reading r) {
    if (assignIfChanged(outputLevel_, r))
        emit outputLevelChanged();
}

void ChannelSlot::setOutputLevelRight(Reading r) {
    if (assignIfChanged(outputLevelRight_, r))
        emit outputLevelRightChanged();
}

} // namespace corvane
