#pragma once
// The model's types as the views know them (Corvane.Models), declared here
// so the model itself needs nothing of QML: the objects the application owns
// (views are handed them, never make them) and the values their properties
// hold.

#include "devices/AudioDevice.h"
#include "devices/DeviceEnumeration.h"
#include "engine/AudioEngineManager.h"
#include "engine/ChannelSlot.h"
#include "engine/LevelReading.h"
#include "engine/PluginLoadFailure.h"
#include "monitor/SystemLoadMonitor.h"
#include "plugins/EffectHandle.h"
#include "plugins/ParameterListModel.h"
#include "plugins/PluginComponent.h"
#include "plugins/PluginPickerModel.h"
#include "setup/SetupKeeper.h"

#include <QtQml/qqmlregistration.h>

namespace corvane::qml {

struct AudioEngineManagerType {
    Q_GADGET
    QML_FOREIGN(corvane::AudioEngineManager)
    QML_NAMED_ELEMENT(AudioEngineManager)
    QML_UNCREATABLE("The application owns the one manager")
};

struct ChannelSlotType {
    Q_GADGET
    QML_FOREIGN(corvane::ChannelSlot)
    QML_NAMED_ELEMENT(ChannelSlot)
    QML_UNCREATABLE("Strips belong to the manager")
};

struct SystemLoadMonitorType {
    Q_GADGET
    QML_FOREIGN(corvane::SystemLoadMonitor)
    QML_NAMED_ELEMENT(SystemLoadMonitor)
    QML_UNCREATABLE("The application owns the one monitor")
};

struct SetupKeeperType {
    Q_GADGET
    QML_FOREIGN(corvane::SetupKeeper)
    QML_NAMED_ELEMENT(SetupKeeper)
    QML_UNCREATABLE("The application owns the one keeper")
};

struct ParameterListModelType {
    Q_GADGET
    QML_FOREIGN(corvane::ParameterListModel)
    QML_NAMED_ELEMENT(ParameterListModel)
    QML_UNCREATABLE("Each editor has its own")
};

struct PluginPickerModelType {
    Q_GADGET
    QML_FOREIGN(corvane::PluginPickerModel)
    QML_NAMED_ELEMENT(PluginPickerModel)
};

// The manager's strips, a list QML reads as one.
struct ChannelSlotListType {
    Q_GADGET
    QML_ANONYMOUS
    QML_SEQUENTIAL_CONTAINER(corvane::ChannelSlot*)
    QML_FOREIGN(QList<corvane::ChannelSlot*>)
};

struct AudioDeviceType {
    Q_GADGET
    QML_FOREIGN(corvane::AudioDevice)
    QML_VALUE_TYPE(audioDevice)
};

struct BufferRangeType {
    Q_GADGET
    QML_FOREIGN(corvane::BufferRange)
    QML_VALUE_TYPE(bufferRange)
};

struct LevelReadingType {
    Q_GADGET
    QML_FOREIGN(corvane::LevelReading)
    QML_VALUE_TYPE(levelReading)
};

struct PluginLoadFailureType {
    Q_GADGET
    QML_FOREIGN(corvane::PluginLoadFailure)
    QML_VALUE_TYPE(pluginLoadFailure)
};

struct EffectHandleType {
    Q_GADGET
    QML_FOREIGN(corvane::EffectHandle)
    QML_VALUE_TYPE(effectHandle)
};

struct PluginComponentType {
    Q_GADGET
    QML_FOREIGN(corvane::PluginComponent)
    QML_VALUE_TYPE(pluginComponent)
};

} // namespace corvane::qml
