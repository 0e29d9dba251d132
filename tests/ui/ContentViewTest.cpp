// The main window's content over a manager on the virtual device: what the
// header, the device panel, the banners, the CPU meter and the load-failure
// alert show, and what pressing their controls does; and the device panel's
// rules on their own.
#include "monitor/SystemLoadMonitor.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/ManagerPeer.h"
#include "tests/support/ManualTime.h"
#include "tests/ui/QuickView.h"
#include "ui/BarGlide.h"
#include "ui/DevicePanel.h"
#include "ui/LatencyMeasurer.h"

#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <string_view>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

// The system load monitor on figures the test sets, sampled on a clock of its own.
struct ScriptedLoad : ProcessorStatistics {
    double cpuTime = 0;
    std::vector<CoreTicks> ticks;
    ManualClock clock;
    SystemLoadMonitor monitor{*this, clock};

    std::optional<double> processCPUTime() override { return cpuTime; }
    std::optional<std::vector<CoreTicks>> coreTicks() override { return ticks; }
    // One sample: this process used `usage` percent of a core, and each core
    // was busy for its share (in whole percents). A new core count takes a
    // sample of its own first.
    void sample(double usage, const std::vector<std::uint32_t>& cores) {
        if (cores.size() != ticks.size()) {
            ticks.assign(cores.size(), CoreTicks{});
            test::runFor(clock, 500ms);
        }
        cpuTime += usage / 100 * 0.5;
        for (std::size_t i = 0; i < cores.size(); ++i) {
            ticks[i].user += cores[i];
            ticks[i].idle += 100 - cores[i];
        }
        test::runFor(clock, 500ms);
    }
};

const QString kTertiary = QColor::fromRgbF(1, 1, 1, 0.34f).name(QColor::HexArgb);
const QString kWarning = QColor::fromRgbF(0.98f, 0.74f, 0.29f).name(QColor::HexArgb);
const QString kGreen = QColor::fromRgbF(0.2f, 0.82f, 0.52f).name(QColor::HexArgb);
const QString kAmber = kWarning;
const QString kRed = QColor::fromRgbF(0.98f, 0.36f, 0.36f).name(QColor::HexArgb);

QVariant object(QObject* o) { return QVariant::fromValue(o); }

// As drawn: eight bits a channel, as #AARRGGBB.
QString colorOf(QQuickItem* item) { return item->property("color").value<QColor>().name(QColor::HexArgb); }

// What choosing an entry of a picker does (the pop-up's click ends here).
void choose(QQuickItem* combo, int index) {
    combo->setProperty("currentIndex", index);
    QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, index));
}

struct ContentFixture : ::testing::Test {
    VirtualRig rig;
    AudioEngineManager& m = *rig.manager;
    ScriptedLoad load;
    std::unique_ptr<QuickView> view;

    void SetUp() override {
        rig.settle();
        view = std::make_unique<QuickView>(QStringLiteral("ContentView"),
                                           QVariantMap{{"manager", object(&m)}, {"loadMonitor", object(&load.monitor)}},
                                           QSize(1000, 664));
        ASSERT_TRUE(view->ok()) << view->errors().toStdString();
        rig.settle();
        view->settle();
    }
    void TearDown() override { EXPECT_TRUE(view->warnings().isEmpty()) << view->warnings().join('\n').toStdString(); }
    QQuickItem* item(const char* name) {
        const auto found = view->itemsNamed(QString::fromLatin1(name));
        EXPECT_FALSE(found.isEmpty()) << name;
        return found.value(0);
    }
};

using ContentView = ContentFixture;

