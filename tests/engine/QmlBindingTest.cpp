// The model from QML itself, as the window uses it: bindings read the manager,
// its strips and their records, follow their changes, and write settings and
// call commands back.
#include "tests/engine/VirtualRig.h"
#include "tests/support/ManagerPeer.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

using namespace corvane;

TEST(QmlBinding, BindingsReadFollowAndWriteTheModel) {
    test::VirtualRig rig;
    rig.settle();
    AudioEngineManager& m = *rig.manager;
    QQmlEngine engine;
    QStringList warnings;
    QObject::connect(&engine, &QQmlEngine::warnings, [&](const QList<QQmlError>& list) {
        for (const auto& warning : list)
            warnings << warning.toString();
    });
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        QtObject {
            required property QtObject manager
            readonly property string device: manager.devices[0].label
            readonly property string second: manager.devices.length > 1 ? manager.devices[1].label : ""
            readonly property string selected: manager.selectedDevice.name
            readonly property string latency: manager.latencyText
            readonly property string latencyTip: manager.latencyToolTip
            readonly property string failure: manager.pluginLoadFailure.message
            readonly property int strips: manager.channels.length
            readonly property int input: manager.channels[2].inputChannel
            readonly property real peak: manager.channels[2].inputLevel.peak
            readonly property string plugin: manager.channels[2].component.name
            function choose() {
                manager.bufferFrames = 128
                manager.channels[2].inputChannel = 3
                manager.setBypass(2, true)
            }
            function chooseSecond(offset) { manager.selectDeviceById(manager.devices[1].id + offset) }
            function press() { manager.toggle() }
        })",
                      QUrl());
    std::unique_ptr<QObject> view(
        component.createWithInitialProperties({{"manager", QVariant::fromValue<QObject*>(&m)}}));
    ASSERT_TRUE(view) << component.errorString().toStdString();
    auto text = [&](const char* name) { return view->property(name).toString().toStdString(); };
    EXPECT_EQ(text("device"), "Virtual Audio Device (8 in / 8 out)");
    EXPECT_EQ(text("selected"), "Virtual Audio Device");
    EXPECT_EQ(view->property("strips").toInt(), 8);
    EXPECT_EQ(view->property("input").toInt(), -1);

    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "choose"));
    EXPECT_TRUE(m.bufferFramesChosen());
    EXPECT_EQ(rig.strip(2).inputChannel(), 3);
    EXPECT_TRUE(rig.strip(2).bypass());
    EXPECT_EQ(view->property("input").toInt(), 3);
    EXPECT_EQ(text("latency"), "≈ 2.7 ms buffer, one way (requested)");

    rig.strip(2).setInputLevel({0.5f, 0.25f});
    rig.strip(2).setComponent(PluginComponent{"urn:x", "Echo", "", false});
    EXPECT_FLOAT_EQ(view->property("peak").toFloat(), 0.5f);
    EXPECT_EQ(text("plugin"), "Echo");
    test::ManagerPeer::loadFailure(m, PluginLoadFailure{QUuid::createUuid(), 2, "Echo", "undefined symbol: x"});
    EXPECT_TRUE(view->property("failure").toString().startsWith("Channel 3 ")) << text("failure");
    EXPECT_TRUE(view->property("failure").toString().endsWith("\n\nThe system reported: undefined symbol: x"));
    m.dismissPluginLoadFailure();
    rig.strip(2).setComponent(std::nullopt);

    // Devices follow the hardware, and are chosen by id; one not listed changes nothing.
    rig.device->addDevice({"virtual:two", "Second", 2, 4});
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !text("second").empty(); }));
    rig.device->changeDevice("virtual:two", {"", "Second Renamed", 6, 4});
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return text("second") == "Second Renamed (6 in / 4 out)"; }));
    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "chooseSecond", Q_ARG(QVariant, 0)));
    EXPECT_EQ(text("selected"), "Second Renamed");
    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "chooseSecond", Q_ARG(QVariant, 1000)));
    EXPECT_EQ(text("selected"), "Second Renamed");
    m.selectDevice(std::nullopt);
    EXPECT_EQ(text("selected"), "");
    m.selectDevice(m.devices()[0]);
    rig.route(0, 0, false, 0, false);

    // A press while a start is in flight starts nothing more: a second start
    // would have stopped and started again. Running, the line is the round trip.
    rig.device->setLatency(test::kVirtual, hw::Scope::Input, 20, 12, std::nullopt);
    rig.device->setLatency(test::kVirtual, hw::Scope::Output, 48, std::nullopt, std::nullopt);
    QSignalSpy running(&m, &AudioEngineManager::isRunningChanged);
    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "press"));
    ASSERT_TRUE(m.isStarting()); // waiting for the device
    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "press"));
    m.start();
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !m.isStarting() && m.latencyEstimate(); }));
    EXPECT_TRUE(m.isRunning()) << m.errorText().toStdString();
    EXPECT_EQ(running.count(), 1);
    EXPECT_EQ(text("latency"), "≈ 7.0 ms round trip (device: 128 samples)");
    EXPECT_TRUE(view->property("latencyTip").toString().startsWith("Input ≈ 3.3 ms (128-sample buffer + 32 frames"))
        << text("latencyTip");
    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "press"));
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(text("latency"), "≈ 2.7 ms buffer, one way (requested)");
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}
