#include "devices/AudioDevice.h"

namespace corvane {

QString AudioDevice::label() const {
    return QStringLiteral("%1 (%2 in / %3 out)").arg(name).arg(inputChannels).arg(outputChannels);
}

} // namespace corvane