TEST_F(ContentView, DevicePanelShowsTheManagersChoicesAndWritesThemBack) {
    // Which entry means what, and which the device takes, is the panel's (below).
    view->screenshot(QStringLiteral("content-stopped"));
    auto* devices = item("devicePicker");
    choose(devices, 0);
    EXPECT_FALSE(m.hasSelectedDevice());
    choose(devices, 1);

    // The entries the device cannot take are dimmed.
    auto* buffers = item("bufferPicker");
    rig.settle(); // the new device's supported sizes have been read
    ManagerPeer::supportedRange(m, BufferRange{64, 256});
    auto* popup = buffers->property("popup").value<QObject*>();
    QMetaObject::invokeMethod(popup, "open");
    view->settle();
    EXPECT_FALSE(item("bufferSize32")->isEnabled());
    EXPECT_TRUE(item("bufferSize256")->isEnabled());
    view->screenshot(QStringLiteral("content-buffer-picker"));
    QMetaObject::invokeMethod(popup, "close");
    choose(buffers, 2);
    EXPECT_EQ(m.bufferFrames(), 128u);
    EXPECT_EQ(buffers->property("displayText").toString(), QString("128 samples"));

    // The latency line is the model's, in the warning colour when it warns.
    auto* latency = item("latencyLine");
    EXPECT_EQ(latency->property("text").toString(), QString("≈ 2.7 ms buffer, one way (requested)"));
    EXPECT_EQ(colorOf(latency), kTertiary);
    ManagerPeer::supportedRange(m, BufferRange{256, 1024});
    EXPECT_EQ(colorOf(latency), kWarning);

    // The device's own rate, truncated, in the warning colour when it is off.
    auto* rates = item("ratePicker");
    auto* deviceRate = item("deviceRate");
    EXPECT_FALSE(deviceRate->isVisible());
    ManagerPeer::actualRate(m, 47999.5);
    EXPECT_TRUE(deviceRate->isVisible());
    EXPECT_EQ(deviceRate->property("text").toString(), QString("device: 47999 Hz"));
    EXPECT_EQ(colorOf(deviceRate), kTertiary);
    ManagerPeer::actualRate(m, 44100);
    EXPECT_EQ(colorOf(deviceRate), kWarning);
    choose(rates, 3);
    EXPECT_EQ(m.sampleRate(), 96000.0);
}

TEST_F(ContentView, MeasureLatencyStopsPlaybackSaysWhatCameBackAndKeepsItBesideTheEstimate) {
    const std::string loopback = hw::VirtualBackend::kLoopbackUid;
    rig.device->addLoopbackDevice(23.37);
    rig.device->setClockMode(loopback, hw::VirtualBackend::ClockMode::Manual);
    rig.refresh();
    m.selectDeviceById(*rig.device->deviceId(loopback));
    rig.route(0, 0, false, 0, false);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(m.isRunning()) << m.errorMessage().value_or("").toStdString();
    auto* measurer = view->root()->findChild<LatencyMeasurer*>("latencyMeasurer");
    ASSERT_NE(measurer, nullptr);
    measurer->setPass([&] { rig.device->runPeriods(loopback, 16); });

    view->click(item("measureLatencyButton"));
    auto* status = item("latencyStatus");
    auto measure = [&](int output, int input) {
        item("latencyOutput")->setProperty("value", output);
        item("latencyInput")->setProperty("value", input);
        view->click(item("latencyMeasure"));
        EXPECT_TRUE(waitFor([&] { return !measurer->busy(); }, 10s));
        view->settle();
    };
    measure(3, 2);
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(status->property("text").toString().toStdString(),
              "Playback was stopped for the measurement. No signal came back on input 2 - connect output 3 to input 2");
    EXPECT_EQ(colorOf(status), kWarning);
    EXPECT_FALSE(item("measuredLatencyLine")->isVisible());

    measure(3, 3);
    const QString result =
        "Measured 11.15 ms round trip (535 frames) · estimate 10.67 ms: the device adds 23 frames it does not report";
    EXPECT_EQ(status->property("text").toString().toStdString(), result.toStdString());
    view->screenshot(QStringLiteral("latency-result"));
    EXPECT_EQ(item("measuredLatencyLine")->property("text").toString(), result);
    // Kept for this device at this rate and buffer size only.
    choose(item("bufferPicker"), 2);
    EXPECT_FALSE(item("measuredLatencyLine")->isVisible());
    choose(item("bufferPicker"), 3);
    EXPECT_EQ(item("measuredLatencyLine")->property("text").toString(), result);
}

