// Corvane in an NSM session, against a session manager played by the test
// over real OSC: announce, open, dirty and clean, save.
#include "setup/SessionClient.h"
#include "setup/SetupFile.h"
#include "setup/SetupKeeper.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <cstdlib>
#include <vector>

using namespace corvane;

namespace {

struct Received {
    std::string path;
    std::vector<std::string> strings;
    std::string source;
};

// The session manager: a liblo server the test polls between turns of the
// event loop, which is where the client receives.
class SessionManager {
public:
    SessionManager() : server_(lo_server_new(nullptr, nullptr)) {
        lo_server_add_method(server_, nullptr, nullptr, &SessionManager::handle, this);
    }
    ~SessionManager() { lo_server_free(server_); }
    std::string url() const {
        char* url = lo_server_get_url(server_);
        std::string text = url;
        std::free(url);
        return text;
    }
    // The next message with `path`, waiting up to five seconds.
    std::optional<Received> next(const std::string& path) {
        std::optional<Received> found;
        test::waitFor([&] {
            while (lo_server_recv_noblock(server_, 0) > 0) {
            }
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
    void send(const std::string& to, const char* path, const std::vector<std::string>& strings) {
        lo_address address = lo_address_new_from_url(to.c_str());
        lo_message message = lo_message_new();
        for (const auto& s : strings)
            lo_message_add_string(message, s.c_str());
        lo_send_message_from(address, server_, path, message);
        lo_message_free(message);
        lo_address_free(address);
    }

private:
    static int handle(const char* path, const char* types, lo_arg** argv, int argc, lo_message message, void* user) {
        auto* self = static_cast<SessionManager*>(user);
        Received r{path, {}, {}};
        for (int i = 0; i < argc; ++i)
            if (types[i] == LO_STRING)
                r.strings.emplace_back(reinterpret_cast<const char*>(argv[i])); // lo_arg may be misaligned
        char* source = lo_address_get_url(lo_message_get_source(message));
        r.source = source;
        std::free(source);
        self->inbox_.push_back(r);
        return 0;
    }
    lo_server server_;
    std::vector<Received> inbox_;
};

} // namespace

TEST(SessionClient, OpensSavesAndReportsChangesToTheSessionManager) {
    test::VirtualRig rig;
    SetupKeeper keeper(*rig.manager, rig.clock);
    SessionManager manager;
    QTemporaryDir session;
    SessionClient client(keeper, QString::fromStdString(manager.url()), "corvane");
    ASSERT_TRUE(client.isConnected());
    EXPECT_TRUE(keeper.managedBySession());

    const auto announce = manager.next("/nsm/server/announce");
    ASSERT_TRUE(announce);
    ASSERT_GE(announce->strings.size(), 3u);
    EXPECT_EQ(announce->strings[0], "Corvane");
    EXPECT_EQ(announce->strings[1], ":dirty:");
    const std::string corvane = announce->source;
    manager.send(corvane, "/reply", {"/nsm/server/announce", "Welcome", "Test Session Manager", ":server-control:"});
    ASSERT_TRUE(test::waitFor([&] { return client.isAnnounced(); }));

    // A new session: an empty setup, made at once.
    const std::string prefix = session.filePath("Corvane.nABCD").toStdString();
    manager.send(corvane, "/nsm/client/open", {prefix, "Test", "nABCD"});
    auto opened = manager.next("/reply");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->strings[0], "/nsm/client/open");
    const QString file = QString::fromStdString(prefix) + ".json";
    EXPECT_EQ(client.sessionFile(), file);
    EXPECT_TRUE(std::holds_alternative<ReadSetup>(readSetupFile(file)));
    EXPECT_TRUE(manager.next("/nsm/client/is_clean"));

    // An edit makes it dirty; the manager's save writes it and makes it clean.
    rig.strip(2).setInputChannel(4);
    EXPECT_TRUE(manager.next("/nsm/client/is_dirty"));
    manager.send(corvane, "/nsm/client/save", {});
    auto saved = manager.next("/reply");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->strings[0], "/nsm/client/save");
    EXPECT_TRUE(manager.next("/nsm/client/is_clean"));
    auto read = readSetupFile(file);
    ASSERT_TRUE(std::holds_alternative<ReadSetup>(read));
    EXPECT_EQ(std::get<ReadSetup>(read).setup.strips[2].inputChannel, 4);

    // Reopened (the session loaded again), the saved setup comes back.
    rig.strip(2).setInputChannel(std::nullopt);
    manager.send(corvane, "/nsm/client/open", {prefix, "Test", "nABCD"});
    ASSERT_TRUE(manager.next("/reply"));
    EXPECT_EQ(rig.strip(2).inputChannel(), 4);
    EXPECT_FALSE(keeper.isDirty());

    // A setup the session holds that cannot be read is the manager's error.
    QFile broken(file);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{");
    broken.close();
    manager.send(corvane, "/nsm/client/open", {prefix, "Test", "nABCD"});
    auto error = manager.next("/error");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->strings[0], "/nsm/client/open");
}
