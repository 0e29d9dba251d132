// Ordering, filtering and grouping of the catalog's list: pure functions.
#include "plugins/PluginCatalog.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

lv2::PluginDescription effect(const char* uri, const char* name, const char* author = "", bool midi = false) {
    lv2::PluginDescription d;
    d.uri = uri;
    d.name = name;
    d.author = author;
    d.audioInputs = 1;
    d.audioOutputs = 1;
    d.takesMidi = midi;
    d.isEffect = true;
    return d;
}

QStringList urisOf(const QList<PluginComponent>& list) {
    QStringList uris;
    for (const auto& c : list)
        uris << c.uri;
    return uris;
}

PluginComponent component(const char* uri, const char* name, const char* manufacturer) {
    return {QString::fromLatin1(uri), QString::fromUtf8(name), QString::fromUtf8(manufacturer), false};
}

} // namespace

TEST(PluginList, EffectsSortByNameIgnoringCaseAndKeepScanOrderForEqualNames) {
    lv2::PluginDescription synth = effect("urn:synth", "Aardvark Synth");
    synth.isEffect = false;
    const auto list = PluginCatalog::effectsFrom({
        effect("urn:midi-reverb", "reverb", "", true), // a MIDI effect scanned first
        effect("urn:zeta", "Zeta"),
        synth,
        effect("urn:reverb-upper", "REVERB"),
        effect("urn:reverb-lower", "Reverb"),
        effect("urn:alpha", "alpha"),
    });
    // Equal names: plain effects come before MIDI effects, each in scan order.
    EXPECT_EQ(urisOf(list), (QStringList{"urn:alpha", "urn:reverb-upper", "urn:reverb-lower", "urn:midi-reverb",
                                         "urn:zeta"}));
    EXPECT_TRUE(list[3].takesMidi);
    EXPECT_TRUE(PluginCatalog::effectsFrom({}).isEmpty());
}

TEST(PluginList, LocaleAwareOrderPutsAccentedNamesWithTheirLetter) {
    // Under the C locale the order is by code point; a user's language decides.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const auto list = PluginCatalog::effectsFrom(
        {effect("urn:z", "Zither"), effect("urn:e-acute", "\xC3\x89" "cho"), effect("urn:d", "Delay")});
    QLocale::setDefault(before);
    EXPECT_EQ(urisOf(list), (QStringList{"urn:d", "urn:e-acute", "urn:z"}));
}

TEST(PluginList, FilterMatchesNameOrManufacturerAnywhereInAnyCase) {
    const QList<PluginComponent> all{component("urn:1", "Tape Delay", "Vintage Works"),
                                     component("urn:2", "Compressor", "DELAYED Audio"),
                                     component("urn:3", "Gate", ""),
                                     component("urn:4", "Chorus", "Vintage Works")};
    EXPECT_EQ(PluginCatalog::filter(all, QString()), all);
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, "delay")), (QStringList{"urn:1", "urn:2"}));
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, "VINTAGE")), (QStringList{"urn:1", "urn:4"}));
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, "ga")), (QStringList{"urn:3"}));
    // The display name of the unnamed group is not searchable text.
    EXPECT_TRUE(PluginCatalog::filter(all, "Unknown").isEmpty());
    // The query is taken as typed: blanks filter for blanks.
    EXPECT_EQ(urisOf(PluginCatalog::filter(all, " ")), (QStringList{"urn:1", "urn:2", "urn:4"}));
}

TEST(PluginList, GroupsSortUnknownManufacturerAmongTheOthers) {
    const QList<PluginComponent> all{component("urn:1", "Zap", "Zeta Labs"),
                                     component("urn:2", "gate", ""),
                                     component("urn:3", "Amp", "alpha audio"),
                                     component("urn:4", "Boost", "Zeta Labs"),
                                     component("urn:5", "Echo", ""),
                                     component("urn:6", "Verb", "Mono Co")};
    const auto groups = PluginCatalog::groups(all);
    QStringList names;
    for (const auto& g : groups)
        names << g.manufacturer;
    EXPECT_EQ(names, (QStringList{"alpha audio", "Mono Co", "Unknown Manufacturer", "Zeta Labs"}));
    EXPECT_EQ(urisOf(groups[2].components), (QStringList{"urn:5", "urn:2"}));
    EXPECT_EQ(urisOf(groups[3].components), (QStringList{"urn:4", "urn:1"}));
    EXPECT_TRUE(PluginCatalog::groups({}).isEmpty());
}

TEST(PluginList, ComponentsAreTheSamePluginWhenTheirUrisAgree) {
    const PluginComponent a = component("urn:x", "Name", "Maker");
    const PluginComponent renamed = component("urn:x", "Other Name", "");
    EXPECT_EQ(a, renamed);
    EXPECT_EQ(qHash(a), qHash(renamed));
    EXPECT_FALSE(a == component("urn:y", "Name", "Maker"));
}
