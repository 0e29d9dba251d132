// Host services a plug-in calls back into: the worker and the log.
#include "tests/lv2/Lv2TestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {
constexpr const char* workerUri = "urn:corvane:test:worker";
}

TEST(Lv2EffectHostFeatures, WorkScheduledInRunIsAnsweredInALaterPeriod) {
    auto effect = loadEffect(workerUri);
    ASSERT_TRUE(prepared(effect, 48000, 64, 1, 1));
    effect->setParameter(portOf(*effect, "request"), 21.0f);
    const std::uint32_t answer = portOf(*effect, "answer");

    // Period after period, as the audio thread would, until the worker thread
    // has answered; the audio passes untouched meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const std::vector<float> in = ramp(64);
    while (effect->parameter(answer) != 42.0f && std::chrono::steady_clock::now() < deadline) {
        const auto out = runBlock(*effect, {in}, 1);
        ASSERT_EQ(out[0], in);
        std::this_thread::yield();
    }
    EXPECT_EQ(effect->parameter(answer), 42.0f);
}

TEST(Lv2EffectHostFeatures, PluginLogReachesOursExceptFromTheAudioThread) {
    LogCapture log;
    auto effect = loadEffect(workerUri);
    ASSERT_TRUE(effect);
    // A note is news, not a warning; it is the plug-in's word, not ours.
    EXPECT_EQ(log.messagesIn("corvane.lv2", QtInfoMsg), QStringList{"Plugin: worker fixture instantiated"})
        << log.messages().join('\n').toStdString();
    ASSERT_TRUE(prepared(*effect, 48000, 64, 1, 1));
    runBlock(*effect, {ramp(64)}, 1);
    EXPECT_FALSE(log.contains("worker fixture running"));
}
