#pragma once
// For objects a thread that stopped responding may still reach: such a thread
// cannot be joined or interrupted, so what it touches is never freed. This is a
// deliberate leak, and the only safe end for them.

#include <memory>

namespace corvane {

// Any thread. `object` lives until the process ends.
inline void keepForever(std::shared_ptr<const void> object) {
    if (object)
        (void)new std::shared_ptr<const void>(std::move(object));
}

} // namespace corvane
