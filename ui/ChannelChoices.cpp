#include "ui/ChannelChoices.h"

#include <algorithm>

namespace corvane {

void ChannelChoices::setChannelCount(int count) {
    if (count == channelCount_)
        return;
    channelCount_ = count;
    emit changed();
}

void ChannelChoices::setStereo(bool stereo) {
    if (stereo == stereo_)
        return;
    stereo_ = stereo;
    emit changed();
}

void ChannelChoices::setChannel(int channel) {
    if (channel == channel_)
        return;
    channel_ = channel;
    emit changed();
}

// A pair needs the channel after its start.
int ChannelChoices::starts() const { return std::max(0, stereo_ ? channelCount_ - 1 : channelCount_); }

QString ChannelChoices::textOf(int channel) const {
    if (channel < 0)
        return QStringLiteral("—");
    return stereo_ ? QStringLiteral("%1-%2").arg(channel + 1).arg(channel + 2) : QString::number(channel + 1);
}

QStringList ChannelChoices::entries() const {
    QStringList list{textOf(-1)};
    for (int start = 0; start < starts(); ++start)
        list << textOf(start);
    return list;
}

int ChannelChoices::currentIndex() const { return channel_ < starts() ? channel_ + 1 : -1; }

} // namespace corvane
