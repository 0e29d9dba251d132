#pragma once
// What the device panel offers and shows over the manager: the device list
// with "—" for none first, the sample rates and buffer sizes on offer, which
// of them is the manager's, which sizes the device accepts, and whether the
// device runs at another rate than the one chosen. Choosing an entry writes
// it to the manager; an entry the device cannot take writes nothing. The
// pickers bind to this, so each rule lives here once. Main thread only.

#include "engine/AudioEngineManager.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class DevicePanel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(corvane::AudioEngineManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    Q_PROPERTY(QStringList deviceLabels READ deviceLabels NOTIFY changed)
    Q_PROPERTY(int deviceIndex READ deviceIndex NOTIFY changed)
    Q_PROPERTY(QStringList rateLabels READ rateLabels CONSTANT)
    Q_PROPERTY(int rateIndex READ rateIndex NOTIFY changed)
    Q_PROPERTY(QString rateText READ rateText NOTIFY changed)
    // The device reports its rate, and it is a hertz or more away from the chosen one.
    Q_PROPERTY(bool rateMismatch READ rateMismatch NOTIFY changed)
    Q_PROPERTY(QList<int> bufferSizes READ bufferSizes CONSTANT)
    Q_PROPERTY(int bufferIndex READ bufferIndex NOTIFY changed)
    Q_PROPERTY(QString bufferText READ bufferText NOTIFY changed)
    // One entry per buffer size: whether the device accepts it.
    Q_PROPERTY(QList<bool> bufferAllowed READ bufferAllowed NOTIFY changed)

public:
    static const QList<int> kSampleRates;
    static const QList<int> kBufferSizes;

    explicit DevicePanel(QObject* parent = nullptr);

    AudioEngineManager* manager() const { return manager_; }
    void setManager(AudioEngineManager* manager);

    QStringList deviceLabels() const;
    int deviceIndex() const;
    QStringList rateLabels() const;
    int rateIndex() const;
    QString rateText() const;
    bool rateMismatch() const;
    QList<int> bufferSizes() const { return kBufferSizes; }
    int bufferIndex() const;
    QString bufferText() const;
    QList<bool> bufferAllowed() const;
    bool allowsBuffer(int size) const;

    // Index 0 of the devices is none.
    Q_INVOKABLE void chooseDevice(int index);
    Q_INVOKABLE void chooseRate(int index);
    Q_INVOKABLE void chooseBuffer(int index);

signals:
    void managerChanged();
    void changed();

private:
    QPointer<AudioEngineManager> manager_;
};

} // namespace corvane
