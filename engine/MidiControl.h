#pragma once
// MIDI control of the running strips: the mappings the user made, bound to
// the strips' loaded plug-ins while the graph runs, and applied on the audio
// thread as a device's control input hands over its bytes.
//
// Threads: receive() is the audio thread's (see hw::ControlInput); all else is
// the main thread's. The audio thread reads the bindings through one pointer
// it marks as in use, so the main thread replaces them without a lock and
// frees the old ones once that thread is out of them. What the audio thread
// did comes back to the main thread on a short timer of `clock` while armed and
// while there is something to take in: switched strips' ON/OFF state (only a
// mapping to a strip's switch moves one), and the messages a learning waits
// for. Otherwise nothing wakes the main thread for MIDI.

#include "engine/MidiMapping.h"
#include "platform/hardware/ControlInput.h"
#include "platform/lv2/RingBuffer.h"
#include "platform/system/Clock.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class ChannelSlot;
namespace lv2 {
class HostedEffect;
}

class MidiControl final : public QObject, public hw::ControlInput {
    Q_OBJECT
public:
    // `clock` must outlive it.
    explicit MidiControl(Clock& clock, QObject* parent = nullptr);
    ~MidiControl() override;

    const QList<MidiMapping>& mappings() const { return mappings_; }
    // A target may have several (a pedal and a key); the same one twice is
    // kept once. While armed the new ones act from the next period on.
    void setMappings(QList<MidiMapping> mappings);

    // Binds the mappings to the strips' loaded plug-ins, before I/O starts.
    // A mapping to a port the strip's plug-in does not have (it was made for
    // another) is dropped, with a log line.
    void arm(const QList<ChannelSlot*>& strips);
    // Once I/O has stopped, before the plug-ins go: the strips get the state
    // MIDI left them in, and nothing is bound any more.
    void disarm();

    // The next controller moved (a note too, for a switch) is mapped to
    // `target`, replacing its mappings; learned() follows. While armed.
    void learn(MidiTarget target);
    void cancelLearning();
    // What a learning waits to map; none while nothing does.
    const std::optional<MidiTarget>& learning() const { return learning_; }

    // Since the program started: complete channel messages that came in, and
    // those a mapping acted on.
    std::uint64_t eventsReceived() const { return received_.load(std::memory_order_relaxed); }
    std::uint64_t eventsApplied() const { return applied_.load(std::memory_order_relaxed); }

    CORVANE_REALTIME void receive(const std::uint8_t* bytes, std::uint32_t size) noexcept override;

signals:
    void mappingsChanged();
    void learned(const corvane::MidiMapping& mapping);
    void learningChanged();

private:
    struct Binding {
        MidiMapping mapping;
        lv2::HostedEffect* effect = nullptr;
        std::uint32_t port = 0;
        ParameterScale scale;
    };
    using Table = std::vector<Binding>;

    void rebind();
    void publish(std::unique_ptr<Table> table);
    // Main thread, on the timer: takes in what the audio thread did.
    void collect();
    // Starts the timer unless it runs or nothing needs it.
    void collectLater();
    bool needsCollecting() const;
    CORVANE_REALTIME bool apply(const Binding& binding, const MidiMessage& message) noexcept;

    QList<MidiMapping> mappings_;
    QList<ChannelSlot*> strips_; // while armed
    bool armed_ = false;
    bool switchesBound_ = false; // the bound table moves a strip's switch
    std::optional<MidiTarget> learning_;
    Clock& clock_;
    std::optional<Clock::TimerId> collector_;

    std::atomic<Table*> table_{nullptr};
    std::atomic<Table*> inUse_{nullptr};
    // Audio thread's own.
    MidiParser parser_;
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> applied_{0};
    std::atomic<unsigned> switched_{0}; // a bit per strip whose ON/OFF switch MIDI moved
    std::atomic<bool> listening_{false}; // the audio thread passes messages on for learning
    lv2::RingBuffer heard_{256 * sizeof(MidiMessage)};
};

} // namespace corvane
