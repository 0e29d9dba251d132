#include "ui/PluginEditorWindowController.h"

#include "platform/lv2/HostMessages.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/lv2/IsolatedEffect.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/lv2/PluginUi.h"
#include "platform/system/Logging.h"

#include <QDir>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QtMath>

#include <algorithm>

namespace corvane {

namespace {

constexpr QSize kInitialSize(480, 360);
constexpr QSize kSmallestGenericSize(360, 240);
// Idle calls and the generic editor's refresh, about as often as a screen
// shows a meter move.
constexpr int kIdleMilliseconds = 33;

} // namespace

PluginEditorWindowController::PluginEditorWindowController(QObject* parent)
    : PluginEditorWindowController(nullptr, parent) {}

PluginEditorWindowController::PluginEditorWindowController(QQmlEngine* engine, QObject* parent)
    : QObject(parent), engine_(engine), parameters_(this) {
    idleTimer_.setInterval(kIdleMilliseconds);
    connect(&idleTimer_, &QTimer::timeout, this, &PluginEditorWindowController::tick);
}

PluginEditorWindowController::~PluginEditorWindowController() { close(); }

void PluginEditorWindowController::setEffect(const EffectHandle& effect) {
    if (effect == effect_)
        return;
    effect_ = effect;
    emit effectChanged();
}

void PluginEditorWindowController::setTitle(const QString& title) {
    if (title == title_)
        return;
    title_ = title;
    if (window_)
        window_->setTitle(title_);
    emit titleChanged();
}

QQuickWindow* PluginEditorWindowController::window() {
    if (window_)
        return window_.get();
    QQmlEngine* engine = engine_ ? engine_ : qmlEngine(this);
    if (engine) {
        QQmlComponent component(engine, QUrl(QStringLiteral("qrc:/Corvane/Ui/PluginEditorWindow.qml")));
        QObject* made = component.createWithInitialProperties({{QStringLiteral("controller"), QVariant::fromValue<QObject*>(this)}});
        window_.reset(qobject_cast<QQuickWindow*>(made));
        if (!window_) {
            delete made;
            qCWarning(lcEditor, "The editor window could not be built: %s", qUtf8Printable(component.errorString()));
        }
    }
    if (!window_)
        window_ = std::make_unique<QQuickWindow>(); // an empty window rather than none
    window_->setTitle(title_);
    window_->resize(kInitialSize);
    if (QScreen* screen = window_->screen())
        window_->setPosition(screen->availableGeometry().center() - QPoint(kInitialSize.width() / 2, kInitialSize.height() / 2));
    connect(window_.get(), &QWindow::widthChanged, this, &PluginEditorWindowController::layoutOwnView);
    connect(window_.get(), &QWindow::heightChanged, this, &PluginEditorWindowController::layoutOwnView);
    return window_.get();
}

int PluginEditorWindowController::headerHeight() const {
    const QVariant h = window_ ? window_->property("headerHeight") : QVariant();
    return h.isValid() ? h.toInt() : 0;
}

QSize PluginEditorWindowController::genericWindowSize(QSize fitting) {
    if (fitting.width() <= 0 || fitting.height() <= 0)
        return {};
    return fitting.expandedTo(kSmallestGenericSize);
}

void PluginEditorWindowController::loadEditor() {
    window(); // the title the diagnostics name comes from, and the parent for the view
    // A later turn of the loop, so that the window is on screen first and a
    // close() in between builds nothing (the timer dies with the controller).
    QTimer::singleShot(0, this, &PluginEditorWindowController::buildView);
}

void PluginEditorWindowController::buildView() {
    if (closed_ || !effect_.hosted() || ui_ || showsParameters_)
        return; // without an effect the window stays empty
    readPresets();
    if (embedOwnView())
        return;
    qCInfo(lcEditor, "Plugin “%s” has no view of its own - showing parameters",
           qUtf8Printable(window_ ? window_->title() : QStringLiteral("?")));
    showParameters();
}

bool PluginEditorWindowController::embedOwnView() {
    lv2::Lv2Effect* effect = effect_.effect();
    if (!effect)
        return embedHostedView();
    // X11 UIs need an X11 window to live in; elsewhere (Wayland, offscreen)
    // only a UI that shows a window of its own can be used.
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    if (const char* why = lv2::PluginUi::knownCrashWithEditor(effect->uri())) {
        qCWarning(lcEditor, "The editor of “%s” is not opened: %s", qUtf8Printable(title_), why);
        return false;
    }
    const auto choice = lv2::PluginUi::choose(*effect, x11);
    if (!choice)
        return false;
    std::uintptr_t parent = 0;
    if (choice->kind == lv2::PluginUi::Kind::X11) {
        container_ = new QWindow(window_.get());
        container_->setGeometry(0, headerHeight(), window_->width(), std::max(1, window_->height() - headerHeight()));
        container_->create();
        parent = container_->winId();
    }
    QPointer<PluginEditorWindowController> self(this);
    const bool embedded = choice->kind == lv2::PluginUi::Kind::X11;
    // A view in a window of its own sizes that window itself; ours keeps its size.
    auto requestResize = [self, embedded](int width, int height) {
        if (!embedded)
            return;
        if (PluginEditorWindowController* c = self.data())
            if (QQuickWindow* w = c->window_.get())
                w->resize(width, height + c->headerHeight());
    };
    std::string error;
    ui_ = lv2::PluginUi::create(*effect, *choice, parent, requestResize, error);
    if (!ui_) {
        qCWarning(lcEditor, "The editor of “%s” (%s) did not open: %s", qUtf8Printable(title_), choice->uri.c_str(),
                  error.c_str());
        delete container_;
        return false;
    }
    ui_->onControlWritten([this](std::uint32_t port) { noteTouched(port); });
    emit touchedChanged(); // the header grows its learn bar before the view is laid out below it
    if (choice->kind == lv2::PluginUi::Kind::X11) {
        pluginWindow_ = QWindow::fromWinId(static_cast<WId>(ui_->widget()));
        pluginWindow_->setParent(container_);
        pluginWindow_->setPosition(0, 0);
        container_->show();
        if (ui_->preferredWidth() > 0 && ui_->preferredHeight() > 0)
            window_->resize(ui_->preferredWidth(), ui_->preferredHeight() + headerHeight());
        layoutOwnView();
    } else {
        ui_->show();
    }
    emit viewChanged();
    idleTimer_.start();
    return true;
}

bool PluginEditorWindowController::embedHostedView() {
    auto* isolated = dynamic_cast<lv2::IsolatedEffect*>(effect_.hosted());
    // Only an X11 editor crosses processes: it is a child of our window on the same server.
    if (!isolated || isolated->hasFailed() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    if (const char* why = lv2::PluginUi::knownCrashWithEditor(isolated->uri())) {
        qCWarning(lcEditor, "The editor of “%s” is not opened: %s", qUtf8Printable(title_), why);
        return false;
    }
    container_ = new QWindow(window_.get());
    container_->setGeometry(0, headerHeight(), window_->width(), std::max(1, window_->height() - headerHeight()));
    container_->create();
    std::string error;
    const auto view = isolated->openEditor(static_cast<std::uint32_t>(container_->winId()), error);
    if (!view) {
        qCWarning(lcEditor, "The editor of “%s” did not open in its host: %s", qUtf8Printable(title_), error.c_str());
        delete container_;
        return false;
    }
    hostedView_ = true;
    // The host idles its editor itself and tells what came of it when
    // something did; nothing here runs while it has nothing to tell. Heard
    // perhaps within another request to the host: taken on a later turn.
    isolated->onEditorNews([this](const lv2::EditorView& news) {
        QMetaObject::invokeMethod(this, [this, news] { takeHostedNews(news); }, Qt::QueuedConnection);
    });
    emit touchedChanged(); // the header grows its learn bar before the view is laid out below it
    pluginWindow_ = QWindow::fromWinId(static_cast<WId>(view->window));
    pluginWindow_->setParent(container_);
    pluginWindow_->setPosition(0, 0);
    container_->show();
    if (view->width > 0 && view->height > 0)
        window_->resize(view->width, view->height + headerHeight());
    layoutOwnView();
    emit viewChanged();
    return true;
}

void PluginEditorWindowController::dropHostedView() {
    if (!hostedView_)
        return;
    hostedView_ = false;
    delete pluginWindow_;
    if (auto* isolated = dynamic_cast<lv2::IsolatedEffect*>(effect_.hosted())) {
        isolated->onEditorNews({});
        isolated->closeEditor();
    }
}

void PluginEditorWindowController::takeHostedNews(const lv2::EditorView& news) {
    if (!hostedView_)
        return;
    if (!news.ok) {
        // The host is gone, and its editor's window with it: the strip tells
        // of the crash; this window has nothing left to show.
        close();
        return;
    }
    if (news.width > 0 && news.height > 0 && window_)
        window_->resize(news.width, news.height + headerHeight());
    if (news.touchedPort != lv2::EditorView::kNoPort)
        noteTouched(news.touchedPort);
}

bool PluginEditorWindowController::ownViewApart() const { return ui_ && ui_->kind() == lv2::PluginUi::Kind::Show; }

void PluginEditorWindowController::layoutOwnView() {
    if (!container_ || !window_)
        return;
    const int top = headerHeight();
    const QSize area(window_->width(), std::max(1, window_->height() - top));
    if (container_->geometry() == QRect(QPoint(0, top), area))
        return;
    container_->setGeometry(QRect(QPoint(0, top), area));
    if (pluginWindow_)
        pluginWindow_->resize(area);
    if (ui_)
        ui_->resize(area.width(), area.height());
    if (auto* isolated = hostedView_ ? dynamic_cast<lv2::IsolatedEffect*>(effect_.hosted()) : nullptr)
        isolated->resizeEditor(area.width(), area.height());
}

void PluginEditorWindowController::showParameters() {
    parameters_.setEffect(effect_);
    showsParameters_ = true;
    emit viewChanged();
    idleTimer_.start();
    // Items of a QML window hang below the window object, not its content item.
    QQuickItem* editor = window_ ? window_->findChild<QQuickItem*>(QStringLiteral("genericEditor")) : nullptr;
    if (!editor)
        return;
    QSize size = genericWindowSize(QSize(qCeil(editor->implicitWidth()), qCeil(editor->implicitHeight()) + headerHeight()));
    // A plug-in with a hundred ports scrolls rather than outgrow the screen.
    if (QScreen* screen = window_->screen())
        size = size.boundedTo(screen->availableSize());
    if (!size.isEmpty())
        window_->resize(size);
}

void PluginEditorWindowController::tick() {
    if (ui_ && !ui_->idle() && ui_->kind() == lv2::PluginUi::Kind::Show)
        ui_->hide(); // the user shut the UI's own window; showWindow() brings it back
    if (showsParameters_)
        parameters_.refresh();
}

void PluginEditorWindowController::showWindow() {
    QQuickWindow* w = window();
    w->show();
    w->raise();
    w->requestActivate();
    if (ui_ && ui_->kind() == lv2::PluginUi::Kind::Show)
        ui_->show();
}

void PluginEditorWindowController::close() {
    closed_ = true;
    idleTimer_.stop();
    presetTask_.cancel();
    // The wrapper first: the UI destroys its own window in cleanup. Our
    // container last: the server takes a child window down with its parent,
    // under an editor that still draws in it.
    dropHostedView();
    delete pluginWindow_;
    ui_.reset();
    delete container_;
    if (window_)
        window_->hide();
    parameters_.setEffect({});
    effect_ = {};
}

void PluginEditorWindowController::noteTouched(std::uint32_t portIndex) {
    const lv2::HostedEffect* effect = effect_.hosted();
    if (!effect)
        return;
    for (const lv2::Parameter& p : effect->parameters()) {
        if (p.portIndex != portIndex)
            continue;
        const QString symbol = QString::fromStdString(p.symbol);
        if (symbol == touchedParameter_)
            return;
        touchedParameter_ = symbol;
        touchedParameterName_ = QString::fromStdString(p.name);
        emit touchedChanged();
        return;
    }
}

void PluginEditorWindowController::readPresets() {
    if (lv2::HostedEffect* effect = effect_.hosted())
        presets_ = effect->presets();
    emit presetsChanged();
}

QStringList PluginEditorWindowController::presetNames() const {
    QStringList names;
    for (const lv2::Preset& p : presets_)
        names << QString::fromStdString(p.label);
    return names;
}

void PluginEditorWindowController::loadPreset(int index) {
    if (index < 0 || std::size_t(index) >= presets_.size() || effect_.isNull())
        return;
    presetTask_.cancel();
    const std::string& uri = presets_[std::size_t(index)].uri;
    if (!effect_.effect()) {
        // A plug-in in a host of its own: the host does the waiting for its
        // audio thread, and its requests belong to this thread.
        std::string error;
        lv2::HostedEffect* hosted = effect_.hosted();
        const bool ok = hosted && hosted->loadPreset(uri, error);
        if (!ok)
            qCWarning(lcEditor, "A preset of “%s” could not be loaded: %s", qUtf8Printable(title_), error.c_str());
        parameters_.refresh();
        emit presetLoaded(ok);
        return;
    }
    QPointer<PluginEditorWindowController> self(this);
    // The job holds the effect, so it outlives a window closed meanwhile.
    auto job = [keep = effect_, uri] {
        std::string error;
        const bool ok = keep.effect() && keep.effect()->loadPreset(uri, error);
        return std::make_pair(ok, error);
    };
    presetTask_ = spawnWith([self, job = std::move(job)]() -> Async<void> {
        auto result = co_await runDetached(job);
        if (!self || !result)
            co_return;
        if (!result->first)
            qCWarning(lcEditor, "A preset of “%s” could not be loaded: %s", qUtf8Printable(self->title_),
                      result->second.c_str());
        self->parameters_.refresh();
        emit self->presetLoaded(result->first);
    });
}

bool PluginEditorWindowController::savePreset(const QString& name) {
    lv2::HostedEffect* effect = effect_.hosted();
    if (!effect || !isPresetName(name))
        return false;
    std::string error;
    const auto uri = effect->savePreset(name.trimmed().toStdString(), (QDir::homePath() + QStringLiteral("/.lv2")).toStdString(), error);
    if (!uri) {
        qCWarning(lcEditor, "The preset “%s” of “%s” could not be saved: %s", qUtf8Printable(name), qUtf8Printable(title_),
                  error.c_str());
        return false;
    }
    readPresets();
    return true;
}

} // namespace corvane
