#include "setup/SessionClient.h"

#include "platform/system/Logging.h"
#include "setup/SetupKeeper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <unistd.h>

namespace corvane {

namespace {
// The protocol's error code for a failed operation (ERR_GENERAL is -1).
constexpr int kGeneralError = -1;
constexpr int kApiMajor = 1;
constexpr int kApiMinor = 2;

bool isText(const QVariantList& arguments, qsizetype i) {
    return i < arguments.size() && arguments[i].typeId() == QMetaType::QString;
}

QString text(const QVariantList& arguments, qsizetype i) {
    return isText(arguments, i) ? arguments[i].toString() : QString();
}

// Why the session's prefix for our files cannot be used, or nothing. A UDP
// sender's address proves little, so the path must also look like one a
// session manager makes: absolute and plain, in a folder it has made.
QString sessionPathProblem(const QString& prefix) {
    if (prefix.isEmpty())
        return QStringLiteral("No session path was given.");
    for (const QChar c : prefix)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("The session path contains control characters.");
    // Not QDir::isAbsolutePath: that takes Qt resource paths (":/...") too.
    if (!prefix.startsWith(QLatin1Char('/')))
        return QStringLiteral("The session path %1 is not absolute.").arg(prefix);
    if (prefix.split(QLatin1Char('/')).contains(QLatin1String("..")))
        return QStringLiteral("The session path %1 must not step out of its folder with \"..\".").arg(prefix);
    const QString folder = QFileInfo(prefix).absolutePath();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("The session folder %1 does not exist.").arg(folder);
    return {};
}
} // namespace

SessionClient::SessionClient(SetupKeeper& keeper, QString managerUrl, QString executable, QObject* parent)
    : QObject(parent), keeper_(keeper), managerUrl_(std::move(managerUrl)) {
    // Inside a session the session manager keeps the files.
    keeper_.setManagedBySession(true);
    QString error;
    endpoint_ = OscEndpoint::open(managerUrl_, [this](const OscMessage& m) { receive(m); }, error);
    if (!endpoint_) {
        qCWarning(lcSession, "Cannot take part in the session at %s: %s", qUtf8Printable(managerUrl_),
                  qUtf8Printable(error));
        return;
    }
    const bool sent = endpoint_->send(QStringLiteral("/nsm/server/announce"),
                                      {QStringLiteral("Corvane"), QStringLiteral(":dirty:"), executable,
                                       kApiMajor, kApiMinor, int(::getpid())});
    if (!sent) {
        qCWarning(lcSession, "Cannot announce to the session manager at %s", qUtf8Printable(managerUrl_));
        endpoint_.reset();
        return;
    }
    qCDebug(lcSession, "Announced to the session manager at %s from %s", qUtf8Printable(managerUrl_),
            qUtf8Printable(endpoint_->url()));
    connect(&keeper_, &SetupKeeper::isDirtyChanged, this, &SessionClient::reportDirty);
}

SessionClient::~SessionClient() = default;

void SessionClient::reply(const QString& path, const QString& text) {
    endpoint_->send(QStringLiteral("/reply"), {path, text});
}

void SessionClient::fail(const QString& path, int code, const QString& text) {
    qCWarning(lcSession, "%s", qUtf8Printable(text));
    endpoint_->send(QStringLiteral("/error"), {path, code, text});
}

void SessionClient::reportDirty() {
    if (!sessionFile_.isEmpty())
        endpoint_->send(keeper_.isDirty() ? QStringLiteral("/nsm/client/is_dirty")
                                          : QStringLiteral("/nsm/client/is_clean"),
                        {});
}

void SessionClient::receive(const OscMessage& message) {
    const auto& args = message.arguments;
    const bool aboutAnnounce = text(args, 0) == QLatin1String("/nsm/server/announce");
    if (!announced_) {
        // Until the manager answers, nothing else is taken; the endpoint has
        // already let only the address and port NSM_URL names through.
        if (message.path == QLatin1String("/reply") && aboutAnnounce) {
            qCInfo(lcSession, "Session manager %s: %s", qUtf8Printable(text(args, 2)),
                   qUtf8Printable(text(args, 1)));
            // The one that answered is the manager from now on.
            if (!endpoint_->restrictTo(message.sender)) {
                qCWarning(lcSession, "The session manager answered from an unusable address %s",
                          qUtf8Printable(message.sender.host));
                return;
            }
            announced_ = true;
            emit announced();
        } else if (message.path == QLatin1String("/error") && aboutAnnounce) {
            qCWarning(lcSession, "The session manager refused Corvane: %s", qUtf8Printable(text(args, 2)));
        }
    } else if (message.path == QLatin1String("/nsm/client/open")) {
        open(message);
    } else if (message.path == QLatin1String("/nsm/client/save")) {
        if (sessionFile_.isEmpty() || !keeper_.savePath(sessionFile_)) {
            fail(message.path, kGeneralError,
                 sessionFile_.isEmpty() ? QStringLiteral("No session is open.") : keeper_.problem());
            return;
        }
        reply(message.path, QStringLiteral("Setup saved."));
    }
}

void SessionClient::open(const OscMessage& message) {
    const auto& args = message.arguments;
    if (!isText(args, 0) || !isText(args, 1) || !isText(args, 2)) {
        fail(message.path, kGeneralError,
             QStringLiteral(
                 "The session manager's open message needs the session path, its name and the client "
                 "id, as strings."));
        return;
    }
    // The path is the session's own prefix for this client's files.
    const QString prefix = text(args, 0);
    if (const QString problem = sessionPathProblem(prefix); !problem.isEmpty()) {
        fail(message.path, kGeneralError, problem);
        return;
    }
    const QString file = prefix + QStringLiteral(".json");
    if (!keeper_.openPath(file, true)) {
        fail(message.path, kGeneralError, keeper_.problem());
        return;
    }
    sessionFile_ = file;
    qCInfo(lcSession, "Session setup %s opened", qUtf8Printable(file));
    reply(message.path, QStringLiteral("Setup opened."));
    reportDirty();
    emit sessionOpened();
}

} // namespace corvane
