#pragma once
// The strips' level meters: the store the graph's taps fill, and the tick that
// moves its readings into the strips every 33 ms with their fall-off.
//
// Main thread only (the store itself is also filled from the tap thread).
// Whether anything shows the readings decides the tick: while nothing does,
// they are not moved out of the store (which keeps the largest since its last
// collection) 30 times a second, and the tick comes four times a second
// instead, for the caller's own look after the running graph.

#include "engine/ChannelSlot.h"
#include "engine/LevelStore.h"
#include "platform/system/Clock.h"
#include "platform/system/Task.h"

#include <QList>
#include <QObject>
#include <functional>
#include <vector>

namespace corvane {

class StripMeters : public QObject {
    Q_OBJECT

public:
    // `strips` in id order, one per store slot; they and `clock` must outlive the meters.
    StripMeters(Clock& clock, QList<ChannelSlot*> strips, QObject* parent = nullptr);
    ~StripMeters() override;

    LevelStore& store() { return store_; }

    // Shown by default.
    void setShown(bool shown) { shown_ = shown; }
    bool isShown() const { return shown_; }

    // Ticks until stop(); `everyTick` runs after each tick's collection.
    void start(std::function<void()> everyTick);
    // Ends the tick and zeroes the store and the strips' levels. With the
    // meters not shown, the largest readings of the run that ended are kept
    // first (see lastRunLevels).
    void stop(bool runEnded);
    bool isTicking() const { return !tick_.isDone(); }

    // In the store's layout; empty until a run ended unseen.
    const std::vector<LevelStore::Reading>& lastRunLevels() const { return lastRunLevels_; }

private:
    void collect();

    Clock& clock_;
    QList<ChannelSlot*> strips_;
    LevelStore store_;
    bool shown_ = true;
    Task tick_;
    std::vector<LevelStore::Reading> lastRunLevels_;
};

} // namespace corvane
