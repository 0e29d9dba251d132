// Corvane in an NSM session, against a session manager played by the test
// over real OSC: announce, open, dirty and clean, save.
#include "setup/SessionClient.h"
#include "setup/SetupFile.h"
#include "setup/SetupKeeper.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace corvane;

namespace {

struct Received {
    std::string path;
    std::vector<std::string> strings;
    sockaddr_in source{};
};

// An OSC peer on a loopback address, polled by the test between turns of the
// event loop (which is where the client receives): the session manager, or
// someone else on the same machine.
class OscPeer {
public:
    explicit OscPeer(const char* host = "127.0.0.1")
        : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        address_.sin_family = AF_INET;
        ::inet_pton(AF_INET, host, &address_.sin_addr);
        socklen_t length = sizeof address_;
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address_), length) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address_), &length) != 0)
            ADD_FAILURE() << "cannot bind a UDP socket on " << host;
    }
    ~OscPeer() { ::close(socket_); }
    std::string url() const {
        char host[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &address_.sin_addr, host, sizeof host);
        return "osc.udp://" + std::string(host) + ":" + std::to_string(ntohs(address_.sin_port)) + "/";
    }
    // The next message with `path`, waiting up to five seconds.
    std::optional<Received> next(const std::string& path) {
        std::optional<Received> found;
        test::waitFor([&] {
            receive();
            for (auto it = inbox_.begin(); it != inbox_.end(); ++it)
                if (it->path == path) {
                    found = *it;
                    inbox_.erase(it);
                    return true;
                }
            return false;
        });
        return found;
    }
    // Whatever has come, without waiting.
    const std::vector<Received>& inbox() {
        receive();
        return inbox_;
    }
    // The strings, after `blob` when one is given.
    void send(const sockaddr_in& to, const char* path, const std::vector<std::string>& strings, lo_blob blob = nullptr) {
        lo_message message = lo_message_new();
        if (blob)
            lo_message_add_blob(message, blob);
        for (const auto& s : strings)
            lo_message_add_string(message, s.c_str());
        std::size_t size = 0;
        void* data = lo_message_serialise(message, path, nullptr, &size);
        ::sendto(socket_, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        std::free(data);
        lo_message_free(message);
    }

private:
    void receive() {
        char buffer[65536];
        for (;;) {
            Received r;
            socklen_t length = sizeof r.source;
            const ssize_t size = ::recvfrom(socket_, buffer, sizeof buffer, MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&r.source), &length);
            if (size <= 0)
                return;
            int result = 0;
            lo_message message = lo_message_deserialise(buffer, std::size_t(size), &result);
            if (!message)
                continue;
            r.path = buffer;
            const char* types = lo_message_get_types(message);
            lo_arg** argv = lo_message_get_argv(message);
            // lo_arg may be misaligned: its bytes are read.
            for (int i = 0; i < lo_message_get_argc(message); ++i)
                if (types[i] == LO_STRING)
                    r.strings.emplace_back(reinterpret_cast<const char*>(argv[i]));
            lo_message_free(message);
            inbox_.push_back(r);
        }
    }
    int socket_;
    sockaddr_in address_{};
    std::vector<Received> inbox_;
};

// Corvane as a session's client, and the session manager it talks to.
struct Session {
    test::VirtualRig rig;
    SetupKeeper keeper{*rig.manager, rig.clock};
    OscPeer manager;
    QTemporaryDir folder;
    SessionClient client{keeper, QString::fromStdString(manager.url()), "corvane"};
    std::string prefix = folder.filePath("Corvane.nABCD").toStdString();

    bool sent(const std::string& path) {
        const auto& inbox = manager.inbox();
        return std::any_of(inbox.begin(), inbox.end(), [&](const Received& r) { return r.path == path; });
    }
};

} // namespace

