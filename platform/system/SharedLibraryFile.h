#pragma once
// Whether a file is a shared library this process could load: checked from
// the file's ELF header alone, without loading it (loading runs its code).

#include <string>

namespace corvane {

// Empty when `path` is a regular file holding an ELF shared object built for
// the same kind of machine as this program; otherwise why not, as words that
// follow the file's name ("does not exist", "is not a shared library", ...).
// Any thread.
std::string sharedLibraryProblem(const std::string& path);

} // namespace corvane
