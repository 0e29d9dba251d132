#include "platform/system/OscEndpoint.h"

#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"

#include <QUrl>

#include <lo/lo.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace corvane {

namespace {

using namespace std::chrono_literals;

// How often dropped messages from other senders may be logged.
constexpr auto kDropReportInterval = 10s;
// Larger than any UDP datagram.
constexpr std::size_t kMaxDatagram = 65536;

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    sockaddr* raw() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* raw() const { return reinterpret_cast<const sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }
    const sockaddr_in& v4() const { return *reinterpret_cast<const sockaddr_in*>(&storage); }
    const sockaddr_in6& v6() const { return *reinterpret_cast<const sockaddr_in6*>(&storage); }
    sockaddr_in& v4() { return *reinterpret_cast<sockaddr_in*>(&storage); }
    sockaddr_in6& v6() { return *reinterpret_cast<sockaddr_in6*>(&storage); }

    quint16 port() const { return ntohs(family() == AF_INET6 ? v6().sin6_port : v4().sin_port); }
    void setPort(quint16 port) {
        if (family() == AF_INET6)
            v6().sin6_port = htons(port);
        else
            v4().sin_port = htons(port);
    }
    bool sameHost(const SocketAddress& other) const {
        if (family() != other.family())
            return false;
        if (family() == AF_INET6)
            return std::memcmp(&v6().sin6_addr, &other.v6().sin6_addr, sizeof(in6_addr)) == 0;
        return v4().sin_addr.s_addr == other.v4().sin_addr.s_addr;
    }
    bool isLoopback() const {
        if (family() == AF_INET6)
            return std::memcmp(&v6().sin6_addr, &in6addr_loopback, sizeof(in6_addr)) == 0;
        return (ntohl(v4().sin_addr.s_addr) >> 24) == 127;
    }
    static SocketAddress loopback(int family) {
        SocketAddress address;
        address.storage.ss_family = sa_family_t(family);
        if (family == AF_INET6) {
            address.v6().sin6_addr = in6addr_loopback;
            address.length = sizeof(sockaddr_in6);
        } else {
            address.v4().sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.length = sizeof(sockaddr_in);
        }
        return address;
    }
    OscSender sender() const {
        char host[NI_MAXHOST] = "";
        if (getnameinfo(raw(), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
            return {};
        return {QString::fromLatin1(host), port()};
    }
    QString text() const {
        const OscSender s = sender();
        return family() == AF_INET6 ? QStringLiteral("[%1]:%2").arg(s.host).arg(s.port)
                                    : QStringLiteral("%1:%2").arg(s.host).arg(s.port);
    }
};

// Looks `host` up; an IPv4 address when there is one. `flags` adds to the hints.
bool resolve(const QString& host, quint16 port, int flags, SocketAddress& address, QString& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV | flags;
    addrinfo* found = nullptr;
    const int status =
        getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found);
    if (status != 0) {
        error = QStringLiteral("its host %1 cannot be resolved (%2)")
                    .arg(host, QString::fromLocal8Bit(gai_strerror(status)));
        return false;
    }
    const addrinfo* chosen = nullptr;
    for (const addrinfo* it = found; it; it = it->ai_next)
        if ((it->ai_family == AF_INET || it->ai_family == AF_INET6) &&
            (!chosen || (chosen->ai_family == AF_INET6 && it->ai_family == AF_INET)))
            chosen = it;
    if (chosen) {
        std::memcpy(&address.storage, chosen->ai_addr, chosen->ai_addrlen);
        address.length = chosen->ai_addrlen;
    } else {
        error = QStringLiteral("its host %1 has no IP address").arg(host);
    }
    freeaddrinfo(found);
    return chosen != nullptr;
}

QString systemError(const char* what, int number = errno) {
    return QStringLiteral("%1 failed (%2)")
        .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(number)));
}

// The local address that reaches `peer`: the kernel's choice for a socket
// connected to it (a UDP connect sends nothing).
bool localAddressFacing(const SocketAddress& peer, SocketAddress& local, QString& error) {
    if (peer.isLoopback()) {
        local = SocketAddress::loopback(peer.family());
        return true;
    }
    const int probe = ::socket(peer.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        error = systemError("socket()");
        return false;
    }
    local.length = sizeof local.storage;
    const bool found = ::connect(probe, peer.raw(), peer.length) == 0 &&
                       ::getsockname(probe, local.raw(), &local.length) == 0;
    if (!found)
        error = QStringLiteral("no local address reaches it: %1").arg(systemError("connect()"));
    ::close(probe);
    local.setPort(0);
    return found;
}

