// The model from QML itself: bindings read the manager, its strips and their
// records, follow their changes, and write settings and call commands back.
#include "tests/engine/VirtualRig.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <gtest/gtest.h>

#include <memory>

using namespace corvane;

TEST(QmlBinding, BindingsReadFollowAndWriteTheModel) {
    test::VirtualRig rig;
    rig.settle();
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
            readonly property string selected: manager.selectedDevice.name
            readonly property string latency: manager.latencyText
            readonly property int strips: manager.channels.length
            readonly property int input: manager.channels[2].inputChannel
            readonly property real peak: manager.channels[2].inputLevel.peak
            readonly property string plugin: manager.channels[2].component.name
            function choose() {
                manager.bufferFrames = 128
                manager.channels[2].inputChannel = 3
                manager.setBypass(2, true)
            }
        })",
                      QUrl());
    std::unique_ptr<QObject> view(
        component.createWithInitialProperties({{"manager", QVariant::fromValue<QObject*>(rig.manager.get())}}));
    ASSERT_TRUE(view) << component.errorString().toStdString();
    EXPECT_EQ(view->property("device").toString(), QString("Virtual Audio Device (8 in / 8 out)"));
    EXPECT_EQ(view->property("selected").toString(), QString("Virtual Audio Device"));
    EXPECT_EQ(view->property("strips").toInt(), 8);
    EXPECT_EQ(view->property("input").toInt(), -1);

    ASSERT_TRUE(QMetaObject::invokeMethod(view.get(), "choose"));
    EXPECT_TRUE(rig.manager->bufferFramesChosen());
    EXPECT_EQ(rig.strip(2).inputChannel(), 3);
    EXPECT_TRUE(rig.strip(2).bypass());
    EXPECT_EQ(view->property("input").toInt(), 3);
    EXPECT_EQ(view->property("latency").toString(), QString("≈ 2.7 ms buffer, one way (requested)"));

    rig.strip(2).setInputLevel({0.5f, 0.25f});
    rig.strip(2).setComponent(PluginComponent{"urn:x", "Echo", "", false});
    EXPECT_FLOAT_EQ(view->property("peak").toFloat(), 0.5f);
    EXPECT_EQ(view->property("plugin").toString(), QString("Echo"));
    rig.manager->selectDevice(std::nullopt);
    EXPECT_EQ(view->property("selected").toString(), QString());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}
