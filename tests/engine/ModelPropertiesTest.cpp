// The manager and its strips as the window sees them: properties read and
// written by name through the meta-object system, commands invoked by name, and
// records read field by field, the way QML does it.
#include "platform/lv2/Lv2Effect.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"

#include <QSequentialIterable>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvane;
using namespace std::chrono_literals;
using test::kVirtual;

namespace {

// Fixture bundles first, then Debian's plug-ins; set before the first lilv world.
const bool pathSet = [] {
    const std::string path = std::string(CORVANE_LV2_FIXTURE_DIR) + ":/usr/lib/lv2";
    return setenv("LV2_PATH", path.c_str(), 1) == 0;
}();

QMetaProperty property(const QObject& object, const char* name) {
    const int index = object.metaObject()->indexOfProperty(name);
    EXPECT_GE(index, 0) << "no property " << name;
    return object.metaObject()->property(index);
}

QVariant read(const QObject& object, const char* name) { return property(object, name).read(&object); }

bool write(QObject& object, const char* name, const QVariant& value) {
    return property(object, name).write(&object, value);
}

// One field of a record held in a QVariant, found through the record's own meta-object.
QVariant field(const QVariant& record, const char* name) {
    const QMetaObject* meta = record.metaType().metaObject();
    EXPECT_TRUE(meta) << record.metaType().name() << " has no fields";
    if (!meta)
        return {};
    const int index = meta->indexOfProperty(name);
    EXPECT_GE(index, 0) << "no field " << name;
    return meta->property(index).readOnGadget(record.constData());
}

bool invoke(QObject& object, const char* method) { return QMetaObject::invokeMethod(&object, method); }

struct ModelProperties : ::testing::Test {
    test::VirtualRig rig;
    AudioEngineManager& m = *rig.manager;

    void SetUp() override {
        ASSERT_TRUE(pathSet);
        rig.settle();
        rig.route(0, 0, false, 0, false);
    }
    void startByCommand(const char* method = "start") {
        ASSERT_TRUE(invoke(m, method));
        ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !m.isStarting(); }));
    }
};

const PluginComponent gain{"urn:corvane:test:gain", "Fixture Gain", "Zeta Labs", false};
const PluginComponent refuses{"urn:corvane:test:refuses", "Fixture Refuses", "Corvane Tests", false};

} // namespace

TEST_F(ModelProperties, WrittenSettingsAreTheUsersChoiceAndTheLatencyLineSwitchesTexts) {
    QSignalSpy line(&m, &AudioEngineManager::latencyLineChanged);
    ASSERT_TRUE(write(m, "bufferFrames", 128));
    EXPECT_TRUE(m.bufferFramesChosen());
    EXPECT_EQ(read(m, "latencyText").toString(), QString("≈ 2.7 ms buffer, one way (requested)"));
    EXPECT_FALSE(read(m, "latencyWarning").toBool());
    ASSERT_TRUE(write(m, "sampleRate", 96000.0));
    EXPECT_EQ(read(m, "latencyText").toString(), QString("≈ 1.3 ms buffer, one way (requested)"));
    ASSERT_TRUE(write(m, "bufferFrames", 8));
    ASSERT_TRUE(write(m, "bufferFrames", 8));
    EXPECT_EQ(read(m, "latencyText").toString(), QString("Device only supports 16–4096 samples"));
    EXPECT_TRUE(read(m, "latencyWarning").toBool());
    EXPECT_EQ(line.count(), 3);

    write(m, "bufferFrames", 256);
    write(m, "sampleRate", 48000.0);
    rig.device->setLatency(kVirtual, hw::Scope::Input, 20, 12, std::nullopt);
    rig.device->setLatency(kVirtual, hw::Scope::Output, 48, std::nullopt, std::nullopt);
    startByCommand();
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return m.latencyEstimate().has_value(); }, 1s));
    EXPECT_EQ(read(m, "actualBufferFrames").toUInt(), 256u);
    EXPECT_EQ(read(m, "latencyText").toString(), QString("≈ 12.3 ms round trip (device: 256 samples)"));
    EXPECT_TRUE(read(m, "latencyToolTip").toString().startsWith("Input ≈ 6.0 ms (256-sample buffer + 32 frames"));
    EXPECT_FALSE(read(m, "latencyWarning").toBool());
    ASSERT_TRUE(invoke(m, "stop"));
    EXPECT_EQ(read(m, "actualBufferFrames").toUInt(), 0u);
    EXPECT_EQ(read(m, "latencyText").toString(), QString("≈ 5.3 ms buffer, one way (requested)"));
}

