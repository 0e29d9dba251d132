#pragma once
// Holds a logind "idle:sleep" inhibitor while audio runs, so the machine does not
// doze off mid-performance. Where there is no system bus or no logind, it does
// nothing. Main thread; never blocks (the request is asynchronous).

#include <QObject>
#include <QString>
#include <memory>

namespace corvane {

class ProcessActivity : public QObject {
    Q_OBJECT
public:
    explicit ProcessActivity(const QString& reason, QObject* parent = nullptr);
    ~ProcessActivity() override; // releases the inhibitor

    bool isHeld() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace corvane
