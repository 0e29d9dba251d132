#include "tests/integration/HeadlessRig.h"

#include "tests/support/EventLoop.h"

#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace corvane::test {

bool HeadlessRun::start(const QStringList& arguments) {
    return corvane.start(QStringList{QStringLiteral("--headless")} + arguments +
                         QStringList{QStringLiteral("--report"), reportPath});
}

QJsonObject HeadlessRun::interruptAndReport() {
    corvane.interrupt();
    EXPECT_TRUE(corvane.finish(std::chrono::seconds(20))) << "still running, or crashed: " << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 130) << corvane.standardError().toStdString();
    return readReport(reportPath);
}

std::string waitForProgramClient(const SignalClient& observer, std::chrono::milliseconds timeout) {
    std::string found;
    waitFor(
        [&] {
            for (const auto& port : observer.connections("system:capture_1")) {
                if (port.ends_with(":in_1") && !port.starts_with(observer.name() + ":")) {
                    found = port.substr(0, port.size() - std::string(":in_1").size());
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

bool waitForPeriods(const SignalClient& client, std::uint64_t count, std::chrono::milliseconds timeout) {
    const std::uint64_t target = client.periods() + count;
    return waitFor([&] { return client.periods() >= target; }, timeout);
}

QJsonObject readReport(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "no report at " << path.toStdString();
        return {};
    }
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        ADD_FAILURE() << "the report is not a JSON object: " << error.errorString().toStdString();
        return {};
    }
    return document.object();
}

} // namespace corvane::test
