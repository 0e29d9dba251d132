#pragma once
// Audio servers and their tools run as children of the test process. They must
// never outlive it: a crashed test would otherwise leave a server that the next
// run trips over.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace corvane::test {

// Starts `args` (argv[0] looked up in PATH) with stdin from /dev/null and
// stdout and stderr appended to `logPath`. `environment` ("NAME=value"
// entries) replaces ours when given. The child gets SIGTERM when the thread
// that started it dies. -1 when it could not be started.
pid_t spawnLogged(const std::vector<std::string>& args, const std::string& logPath,
                  const std::vector<std::string>* environment = nullptr);

// Non-blocking: true (and the status) once `pid` has exited and been reaped.
bool exited(pid_t pid, int* status = nullptr);

// Sends `signal`, waits up to `grace` for the child to go, then SIGKILLs it.
// Always reaps it. True when it went within the grace.
bool endChild(pid_t pid, int signal, std::chrono::milliseconds grace);

// Polls `ready` until it holds (true), `server` exits (reaped and set to -1:
// a server that dies while starting fails at once) or `timeout` passes.
bool waitWhileRunning(pid_t& server, const std::function<bool()>& ready, std::chrono::milliseconds timeout);

// "<prefix>-<our pid>-<n>": a name no other test, or test program, uses.
std::string uniqueName(const std::string& prefix);

} // namespace corvane::test
