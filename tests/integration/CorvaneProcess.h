#pragma once
// The built corvane program, run as a child process in a given environment
// (which names its JACK server, or chooses PipeWire's libjack: a process keeps
// the libjack it loaded first). The destructor kills it if it still runs, so a
// failed test leaves nothing behind.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace corvane::test {

// This process's environment with `serverName` as JACK_DEFAULT_SERVER and `extra` on top.
QProcessEnvironment onJackServer(const QString& serverName, const QList<QPair<QString, QString>>& extra = {});

class CorvaneProcess {
public:
    explicit CorvaneProcess(const QProcessEnvironment& environment);
    ~CorvaneProcess();
    CorvaneProcess(const CorvaneProcess&) = delete;
    CorvaneProcess& operator=(const CorvaneProcess&) = delete;

    // False if the program could not be started.
    bool start(const QStringList& arguments);
    // True once it has exited by itself within `timeout`; false if it still
    // runs (it is then killed) or crashed.
    bool finish(std::chrono::milliseconds timeout);
    // Ctrl-C's signal: a run that has begun ends with status 130 and still
    // writes its report, so a test ends it as soon as it has seen enough.
    void interrupt();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Waits until the program has written `text` to standard error, at most `timeout`.
    bool waitForStandardError(const QString& text, std::chrono::milliseconds timeout);

    int exitCode() const { return process_.exitCode(); }
    QString standardOutput() const { return output_; }
    QString standardError() const { return error_; }

private:
    QProcess process_;
    QString output_;
    QString error_;
};

} // namespace corvane::test
