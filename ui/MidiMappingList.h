#pragma once
// The rows of the MIDI Mappings sheet: every mapping the manager's MIDI
// control holds, what it moves and how, with its channel filter to set and a
// way to remove it. Follows the mappings as they change. Main thread only.

#include "engine/AudioEngineManager.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class MidiMappingList : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(corvane::AudioEngineManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // What a channel filter can be, in order: any channel, then 1-16.
    Q_PROPERTY(QStringList channelChoices READ channelChoices CONSTANT)

public:
    enum Role {
        TargetRole = Qt::UserRole + 1, // "Strip 1 ON/OFF", "Strip 2 · Fixture Gain · Gain"
        MessageRole,                   // "CC 64", "Note 60"
        ModeRole,                      // "Latching", "Momentary, inverted", "Continuous"
        ChannelRole,                   // index into channelChoices: 0 any, else the channel
    };

    explicit MidiMappingList(QObject* parent = nullptr);

    AudioEngineManager* manager() const { return manager_; }
    void setManager(AudioEngineManager* manager);
    int count() const { return int(mappings_.size()); }
    static QStringList channelChoices();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE void remove(int row);
    // 0 listens on every channel.
    Q_INVOKABLE void setChannel(int row, int channel);

signals:
    void managerChanged();
    void countChanged();

private:
    void reload();

    QPointer<AudioEngineManager> manager_;
    QList<MidiMapping> mappings_;
};

} // namespace corvane