TEST(SessionClient, ObeysOnlyItsManagerOpensSavesReportsChangesAndRefusesAnOpenOutsideAPlainSessionPath) {
    // A relative path would land in the session's folder.
    struct RestoreWorkingFolder {
        QString path = QDir::currentPath();
        ~RestoreWorkingFolder() { QDir::setCurrent(path); }
    } restore;
    Session s;
    ASSERT_TRUE(s.client.isConnected());
    EXPECT_TRUE(s.keeper.managedBySession());
    QDir::setCurrent(s.folder.path());
    ASSERT_TRUE(QDir(s.folder.path()).mkdir("sub"));
    auto& manager = s.manager;

    // An answer from another port of the manager's address comes first: it is
    // not the manager's, and neither is anything that port or another address sends.
    OscPeer otherPort;
    OscPeer otherAddress("127.0.0.2");
    const auto announce = manager.next("/nsm/server/announce");
    ASSERT_TRUE(announce && announce->strings.size() >= 3);
    EXPECT_EQ(announce->strings[0], "Corvane");
    EXPECT_EQ(announce->strings[1], ":dirty:");
    const sockaddr_in corvane = announce->source;
    otherPort.send(corvane, "/reply", {"/nsm/server/announce", "Welcome", "Impostor", ""});
    manager.send(corvane, "/reply", {"/nsm/server/announce", "Welcome", "Test Session Manager", ":server-control:"});
    ASSERT_TRUE(test::waitFor([&] { return s.client.isAnnounced(); }));
    for (OscPeer* other : {&otherPort, &otherAddress}) {
        other->send(corvane, "/nsm/client/open", {s.prefix, "Test", "nABCD"});
        other->send(corvane, "/nsm/client/save", {});
    }
    // The manager's own save comes after theirs: its answer (no session is
    // open) means theirs have been dealt with.
    manager.send(corvane, "/nsm/client/save", {});
    const auto unsaved = manager.next("/error");
    ASSERT_TRUE(unsaved);
    EXPECT_EQ(unsaved->strings[0], "/nsm/client/save");
    EXPECT_TRUE(QDir(s.folder.path()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(s.client.sessionFile().isEmpty());
    EXPECT_FALSE(s.sent("/reply") || s.sent("/nsm/client/is_clean"));
    EXPECT_TRUE(otherPort.inbox().empty() && otherAddress.inbox().empty());

    // A new session: an empty setup, made at once.
    manager.send(corvane, "/nsm/client/open", {s.prefix, "Test", "nABCD"});
    auto opened = manager.next("/reply");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->strings[0], "/nsm/client/open");
    const QString file = QString::fromStdString(s.prefix) + ".json";
    EXPECT_EQ(s.client.sessionFile(), file);
    EXPECT_TRUE(std::holds_alternative<ReadSetup>(readSetupFile(file)));
    EXPECT_TRUE(manager.next("/nsm/client/is_clean"));

    // An edit makes it dirty; the manager's save writes it and makes it clean.
    s.rig.strip(2).setInputChannel(4);
    EXPECT_TRUE(manager.next("/nsm/client/is_dirty"));
    manager.send(corvane, "/nsm/client/save", {});
    auto saved = manager.next("/reply");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->strings[0], "/nsm/client/save");
    EXPECT_TRUE(manager.next("/nsm/client/is_clean"));
    auto read = readSetupFile(file);
    ASSERT_TRUE(std::holds_alternative<ReadSetup>(read));
    EXPECT_EQ(std::get<ReadSetup>(read).setup.strips[2].inputChannel, 4);

    // Opens elsewhere are refused, and leave the unsaved edit as it is.
    s.rig.strip(2).setInputChannel(5);
    ASSERT_TRUE(manager.next("/nsm/client/is_dirty"));
    const std::string folder = s.folder.path().toStdString();
    for (const std::string& prefix : {std::string("Corvane.nRel"), folder + "/sub/../Corvane.nUp",
                                      folder + "/Corvane\n.nLine", folder + "/missing/Corvane.nGone",
                                      folder + "/" + std::string(300, 'n')}) { // the last one cannot be made
        manager.send(corvane, "/nsm/client/open", {prefix, "Test", "nX"});
        const auto error = manager.next("/error");
        ASSERT_TRUE(error) << prefix;
        EXPECT_EQ(error->strings[0], "/nsm/client/open");
    }
    // A blob before the strings: the path is not read from the argument after it.
    lo_blob blob = lo_blob_new(4, "blob");
    manager.send(corvane, "/nsm/client/open", {folder + "/Corvane.nBlob", "Test", "nBlob"}, blob);
    lo_blob_free(blob);
    EXPECT_TRUE(manager.next("/error"));
    EXPECT_EQ(QDir(s.folder.path()).entryList(QDir::Files), QStringList{"Corvane.nABCD.json"});
    EXPECT_TRUE(QDir(s.folder.filePath("sub")).isEmpty());
    EXPECT_EQ(s.client.sessionFile(), file);
    EXPECT_TRUE(s.keeper.isDirty());
    EXPECT_EQ(s.rig.strip(2).inputChannel(), 5);
    EXPECT_FALSE(s.sent("/nsm/client/is_clean"));

    // Reopened (the session loaded again), the saved setup comes back.
    manager.send(corvane, "/nsm/client/open", {s.prefix, "Test", "nABCD"});
    ASSERT_TRUE(manager.next("/reply"));
    EXPECT_EQ(s.rig.strip(2).inputChannel(), 4);
    EXPECT_FALSE(s.keeper.isDirty());

    // A setup the session holds that cannot be read is the manager's error.
    QFile broken(file);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{");
    broken.close();
    manager.send(corvane, "/nsm/client/open", {s.prefix, "Test", "nABCD"});
    auto error = manager.next("/error");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->strings[0], "/nsm/client/open");
}
