// Full state and parameter writes of a hosted plug-in.
#include "platform/lv2/StateText.h"
#include "tests/lv2/Lv2TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;
using namespace corvane::test;

namespace {

float processedAfterOneBlock(lv2::Lv2Effect& effect, std::uint32_t frames) {
    runBlock(effect, {std::vector<float>(frames, 0.1f)}, 1);
    return effect.parameter(portOf(effect, "processed"));
}

} // namespace

TEST(Lv2EffectState, RoundTripKeepsAChangedParameterAndThePluginsOwnProperty) {
    auto original = loadEffect(gainUri, 48000, 128);
    ASSERT_TRUE(prepared(original, 48000, 128, 1, 1));
    original->setParameter(portOf(*original, "gain"), 2.5f);
    const float processed = processedAfterOneBlock(*original, 100); // preflight 128 + 100
    ASSERT_EQ(processed, 228.0f);
    const std::optional<std::string> saved = original->saveState();
    ASSERT_TRUE(saved);

    auto restored = loadEffect(gainUri, 48000, 128);
    ASSERT_TRUE(restored);
    ASSERT_TRUE(restored->restoreState(*saved));
    EXPECT_EQ(restored->parameter(portOf(*restored, "gain")), 2.5f);
    ASSERT_TRUE(prepared(*restored, 48000, 128, 1, 1));
    // The fixture's frame total came back through its state interface.
    EXPECT_EQ(processedAfterOneBlock(*restored, 10), processed + 128.0f + 10.0f);
    auto out = runBlock(*restored, {std::vector<float>(8, 0.2f)}, 1);
    EXPECT_FLOAT_EQ(out[0][3], 0.5f);

    // The restored instance saves the same thing again.
    auto fresh = loadEffect(gainUri, 48000, 128);
    ASSERT_TRUE(fresh);
    ASSERT_TRUE(fresh->restoreState(*saved));
    EXPECT_EQ(fresh->saveState(), saved);
}

TEST(Lv2EffectState, BadOrForeignStateLeavesDefaults) {
    auto stereo = loadEffect(stereoUri);
    ASSERT_TRUE(stereo);
    stereo->setParameter(portOf(*stereo, "left"), 3.0f);
    const std::optional<std::string> stereoState = stereo->saveState();
    ASSERT_TRUE(stereoState);

    auto gain = loadEffect(gainUri);
    ASSERT_TRUE(gain);
    const std::uint32_t gainPort = portOf(*gain, "gain");
    for (const std::string& bad : {std::string(), std::string("this is not turtle {{{"),
                                   std::string("@prefix x: <urn:x#> . x:a x:b x:c ."), *stereoState}) {
        EXPECT_FALSE(gain->restoreState(bad)) << bad;
        EXPECT_EQ(gain->parameter(gainPort), 1.0f) << bad;
    }
    ASSERT_TRUE(prepared(*gain, 48000, 256, 1, 1));
    EXPECT_EQ(processedAfterOneBlock(*gain, 4), 256.0f + 4.0f) << "no stray frame total restored";
}

