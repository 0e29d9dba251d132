#pragma once
// What the end-to-end tests of headless runs share: finding the program's JACK
// client once it plays, and reading the report it leaves.

#include "tests/integration/SignalClient.h"

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <string>

namespace corvane::test {

// The name of the client that has wired its in_1 to system:capture_1 (the
// program under test: "corvane", or whatever variant JACK gave it), once
// `observer` sees it; "" if that does not happen within `timeout`.
std::string waitForProgramClient(const SignalClient& observer,
                                 std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Waits until `client` has processed `count` more periods; false on timeout.
bool waitForPeriods(const SignalClient& client, std::uint64_t count,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// The report's JSON object; an empty object (and a test failure) if the file
// is missing or is not a JSON object.
QJsonObject readReport(const QString& path);

} // namespace corvane::test
