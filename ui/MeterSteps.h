#pragma once
// One timer for the glide steps of every level meter. A collection's readings
// reach all the meters together, so their steps fall due together: taken in
// one pass they draw in one frame, and a collection arms one timer instead of
// restarting one per meter.
//
// A step falls due a reading's period after the latest request, and a little
// later still: while readings keep coming, each arrives before the step it
// makes needless, so no frame of its own is drawn for a step that the
// reading's frame would have drawn over a moment later.
//
// Main thread only.

#include <QElapsedTimer>
#include <QTimer>

#include <vector>

namespace corvane {

class LevelMeterView;

class MeterSteps {
public:
    static constexpr int kSlackMs = 6;

    // The meters' one instance, made on first use and never destroyed: its
    // timer must not outlive the application's event loop.
    static MeterSteps& shared();

    // `meter`'s advance() runs once, with every other meter waiting, one
    // step after the latest request of any of them.
    void request(LevelMeterView* meter);
    // A meter going away.
    void withdraw(LevelMeterView* meter);

private:
    MeterSteps();
    void due();

    QTimer timer_;
    QElapsedTimer sinceRequest_;
    std::vector<LevelMeterView*> waiting_;
    std::vector<LevelMeterView*> stepping_; // the pass under way
};

} // namespace corvane
