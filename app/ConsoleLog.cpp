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

QString escapedLine(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\n':
            shown += QLatin1String("\\n");
            break;
        case '\r':
            shown += QLatin1String("\\r");
            break;
        case '\t':
            shown += QLatin1String("\\t");
            break;
        default:
            if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
                c.category() == QChar::Separator_Paragraph)
                shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                shown += c;
        }
    }
    return shown;
}

void complain(const QString& text) { writeLine(QStringLiteral("corvane: ") + escapedLine(text)); }

} // namespace corvane
