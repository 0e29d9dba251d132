#include "platform/engine/Format.h"

#include <cmath>
#include <sstream>

namespace corvane::engine {

std::string describe(const Format& format) {
    std::ostringstream text;
    text << format.channels << " ch, ";
    if (format.sampleRate == std::floor(format.sampleRate))
        text << static_cast<long long>(format.sampleRate);
    else
        text << format.sampleRate;
    text << " Hz";
    return text.str();
}

} // namespace corvane::engine
