#pragma once
// What a channel strip's buttons do beyond writing one of its fields: the
// plug-in's on/off switch (through the manager, which tells a running
// plug-in), the plug-in editor window, one per effect instance (pressed again for the same
// instance, the same window comes back; once the instance goes, so does its
// window), taking the plug-in off the strip, and a plug-in whose own process
// crashed: its mark, what the user is told of it, and its restart from the
// strip's plug-in button. Main thread only.

#include "engine/AudioEngineManager.h"
#include "engine/ChannelSlot.h"
#include "ui/PluginEditorWindowController.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

#include <memory>

namespace corvane {

class StripController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(corvane::ChannelSlot* slot READ slot WRITE setSlot NOTIFY slotChanged)
    Q_PROPERTY(corvane::AudioEngineManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    // The strip's editor while it has one.
    Q_PROPERTY(corvane::PluginEditorWindowController* editor READ editor NOTIFY editorChanged)
    // The strip's plug-in crashed or stopped responding in its own process:
    // the strip plays dry until it is restarted or playback stops.
    Q_PROPERTY(bool pluginFaulted READ pluginFaulted NOTIFY pluginFaultChanged)
    // The warning that says so (for the plug-in button's tooltip); empty without a fault.
    Q_PROPERTY(QString pluginFaultMessage READ pluginFaultMessage NOTIFY pluginFaultChanged)

public:
    explicit StripController(QObject* parent = nullptr);
    ~StripController() override;

    ChannelSlot* slot() const { return slot_; }
    void setSlot(ChannelSlot* slot);
    AudioEngineManager* manager() const { return manager_; }
    void setManager(AudioEngineManager* manager);
    PluginEditorWindowController* editor() const { return editor_.get(); }

    // Off bypasses the plug-in; nothing without a strip and a manager.
    Q_INVOKABLE void setPluginActive(bool active);

    // Opens the editor of the running plug-in, or shows its window again;
    // false (and nothing opens) while no plug-in runs.
    Q_INVOKABLE bool openEditor();
    Q_INVOKABLE void closeEditor();
    Q_INVOKABLE void removePlugin();

    bool pluginFaulted() const;
    QString pluginFaultMessage() const;
    // The plug-in button's press: restarts a faulted plug-in (a restart that
    // fails says why in the warning) and says it did; false, and nothing
    // done, without a fault, when the button chooses a plug-in instead.
    Q_INVOKABLE bool restartFaultedPlugin();

signals:
    void slotChanged();
    void managerChanged();
    void editorChanged();
    void pluginFaultChanged();

private:
    QPointer<ChannelSlot> slot_;
    QPointer<AudioEngineManager> manager_;
    std::unique_ptr<PluginEditorWindowController> editor_;
};

} // namespace corvane