template <class T>
T read(const char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// What the main thread may call; dropped (set to nothing) before the endpoint goes.
struct Delivery {
    OscEndpoint::Receiver receive;
};

} // namespace

struct OscEndpoint::Receiving {
    int socket = -1;
    int stop = -1; // an eventfd: written when the thread is to end
    SocketAddress local;
    std::shared_ptr<Delivery> delivery;
    std::thread thread;

    // Who is listened to and sent to. Written on the main thread, read on both.
    std::mutex peerMutex;
    SocketAddress peer;
    // Before restrictTo(): a second address the peer may answer from.
    std::optional<SocketAddress> peerAlso;

    // The receiving thread's own.
    std::vector<char> buffer = std::vector<char>(kMaxDatagram);
    int droppedSinceReport = 0;
    std::optional<std::chrono::steady_clock::time_point> lastReport;

    ~Receiving() {
        if (thread.joinable()) {
            const std::uint64_t one = 1;
            if (::write(stop, &one, sizeof one) < 0)
                qCWarning(lcSession, "The OSC receiving thread could not be told to stop");
            thread.join();
        }
        if (socket >= 0)
            ::close(socket);
        if (stop >= 0)
            ::close(stop);
    }

    bool fromPeer(const SocketAddress& from) {
        std::lock_guard lock(peerMutex);
        return from.port() == peer.port() && (from.sameHost(peer) || (peerAlso && from.sameHost(*peerAlso)));
    }

    SocketAddress peerAddress() {
        std::lock_guard lock(peerMutex);
        return peer;
    }

    // Nothing from elsewhere reaches the main thread, and a flood of it
    // leaves one log line every few seconds.
    void drop(const SocketAddress& from) {
        ++droppedSinceReport;
        const auto now = std::chrono::steady_clock::now();
        if (lastReport && now - *lastReport < kDropReportInterval)
            return;
        qCWarning(lcSession, "Ignored %d OSC message(s) not from the session manager (the last from %s)",
                  droppedSinceReport, qUtf8Printable(from.text()));
        lastReport = now;
        droppedSinceReport = 0;
    }

    void deliver(std::size_t size, const SocketAddress& from) {
        int result = 0;
        lo_message received = lo_message_deserialise(buffer.data(), size, &result);
        if (!received) {
            qCWarning(lcSession, "Unreadable OSC message from %s (liblo error %d)",
                      qUtf8Printable(from.text()), result);
            return;
        }
        // A message that deserialises starts with its path, terminated.
        OscMessage message{QString::fromUtf8(buffer.data()), {}, from.sender()};
        const char* types = lo_message_get_types(received);
        lo_arg** argv = lo_message_get_argv(received);
        const int argc = lo_message_get_argc(received);
        // An argument sits in the message at 4-byte alignment, less than the
        // lo_arg union wants: its bytes are read, never the union's members.
        for (int i = 0; i < argc; ++i) {
            const auto* bytes = reinterpret_cast<const char*>(argv[i]);
            switch (types[i]) {
            case LO_STRING:
            case LO_SYMBOL: message.arguments.append(QString::fromUtf8(bytes)); break;
            case LO_INT32: message.arguments.append(int(read<std::int32_t>(bytes))); break;
            case LO_FLOAT: message.arguments.append(double(read<float>(bytes))); break;
            case LO_DOUBLE: message.arguments.append(read<double>(bytes)); break;
            default: message.arguments.append(QVariant()); break;
            }
        }
        lo_message_free(received);
        std::weak_ptr<Delivery> weak = delivery;
        postToMain([weak, message = std::move(message)] {
            if (auto d = weak.lock(); d && d->receive)
                d->receive(message);
        });
    }

