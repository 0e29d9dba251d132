#pragma once
// The program's own lines on standard error: log messages in the command
// line's form, and errors, written past lilv's output capture.

#include <QString>

namespace corvane {

// Sends Qt's log messages to standard error as one write each, in the form
// qSetMessagePattern() gave them.
void installConsoleLog();

// One line ("corvane: " + text) on standard error.
void complain(const QString& text);

} // namespace corvane