TEST(Lv2EffectState, TextNestedOrLinkedBeyondWhatIsReadIsRefusedUnparsed) {
    auto gain = loadEffect(gainUri);
    ASSERT_TRUE(gain);
    const std::optional<std::string> saved = gain->saveState();
    ASSERT_TRUE(saved);
    std::string why;
    // Brackets inside literals, IRIs and comments are text, however many; a
    // long list is no deep one.
    const std::string deep(100, '[');
    std::string list = " ( ";
    for (int i = 0; i < 1000; ++i)
        list += "1 ";
    const std::string quoted = *saved + "<urn:x:a> <urn:x:b> \"" + deep + "\\\"" + deep + "\" , '" + deep +
                               "' , \"\"\"" + deep + "\"\"" + deep + "\n\"\"\" , <urn:x:" + deep + "> ," + list +
                               ") . # " + deep + "\n";
    EXPECT_TRUE(lv2::isStateOf(quoted, gainUri, why)) << why;

    // 16,000 levels of blank nodes or lists overflowed the reader's stack.
    auto nested = [&](const std::string& open, char close) {
        std::string text = *saved + "<urn:x:a> <urn:x:b> ";
        for (int i = 0; i < 16000; ++i)
            text += open;
        return text + "1" + std::string(16000, close) + " .";
    };
    // The bound is inclusive: 64 levels are read, 65 are not.
    auto levels = [&](int depth) {
        std::string text = *saved + "<urn:x:a> <urn:x:b> ";
        for (int i = 0; i < depth; ++i)
            text += "[ <urn:x:b> ";
        return text + "1" + std::string(std::size_t(depth), ']') + " .";
    };
    EXPECT_TRUE(lv2::isStateOf(levels(64), gainUri, why)) << why;
    EXPECT_FALSE(lv2::isStateOf(levels(65), gainUri, why));
    for (const std::string& text : {nested("[ <urn:x:b> ", ']'), nested("( ", ')')}) {
        EXPECT_FALSE(lv2::isStateOf(text, gainUri, why));
        EXPECT_EQ(why, "the settings nest deeper than 64 levels");
        EXPECT_FALSE(gain->restoreState(text));
    }
    // Labelled blank nodes chain without brackets, and lilv follows them one
    // call deeper each, as it goes along a list; or they loop.
    std::string chain = *saved;
    chain.replace(chain.rfind('.'), 1, "; <urn:x:a> _:n0 .\n");
    for (std::size_t i = 0; i < lv2::kMaxStateLinks; ++i)
        chain += "_:n" + std::to_string(i) + " <urn:x:a> _:n" + std::to_string(i + 1) + " .\n";
    EXPECT_FALSE(gain->restoreState(chain));
    EXPECT_FALSE(lv2::isStateOf(*saved + "_:m0 <urn:x:a> _:m1 . _:m1 <urn:x:a> _:m0 .", gainUri, why));
    EXPECT_FALSE(lv2::isStateOf(*saved + std::string(lv2::kMaxStateBytes, ' '), gainUri, why));
    EXPECT_EQ(why, "the settings are larger than 4 MB");
    EXPECT_EQ(gain->parameter(portOf(*gain, "gain")), 1.0f);
}

TEST(Lv2EffectState, ErrorsLoggedWhileRestoringAreKeptTheFirstTenThenCounted) {
    auto effect = loadEffect("urn:corvane:test:restoring");
    ASSERT_TRUE(effect);
    const std::string state = "<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo <urn:corvane:test:restoring> ; "
                              "state:state [ <urn:corvane:test:restoring#file> \"/nonexistent/ir.wav\"^^atom:Path ; "
                              "<urn:corvane:test:restoring#complaints> 12 ] .";
    ASSERT_TRUE(effect->restoreState(state));
    std::vector<std::string> expected{"cannot open /nonexistent/ir.wav: No such file or directory"};
    for (int i = 1; i < 10; ++i)
        expected.push_back("still cannot open it (" + std::to_string(i) + ")");
    expected.push_back("… and 2 more lines");
    EXPECT_EQ(effect->takeLoggedProblems(), expected);
    EXPECT_TRUE(effect->takeLoggedProblems().empty());
}

TEST(Lv2EffectParameters, SetParameterClampsAndRefusesOutputsAndUnknownPorts) {
    auto gain = loadEffect(gainUri);
    ASSERT_TRUE(gain);
    const std::uint32_t port = portOf(*gain, "gain");
    EXPECT_TRUE(gain->setParameter(port, 9.0f));
    EXPECT_EQ(gain->parameter(port), 4.0f);
    EXPECT_TRUE(gain->setParameter(port, -1.0f));
    EXPECT_EQ(gain->parameter(port), 0.0f);
    EXPECT_FALSE(gain->setParameter(port, std::nanf("")));
    EXPECT_EQ(gain->parameter(port), 0.0f);
    EXPECT_FALSE(gain->setParameter(portOf(*gain, "processed"), 5.0f));
    EXPECT_FALSE(gain->setParameter(0, 1.0f)) << "an audio port";
    EXPECT_FALSE(gain->setParameter(99, 1.0f));
    EXPECT_TRUE(std::isnan(gain->parameter(99)));
}
