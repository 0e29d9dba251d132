#pragma once
// A bar's drawn length gliding to each new target: linearly in three steps
// 50 ms apart, in whole points, the first with the new target. Each step that
// moves the bar is a frame of the whole window, drawn by the CPU, and the load
// bars take a new target twice a second while the machine is busy: three steps
// read as a glide and cost the window three frames where the meters' pace
// (33 ms) cost five. A quiet bar redraws nothing. The first target is taken at
// once. Main thread only.

#include "platform/system/Clock.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class BarGlide : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(qreal target READ target WRITE setTarget NOTIFY targetChanged)
    // What to draw now, in whole points.
    Q_PROPERTY(qreal value READ value NOTIFY valueChanged)

public:
    static constexpr std::chrono::milliseconds kDuration{150};
    static constexpr std::chrono::milliseconds kStep{50};

    explicit BarGlide(QObject* parent = nullptr);
    BarGlide(Clock& clock, QObject* parent = nullptr);
    ~BarGlide() override;

    qreal target() const { return target_; }
    void setTarget(qreal target);
    qreal value() const { return value_; }

signals:
    void targetChanged();
    void valueChanged();

private:
    void step();
    void setValue(qreal value);

    Clock& clock_;
    bool started_ = false;
    qreal target_ = 0;
    qreal from_ = 0;
    qreal value_ = 0;
    Clock::TimePoint startedAt_{};
    Clock::TimerId timer_ = 0;
};

} // namespace corvane
