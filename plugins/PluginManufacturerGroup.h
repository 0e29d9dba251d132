#pragma once
// One section of the plug-in picker: a manufacturer and its effects.

#include "plugins/PluginComponent.h"

#include <QList>
#include <QString>

namespace corvane {

struct PluginManufacturerGroup {
    QString manufacturer; // "Unknown Manufacturer" for effects that name none
    QList<PluginComponent> components;

    bool operator==(const PluginManufacturerGroup&) const = default;
};

} // namespace corvane
