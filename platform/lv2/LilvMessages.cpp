#include "platform/lv2/LilvMessages.h"

#include "platform/system/Logging.h"

#include <QString>

namespace corvane::lv2 {

namespace {

enum class Severity { None, Note, Warning };

Severity severityAfter(std::string_view rest) {
    if (rest.starts_with("error: ") || rest.starts_with("warning: "))
        return Severity::Warning;
    if (rest.starts_with("note: "))
        return Severity::Note;
    return Severity::None;
}

bool isIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

Severity severityOf(std::string_view line) {
    // lilv names the function that complains: "name(): error: ...".
    std::size_t i = 0;
    while (i < line.size() && isIdentifierChar(line[i]))
        ++i;
    if (i > 0 && line.substr(i).starts_with("(): "))
        return severityAfter(line.substr(i + 4));
    // serd and sord say only what it is: "error: ...".
    return severityAfter(line) == Severity::Warning ? Severity::Warning : Severity::None;
}

} // namespace

bool isLilvMessage(std::string_view line) { return severityOf(line) != Severity::None; }

void logLilvMessage(std::string_view line) {
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    if (severityOf(line) == Severity::Note)
        qCInfo(lcLv2, "%s", qUtf8Printable(text));
    else
        qCWarning(lcLv2, "%s", qUtf8Printable(text));
}

} // namespace corvane::lv2
