#include "app/CommandLine.h"
#include "app/DeviceListing.h"
#include "app/HeadlessRun.h"
#include "devices/DeviceEnumeration.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/MainThreadWakeup.h"
#include "plugins/PluginCatalog.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace corvane;

namespace {

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int listPluginsCommand() {
    PluginCatalog::startScan();
    const auto components = PluginCatalog::waitForComponents(std::chrono::seconds(60));
    if (!components) {
        print(stderr, QStringLiteral("corvane: the plug-in scan did not finish\n"));
        return 1;
    }
    QString text;
    for (const auto& c : *components)
        text += QStringLiteral("%1\t%2\t%3\n").arg(c.uri, c.name, c.manufacturer);
    print(stdout, text);
    return 0;
}

int listDevicesCommand() {
    auto hardware = hw::createDefaultHardware();
    hw::waitUntilSettled(*hardware, std::chrono::milliseconds(900));
    print(stdout, formatDeviceList(listDevices(*hardware)));
    return 0;
}

// Ctrl-C and SIGTERM end a headless run cleanly: the handler only wakes the
// event loop, which asks the run to end.
MainThreadWakeup* signalWakeup = nullptr;
void onSignal(int) {
    if (signalWakeup)
        signalWakeup->signal();
}

int headlessCommand(const HeadlessOptions& options) {
    auto hardware = hw::createDefaultHardware();
    hw::waitUntilSettled(*hardware, std::chrono::milliseconds(900));

    RunInterrupt interrupt;
    MainThreadWakeup wakeup([&] { interrupt.request(); });
    signalWakeup = &wakeup;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    HeadlessResult result;
    bool finished = false;
    spawnWith([&]() -> Async<void> {
        result = co_await runHeadless(*hardware, SystemClock::instance(), options, interrupt);
        finished = true;
        QCoreApplication::quit();
    });
    if (!finished)
        QCoreApplication::exec();

    if (!result.errorLine.isEmpty())
        print(stderr, result.errorLine + QLatin1Char('\n'));
    if (!result.report.isEmpty() && !options.reportPath.isEmpty()) {
        const QByteArray json = QJsonDocument(result.report).toJson(QJsonDocument::Indented);
        if (options.reportPath == QLatin1String("-")) {
            print(stdout, QString::fromUtf8(json));
        } else {
            QFile file(options.reportPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size()) {
                print(stderr, QStringLiteral("--report %1: cannot write the report\n").arg(options.reportPath));
                return result.exitCode == 0 ? 1 : result.exitCode;
            }
        }
    }
    return result.exitCode;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    auto parsed = parseCommandLine(QCoreApplication::arguments());
    if (auto* error = std::get_if<ParseError>(&parsed)) {
        print(stderr, QStringLiteral("corvane: %1\n").arg(error->message));
        return 2;
    }
    const auto& line = std::get<CommandLine>(parsed);
    // The command line speaks through its output and its exit code; the engine's
    // running commentary is there for whoever asks with QT_LOGGING_RULES.
    if (line.mode != CommandLine::Mode::Window && qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("corvane.*.info=false"));
    switch (line.mode) {
    case CommandLine::Mode::Help:
        print(stdout, usageText());
        return 0;
    case CommandLine::Mode::Version:
        print(stdout, QStringLiteral("corvane %1\n").arg(QStringLiteral(CORVANE_VERSION)));
        return 0;
    case CommandLine::Mode::ListDevices:
        return listDevicesCommand();
    case CommandLine::Mode::Headless:
        return headlessCommand(line.headless);
    case CommandLine::Mode::ListPlugins:
        return listPluginsCommand();
    case CommandLine::Mode::Window:
        break;
    }
    // The window is not built yet: show what it would open on.
    print(stdout, QStringLiteral("Corvane %1 - the window is not part of this build yet.\n"
                                 "Audio devices (the first is the one the window would open on):\n")
                      .arg(QStringLiteral(CORVANE_VERSION)));
    return listDevicesCommand();
}