TEST_F(ContentView, TabGoesThroughTheControlsInOrderAndOnlyTheKeyboardsFocusIsRinged) {
    QQuickWindow* window = view->window();
    window->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const auto rings = [&] {
        int shown = 0;
        for (QQuickItem* ring : view->itemsNamed(QStringLiteral("focusRing")))
            shown += ring->isVisible();
        return shown;
    };
    // The dropout counter's reset is skipped while there is nothing to reset,
    // a strip's removal while it has no plug-in.
    for (const char* name : {"transport", "devicePicker", "midiMappingsButton", "refreshDevices", "ratePicker",
                             "bufferPicker", "measureLatencyButton", "pluginButton", "settingsButton", "inputChannelPicker",
                             "monoSegment", "stereoSegment",
                             "outputChannelPicker", "monoSegment", "stereoSegment", "pluginSwitch", "pluginButton"}) {
        QTest::keyClick(window, Qt::Key_Tab);
        QQuickItem* focused = window->activeFocusItem();
        ASSERT_TRUE(focused) << name;
        EXPECT_EQ(focused->objectName().toStdString(), name);
        const QQuickItem* ring = QuickView::findUnder(focused, QStringLiteral("focusRing"));
        EXPECT_TRUE(ring && ring->isVisible()) << name;
        EXPECT_EQ(rings(), 1) << name;
        if (name == std::string_view("inputChannelPicker"))
            view->screenshot(QStringLiteral("content-focus-ring"));
    }
    // A click moves the focus, and shows no ring.
    view->click(item("stereoSegment"));
    EXPECT_EQ(window->activeFocusItem(), item("stereoSegment"));
    EXPECT_EQ(rings(), 0);
}

TEST_F(ContentView, TransportBannersAndAlertDriveTheEngine) {
    rig.route(0, 0, true, 0, true);
    auto* transport = item("transport");
    EXPECT_EQ(transport->property("text").toString(), QString("Start"));
    view->click(transport, false);
    // Busy until the start has ended: a second press asks for nothing more.
    EXPECT_TRUE(m.isStarting());
    EXPECT_FALSE(transport->isEnabled());
    EXPECT_EQ(transport->property("text").toString(), QString("Starting…"));
    view->screenshot(QStringLiteral("content-starting"));
    ASSERT_TRUE(runUntil(rig.clock, [&] { return !m.isStarting(); }));
    ASSERT_TRUE(m.isRunning()) << m.errorText().toStdString();
    EXPECT_EQ(transport->property("text").toString(), QString("Stop"));

    // Running, with load on the cores and a dropout counted.
    rig.render(4);
    load.sample(41.2, {12, 35, 72, 18, 96, 8, 55, 100});
    load.sample(23.6, {12, 35, 72, 18, 96, 8, 55, 100});
    rig.device->forceOverload(kVirtual);
    ASSERT_TRUE(waitFor([&] { return m.audioDropoutCount() == 1; }));
    view->settle(300);
    EXPECT_EQ(item("dropoutCount")->property("text").toString(), QString("1"));
    view->screenshot(QStringLiteral("content-running"));

    // Banners: warning above error.
    auto* warning = item("warningBanner");
    auto* error = item("errorBanner");
    EXPECT_FALSE(warning->isVisible());
    EXPECT_FALSE(error->isVisible());
    ManagerPeer::warning(m, QStringLiteral("The device runs at 44100 Hz instead of 48000 Hz."));
    ManagerPeer::error(m, QStringLiteral("Failed to start engine: the device went away."));
    view->settle();
    ASSERT_TRUE(warning->isVisible() && error->isVisible());
    EXPECT_LT(warning->mapToScene({}).y(), error->mapToScene({}).y());
    EXPECT_EQ(warning->property("text").toString(), QString("The device runs at 44100 Hz instead of 48000 Hz."));
    view->screenshot(QStringLiteral("content-banners"));
    ManagerPeer::warning(m, std::nullopt);
    ManagerPeer::error(m, std::nullopt);

    view->click(transport, false);
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(transport->property("text").toString(), QString("Start"));

    // The load-failure alert: each way out clears the failure; the two that
    // start again start.
    auto* alert = view->root()->findChild<QObject*>(QStringLiteral("loadFailureAlert"));
    ASSERT_TRUE(alert);
    rig.strip(0).setComponent(PluginComponent{"urn:x", "Echo", "", false});
    for (const QString& way : QStringList{"cancel", "Escape", "tryAgain", "removePlugin"}) {
        ManagerPeer::loadFailure(m, PluginLoadFailure{QUuid::createUuid(), 0, "Echo", "undefined symbol: fftwf_execute"});
        view->settle();
        EXPECT_TRUE(alert->property("visible").toBool()) << way.toStdString();
        if (way == "cancel") {
            EXPECT_EQ(item("alertTitle")->property("text").toString(), QString("Couldn’t load “Echo”"));
            EXPECT_TRUE(item("alertMessage")->property("text").toString().startsWith("Channel 1 "));
            view->settle(300);
            view->screenshot(QStringLiteral("content-load-failure"));
        }
        if (way == "Escape")
            QTest::keyClick(view->window(), Qt::Key_Escape);
        else
            view->click(item(qPrintable(way)), false);
        EXPECT_FALSE(m.hasPluginLoadFailure()) << way.toStdString();
        const bool startsAgain = way == "tryAgain" || way == "removePlugin";
        EXPECT_EQ(m.isStarting(), startsAgain) << way.toStdString();
        view->settle();
        EXPECT_EQ(alert->property("visible").toBool(), m.hasPluginLoadFailure()) << way.toStdString();
        ASSERT_TRUE(runUntil(rig.clock, [&] { return !m.isStarting(); }));
        m.stop();
    }
    EXPECT_FALSE(rig.strip(0).hasComponent());
}

