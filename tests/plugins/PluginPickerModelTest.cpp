// The picker's rows as a view reads them (by role name): the fixed rows, the
// loading row until the list arrives, sections by manufacturer, the filter.
#include "plugins/PluginPickerModel.h"
#include "tests/support/ManualTime.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

QStringList column(const QAbstractItemModel& model, const QByteArray& role) {
    const int key = model.roleNames().key(role, -1);
    EXPECT_NE(key, -1) << "no role " << role.constData();
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.data(model.index(row, 0), key).toString();
    return values;
}

// The list, a second after it is asked for.
Async<QList<PluginComponent>> later(ManualClock& clock, QList<PluginComponent> list, bool& cancelled) {
    // Named: with this co_await inside the if's condition, g++ 12 never runs
    // the coroutine's body at all.
    const bool slept = co_await sleepFor(clock, 1s);
    cancelled = !slept;
    co_return slept ? list : QList<PluginComponent>{};
}

const QList<PluginComponent> installed{{"urn:zap", "Zap", "Zeta Labs", false},
                                       {"urn:gate", "gate", "", false},
                                       {"urn:amp", "Amp", "alpha audio", false},
                                       {"urn:boost", "Boost", "Zeta Labs", true}};

} // namespace

TEST(PluginPickerModel, ShowsTheLoadingRowUntilTheListArrivesThenFiltersWholeSectionsAndClosingCancelsTheLoad) {
    ManualClock clock;
    bool cancelled = false;
    PluginPickerModel model([&] { return later(clock, installed, cancelled); });
    QSignalSpy loading(&model, &PluginPickerModel::loadingChanged);
    EXPECT_TRUE(model.property("loading").toBool());
    EXPECT_EQ(column(model, "kind"), (QStringList{"none", "loading"}));
    EXPECT_EQ(column(model, "name"), (QStringList{"No Plugin (direct passthrough)", "Scanning installed plugins…"}));

    ASSERT_TRUE(test::runUntil(clock, [&] { return !model.loading(); }));
    EXPECT_EQ(loading.count(), 1);
    EXPECT_EQ(column(model, "kind"), (QStringList{"none", "plugin", "plugin", "plugin", "plugin"}));
    EXPECT_EQ(column(model, "uri"), (QStringList{"", "urn:amp", "urn:gate", "urn:boost", "urn:zap"}));
    EXPECT_EQ(column(model, "manufacturer"),
              (QStringList{"", "alpha audio", "Unknown Manufacturer", "Zeta Labs", "Zeta Labs"}));
    const QVariant chosen = model.data(model.index(3, 0), model.roleNames().key("component"));
    EXPECT_EQ(chosen.value<PluginComponent>().name, QString("Boost"));
    EXPECT_TRUE(model.data(model.index(0, 0), model.roleNames().key("component")).value<PluginComponent>().uri.isEmpty());

    ASSERT_TRUE(model.setProperty("filterText", "ZETA"));
    EXPECT_EQ(column(model, "manufacturer"), (QStringList{"", "Zeta Labs", "Zeta Labs"}));
    model.setProperty("filterText", "nothing like it");
    EXPECT_EQ(column(model, "kind"), (QStringList{"none"}));
    EXPECT_FALSE(cancelled);

    // A picker closed while it loads cancels the load.
    auto closed = std::make_unique<PluginPickerModel>([&] { return later(clock, installed, cancelled); });
    closed.reset();
    test::runFor(clock, 2s);
    EXPECT_TRUE(cancelled);
}
