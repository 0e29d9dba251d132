#include "setup/SessionClient.h"

#include "platform/system/Logging.h"
#include "setup/SetupKeeper.h"

#include <QCoreApplication>
#include <unistd.h>

namespace corvane {

namespace {
// The protocol's error code for a failed operation (ERR_GENERAL is -1).
constexpr int kGeneralError = -1;
constexpr int kApiMajor = 1;
constexpr int kApiMinor = 2;
} // namespace

SessionClient::SessionClient(SetupKeeper& keeper, QString managerUrl, QString executable, QObject* parent)
    : QObject(parent), keeper_(keeper), managerUrl_(std::move(managerUrl)) {
    // Inside a session the session manager keeps the files.
    keeper_.setManagedBySession(true);
    QString error;
    endpoint_ = OscEndpoint::open([this](const OscMessage& m) { receive(m); }, error);
    if (!endpoint_) {
        qCWarning(lcSession, "Cannot take part in the session at %s: %s", qUtf8Printable(managerUrl_),
                  qUtf8Printable(error));
        return;
    }
    const bool sent = endpoint_->send(managerUrl_, QStringLiteral("/nsm/server/announce"),
                                      {QStringLiteral("Corvane"), QStringLiteral(":dirty:"), executable, kApiMajor,
                                       kApiMinor, int(::getpid())});
    if (!sent) {
        qCWarning(lcSession, "Cannot announce to the session manager at %s", qUtf8Printable(managerUrl_));
        endpoint_.reset();
        return;
    }
    connect(&keeper_, &SetupKeeper::isDirtyChanged, this, &SessionClient::reportDirty);
}

SessionClient::~SessionClient() = default;

void SessionClient::reply(const QString& path, const QString& text) {
    endpoint_->send(managerUrl_, QStringLiteral("/reply"), {path, text});
}

void SessionClient::fail(const QString& path, int code, const QString& text) {
    qCWarning(lcSession, "%s", qUtf8Printable(text));
    endpoint_->send(managerUrl_, QStringLiteral("/error"), {path, code, text});
}

void SessionClient::reportDirty() {
    if (!sessionFile_.isEmpty())
        endpoint_->send(managerUrl_,
                        keeper_.isDirty() ? QStringLiteral("/nsm/client/is_dirty") : QStringLiteral("/nsm/client/is_clean"),
                        {});
}

void SessionClient::receive(const OscMessage& message) {
    const auto& args = message.arguments;
    auto text = [&](int i) { return i < args.size() ? args[i].toString() : QString(); };
    if (message.path == QLatin1String("/reply") && text(0) == QLatin1String("/nsm/server/announce")) {
        qCInfo(lcSession, "Session manager %s: %s", qUtf8Printable(text(2)), qUtf8Printable(text(1)));
        announced_ = true;
        emit announced();
    } else if (message.path == QLatin1String("/error") && text(0) == QLatin1String("/nsm/server/announce")) {
        qCWarning(lcSession, "The session manager refused Corvane: %s", qUtf8Printable(text(2)));
    } else if (message.path == QLatin1String("/nsm/client/open")) {
        // The path is the session's own prefix for this client's files.
        const QString file = text(0) + QStringLiteral(".json");
        if (text(0).isEmpty() || !keeper_.openPath(file, true)) {
            fail(message.path, kGeneralError, keeper_.problem().isEmpty() ? QStringLiteral("No session path was given.")
                                                                           : keeper_.problem());
            return;
        }
        sessionFile_ = file;
        qCInfo(lcSession, "Session setup %s opened", qUtf8Printable(file));
        reply(message.path, QStringLiteral("Setup opened."));
        reportDirty();
        emit sessionOpened();
    } else if (message.path == QLatin1String("/nsm/client/save")) {
        if (sessionFile_.isEmpty() || !keeper_.savePath(sessionFile_)) {
            fail(message.path, kGeneralError,
                 sessionFile_.isEmpty() ? QStringLiteral("No session is open.") : keeper_.problem());
            return;
        }
        reply(message.path, QStringLiteral("Setup saved."));
    }
}

} // namespace corvane
