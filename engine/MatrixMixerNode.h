#pragma once
// A matrix mixer in the strip graph: a splitter (all device inputs in, one
// strip's input channels out) or the combiner (every strip's output channels
// in, all device outputs out). Only unity and zero gains are written, so it acts
// as a programmable patch bay. Main thread only.

#include "engine/RoutingPlan.h"
#include "platform/engine/Format.h"
#include "platform/engine/MatrixMixerUnit.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace corvane {

class MatrixMixerNode {
public:
    MatrixMixerNode();

    const std::shared_ptr<engine::MatrixMixerUnit>& unit() const { return unit_; }

    // Sets the bus counts and formats in that order; on failure returns the
    // message and leaves the buses set so far as they are.
    std::optional<QString> configure(const QList<int>& inputBusChannelCounts,
                                     const QList<int>& outputBusChannelCounts, double sampleRate);

    // The format this node uses, or none for a count of 0 or less.
    static std::optional<engine::Format> makeFormat(int channels, double sampleRate);

    // Input-channel, output-channel and master volumes to 1.
    void setUnityVolumes(int inputChannels, int outputChannels);
    void applyCrosspoints(const QList<RoutingPlan::Crosspoint>& crosspoints);

    // How a rate appears in messages: 48000 Hz as "48000.0".
    static QString rateText(double sampleRate);

private:
    std::optional<QString> configureSide(engine::Direction direction, const QList<int>& counts, double sampleRate);
    std::shared_ptr<engine::MatrixMixerUnit> unit_;
};

} // namespace corvane
