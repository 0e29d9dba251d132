#pragma once
// The socket between Corvane and a plug-in host: messages of a type and a
// length-prefixed payload, each side checking every length it reads against
// what it may be and against what arrived. Everything but audio and control
// values travels here, off the audio thread.
//
// Not for the real-time thread. One thread per side uses a channel at a time.

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::lv2 {

// A payload being written: fields one after the other in host byte order
// (both ends are the same build on the same machine).
class MessageWriter {
public:
    MessageWriter& u32(std::uint32_t value) { return raw(&value, sizeof value); }
    MessageWriter& f32(float value) { return raw(&value, sizeof value); }
    MessageWriter& f64(double value) { return raw(&value, sizeof value); }
    MessageWriter& flag(bool value) { return u32(value ? 1 : 0); }
    MessageWriter& text(const std::string& value);
    const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
    MessageWriter& raw(const void* data, std::size_t size);
    std::vector<unsigned char> bytes_;
};

// A payload being read. A read past the end, or text longer than what is
// left, fails the reader: every later read fails too and ok() says so.
class MessageReader {
public:
    explicit MessageReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    bool u32(std::uint32_t& value) { return raw(&value, sizeof value); }
    bool f32(float& value) { return raw(&value, sizeof value); }
    bool f64(double& value) { return raw(&value, sizeof value); }
    bool flag(bool& value);
    bool text(std::string& value);
    // A count of items each at least `itemBytes` long: no more than could fit in what is left.
    bool count(std::uint32_t& value, std::size_t itemBytes);
    // Everything read and nothing left over.
    bool ok() const { return good_ && at_ == bytes_.size(); }

private:
    bool raw(void* data, std::size_t size);
    const std::vector<unsigned char>& bytes_;
    std::size_t at_ = 0;
    bool good_ = true;
};

struct Message {
    std::uint32_t type = 0;
    // Pairs a request with its answer (see HostMessages.h).
    std::uint32_t tag = 0;
    std::vector<unsigned char> payload;
};

class HostChannel {
public:
    // Larger than any state text a plug-in may have (see StateText.h).
    static constexpr std::size_t kMaxPayload = 8 * 1024 * 1024;

    // Does not own `fd`, a connected stream socket.
    explicit HostChannel(int fd) : fd_(fd) {}

    enum class Result { Done, Closed, TimedOut, Malformed, Watched };

    // Sends one message before `deadline` (CLOCK_MONOTONIC; null: no limit).
    // Closed when the other side has gone.
    Result send(std::uint32_t type, std::uint32_t tag, const MessageWriter& payload,
                const timespec* deadline = nullptr);
    // Waits for one whole message until `deadline` (null: no limit; one
    // already past: only what has arrived). What arrived of a message not
    // yet whole is kept for the next call, so a reader woken by the socket
    // never waits for the rest. Watched when `watch` (a descriptor, -1:
    // none) becomes readable first: a pidfd, so that a dead peer is noticed
    // even when a process it left behind holds the socket open.
    Result receive(Message& message, const timespec* deadline = nullptr, int watch = -1);

private:
    // Sends `outData` or receives into `inData` (the other one null); how
    // much moved is added to `moved`.
    Result transfer(const void* outData, void* inData, std::size_t size, std::size_t& moved,
                    const timespec* deadline, int watch);
    int fd_;
    // What has arrived of the message being read.
    std::vector<unsigned char> partial_;
};

} // namespace corvane::lv2
