#pragma once
// Whether a path can take a file written there, checked before anything is
// written: the one check behind saved setups and headless reports. A file is
// written beside its path and renamed over it, which would put a plain file
// in place of a device or a pipe (as root, even in /dev). Main thread.

#include <QString>

#include <optional>

namespace corvane {

// What to do with a path that holds a device, a pipe or a socket.
enum class NonFileTarget {
    Refused,        // only ever replace a regular file
    WrittenInPlace, // written into as it is (a report to /dev/stdout)
};

// Why nothing can be written at `path`; none when it looks writable. A link
// is judged by what it leads to: a link to a file is written through.
std::optional<QString> fileTargetProblem(const QString& path, NonFileTarget nonFile);

// What a file's mode (st_mode) says it holds when that is not a regular file,
// for a message ("a pipe", "a device", "a folder", "a socket"); none for a
// regular file.
std::optional<QString> nonFileKind(unsigned mode);

} // namespace corvane
