#pragma once
// Where a headless run's report goes: checked before the run starts, so a
// path that cannot take it is found out at once, and written so that a reader
// sees either the old report or the whole new one, never a part.

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvane {

// Why a report could not be written to `path` ("-" is standard output); none
// when it looks writable. Main thread, before the run.
std::optional<QString> reportPathProblem(const QString& path);

// Writes `bytes` to `path` (to standard output for "-"): a regular file is
// replaced atomically; a device or pipe is written in place. Every write is
// checked; the reason on failure.
std::optional<QString> writeReport(const QString& path, const QByteArray& bytes);

// Writes to an already open C stream and flushes it; false when any of it failed.
bool writeAll(std::FILE* stream, const QByteArray& bytes);

} // namespace corvane
