#include "tests/integration/CorvaneProcess.h"

#include <csignal>

namespace corvane::test {

QProcessEnvironment onJackServer(const QString& serverName, const QList<QPair<QString, QString>>& extra) {
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), serverName);
    for (const auto& [name, value] : extra)
        environment.insert(name, value);
    return environment;
}

CorvaneProcess::CorvaneProcess(const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    process_.setProgram(QStringLiteral(CORVANE_BINARY));
}

CorvaneProcess::~CorvaneProcess() {
    if (running()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool CorvaneProcess::start(const QStringList& arguments) {
    process_.setArguments(arguments);
    process_.start();
    return process_.waitForStarted(5000);
}

void CorvaneProcess::interrupt() {
    if (running())
        ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
}

bool CorvaneProcess::waitForStandardError(const QString& text, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!error_.contains(text) && running() && std::chrono::steady_clock::now() < giveUp) {
        process_.waitForReadyRead(50);
        error_ += QString::fromUtf8(process_.readAllStandardError());
    }
    return error_.contains(text);
}

bool CorvaneProcess::finish(std::chrono::milliseconds timeout) {
    // waitForFinished() says false for a program that has already ended.
    const bool exited =
        !running() || process_.waitForFinished(static_cast<int>(timeout.count())) || !running();
    if (!exited) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    output_ += QString::fromUtf8(process_.readAllStandardOutput());
    error_ += QString::fromUtf8(process_.readAllStandardError());
    return exited && process_.exitStatus() == QProcess::NormalExit;
}

} // namespace corvane::test
