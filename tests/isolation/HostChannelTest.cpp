// The socket's messages: what one side sends the other reads back whole, and
// what is cut short, overlong or announces more than may come is refused.

#include "platform/lv2/HostMessages.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace corvane::lv2 {
namespace {

TEST(HostChannel, CarriesWholeMessagesAndRefusesBadOnes) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    HostChannel ours(fds[0]), theirs(fds[1]);

    LoadAnswer sent;
    sent.ok = true;
    sent.name = "Gain";
    sent.audioInputs = 1;
    sent.audioOutputs = 98; // a sampler's direct outputs
    Parameter gain;
    gain.portIndex = 2;
    gain.symbol = "gain";
    gain.minimum = -90.0f;
    gain.logarithmic = true;
    gain.unit = "dB";
    gain.scalePoints = {{0.0f, "unity"}};
    sent.parameters = {gain, Parameter{}};
    ASSERT_EQ(ours.send(static_cast<std::uint32_t>(HostMessage::Load), 7, encode(sent)), HostChannel::Result::Done);
    Message message;
    ASSERT_EQ(theirs.receive(message), HostChannel::Result::Done);
    LoadAnswer got;
    ASSERT_TRUE(decode(message.payload, got));
    EXPECT_EQ(message.type, static_cast<std::uint32_t>(HostMessage::Load));
    EXPECT_EQ(message.tag, 7u);
    EXPECT_EQ(got.name, "Gain");
    EXPECT_EQ(got.audioOutputs, 98);
    ASSERT_EQ(got.parameters.size(), 2u);
    EXPECT_EQ(got.parameters[0].unit, "dB");
    EXPECT_TRUE(got.parameters[0].logarithmic);
    EXPECT_EQ(got.parameters[0].scalePoints[0].label, "unity");

    // One byte short, one byte over, a count larger than what follows.
    std::vector<unsigned char> bytes = encode(sent).bytes();
    bytes.pop_back();
    EXPECT_FALSE(decode(bytes, got));
    bytes = encode(sent).bytes();
    bytes.push_back(0);
    EXPECT_FALSE(decode(bytes, got));
    Outcome outcome;
    std::vector<unsigned char> lying = MessageWriter().flag(true).u32(1000).bytes();
    EXPECT_FALSE(decode(lying, outcome));

    // Half a message, not waited for, is kept until the rest comes.
    timespec soon{};
    clock_gettime(CLOCK_MONOTONIC, &soon);
    const std::uint32_t half[2] = {static_cast<std::uint32_t>(HostMessage::EditorNews), kNoticeTag};
    const std::uint32_t rest[2] = {4, 0xabcd};
    ASSERT_EQ(write(fds[1], half, sizeof half), static_cast<ssize_t>(sizeof half));
    EXPECT_EQ(ours.receive(message, &soon), HostChannel::Result::TimedOut);
    ASSERT_EQ(write(fds[1], rest, sizeof rest), static_cast<ssize_t>(sizeof rest));
    ASSERT_EQ(ours.receive(message, &soon), HostChannel::Result::Done);
    EXPECT_EQ(message.payload, MessageWriter().u32(0xabcd).bytes());

    // A frame that announces more than a message may hold is refused unread;
    // nothing arriving in time and a closed peer are told apart.
    const std::uint32_t frame[3] = {1, 1, HostChannel::kMaxPayload + 1};
    ASSERT_EQ(write(fds[1], frame, sizeof frame), static_cast<ssize_t>(sizeof frame));
    EXPECT_EQ(ours.receive(message), HostChannel::Result::Malformed);
    HostChannel fresh(fds[0]);
    EXPECT_EQ(fresh.receive(message, &soon), HostChannel::Result::TimedOut);
    close(fds[1]);
    EXPECT_EQ(fresh.receive(message), HostChannel::Result::Closed);
    close(fds[0]);
}

} // namespace
} // namespace corvane::lv2
