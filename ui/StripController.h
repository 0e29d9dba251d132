#pragma once
// What a channel strip's buttons do beyond writing one of its fields: the
// plug-in editor window, one per effect instance (pressed again for the same
// instance, the same window comes back; once the instance goes, so does its
// window), and taking the plug-in off the strip. Main thread only.

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
    // The strip's editor while it has one.
    Q_PROPERTY(corvane::PluginEditorWindowController* editor READ editor NOTIFY editorChanged)

public:
    explicit StripController(QObject* parent = nullptr);
    ~StripController() override;

    ChannelSlot* slot() const { return slot_; }
    void setSlot(ChannelSlot* slot);
    PluginEditorWindowController* editor() const { return editor_.get(); }

    // Opens the editor of the running plug-in, or shows its window again;
    // false (and nothing opens) while no plug-in runs.
    Q_INVOKABLE bool openEditor();
    Q_INVOKABLE void closeEditor();
    Q_INVOKABLE void removePlugin();

signals:
    void slotChanged();
    void editorChanged();

private:
    QPointer<ChannelSlot> slot_;
    std::unique_ptr<PluginEditorWindowController> editor_;
};

} // namespace corvane
