#pragma once
// Taking a setup from the engine manager and giving one to it. Main thread.
//
// Giving one is all or nothing: the document was checked whole when it was
// read (parseSetup), and what remains to decide here (which device, which
// channels it has, whether a plug-in's state parses) never refuses the rest.
// What had to be decided differently from the file is said in notes, which
// also become the manager's warning message. While the engine runs, the strips
// change for the next start (as any strip edit does) and the device is chosen
// once playback has stopped; before the device list is whole (see
// AudioEngineManager::devicesSettled), once it is. A device that stands in for
// a missing one is never taken for the setup's own.

#include "devices/AudioDevice.h"
#include "setup/SetupDocument.h"

#include <QList>
#include <QStringList>

namespace corvane {

class AudioEngineManager;

// The setup the manager holds now; a loaded plug-in's state is read from it
// (LV2 lets that happen while it runs).
Setup captureSetup(AudioEngineManager& manager);

struct ApplyOptions {
    // False leaves the device alone (the command line chose one).
    bool chooseDevice = true;
};

// Gives `read` to `manager`; the notes (also logged and shown as the warning).
QStringList applySetup(AudioEngineManager& manager, const ReadSetup& read, ApplyOptions options = {});

// Whether a given setup's device is still to be chosen (or being chosen now):
// it is, until the device list is whole.
bool setupDevicePending(const AudioEngineManager& manager);

struct DeviceChoice {
    std::optional<AudioDevice> device;
    QString note; // empty when the setup's own device was found by its uid
    // Another device (or none) in place of the setup's: a setup taken while
    // it is selected keeps naming the setup's own device.
    bool standIn = false;
};

// The setup's device among `devices`: by uid, else by name, else the first one.
DeviceChoice chooseSetupDevice(const QString& uid, const QString& name, const QList<AudioDevice>& devices);

} // namespace corvane
