#pragma once
// Taking part in an NSM session (the session-manager protocol Linux audio
// session managers speak over OSC): when NSM_URL names a session manager,
// Corvane announces itself, opens and saves its setup where the manager says,
// and tells it whether the setup has changed since the last save. Only the
// manager is obeyed: the endpoint listens on the local address facing it, and
// once the manager has answered the announcement, only its address and port
// are heard. Main thread.

#include "platform/system/OscEndpoint.h"

#include <QObject>
#include <QString>

#include <memory>

namespace corvane {

class SetupKeeper;

class SessionClient : public QObject {
    Q_OBJECT
public:
    // The environment variable that names the session manager.
    static inline const char* kUrlVariable = "NSM_URL";

    // Announces itself to the manager at `managerUrl` as `executable`. The
    // keeper must outlive the client. May block while the manager's host is
    // looked up.
    SessionClient(SetupKeeper& keeper, QString managerUrl, QString executable, QObject* parent = nullptr);
    ~SessionClient() override;

    // Whether the announcement was sent (the URL is an OSC one whose host
    // resolves, and a port could be opened); why not is logged.
    bool isConnected() const { return endpoint_ != nullptr; }
    // Whether the manager has answered the announcement.
    bool isAnnounced() const { return announced_; }
    // The setup file inside the session, once the manager has said where.
    const QString& sessionFile() const { return sessionFile_; }

signals:
    // The manager answered the announcement, or opened a session.
    void announced();
    void sessionOpened();

private:
    void receive(const OscMessage& message);
    void open(const OscMessage& message);
    void reply(const QString& path, const QString& text);
    void fail(const QString& path, int code, const QString& text);
    void reportDirty();

    SetupKeeper& keeper_;
    QString managerUrl_;
    std::unique_ptr<OscEndpoint> endpoint_;
    bool announced_ = false;
    QString sessionFile_;
};

} // namespace corvane
