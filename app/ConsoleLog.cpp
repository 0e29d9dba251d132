#include "app/ConsoleLog.h"

#include "platform/system/StderrCapture.h"

#include <QByteArray>

namespace corvane {

namespace {

void writeLine(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    StderrCapture::writeToStderr(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    writeLine(qFormatLogMessage(type, context, message));
}

} // namespace

void installConsoleLog() { qInstallMessageHandler(handleMessage); }

void complain(const QString& text) { writeLine(QStringLiteral("corvane: ") + text); }

} // namespace corvane