TEST_F(ModelProperties, DeviceRecordsFollowTheHardwareAndSelectionGoesById) {
    QSignalSpy devices(&m, &AudioEngineManager::devicesChanged);
    QSignalSpy selected(&m, &AudioEngineManager::selectedDeviceChanged);
    auto second = [&]() -> QVariant {
        // The list must outlive the iteration over it.
        const QVariant list = read(m, "devices");
        for (const QVariant& device : list.value<QSequentialIterable>())
            if (field(device, "uid") == "virtual:two")
                return device;
        return {};
    };
    rig.device->addDevice({"virtual:two", "Second", 2, 4});
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return second().isValid(); }));
    rig.device->changeDevice("virtual:two", {"", "Second Renamed", 6, 4});
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return field(second(), "inputChannels") == 6; }));
    EXPECT_EQ(devices.count(), 2);
    const QVariant device = second();
    EXPECT_EQ(field(device, "name").toString(), QString("Second Renamed"));
    EXPECT_EQ(field(device, "outputChannels").toInt(), 4);
    EXPECT_EQ(field(device, "label").toString(), QString("Second Renamed (6 in / 4 out)"));
    const quint32 id = field(device, "id").toUInt();
    EXPECT_NE(id, hw::kNoObject);

    EXPECT_TRUE(QMetaObject::invokeMethod(&m, "selectDeviceById", Q_ARG(quint32, id)));
    EXPECT_EQ(field(read(m, "selectedDevice"), "uid").toString(), QString("virtual:two"));
    EXPECT_TRUE(QMetaObject::invokeMethod(&m, "selectDeviceById", Q_ARG(quint32, id + 1000)));
    EXPECT_EQ(selected.count(), 1); // an id that is not listed changes nothing
    EXPECT_TRUE(QMetaObject::invokeMethod(&m, "selectDeviceById", Q_ARG(quint32, hw::kNoObject)));
    EXPECT_FALSE(read(m, "hasSelectedDevice").toBool());
    EXPECT_EQ(field(read(m, "selectedDevice"), "inputChannels").toInt(), 0);
}

TEST_F(ModelProperties, StripEditsAndTheBypassCommandReachTheLiveEffect) {
    ChannelSlot& slot = rig.strip(0);
    ASSERT_TRUE(write(slot, "inputChannel", -1));
    EXPECT_FALSE(slot.inputChannel());
    ASSERT_TRUE(write(slot, "inputChannel", 1));
    EXPECT_EQ(slot.inputChannel(), 1);
    ASSERT_TRUE(write(slot, "component", QVariant::fromValue(gain)));
    EXPECT_TRUE(read(slot, "hasComponent").toBool());
    EXPECT_EQ(field(read(slot, "component"), "name").toString(), QString("Fixture Gain"));
    // A switch bound to the flag alone would leave the live effect as it was.
    EXPECT_FALSE(property(slot, "bypass").isWritable());

    QSignalSpy loaded(&slot, &ChannelSlot::effectNodeChanged);
    startByCommand();
    ASSERT_TRUE(m.isRunning()) << m.errorText().toStdString();
    EXPECT_TRUE(read(slot, "hasEffectNode").toBool());
    EXPECT_EQ(loaded.count(), 1);
    auto& effect = dynamic_cast<lv2::Lv2Effect&>(slot.effectNode()->processor());
    EXPECT_TRUE(QMetaObject::invokeMethod(&m, "setBypass", Q_ARG(int, 0), Q_ARG(bool, true)));
    EXPECT_TRUE(read(slot, "bypass").toBool());
    EXPECT_TRUE(effect.isBypassed());
    EXPECT_TRUE(QMetaObject::invokeMethod(&m, "setBypass", Q_ARG(int, 0), Q_ARG(bool, false)));
    EXPECT_FALSE(effect.isBypassed());

    ASSERT_TRUE(invoke(m, "stop"));
    EXPECT_FALSE(read(slot, "hasEffectNode").toBool());
    ASSERT_TRUE(write(slot, "component", QVariant::fromValue(PluginComponent{})));
    EXPECT_FALSE(slot.component());
}

TEST_F(ModelProperties, APressWhileAStartIsInFlightStartsNothingMore) {
    QSignalSpy running(&m, &AudioEngineManager::isRunningChanged);
    QSignalSpy starting(&m, &AudioEngineManager::isStartingChanged);
    ASSERT_TRUE(invoke(m, "toggle"));
    ASSERT_TRUE(read(m, "isStarting").toBool()); // waiting for the device
    ASSERT_TRUE(invoke(m, "toggle"));
    ASSERT_TRUE(invoke(m, "start"));
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !m.isStarting(); }));
    rig.settle();
    EXPECT_TRUE(m.isRunning());
    EXPECT_EQ(running.count(), 1); // a second start would have stopped and started again
    EXPECT_EQ(starting.count(), 2);
    ASSERT_TRUE(invoke(m, "toggle"));
    EXPECT_FALSE(read(m, "isRunning").toBool());
}

TEST_F(ModelProperties, TheLoadFailureAlertTriesAgainOrRemovesThePluginAndStarts) {
    rig.strip(0).setComponent(refuses);
    startByCommand();
    ASSERT_TRUE(read(m, "hasPluginLoadFailure").toBool());
    const QVariant failure = read(m, "pluginLoadFailure");
    EXPECT_EQ(field(failure, "title").toString(), QString("Couldn’t load “Fixture Refuses”"));
    const QString message = field(failure, "message").toString();
    EXPECT_TRUE(message.startsWith("Channel 1 ")) << message.toStdString();
    EXPECT_TRUE(message.endsWith("\n\nThe system reported: " + field(failure, "reason").toString()));

    const QUuid first = m.pluginLoadFailure()->id;
    startByCommand("tryAgainAfterPluginFailure");
    ASSERT_TRUE(m.pluginLoadFailure());
    EXPECT_NE(m.pluginLoadFailure()->id, first);

    startByCommand("removeFailedPlugin");
    EXPECT_FALSE(read(m, "hasPluginLoadFailure").toBool());
    EXPECT_FALSE(read(rig.strip(0), "hasComponent").toBool());
    EXPECT_TRUE(m.isRunning());
}
