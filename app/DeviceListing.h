#pragma once

#include "devices/AudioDevice.h"

#include <QList>
#include <QString>

namespace corvane {

// One line per device: "<uid>\t<name>\t<inputs> in\t<outputs> out".
QString formatDeviceList(const QList<AudioDevice>& devices);

} // namespace corvane
