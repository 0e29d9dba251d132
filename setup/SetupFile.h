#pragma once
// Setup files on disk. Writing goes through a temporary file that replaces the
// old one only once it is whole (QSaveFile): a full disk, a refused folder or a
// crash halfway leave the previous file as it was. Main thread (small files).

#include "setup/SetupDocument.h"

#include <functional>
#include <optional>

namespace corvane {

// The steps of a write, in order, as a test can watch them.
enum class SetupWriteStep { Opened, Wrote, Flushed, Committed };

// Called after each step; false fails the write there, as the disk would.
using SetupWriteWatcher = std::function<bool(SetupWriteStep)>;

// The setup in `path`, or why not (with the file's name in the message).
// Only a regular file is read, at most 16 MB of it: a device or a pipe is
// refused at once, without waiting for it or reading it to no end.
std::variant<ReadSetup, SetupReadError> readSetupFile(const QString& path);

// Writes `setup` to `path`; none when done, else what went wrong, the file's
// name included. Only a regular file (or a link to one) is replaced: a device,
// a pipe or a socket there is refused. The text is written in pieces so that a failure can fall
// between any two.
std::optional<QString> writeSetupFile(const QString& path, const Setup& setup, const SetupWriteWatcher& watch = {});

} // namespace corvane
