#include "app/CommandLine.h"
#include "app/ConsoleLog.h"
#include "app/DeviceListing.h"
#include "app/HeadlessRun.h"
#include "app/InterruptedReport.h"
#include "app/ReportFile.h"
#include "devices/DeviceEnumeration.h"
#include "engine/RoundTripMeasurement.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/ExitWatchdog.h"
#include "platform/system/KeepForever.h"
#include "platform/system/MainThread.h"
#include "platform/system/MainThreadWakeup.h"
#include "plugins/PluginCatalog.h"
#include "setup/SetupFile.h"
#include "ui/CorvaneApp.h"
#include "ui/RendererChoice.h"

#include <QCoreApplication>
#include <QApplication>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSettings>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace corvane;

namespace {

// Output that did not reach standard output is a failure: a script would
// otherwise take a truncated listing for the whole one.
int printResult(const QString& text) {
    if (writeAll(stdout, text.toUtf8()))
        return 0;
    // A reader that stopped early (`| head`): end as quietly as SIGPIPE would,
    // which the JACK backend takes away from the process.
    if (errno == EPIPE)
        return 128 + SIGPIPE;
    complain(QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}

int listPluginsCommand() {
    PluginCatalog::startScan();
    const auto components = PluginCatalog::waitForComponents(std::chrono::seconds(60));
    if (!components) {
        complain(QStringLiteral("the plug-in scan did not finish"));
        return 1;
    }
    QString text;
    for (const auto& c : *components)
        text += QStringLiteral("%1\t%2\t%3\n").arg(c.uri, c.name, c.manufacturer);
    return printResult(text);
}

int listDevicesCommand() {
    auto hardware = hw::createDefaultHardware();
    hw::waitUntilSettled(*hardware, std::chrono::milliseconds(900));
    return printResult(formatDeviceList(listDevices(*hardware)));
}

int measureLatencyCommand(const MeasureOptions& options) {
    auto hardware = hw::createDefaultHardware();
    hw::waitUntilSettled(*hardware, std::chrono::milliseconds(900));
    const auto result = measureRoundTrip(
        *hardware, RoundTripRequest{options.deviceUid, options.output, options.input, options.sampleRate,
                                    options.bufferFrames});
    if (result.exitCode != 0) {
        complain(result.errorLine);
        return result.exitCode;
    }
    return printResult(QString::fromUtf8(QJsonDocument(result.report).toJson(QJsonDocument::Indented)));
}

// Ctrl-C, SIGTERM and SIGHUP end a headless run or close the window the
// orderly way: the handler notes the signal and wakes the event loop, which
// asks the run to end. A main thread that does not get back to its event loop
// (stuck in a system call, in a plug-in) cannot answer: the watchdog then
// ends the process, 128 + the signal as if the signal had, within 3 s. A
// second signal ends it at once.
//
// Both are made once, before the handler is installed, and kept for the rest
// of the process: a signal may come at any moment until it ends, on any thread.
WakeupSignal* signalWakeup = nullptr;
ExitWatchdog* signalWatchdog = nullptr;
std::atomic<int> caughtSignal{0};
void onSignal(int signal) {
    if (caughtSignal.exchange(signal) != 0)
        _exit(128 + signal);
    signalWatchdog->trigger(signal);
    signalWakeup->signal();
}

// `lastWords` runs on the watchdog's thread when the main thread never began
// to end (see ExitWatchdog).
void catchEndingSignals(const MainThreadWakeup& wakeup, std::function<void(int signal)> lastWords = {}) {
    keepForever(wakeup.source());
    signalWakeup = wakeup.source().get();
    ExitWatchdog::Options options;
    options.lastWords = std::move(lastWords);
    signalWatchdog = new ExitWatchdog(std::move(options)); // never deleted: see above
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// Main thread: the event loop answered a signal, or the end begins anyway;
// what the process leaves behind is from now on its own to write.
bool beginOrderlyEnd() { return !signalWatchdog || signalWatchdog->beginOrderlyEnd(); }

int headlessCommand(const HeadlessOptions& options) {
    if (!options.reportPath.isEmpty())
        if (auto problem = reportPathProblem(options.reportPath)) {
            complain(QStringLiteral("--report %1: %2").arg(options.reportPath, *problem));
            return 2;
        }
    if (!options.saveSetupPath.isEmpty())
        if (auto problem = reportPathProblem(options.saveSetupPath)) {
            complain(QStringLiteral("--save-setup %1: %2").arg(options.saveSetupPath, *problem));
            return 2;
        }

    RunInterrupt interrupt;
    MainThreadWakeup wakeup([&] {
        beginOrderlyEnd();
        interrupt.request(caughtSignal.load());
    });
    auto lastWords = std::make_shared<const InterruptedReport>(options.reportPath, options.deviceUid);
    catchEndingSignals(wakeup, [lastWords](int) { lastWords->write(); });

    auto hardware = hw::createDefaultHardware();
    hw::waitUntilSettled(*hardware, std::chrono::milliseconds(900));

    HeadlessResult result;
    bool finished = false;
    spawnWith([&]() -> Async<void> {
        result = co_await runHeadless(*hardware, SystemClock::instance(), options, interrupt,
                                      [](const QString& warning) { complain(QStringLiteral("warning: ") + warning); });
        finished = true;
        QCoreApplication::quit();
    });
    if (!finished)
        QCoreApplication::exec();
    // Tasks the run's end cancelled unwind through the event loop: let them.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    int exitCode = result.exitCode;
    if (result.interrupted)
        exitCode = 128 + (interrupt.signalNumber() ? interrupt.signalNumber() : SIGINT);
    // The watchdog had to speak for a run that came back too late: it ends
    // the process, and nothing more is said.
    if (!beginOrderlyEnd())
        _exit(exitCode);
    if (!result.errorLine.isEmpty())
        complain(result.errorLine);
    if (!result.report.isEmpty() && !options.reportPath.isEmpty()) {
        const QByteArray json = QJsonDocument(result.report).toJson(QJsonDocument::Indented);
        if (auto problem = writeReport(options.reportPath, json)) {
            complain(QStringLiteral("--report %1: the report could not be written: %2").arg(options.reportPath, *problem));
            if (exitCode == 0)
                exitCode = 1;
        }
    }
    if (result.setup && !options.saveSetupPath.isEmpty())
        if (auto problem = writeSetupFile(options.saveSetupPath, *result.setup)) {
            complain(*problem);
            if (exitCode == 0)
                exitCode = 1;
        }
    // Work still going on (the plug-in scan a short run did not need, a
    // plug-in still loading when the run was interrupted, a device query that
    // hangs) may still use the hardware and what the libraries hold: rather
    // than tear any of it down underneath, the process ends here, with
    // everything it had to say said.
    if (PluginCatalog::isScanning() || !backgroundPool().waitForDone(0))
        _exit(exitCode);
    return exitCode;
}

// Whether the window has somewhere to go: an X or Wayland display, or a Qt
// platform named outright (offscreen, or one of those).
bool hasDisplay() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (!qEnvironmentVariableIsEmpty(variable))
            return true;
    return false;
}

// --isolated or --in-process when given, or else PluginIsolation in the
// settings; in process unless one asks for isolation.
bool pluginIsolation(const CommandLine& line) {
    return line.isolation.value_or(QSettings().value(QStringLiteral("PluginIsolation"), false).toBool());
}

int windowCommand(bool isolated) {
    QApplication::setDesktopFileName(QStringLiteral("corvane"));
    // Ctrl-C in the terminal, or the session ending, closes the window
    // without a question (nobody may be there to answer it; unsaved changes
    // stay in the remembered setup); the status then says which signal it was.
    // quit() would ask the window first, and the window may refuse.
    MainThreadWakeup wakeup([] {
        beginOrderlyEnd();
        QApplication::exit(0);
    });
    catchEndingSignals(wakeup);
    auto hardware = hw::createDefaultHardware();
    int exitCode = 1;
    {
        CorvaneApp corvane(*hardware);
        corvane.engineManager().setIsolation(isolated);
        if (corvane.openWindow())
            exitCode = QApplication::exec();
        if (const int signal = caughtSignal.load())
            exitCode = 128 + signal;
        // The window is gone: playback ends with it.
        corvane.engineManager().stop();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    // The parts cancel their waits as they go, and a cancelled wait ends
    // from the event loop: once more, so that none is left half done.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (PluginCatalog::isScanning() || !backgroundPool().waitForDone(0))
        _exit(exitCode);
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    auto parsed = parseCommandLine(arguments);
    // The window needs a GUI application (with widgets, for the file dialogs);
    // everything else runs without a display.
    std::unique_ptr<QCoreApplication> app;
    if (auto* line = std::get_if<CommandLine>(&parsed); line && line->mode == CommandLine::Mode::Window) {
        // Qt would abort, listing its platform plug-ins.
        if (!hasDisplay()) {
            complain(QStringLiteral("no display to open the window on - set DISPLAY, or use --headless"));
            return 1;
        }
        prepareDisplayConnection();
        app = std::make_unique<QApplication>(argc, argv);
    } else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane"));
    // Settings (the window's zoom) live in ~/.config/corvane/corvane.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("corvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    if (auto* error = std::get_if<ParseError>(&parsed)) {
        complain(error->message);
        return 2;
    }
    const auto& line = std::get<CommandLine>(parsed);
    if (line.mode != CommandLine::Mode::Window) {
        // The command line speaks through its output and its exit code; the
        // engine's running commentary, and what LV2 libraries and plug-ins say
        // for themselves, are there for whoever asks with QT_LOGGING_RULES
        // (whose rules come after these).
        QLoggingCategory::setFilterRules(
            QStringLiteral("corvane.*.debug=false\ncorvane.*.info=false\ncorvane.lv2=false"));
        // Every line on standard error starts with the program's name.
        installConsoleLog();
        qSetMessagePattern(QStringLiteral("corvane: %{if-debug}%{category}: %{endif}%{if-info}%{category}: %{endif}"
                                          "%{if-warning}warning: %{endif}%{if-critical}error: %{endif}%{message}"));
    }
    switch (line.mode) {
    case CommandLine::Mode::Help:
        return printResult(usageText());
    case CommandLine::Mode::Version:
        return printResult(QStringLiteral("corvane %1\n").arg(QStringLiteral(CORVANE_VERSION)));
    case CommandLine::Mode::ListDevices:
        return listDevicesCommand();
    case CommandLine::Mode::ListPlugins:
        return listPluginsCommand();
    case CommandLine::Mode::Headless: {
        HeadlessOptions options = line.headless;
        options.isolated = pluginIsolation(line);
        return headlessCommand(options);
    }
    case CommandLine::Mode::MeasureLatency:
        return measureLatencyCommand(line.measure);
    case CommandLine::Mode::Window:
        break;
    }
    return windowCommand(pluginIsolation(line));
}
