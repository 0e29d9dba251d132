#pragma once
// What one strip side's channel picker offers and shows: "—" for none, then
// every start channel the device has, "1".."c" for mono, "1-2".."(c-1)-c"
// for a stereo pair. A channel the device no longer offers still reads as
// itself, with no entry ticked. Main thread only.

#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class ChannelChoices : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // Device channels on this side (0 without a device).
    Q_PROPERTY(int channelCount READ channelCount WRITE setChannelCount NOTIFY changed)
    Q_PROPERTY(bool stereo READ stereo WRITE setStereo NOTIFY changed)
    // The strip's channel, -1 for none.
    Q_PROPERTY(int channel READ channel WRITE setChannel NOTIFY changed)
    Q_PROPERTY(QStringList entries READ entries NOTIFY changed)
    // The entry of `channel`, -1 when the device does not offer it.
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY changed)
    Q_PROPERTY(QString displayText READ displayText NOTIFY changed)

public:
    using QObject::QObject;

    int channelCount() const { return channelCount_; }
    void setChannelCount(int count);
    bool stereo() const { return stereo_; }
    void setStereo(bool stereo);
    int channel() const { return channel_; }
    void setChannel(int channel);

    QStringList entries() const;
    int currentIndex() const;
    QString displayText() const { return textOf(channel_); }

signals:
    void changed();

private:
    int starts() const;
    QString textOf(int channel) const;

    int channelCount_ = 0;
    bool stereo_ = false;
    int channel_ = -1;
};

} // namespace corvane
