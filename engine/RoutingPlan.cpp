#include "engine/RoutingPlan.h"

#include <cstdint>

namespace corvane {

namespace {
// Channel numbers come from the strip views and stay tiny; 64-bit sums keep
// the range checks honest for any int.
bool fits(int first, int width, int count) {
    return first >= 0 && std::int64_t(first) + width <= count;
}
} // namespace

RoutingPlan::RoutingPlan(const QList<SlotRequest>& requests, int inputs, int outputs)
    : inputChannelCount(inputs), outputChannelCount(outputs) {
    for (const auto& request : requests) {
        if (!request.inputChannel || !request.outputChannel)
            continue;
        if (!fits(*request.inputChannel, request.inputStereo ? 2 : 1, inputs) ||
            !fits(*request.outputChannel, request.outputStereo ? 2 : 1, outputs))
            continue;
        routes.append(Route{request.id, *request.inputChannel, request.inputStereo, *request.outputChannel,
                            request.outputStereo});
    }
}

QList<int> RoutingPlan::combinerInputChannelCounts() const {
    QList<int> counts;
    for (const auto& route : routes)
        counts.append(route.outputWidth());
    return counts;
}

QList<RoutingPlan::Crosspoint> RoutingPlan::combinerCrosspoints() const {
    QList<Crosspoint> list;
    int next = 0;
    for (const auto& route : routes) {
        for (int k = 0; k < route.outputWidth(); ++k, ++next) {
            for (int o = 0; o < outputChannelCount; ++o)
                list.append(Crosspoint{next, o, o == route.outputChannel + k ? 1.0f : 0.0f});
        }
    }
    return list;
}

QList<RoutingPlan::Crosspoint> RoutingPlan::splitterCrosspoints(const Route& route, int inputChannelCount) {
    QList<Crosspoint> list;
    for (int k = 0; k < route.inputWidth(); ++k)
        for (int j = 0; j < inputChannelCount; ++j)
            list.append(Crosspoint{j, k, j == route.inputChannel + k ? 1.0f : 0.0f});
    return list;
}

} // namespace corvane
