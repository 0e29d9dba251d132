#include "ui/CorvaneApp.h"

#include "platform/system/Logging.h"
#include "plugins/EffectHandle.h"
#include "ui/RendererChoice.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Corvane_UiPlugin)
// Written by Qt's type registrar for the types this library declares.
void qml_register_types_Corvane_Models();

namespace corvane {

void prepareQmlEngine(QQmlEngine& engine) {
    static const bool registered = [] {
        qml_register_types_Corvane_Models();
        qRegisterMetaType<EffectHandle>();
        return true;
    }();
    (void)registered;
    // The module is linked in; its qmldir sits at the root of the resources.
    engine.addImportPath(QStringLiteral("qrc:/"));
}

CorvaneApp::CorvaneApp(hw::AudioHardware& hardware, QObject* parent)
    : QObject(parent), engineManager_(std::make_unique<AudioEngineManager>(hardware)),
      loadMonitor_(std::make_unique<SystemLoadMonitor>()),
      setupKeeper_(std::make_unique<SetupKeeper>(*engineManager_)),
      setupFiles_(std::make_unique<SetupFileChooser>(*setupKeeper_)) {
    prepareQmlEngine(engine_);
    // In a session the session manager says which setup to open; otherwise
    // the strips come back as they were left. The engine waits for Start.
    const QString sessionManager = qEnvironmentVariable(SessionClient::kUrlVariable);
    if (!sessionManager.isEmpty())
        sessionClient_ = std::make_unique<SessionClient>(
            *setupKeeper_, sessionManager, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    else
        setupKeeper_->restoreLast();
}

CorvaneApp::~CorvaneApp() {
    setupKeeper_->rememberNow();
    // Views go before the objects they show.
    const auto roots = engine_.rootObjects();
    for (QObject* root : roots)
        delete root;
}

QQuickWindow* CorvaneApp::openWindow() {
    static const bool chosen = [] {
        chooseSceneGraphRenderer();
        return true;
    }();
    (void)chosen;
    return loadMainWindow(engine_, *engineManager_, *loadMonitor_, interfaceScale_, setupKeeper_.get(),
                          setupFiles_.get());
}

QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, AudioEngineManager& manager, SystemLoadMonitor& monitor,
                             InterfaceScale& scale, SetupKeeper* keeper, SetupFileChooser* files) {
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/Corvane/Ui/corvane.svg")));
    engine.setInitialProperties({{QStringLiteral("manager"), QVariant::fromValue<QObject*>(&manager)},
                                 {QStringLiteral("loadMonitor"), QVariant::fromValue<QObject*>(&monitor)},
                                 {QStringLiteral("windowScale"), QVariant::fromValue<QObject*>(&scale)},
                                 {QStringLiteral("setupKeeper"), QVariant::fromValue<QObject*>(keeper)},
                                 {QStringLiteral("setupFiles"), QVariant::fromValue<QObject*>(files)}});
    engine.load(QUrl(QStringLiteral("qrc:/Corvane/Ui/Main.qml")));
    const auto roots = engine.rootObjects();
    auto* window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.last());
    if (!window) {
        qCCritical(lcEngine, "The main window could not be built");
        return nullptr;
    }
    scale.configureWindow(window);
    if (files)
        files->setWindow(window);
    window->show();
    return window;
}

} // namespace corvane
