#pragma once
// An OSC endpoint over UDP (liblo): a port of its own, a liblo thread that
// receives on it and hands each message to the main thread, and sending from
// that same port (so that a peer's replies come back to it).

#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace corvane {

struct OscMessage {
    QString path;
    // Strings as QString, int32 as int, float and double as double; other
    // types are left out.
    QVariantList arguments;
};

class OscEndpoint {
public:
    using Receiver = std::function<void(const OscMessage&)>;

    // Opens a free UDP port and starts receiving; `receive` is called on the
    // main thread, never after the endpoint is gone. Null, with `error` set,
    // when no port could be opened. Main thread.
    static std::unique_ptr<OscEndpoint> open(Receiver receive, QString& error);
    ~OscEndpoint();
    OscEndpoint(const OscEndpoint&) = delete;
    OscEndpoint& operator=(const OscEndpoint&) = delete;

    // "osc.udp://host:port/".
    QString url() const;

    // Sends `path` with `arguments` (QString, int, double) to `url`; false
    // when the address is not an OSC URL or the send failed. Main thread.
    bool send(const QString& url, const QString& path, const QVariantList& arguments);

private:
    struct Thread;
    explicit OscEndpoint(std::unique_ptr<Thread> thread);
    std::unique_ptr<Thread> thread_;
};

} // namespace corvane
