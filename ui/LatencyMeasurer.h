#pragma once
// The window's Measure Latency: runs the round-trip measurement on the
// selected device, off the main thread, and keeps each result in the settings
// per device, sample rate and buffer size, where the latency line finds it
// again. Playback is stopped first (the strips must not play into the
// measurement), and the sheet says so. Main thread only.

#include "engine/AudioEngineManager.h"
#include "platform/system/Task.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>

namespace corvane {

class LatencyMeasurer : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(corvane::AudioEngineManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY changed)
    // What the sheet says: the result, why there is none, or that it is measuring.
    Q_PROPERTY(QString status READ status NOTIFY changed)
    Q_PROPERTY(bool failed READ failed NOTIFY changed)
    // The last result kept for the selected device at the chosen rate and buffer size; empty for none.
    Q_PROPERTY(QString kept READ kept NOTIFY changed)

public:
    explicit LatencyMeasurer(QObject* parent = nullptr);
    ~LatencyMeasurer() override;

    AudioEngineManager* manager() const { return manager_; }
    void setManager(AudioEngineManager* manager);
    bool busy() const { return busy_; }
    QString status() const { return status_; }
    bool failed() const { return failed_; }
    QString kept() const;

    // Output and input channels from 1. Does nothing while a measurement runs.
    Q_INVOKABLE void measure(int output, int input);

    // Tests: called on the measuring thread while the runs play, instead of a short sleep.
    void setPass(std::function<void()> pass) { pass_ = std::move(pass); }

signals:
    void managerChanged();
    void changed();

private:
    void finish(QString status, bool failed);

    QPointer<AudioEngineManager> manager_;
    bool busy_ = false;
    QString status_;
    bool failed_ = false;
    std::function<void()> pass_;
    Task task_;
};

} // namespace corvane
