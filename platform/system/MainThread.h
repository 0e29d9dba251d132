#pragma once
// Handing work to the main (Qt GUI) thread, and the background pool that
// blocking queries run on.

#include <functional>

class QThreadPool;

namespace corvane {

// Queues `fn` to run on the main thread's event loop. Any thread. Allocates:
// never call it from the real-time thread.
void postToMain(std::function<void()> fn);

// True on the thread that owns the QCoreApplication.
bool isMainThread();

// Pool for hardware queries, catalog scans and plug-in instantiation. Separate
// from Qt's global pool so that slow device calls never starve other users.
QThreadPool& backgroundPool();

} // namespace corvane
