#pragma once
// What the end-to-end tests of headless runs share: the program run with a
// report of its own, finding its JACK client once it plays, and its report.

#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/SignalClient.h"
#include "tests/support/JackServer.h"

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <string>

namespace corvane::test {

// `corvane --headless` with a report in a folder that goes with the run.
struct HeadlessRun {
    // On `server`, with `extra` in the environment.
    explicit HeadlessRun(const JackServer& server, const QList<QPair<QString, QString>>& extra = {})
        : corvane(onJackServer(QString::fromStdString(server.name()), extra)) {}
    explicit HeadlessRun(const QProcessEnvironment& environment) : corvane(environment) {}

    // --headless, then `arguments`, then --report; false if it did not start.
    bool start(const QStringList& arguments);
    // Ctrl-C, as soon as a test has seen what it waited for: the run must end
    // with 130 and leave its report, which is returned.
    QJsonObject interruptAndReport();

    QTemporaryDir dir;
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));
    CorvaneProcess corvane;
};

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
