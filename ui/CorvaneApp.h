#pragma once
// The application: the one engine manager and the one load monitor, created
// in that order and kept for the life of the process, the setup they play
// (the last one restored at launch, remembered at the end), and the main
// window over them. Closing the window ends neither; the shell's owner decides when the
// process ends.

#include "engine/AudioEngineManager.h"
#include "monitor/SystemLoadMonitor.h"
#include "setup/SessionClient.h"
#include "setup/SetupKeeper.h"
#include "ui/InterfaceScale.h"
#include "ui/SetupFileChooser.h"

#include <QObject>
#include <QQmlApplicationEngine>

#include <memory>

class QQuickWindow;

namespace corvane {

namespace hw {
class AudioHardware;
}

class CorvaneApp : public QObject {
    Q_OBJECT
public:
    // `hardware` must outlive the application.
    explicit CorvaneApp(hw::AudioHardware& hardware, QObject* parent = nullptr);
    ~CorvaneApp() override;

    AudioEngineManager& engineManager() { return *engineManager_; }
    SystemLoadMonitor& loadMonitor() { return *loadMonitor_; }
    InterfaceScale& interfaceScale() { return interfaceScale_; }
    SetupKeeper& setupKeeper() { return *setupKeeper_; }

    // Builds the main window; null (after logging why) when its QML fails to load.
    QQuickWindow* openWindow();
    QQmlApplicationEngine& qmlEngine() { return engine_; }

private:
    std::unique_ptr<AudioEngineManager> engineManager_;
    std::unique_ptr<SystemLoadMonitor> loadMonitor_;
    std::unique_ptr<SetupKeeper> setupKeeper_;
    std::unique_ptr<SetupFileChooser> setupFiles_;
    // Inside an NSM session (NSM_URL set): the session's part in it.
    std::unique_ptr<SessionClient> sessionClient_;
    InterfaceScale interfaceScale_;
    QQmlApplicationEngine engine_;
};

// Makes the model's C++ types and the Corvane.Ui module known to `engine`.
void prepareQmlEngine(QQmlEngine& engine);

// Loads the main window into `engine` (prepared) over `manager` and
// `monitor`, hands it to `scale` (which sizes it) and shows it, with the
// application's icon; null (after logging why) when its QML fails to load.
// Without `keeper` the File menu has no setup commands; without `files`, none
// that ask for a file.
QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, AudioEngineManager& manager, SystemLoadMonitor& monitor,
                             InterfaceScale& scale, SetupKeeper* keeper = nullptr, SetupFileChooser* files = nullptr);

} // namespace corvane