    void run() {
        pollfd waits[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
        for (;;) {
            if (::poll(waits, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                qCWarning(lcSession, "OSC receiving stopped: %s", qUtf8Printable(systemError("poll()")));
                return;
            }
            if (waits[1].revents)
                return;
            SocketAddress from;
            from.length = sizeof from.storage;
            const ssize_t size =
                ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT, from.raw(), &from.length);
            if (size < 0) {
                // Nothing waiting after all, or an ICMP error for an earlier send.
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNREFUSED)
                    continue;
                qCWarning(lcSession, "OSC receiving stopped: %s", qUtf8Printable(systemError("recvfrom()")));
                return;
            }
            if (fromPeer(from))
                deliver(std::size_t(size), from);
            else
                drop(from);
        }
    }
};

OscEndpoint::OscEndpoint(std::unique_ptr<Receiving> receiving) : receiving_(std::move(receiving)) {}

OscEndpoint::~OscEndpoint() {
    // Messages still on their way to the main thread find nobody.
    receiving_->delivery->receive = nullptr;
}

std::unique_ptr<OscEndpoint> OscEndpoint::open(const QString& peerUrl, Receiver receive, QString& error) {
    const QUrl url(peerUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("osc.udp") || url.host().isEmpty() ||
        url.port() <= 0) {
        error = QStringLiteral("it is not an OSC address over UDP (osc.udp://host:port/)");
        return nullptr;
    }
    auto r = std::make_unique<Receiving>();
    r->delivery = std::make_shared<Delivery>(Delivery{std::move(receive)});
    if (!resolve(url.host(), quint16(url.port()), 0, r->peer, error) ||
        !localAddressFacing(r->peer, r->local, error))
        return nullptr;
    if (r->peer.isLoopback())
        r->peerAlso = r->local;

    const QString localHost = r->local.sender().host;
    r->socket = ::socket(r->local.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int v6Only = 1;
    if (r->socket < 0 ||
        (r->local.family() == AF_INET6 &&
         ::setsockopt(r->socket, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) < 0) ||
        ::bind(r->socket, r->local.raw(), r->local.length) < 0 ||
        ::getsockname(r->socket, r->local.raw(), &r->local.length) < 0) {
        error = QStringLiteral("no UDP port could be opened on %1 (%2)")
                    .arg(localHost, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    r->stop = ::eventfd(0, EFD_CLOEXEC);
    if (r->stop < 0) {
        error = systemError("eventfd()");
        return nullptr;
    }
    try {
        r->thread = std::thread([raw = r.get()] { raw->run(); });
    } catch (const std::system_error& e) {
        error = QStringLiteral("the OSC receiving thread could not be started (%1)")
                    .arg(QString::fromLocal8Bit(e.what()));
        return nullptr;
    }
    return std::unique_ptr<OscEndpoint>(new OscEndpoint(std::move(r)));
}

QString OscEndpoint::url() const {
    return QStringLiteral("osc.udp://%1/").arg(receiving_->local.text());
}

bool OscEndpoint::restrictTo(const OscSender& sender) {
    SocketAddress address;
    QString error;
    if (!resolve(sender.host, sender.port, AI_NUMERICHOST, address, error) ||
        address.family() != receiving_->local.family())
        return false;
    std::lock_guard lock(receiving_->peerMutex);
    receiving_->peer = address;
    receiving_->peerAlso.reset();
    return true;
}

bool OscEndpoint::send(const QString& path, const QVariantList& arguments) {
    lo_message message = lo_message_new();
    for (const QVariant& argument : arguments) {
        switch (argument.typeId()) {
        case QMetaType::Int: lo_message_add_int32(message, argument.toInt()); break;
        case QMetaType::Double: lo_message_add_float(message, float(argument.toDouble())); break;
        default: lo_message_add_string(message, argument.toString().toUtf8().constData()); break;
        }
    }
    std::size_t size = 0;
    void* data = lo_message_serialise(message, path.toUtf8().constData(), nullptr, &size);
    lo_message_free(message);
    const SocketAddress to = receiving_->peerAddress();
    const bool sent =
        data && ::sendto(receiving_->socket, data, size, 0, to.raw(), to.length) == ssize_t(size);
    if (!sent) {
        const QString why =
            data ? systemError("sendto()") : QStringLiteral("the message could not be written");
        qCWarning(lcSession, "Sending %s to %s failed: %s", qUtf8Printable(path), qUtf8Printable(to.text()),
                  qUtf8Printable(why));
    }
    std::free(data);
    return sent;
}

} // namespace corvane
