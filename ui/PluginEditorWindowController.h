#pragma once
// The controller of one strip's plug-in editor window: the plug-in's own
// editor embedded in it (an X11 UI, on X11) or shown beside it (a UI with the
// show interface), otherwise the generic editor of every control port; above
// either, the presets. Main thread only.
//
// The controller holds the effect it shows, so the effect lives at least as
// long as the editor; close() takes the plug-in's UI down and lets the effect
// go. Closing the window by hand only hides it: showWindow() brings it back as
// it was.

#include "platform/system/Task.h"
#include "plugins/EffectHandle.h"
#include "plugins/ParameterListModel.h"

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QSize>
#include <QStringList>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <cstdint>
#include <memory>
#include <vector>

class QQmlEngine;

namespace corvane {

namespace lv2 {
class PluginUi;
struct EditorView;
struct Preset;
}

class PluginEditorWindowController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("A strip opens its editor")
    Q_PROPERTY(corvane::EffectHandle effect READ effect WRITE setEffect NOTIFY effectChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    // Which view the window shows: the generic editor, or the plug-in's own.
    Q_PROPERTY(bool showsParameters READ showsParameters NOTIFY viewChanged)
    Q_PROPERTY(bool hasOwnView READ hasOwnView NOTIFY viewChanged)
    // The plug-in's own view shows in a window of its own (the show interface).
    Q_PROPERTY(bool ownViewApart READ ownViewApart NOTIFY viewChanged)
    Q_PROPERTY(QObject* parameters READ parameters CONSTANT)
    Q_PROPERTY(QStringList presetNames READ presetNames NOTIFY presetsChanged)
    Q_PROPERTY(QQuickWindow* window READ window CONSTANT)
    // The control input the plug-in's own editor (here or in its host) set last:
    // its port symbol and name, empty until the user moves one.
    Q_PROPERTY(bool learnsTouched READ learnsTouched NOTIFY touchedChanged)
    Q_PROPERTY(QString touchedParameter READ touchedParameter NOTIFY touchedChanged)
    Q_PROPERTY(QString touchedParameterName READ touchedParameterName NOTIFY touchedChanged)

public:
    // The window is built from `engine`'s Corvane.Ui module at 480 × 360;
    // without an engine the controller finds the one that created it when
    // the window is first needed.
    explicit PluginEditorWindowController(QObject* parent = nullptr);
    PluginEditorWindowController(QQmlEngine* engine, QObject* parent = nullptr);
    ~PluginEditorWindowController() override;

    EffectHandle effect() const { return effect_; }
    void setEffect(const EffectHandle& effect);
    QString title() const { return title_; }
    void setTitle(const QString& title);
    bool showsParameters() const { return showsParameters_; }
    bool hasOwnView() const { return ui_ != nullptr || hostedView_; }
    bool ownViewApart() const;
    QObject* parameters() { return &parameters_; }
    QStringList presetNames() const;
    QQuickWindow* window();
    // Whether the plug-in's own editor is shown: here, where its writes are
    // seen, or by its host, which tells of them.
    bool learnsTouched() const { return ui_ != nullptr || hostedView_; }
    QString touchedParameter() const { return touchedParameter_; }
    QString touchedParameterName() const { return touchedParameterName_; }

    // True when this controller edits exactly that instance.
    Q_INVOKABLE bool isEditing(const corvane::EffectHandle& effect) const { return !effect_.isNull() && effect == effect_; }
    // Asks for the editor; it is built on a later turn of the event loop, so
    // this returns at once, and a close() before then builds nothing.
    Q_INVOKABLE void loadEditor();
    // Shows the window, brings it to the front and asks for the focus.
    Q_INVOKABLE void showWindow();
    // Takes the plug-in's UI down, closes the window and lets the effect go.
    Q_INVOKABLE void close();
    // Presets: applied off the main thread; saved under ~/.lv2.
    Q_INVOKABLE void loadPreset(int index);
    Q_INVOKABLE bool savePreset(const QString& name);
    // Whether a preset may be saved under `name`: it has more than spaces.
    Q_INVOKABLE static bool isPresetName(const QString& name) { return !name.trimmed().isEmpty(); }

    // The window's smallest size around a generic editor that fits in `fitting`.
    static QSize genericWindowSize(QSize fitting);

signals:
    void effectChanged();
    void titleChanged();
    void viewChanged();
    void presetsChanged();
    void touchedChanged();
    // A preset finished loading (false: it failed, and the log says why).
    void presetLoaded(bool ok);

private:
    void buildView();
    void showParameters();
    bool embedOwnView();
    // The editor of a plug-in in a host of its own, made there as a child of our container.
    bool embedHostedView();
    // Tells the host to take its editor down (before our container goes).
    void dropHostedView();
    // What the host told of its editor: a size it asked for, a control a user
    // set in it, or (ok false) that the host and the editor are gone.
    void takeHostedNews(const lv2::EditorView& news);
    void layoutOwnView();
    void tick();
    void readPresets();
    void noteTouched(std::uint32_t portIndex);
    int headerHeight() const;

    QQmlEngine* engine_ = nullptr;
    EffectHandle effect_;
    QString title_;
    std::unique_ptr<QQuickWindow> window_;
    QPointer<QWindow> container_; // the native window an X11 UI is a child of
    QPointer<QWindow> pluginWindow_; // the UI's own window, wrapped
    std::unique_ptr<lv2::PluginUi> ui_;
    bool hostedView_ = false; // the plug-in's host shows its own editor in container_
    ParameterListModel parameters_;
    bool showsParameters_ = false;
    bool closed_ = false;
    QTimer idleTimer_;
    std::vector<lv2::Preset> presets_;
    QString touchedParameter_;
    QString touchedParameterName_;
    Task presetTask_;
};

} // namespace corvane
