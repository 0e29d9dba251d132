#include "platform/system/ProcessActivity.h"

#include "platform/system/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QPointer>
#include <unistd.h>

namespace corvane {

ProcessActivity::ProcessActivity(const QString& reason, QObject* parent) : QObject(parent) {
    auto bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                               QStringLiteral("/org/freedesktop/login1"),
                                               QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle:sleep") << QStringLiteral("Corvane") << reason << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        w->deleteLater();
        if (reply.isError()) {
            qCDebug(lcEngine, "No idle inhibitor: %s", qUtf8Printable(reply.error().message()));
            return;
        }
        // The inhibitor lasts as long as we keep our duplicate of its descriptor.
        fd_ = ::dup(reply.value().fileDescriptor());
    });
}

ProcessActivity::~ProcessActivity() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace corvane
