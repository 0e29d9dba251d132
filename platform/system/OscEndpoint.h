#pragma once
// An OSC endpoint over UDP that talks with one peer: a port of its own on the
// local address that faces the peer (never every interface), a thread that
// receives on it and hands only the peer's messages to the main thread, and
// sending from that same port (so that the peer's replies come back to it).
// liblo reads and writes the messages; the socket is ours, because liblo 0.31
// cannot bind a server to one address.

#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace corvane {

// Where a message came from: a numeric address ("127.0.0.1", "::1") and a UDP port.
struct OscSender {
    QString host;
    quint16 port = 0;
    bool operator==(const OscSender&) const = default;
};

struct OscMessage {
    QString path;
    // One entry per argument, in order: strings as QString, int32 as int,
    // float and double as double, and an invalid QVariant for any other type
    // (a blob, say), so that where an argument sits never depends on the
    // types before it.
    QVariantList arguments;
    OscSender sender;
};

class OscEndpoint {
public:
    using Receiver = std::function<void(const OscMessage&)>;

    // Opens a port for talking with the peer at `peerUrl` ("osc.udp://host:port/").
    // The host is looked up once, here (an IPv4 address first: liblo peers
    // listen on IPv4), which may block. Until restrictTo() narrows it, only
    // messages from the URL's port are taken, sent from the URL's address or,
    // for a peer on loopback, from the loopback address this end is bound to:
    // a peer listening on every interface answers from there even when its
    // URL names another loopback address (hosts files map the machine's name
    // to 127.0.1.1). Others are dropped on the receiving thread with at most
    // one log line every few seconds. `receive` is called on the main thread,
    // never after the endpoint is gone. Null, with `error` set, when the URL
    // is not a UDP OSC one, its host cannot be resolved or no port could be
    // opened. Main thread.
    static std::unique_ptr<OscEndpoint> open(const QString& peerUrl, Receiver receive, QString& error);
    ~OscEndpoint();
    OscEndpoint(const OscEndpoint&) = delete;
    OscEndpoint& operator=(const OscEndpoint&) = delete;

    // This end as the socket is bound: "osc.udp://address:port/".
    QString url() const;

    // From now on takes messages only from `sender`, and sends to it. False
    // (nothing changes) when `sender` is not a numeric address of the peer's
    // family. Main thread.
    bool restrictTo(const OscSender& sender);

    // Sends `path` with `arguments` (QString, int, double) to the peer; false,
    // and logged, when the send failed. Main thread.
    bool send(const QString& path, const QVariantList& arguments);

private:
    struct Receiving;
    explicit OscEndpoint(std::unique_ptr<Receiving> receiving);
    std::unique_ptr<Receiving> receiving_;
};

} // namespace corvane
