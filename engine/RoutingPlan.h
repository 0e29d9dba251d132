#pragma once
// Which strips can be routed on a device, and the matrix-mixer crosspoints that
// realise the routing. Pure logic: one plan per start.

#include <QList>
#include <optional>

namespace corvane {

struct RoutingPlan {
    struct SlotRequest {
        int id = 0;
        std::optional<int> inputChannel;
        bool inputStereo = false;
        std::optional<int> outputChannel;
        bool outputStereo = false;
        friend bool operator==(const SlotRequest&, const SlotRequest&) = default;
    };

    struct Route {
        int slotID = 0;
        int inputChannel = 0;
        bool inputStereo = false;
        int outputChannel = 0;
        bool outputStereo = false;
        int inputWidth() const { return inputStereo ? 2 : 1; }
        int outputWidth() const { return outputStereo ? 2 : 1; }
        friend bool operator==(const Route&, const Route&) = default;
    };

    struct Crosspoint {
        int input = 0;  // mixer input channel, counted across all its input buses
        int output = 0; // mixer output channel
        float gain = 0.0f;
        friend bool operator==(const Crosspoint&, const Crosspoint&) = default;
    };

    int inputChannelCount = 0;
    int outputChannelCount = 0;
    QList<Route> routes;

    // Keeps, in request order, every request whose channels are set, not negative
    // and within the device's counts (a stereo side needs the next channel too).
    // Nothing is de-duplicated: strips may share inputs and outputs.
    RoutingPlan(const QList<SlotRequest>& requests, int inputChannelCount, int outputChannelCount);

    // Channels of each combiner input bus: one bus per route, its output width.
    QList<int> combinerInputChannelCounts() const;

    // The combiner's whole matrix, zeros included: each route's output channels,
    // numbered consecutively in route order, onto its device outputs.
    QList<Crosspoint> combinerCrosspoints() const;

    // A route's splitter matrix: all device inputs to the route's input side.
    static QList<Crosspoint> splitterCrosspoints(const Route& route, int inputChannelCount);

    friend bool operator==(const RoutingPlan&, const RoutingPlan&) = default;
};

} // namespace corvane
