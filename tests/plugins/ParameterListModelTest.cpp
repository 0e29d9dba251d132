// The generic editor's rows: a control suited to each kind of port, values
// with units, slider positions on a log scale where the port asks for one,
// and edits that reach the plug-in.
#include "platform/lv2/Lv2Effect.h"
#include "plugins/ParameterListModel.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvane;
using Kind = ParameterListModel::Kind;

namespace {

QVariant cell(const ParameterListModel& m, int row, int role) { return m.index(row, 0).data(role); }

} // namespace

TEST(ParameterListModel, EachPortGetsItsControlItsUnitAndALogScaleWhereItAsksAndEditsReachThePlugIn) {
    // Other tests here point LV2_PATH elsewhere; a plug-in not found reloads the world from it.
    ASSERT_EQ(setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1), 0);
    std::string error;
    auto effect = lv2::Lv2Effect::instantiate("urn:corvane:test:controls", 48000, 256, error);
    ASSERT_TRUE(effect) << error;
    lv2::Lv2Effect* raw = effect.get();
    ParameterListModel model;
    model.setEffect(EffectHandle{std::make_shared<engine::EffectUnit>(std::move(effect))});

    ASSERT_EQ(model.rowCount(), 5) << "every control port, the expert one included";
    const QStringList names{"Mode", "Steps", "Cutoff", "Boost", "Level"};
    const QList<Kind> kinds{Kind::List, Kind::Integer, Kind::Slider, Kind::Toggle, Kind::ReadOnly};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(cell(model, r, ParameterListModel::NameRole).toString(), names[r]);
        EXPECT_EQ(Kind(cell(model, r, ParameterListModel::KindRole).toInt()), kinds[r]) << r;
    }
    EXPECT_EQ(cell(model, 0, ParameterListModel::ChoicesRole).toStringList(), (QStringList{"Low", "Band", "High"}));
    EXPECT_EQ(cell(model, 0, ParameterListModel::ChoiceRole).toInt(), 1);
    EXPECT_EQ(cell(model, 0, ParameterListModel::TextRole).toString(), "Band");
    EXPECT_EQ(cell(model, 2, ParameterListModel::TextRole).toString(), "1000 Hz");
    // 1 kHz sits at log(1000/20)/log(1000) of a 20 Hz…20 kHz slider, not near its start.
    EXPECT_NEAR(cell(model, 2, ParameterListModel::PositionRole).toDouble(), 0.5663, 1e-4);

    model.setChoice(0, 2);
    model.setValue(1, 4.6); // integer steps round
    model.setPosition(2, 0.5);
    model.setValue(3, 1.0);
    model.setValue(4, 1.5); // an output is not the editor's to set
    EXPECT_EQ(raw->parameter(2), 2.0f);
    EXPECT_EQ(raw->parameter(3), 5.0f);
    EXPECT_NEAR(raw->parameter(4), std::sqrt(20.0f * 20000.0f), 0.01f);
    EXPECT_EQ(raw->parameter(5), 1.0f);
    EXPECT_EQ(raw->parameter(6), 0.0f);
    EXPECT_EQ(cell(model, 3, ParameterListModel::TextRole).toString(), "On");
    EXPECT_EQ(cell(model, 1, ParameterListModel::ValueRole).toDouble(), 5.0);

    // A range that crosses zero has no log scale: it stays linear.
    EXPECT_DOUBLE_EQ(ParameterListModel::valueAt(0.5, -1.0, 3.0, true), 1.0);
    EXPECT_DOUBLE_EQ(ParameterListModel::positionOf(1.0, -1.0, 3.0, true), 0.5);
    EXPECT_DOUBLE_EQ(ParameterListModel::positionOf(7.0, 1.0, 1.0, false), 0.0) << "an empty range";
}
