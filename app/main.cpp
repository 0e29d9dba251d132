#include "app/CommandLine.h"
#include "app/DeviceListing.h"
#include "devices/DeviceEnumeration.h"
#include "platform/hardware/AudioHardware.h"

#include <QCoreApplication>
#include <cstdio>

using namespace corvane;

namespace {

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int listDevicesCommand() {
    auto hardware = hw::createDefaultHardware();
    hw::waitUntilSettled(*hardware, std::chrono::milliseconds(900));
    print(stdout, formatDeviceList(listDevices(*hardware)));
    return 0;
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
    switch (line.mode) {
    case CommandLine::Mode::Help:
        print(stdout, usageText());
        return 0;
    case CommandLine::Mode::Version:
        print(stdout, QStringLiteral("corvane %1\n").arg(QStringLiteral(CORVANE_VERSION)));
        return 0;
    case CommandLine::Mode::ListDevices:
        return listDevicesCommand();
    case CommandLine::Mode::ListPlugins:
    case CommandLine::Mode::Headless:
        print(stderr, QStringLiteral("corvane: this build cannot do that yet\n"));
        return 1;
    case CommandLine::Mode::Window:
        break;
    }
    // The window is not built yet: show what it would open on.
    print(stdout, QStringLiteral("Corvane %1 - the window is not part of this build yet.\n"
                                 "Audio devices (the first is the one the window would open on):\n")
                      .arg(QStringLiteral(CORVANE_VERSION)));
    return listDevicesCommand();
}
