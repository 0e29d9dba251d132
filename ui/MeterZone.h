#pragma once
// Where a level stands on the meters' colour scale, in fractions of full
// scale: low below 0.7, mid from there, high from full scale. The level bars
// and the cores' load bars colour by it alike.

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class MeterZone : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    enum Zone { Low, Mid, High };
    Q_ENUM(Zone)

    using QObject::QObject;

    static constexpr Zone of(double level) { return level >= 1.0 ? High : level >= 0.7 ? Mid : Low; }
    Q_INVOKABLE corvane::MeterZone::Zone zoneOf(qreal level) const { return of(level); }
};

} // namespace corvane
