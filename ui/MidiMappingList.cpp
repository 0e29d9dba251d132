#include "ui/MidiMappingList.h"

#include "ui/MidiMappingText.h"

namespace corvane {

MidiMappingList::MidiMappingList(QObject* parent) : QAbstractListModel(parent) {}

void MidiMappingList::setManager(AudioEngineManager* manager) {
    if (manager_ == manager)
        return;
    if (AudioEngineManager* old = manager_.data()) {
        disconnect(&old->midiControl(), nullptr, this, nullptr);
        for (ChannelSlot* slot : old->channels())
            disconnect(slot, nullptr, this, nullptr);
    }
    manager_ = manager;
    if (manager) {
        connect(&manager->midiControl(), &MidiControl::mappingsChanged, this, &MidiMappingList::reload);
        // A plug-in loaded names its parameters.
        for (ChannelSlot* slot : manager->channels()) {
            connect(slot, &ChannelSlot::effectNodeChanged, this, &MidiMappingList::reload);
            connect(slot, &ChannelSlot::componentChanged, this, &MidiMappingList::reload);
        }
    }
    reload();
    emit managerChanged();
}

void MidiMappingList::reload() {
    const int before = count();
    beginResetModel();
    const AudioEngineManager* manager = manager_.data();
    mappings_ = manager ? manager->midiControl().mappings() : QList<MidiMapping>{};
    endResetModel();
    if (count() != before)
        emit countChanged();
}

QStringList MidiMappingList::channelChoices() {
    QStringList choices{QStringLiteral("Any")};
    for (int channel = 1; channel <= 16; ++channel)
        choices.append(QString::number(channel));
    return choices;
}

int MidiMappingList::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

QVariant MidiMappingList::data(const QModelIndex& index, int role) const {
    const AudioEngineManager* manager = manager_.data();
    if (!manager || index.parent().isValid() || index.row() < 0 || index.row() >= count())
        return {};
    const MidiMapping& m = mappings_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case TargetRole:
        return midiTargetText(m.target, manager->channels());
    case MessageRole:
        return midiMessageText(m.source);
    case ModeRole:
        return midiModeText(m, isMidiSwitch(m.target, manager->channels()));
    case ChannelRole:
        return m.source.channel;
    default:
        return {};
    }
}

QHash<int, QByteArray> MidiMappingList::roleNames() const {
    return {{TargetRole, "target"}, {MessageRole, "message"}, {ModeRole, "mode"}, {ChannelRole, "channel"}};
}

void MidiMappingList::remove(int row) {
    AudioEngineManager* manager = manager_.data();
    if (!manager || row < 0 || row >= count())
        return;
    QList<MidiMapping> next = mappings_;
    next.removeAt(row);
    manager->midiControl().setMappings(std::move(next));
}

void MidiMappingList::setChannel(int row, int channel) {
    AudioEngineManager* manager = manager_.data();
    if (!manager || row < 0 || row >= count() || channel < 0 || channel > 16)
        return;
    QList<MidiMapping> next = mappings_;
    next[row].source.channel = channel;
    manager->midiControl().setMappings(std::move(next));
}

} // namespace corvane
