#pragma once
// A strip's live effect instance as QML passes it around: two handles are
// equal when they hold the very same instance. Holding one keeps the instance
// alive, which is how an editor never outlives what it edits.

#include "platform/engine/EffectUnit.h"

#include <QMetaType>
#include <QObject>

#include <memory>

namespace corvane {

namespace lv2 {
class HostedEffect;
class Lv2Effect;
}

struct EffectHandle {
    Q_GADGET
    Q_PROPERTY(bool isNull READ isNull)
public:
    std::shared_ptr<engine::EffectUnit> unit;

    bool isNull() const { return unit == nullptr; }
    // The plug-in inside the unit, in our process or its own, or null.
    lv2::HostedEffect* hosted() const;
    // The plug-in when it runs in our process; null for one in a host of its
    // own, whose editor and presets are reached through its host.
    lv2::Lv2Effect* effect() const;
    friend bool operator==(const EffectHandle& a, const EffectHandle& b) { return a.unit == b.unit; }
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::EffectHandle)
