#include "ui/StripController.h"

#include <QQmlEngine>
#include <QQuickWindow>
#include <QVariant>

namespace corvane {

StripController::StripController(QObject* parent) : QObject(parent) {}

StripController::~StripController() { closeEditor(); }

void StripController::setSlot(ChannelSlot* slot) {
    if (slot == slot_)
        return;
    if (slot_)
        disconnect(slot_, nullptr, this, nullptr);
    closeEditor();
    slot_ = slot;
    // A new instance (or none) gets a window of its own.
    if (slot_) {
        connect(slot_, &ChannelSlot::effectNodeChanged, this, &StripController::closeEditor);
        connect(slot_, &ChannelSlot::pluginFaultChanged, this, &StripController::pluginFaultChanged);
        connect(slot_, &ChannelSlot::componentChanged, this, &StripController::pluginFaultChanged);
    }
    emit slotChanged();
    emit pluginFaultChanged();
}

void StripController::setManager(AudioEngineManager* manager) {
    if (manager == manager_)
        return;
    manager_ = manager;
    emit managerChanged();
}

void StripController::setPluginActive(bool active) {
    if (manager_ && slot_)
        manager_->setBypass(*slot_, !active);
}

bool StripController::openEditor() {
    const ChannelSlot* slot = slot_.data();
    if (!slot || !slot->hasEffectNode())
        return false;
    const int stripId = slot->id();
    const EffectHandle effect = slot->effectHandle();
    if (editor_ && editor_->isEditing(effect)) {
        editor_->showWindow();
        return true;
    }
    closeEditor();
    // The window is built from the module this strip's view was loaded from.
    editor_ = std::make_unique<PluginEditorWindowController>(qmlEngine(this));
    const auto& component = slot->component();
    editor_->setTitle(component ? component->name : QStringLiteral("No Plugin"));
    editor_->setEffect(effect);
    // The generic editor's rows learn MIDI for this strip.
    if (QQuickWindow* window = editor_->window()) {
        window->setProperty("manager", QVariant::fromValue<QObject*>(manager_.data()));
        window->setProperty("strip", stripId);
    }
    editor_->loadEditor();
    emit editorChanged();
    editor_->showWindow();
    return true;
}

void StripController::closeEditor() {
    if (!editor_)
        return;
    const std::unique_ptr<PluginEditorWindowController> editor = std::move(editor_);
    emit editorChanged();
    editor->close();
}

void StripController::removePlugin() {
    if (ChannelSlot* slot = slot_.data())
        slot->setComponent(std::nullopt);
}

bool StripController::pluginFaulted() const {
    const ChannelSlot* slot = slot_.data();
    return slot && !slot->pluginFault().isEmpty();
}

QString StripController::pluginFaultMessage() const {
    const ChannelSlot* slot = slot_.data();
    return slot ? slot->pluginFaultMessage() : QString();
}

bool StripController::restartFaultedPlugin() {
    const ChannelSlot* slot = slot_.data();
    if (!slot || slot->pluginFault().isEmpty())
        return false;
    if (AudioEngineManager* manager = manager_.data())
        manager->restartPlugin(slot->id());
    return true;
}

} // namespace corvane
