// The sequencer port for real, where the machine has an ALSA sequencer: a
// controller in another client, chosen by name, reaches the ring.
#include "platform/hardware/alsa/SequencerInput.h"
#include "tests/support/EventLoop.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace corvane;

TEST(AlsaSequencer, AControllerChosenByNameSendsAControlChangeThroughTheSubscriptionIntoTheRing) {
    hw::alsa::SequencerInput input;
    if (!input.open())
        GTEST_SKIP() << "no ALSA sequencer on this machine (/dev/snd/seq absent)";
    snd_seq_t* pedal = nullptr;
    ASSERT_GE(snd_seq_open(&pedal, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    snd_seq_set_client_name(pedal, "Corvane Test Pedal");
    const int port = snd_seq_create_simple_port(pedal, "pedal out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(port, 0);

    const std::vector<std::string> sources = input.sources();
    EXPECT_NE(std::find(sources.begin(), sources.end(), "Corvane Test Pedal:pedal out"), sources.end());
    EXPECT_TRUE(std::none_of(sources.begin(), sources.end(), [](const std::string& name) {
        return name.starts_with("System:") || name.starts_with(std::string(hw::alsa::SequencerInput::kClientName) + ':');
    }));
    input.setSource("Corvane Test Pedal:pedal out");
    MidiEventRing& ring = input.ring();
    ring.attach(); // as a starting device's period loop does

    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_source(&event, port);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    snd_seq_ev_set_controller(&event, 0, 64, 127);
    ASSERT_GE(snd_seq_event_output_direct(pedal, &event), 0);
    std::vector<std::uint8_t> heard;
    EXPECT_TRUE(test::waitFor([&] {
        ring.drain([&](const std::uint8_t* bytes, std::uint32_t size) { heard.assign(bytes, bytes + size); });
        return !heard.empty();
    }));
    EXPECT_EQ(heard, (std::vector<std::uint8_t>{0xB0, 64, 127}));
    ring.detach();
    snd_seq_close(pedal);
}
