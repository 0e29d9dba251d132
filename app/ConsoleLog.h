#pragma once
// The program's own lines on standard error: log messages in the command
// line's form, and errors, written past lilv's output capture.

#include <QString>

namespace corvane {

// Sends Qt's log messages to standard error as one write each, in the form
// qSetMessagePattern() gave them.
void installConsoleLog();

// `text` with its control characters (a newline pasted into a file name)
// shown escaped, as C writes them, so that it stays one line.
QString escapedLine(const QString& text);

// One line ("corvane: " + text, escaped as above) on standard error.
void complain(const QString& text);

} // namespace corvane
