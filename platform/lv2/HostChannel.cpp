#include "platform/lv2/HostChannel.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace corvane::lv2 {

namespace {

struct Frame {
    std::uint32_t type;
    std::uint32_t tag;
    std::uint32_t size;
};

// Milliseconds until `deadline`, rounded up; -1 for none.
int millisecondsUntil(const timespec* deadline) {
    if (deadline == nullptr)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = (static_cast<long long>(deadline->tv_sec) - now.tv_sec) * 1'000'000'000LL
                         + (deadline->tv_nsec - now.tv_nsec);
    return ns <= 0 ? 0 : static_cast<int>(std::min<long long>((ns + 999'999) / 1'000'000, 1 << 30));
}

} // namespace

MessageWriter& MessageWriter::raw(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + size);
    return *this;
}

MessageWriter& MessageWriter::text(const std::string& value) {
    u32(static_cast<std::uint32_t>(value.size()));
    return raw(value.data(), value.size());
}

bool MessageReader::raw(void* data, std::size_t size) {
    if (!good_ || bytes_.size() - at_ < size)
        return good_ = false;
    std::memcpy(data, bytes_.data() + at_, size);
    at_ += size;
    return true;
}

bool MessageReader::flag(bool& value) {
    std::uint32_t word = 0;
    if (!u32(word) || word > 1)
        return good_ = false;
    value = word == 1;
    return true;
}

bool MessageReader::text(std::string& value) {
    std::uint32_t size = 0;
    if (!u32(size) || bytes_.size() - at_ < size)
        return good_ = false;
    value.assign(reinterpret_cast<const char*>(bytes_.data() + at_), size);
    at_ += size;
    return true;
}

bool MessageReader::count(std::uint32_t& value, std::size_t itemBytes) {
    if (!u32(value) || (bytes_.size() - at_) / itemBytes < value)
        return good_ = false;
    return true;
}

HostChannel::Result HostChannel::transfer(const void* outData, void* inData, std::size_t size, std::size_t& moved,
                                          const timespec* deadline, int watch) {
    const bool out = outData != nullptr;
    const auto* sending = static_cast<const unsigned char*>(outData);
    auto* receiving = static_cast<unsigned char*>(inData);
    std::size_t done = 0;
    while (done < size) {
        pollfd fds[2] = {{fd_, static_cast<short>(out ? POLLOUT : POLLIN), 0}, {watch, POLLIN, 0}};
        const int ready = poll(fds, watch >= 0 ? 2 : 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Result::Closed;
        if (ready == 0)
            return Result::TimedOut;
        if (watch >= 0 && fds[1].revents != 0 && fds[0].revents == 0)
            return Result::Watched;
        const ssize_t now = out ? ::send(fd_, sending + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                                : ::recv(fd_, receiving + done, size - done, MSG_DONTWAIT);
        if (now < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (now <= 0)
            return Result::Closed;
        done += static_cast<std::size_t>(now);
        moved += static_cast<std::size_t>(now);
    }
    return Result::Done;
}

HostChannel::Result HostChannel::send(std::uint32_t type, std::uint32_t tag, const MessageWriter& payload,
                                      const timespec* deadline) {
    if (payload.bytes().size() > kMaxPayload)
        return Result::Malformed;
    Frame frame{type, tag, static_cast<std::uint32_t>(payload.bytes().size())};
    std::size_t sent = 0;
    Result result = transfer(&frame, nullptr, sizeof frame, sent, deadline, -1);
    if (result == Result::Done && frame.size > 0)
        result = transfer(payload.bytes().data(), nullptr, frame.size, sent, deadline, -1);
    return result;
}

HostChannel::Result HostChannel::receive(Message& message, const timespec* deadline, int watch) {
    // The frame first, then its payload, each from where the last call stopped.
    Frame frame{};
    for (;;) {
        std::size_t have = partial_.size();
        std::size_t want = sizeof frame;
        if (have >= sizeof frame) {
            std::memcpy(&frame, partial_.data(), sizeof frame);
            if (frame.size > kMaxPayload)
                return Result::Malformed;
            want += frame.size;
        }
        if (have == want)
            break;
        partial_.resize(want);
        const Result result = transfer(nullptr, partial_.data() + have, want - have, have, deadline, watch);
        partial_.resize(have);
        if (result != Result::Done)
            return result;
    }
    message.type = frame.type;
    message.tag = frame.tag;
    message.payload.assign(partial_.begin() + sizeof frame, partial_.end());
    partial_.clear();
    return Result::Done;
}

} // namespace corvane::lv2