TEST(BarGlide, TakesTheFirstTargetAtOnceThenGlidesInWholePointsAndGoesOnFromWhereItIsDrawn) {
    ManualClock clock;
    BarGlide glide(clock);
    glide.setTarget(10);
    EXPECT_EQ(glide.value(), 10.0);
    glide.setTarget(40);
    QList<qreal> drawn{glide.value()};
    for (int step = 0; step < 2; ++step) {
        clock.advance(BarGlide::kStep);
        drawn << glide.value();
    }
    EXPECT_EQ(drawn, QList<qreal>({20, 30, 40})); // 30 points in three steps, the first with the target
    EXPECT_EQ(clock.pendingTimers(), 0u);
    glide.setTarget(20);
    clock.advance(BarGlide::kStep);
    EXPECT_EQ(glide.value(), 27.0);
    glide.setTarget(0);
    EXPECT_EQ(glide.value(), 18.0);
}

TEST(CPUMeterView, BarsNumbersAndTheDropoutCounter) {
    VirtualRig rig;
    ScriptedLoad load;
    QuickView view(QStringLiteral("CPUMeterView"), {{"load", object(&load.monitor)}, {"manager", object(rig.manager.get())}},
                   QSize(420, 50));
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    QTest::mouseMove(view.window(), QPoint(-10, -10)); // the pointer of an earlier test leaves
    load.sample(250.4, {69, 70, 100, 0, 0, 0, 0, 0});
    view.settle(300);
    QList<QQuickItem*> fills = view.itemsNamed(QStringLiteral("coreBarFill"));
    ASSERT_EQ(fills.size(), 8);
    std::sort(fills.begin(), fills.end(),
              [](QQuickItem* a, QQuickItem* b) { return a->mapToScene({}).x() < b->mapToScene({}).x(); });
    EXPECT_EQ(colorOf(fills[0]), kGreen);
    EXPECT_EQ(colorOf(fills[1]), kAmber);
    EXPECT_EQ(colorOf(fills[2]), kRed);
    EXPECT_DOUBLE_EQ(fills[2]->height(), 26.0);
    EXPECT_DOUBLE_EQ(fills[3]->height(), 1.0); // an idle core keeps a sliver
    EXPECT_EQ(view.find("cpuUsage")->property("text").toString(), QString("250%"));
    load.sample(12.4, {});
    EXPECT_EQ(view.find("cpuUsage")->property("text").toString(), QString("12%"));
    EXPECT_EQ(view.find("cpuPeak")->property("text").toString(), QString("peak 250%"));

    auto* reset = view.find("resetDropouts");
    auto* count = view.find("dropoutCount");
    EXPECT_FALSE(reset->isEnabled());
    for (int i = 0; i < 3; ++i)
        rig.manager->dropouts().noteDropout();
    view.settle(300);
    EXPECT_EQ(count->property("text").toString(), QString("3"));
    EXPECT_EQ(colorOf(count), kRed);
    EXPECT_EQ(colorOf(view.find("dropoutLight")), kRed);
    EXPECT_TRUE(reset->isEnabled());
    view.screenshot(QStringLiteral("cpu-meter-dropouts"));
    view.click(reset, false);
    EXPECT_EQ(rig.manager->audioDropoutCount(), 0);
    view.settle(300);
    EXPECT_EQ(colorOf(count), kTertiary);
}

} // namespace


