#include "platform/system/OscEndpoint.h"

#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"

#include <lo/lo.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace corvane {

namespace {

// liblo's errors carry no context pointer: they go to the log as they come.
void loError(int number, const char* message, const char* where) {
    qCWarning(lcSession, "OSC error %d: %s%s%s", number, message ? message : "", where ? " at " : "",
              where ? where : "");
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

struct OscEndpoint::Thread {
    lo_server_thread server = nullptr;
    std::shared_ptr<Delivery> delivery;

    ~Thread() {
        if (server) {
            lo_server_thread_stop(server);
            lo_server_thread_free(server);
        }
    }

    // On liblo's thread: copy the message and hand it over.
    static int handle(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* user) {
        auto* self = static_cast<Thread*>(user);
        OscMessage message{QString::fromUtf8(path), {}};
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
            default: break;
            }
        }
        std::weak_ptr<Delivery> delivery = self->delivery;
        postToMain([delivery, message = std::move(message)] {
            if (auto d = delivery.lock(); d && d->receive)
                d->receive(message);
        });
        return 0;
    }
};

OscEndpoint::OscEndpoint(std::unique_ptr<Thread> thread) : thread_(std::move(thread)) {}

OscEndpoint::~OscEndpoint() {
    // Messages still on their way to the main thread find nobody.
    thread_->delivery->receive = nullptr;
}

std::unique_ptr<OscEndpoint> OscEndpoint::open(Receiver receive, QString& error) {
    auto thread = std::make_unique<Thread>();
    thread->delivery = std::make_shared<Delivery>(Delivery{std::move(receive)});
    thread->server = lo_server_thread_new(nullptr, &loError);
    if (!thread->server) {
        error = QStringLiteral("no UDP port could be opened for OSC");
        return nullptr;
    }
    lo_server_thread_add_method(thread->server, nullptr, nullptr, &Thread::handle, thread.get());
    if (lo_server_thread_start(thread->server) != 0) {
        error = QStringLiteral("the OSC receiving thread could not be started");
        return nullptr;
    }
    return std::unique_ptr<OscEndpoint>(new OscEndpoint(std::move(thread)));
}

QString OscEndpoint::url() const {
    char* url = lo_server_thread_get_url(thread_->server);
    const QString text = url ? QString::fromUtf8(url) : QString();
    std::free(url);
    return text;
}

bool OscEndpoint::send(const QString& url, const QString& path, const QVariantList& arguments) {
    lo_address address = lo_address_new_from_url(url.toUtf8().constData());
    if (!address)
        return false;
    lo_message message = lo_message_new();
    for (const QVariant& argument : arguments) {
        switch (argument.typeId()) {
        case QMetaType::Int: lo_message_add_int32(message, argument.toInt()); break;
        case QMetaType::Double: lo_message_add_float(message, float(argument.toDouble())); break;
        default: lo_message_add_string(message, argument.toString().toUtf8().constData()); break;
        }
    }
    const int sent = lo_send_message_from(address, lo_server_thread_get_server(thread_->server),
                                          path.toUtf8().constData(), message);
    lo_message_free(message);
    lo_address_free(address);
    return sent >= 0;
}

} // namespace corvane
