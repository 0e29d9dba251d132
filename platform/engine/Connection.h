#pragma once
// A connection from one unit's output bus to another unit's input bus. An input
// bus takes at most one connection; an output bus may feed several.

#include "platform/engine/Format.h"

namespace corvane::engine {

class Unit;

struct Connection {
    Unit* source = nullptr;
    int sourceBus = 0;
    Unit* destination = nullptr;
    int destinationBus = 0;
    Format format;
};

// One destination of a fan-out connection.
struct ConnectionPoint {
    Unit* unit = nullptr;
    int bus = 0;
};

} // namespace corvane::engine