// The device panel's rules over a manager on the virtual device: which entry
// each picker marks, what choosing one writes, which sizes the device
// refuses, and when the device's own rate is worth a warning.
TEST(DevicePanel, MarksWhatTheManagerHasWritesWhatIsChosenAndRefusesWhatTheDeviceCannotTake) {
    VirtualRig rig;
    AudioEngineManager& m = *rig.manager;
    rig.settle();
    DevicePanel panel;
    panel.setManager(&m);

    // Devices: "none" first, chosen by their place.
    EXPECT_EQ(panel.deviceLabels(), QStringList({"—", "Virtual Audio Device (8 in / 8 out)"}));
    EXPECT_EQ(panel.deviceIndex(), 1);
    panel.chooseDevice(0);
    EXPECT_FALSE(m.hasSelectedDevice());
    EXPECT_EQ(panel.deviceIndex(), 0);
    panel.chooseDevice(2); // past the end: nothing
    EXPECT_FALSE(m.hasSelectedDevice());
    panel.chooseDevice(1);
    ASSERT_TRUE(m.hasSelectedDevice());
    EXPECT_EQ(m.selectedDevice()->name, QString("Virtual Audio Device"));
    EXPECT_EQ(panel.deviceIndex(), 1);
    rig.settle();

    // Rates on offer; the device's own rate warns from a whole hertz off.
    EXPECT_EQ(panel.rateLabels(), QStringList({"44100 Hz", "48000 Hz", "88200 Hz", "96000 Hz", "176400 Hz", "192000 Hz"}));
    QSignalSpy changed(&panel, &DevicePanel::changed);
    panel.chooseRate(3);
    EXPECT_EQ(m.sampleRate(), 96000.0);
    EXPECT_EQ(panel.rateIndex(), 3);
    EXPECT_FALSE(changed.isEmpty());
    m.setSampleRate(48000.7); // not on offer: no entry, the rate truncated
    EXPECT_EQ(panel.rateIndex(), -1);
    EXPECT_EQ(panel.rateText(), QString("48000 Hz"));
    m.setSampleRate(48000);
    EXPECT_FALSE(panel.rateMismatch()) << "no rate from the device yet";
    ManagerPeer::actualRate(m, 47999.5);
    EXPECT_FALSE(panel.rateMismatch());
    ManagerPeer::actualRate(m, 47999.0);
    EXPECT_TRUE(panel.rateMismatch());

    // Buffer sizes outside what the device takes cannot be chosen.
    EXPECT_EQ(panel.bufferSizes(), QList<int>({32, 64, 128, 256, 512}));
    ManagerPeer::supportedRange(m, std::nullopt);
    EXPECT_EQ(panel.bufferAllowed(), QList<bool>({true, true, true, true, true}));
    ManagerPeer::supportedRange(m, BufferRange{64, 256});
    EXPECT_EQ(panel.bufferAllowed(), QList<bool>({false, true, true, true, false}));
    panel.chooseBuffer(2);
    EXPECT_EQ(m.bufferFrames(), 128u);
    EXPECT_EQ(panel.bufferIndex(), 2);
    panel.chooseBuffer(4);
    panel.chooseBuffer(0);
    EXPECT_EQ(m.bufferFrames(), 128u);
    EXPECT_EQ(panel.bufferText(), QString("128 samples"));
}
