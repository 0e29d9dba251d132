#include "app/DeviceListing.h"

namespace corvane {

QString formatDeviceList(const QList<AudioDevice>& devices) {
    QString text;
    for (const auto& d : devices)
        text += QStringLiteral("%1\t%2\t%3 in\t%4 out\n").arg(d.uid, d.name).arg(d.inputChannels).arg(d.outputChannels);
    return text;
}

} // namespace corvane
