// The exported entries over real TLS sessions on loopback.
#include <atomic>
#include <cstring>
#include <future>

#include "authcore.h"
#include "platform/resolver/resolver.h"
#include "runtime/auth/protocol/roles_fixture.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_fixture.h"
#include "runtime/session/session_manager.h"

namespace qv::protocol::testing {
namespace {

namespace fx = qv::session::fixture;

class LoopbackResolver : public qv::resolver::Resolver {
 public:
  qv::resolver::Result Forward(const char* name, uint32_t* address, int*) override {
    return qv::resolver::ParseDottedIPv4(name, address) ? qv::resolver::Result::kOk
                                                       : qv::resolver::Result::kNotFound;
  }
  qv::resolver::Result Reverse(uint32_t, char* out, size_t size, int*) override {
    std::snprintf(out, size, "%s", "wks7.example.com");
    return qv::resolver::Result::kOk;
  }
};

// Handlers run on the listener's threads and may outlive the client's call;
// the tests wait for them before looking at what they did.
std::atomic<int> g_running{0};
template <void (*Handler)(SMSessionInfo*)>
void Counted(SMSessionInfo* info) {
  ++g_running;
  Handler(info);
  --g_running;
}
bool HandlersIdle() {
  return qv::cert::testing::Eventually([] { return g_running.load() == 0; });
}

// SMServerListen with `handler` on a thread of its own.
class Listener {
 public:
  explicit Listener(SMHandler handler) {
    std::promise<uint16_t> bound;
    auto port = bound.get_future();
    thread_ = std::thread([&bound, handler] {
      bool set = false;
      auto* state = new std::pair<std::promise<uint16_t>*, bool*>(&bound, &set);
      qv::session::ServerListen(
          handler, 0, 0,
          [](uint16_t p, void* arg) {
            auto* s = static_cast<std::pair<std::promise<uint16_t>*, bool*>*>(arg);
            *s->second = true;
            s->first->set_value(p);
          },
          state);
      if (!set) bound.set_value(0);
      delete state;
    });
    port_ = port.get();
  }
  ~Listener() {
    SMStopListening();
    thread_.join();
  }
  uint32_t port() const { return port_; }

 private:
  std::thread thread_;
  uint16_t port_ = 0;
};

class SessionsTest : public RolesTest {
 protected:
  void SetUp() override {
    RolesTest::SetUp();
    const fx::Credentials& c = fx::Get();
    fx::Install(c.root.cert, c.dc, c.desktop);
    qv::session::SetCredentialSource(&fx::Source());
    qv::resolver::SetForProcess(&resolver_);
  }
  void TearDown() override {
    EXPECT_TRUE(HandlersIdle());
    SMRundown();
    qv::session::SetCredentialSource(nullptr);
    qv::resolver::SetForProcess(nullptr);
    KelClientPort = QV_DEFAULT_CLIENT_PORT;
    KelProxyPort = QV_DEFAULT_PROXY_PORT;
    RolesTest::TearDown();
  }
  LoopbackResolver resolver_;
};

TEST_F(SessionsTest, DomainControllerChallengesAWorkstation) {
  ASSERT_EQ(SMStartup(1, 0), QV_OK);  // the workstation listens
  ASSERT_EQ(SMSetupSSLCTX(0, 1), QV_OK);  // the agent connects
  Listener workstation(Counted<AMSubAuthUIProxy>);
  ASSERT_NE(workstation.port(), 0u);
  KelClientPort = workstation.port();

  Script({AnswerPasscode()});
  char user[AM_NAME_BUFFER] = "alice", domain[AM_NAME_BUFFER] = "CORP";
  EXPECT_EQ(AMSubauthAuthenticateUser(user, domain, "127.0.0.1"), QV_OK);
  ASSERT_TRUE(HandlersIdle());
  EXPECT_TRUE(HasCachedCert());
  // Again: the cached certificate lets the user in without a prompt.
  EXPECT_EQ(AMSubauthAuthenticateUser(user, domain, "127.0.0.1"), QV_OK);
  ASSERT_TRUE(HandlersIdle());
  EXPECT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(AMSubauthTest("127.0.0.1"), QV_OK);
}

TEST_F(SessionsTest, UnreachableWorkstationGivesTheOpenStatus) {
  ASSERT_EQ(SMStartup(0, 1), QV_OK);
  KelClientPort = 1;  // nothing listens there
  char user[AM_NAME_BUFFER] = "alice", domain[AM_NAME_BUFFER] = "CORP";
  QVSTATUS status = AMSubauthAuthenticateUser(user, domain, "127.0.0.1");
  EXPECT_NE(status, QV_OK);
  EXPECT_NE(status, QVS_AM_ACCESS_DENIED);
  EXPECT_EQ(AMSubauthTest("127.0.0.1"), status);
  EXPECT_EQ(EventsWith(status).size(), 2u);
}

TEST_F(SessionsTest, LogonThroughTheProxy) {
  ASSERT_EQ(SMStartup(0, 0), QV_OK);  // the proxy listens
  ASSERT_EQ(SMSetupSSLCTX(1, 1), QV_OK);  // the logon module connects
  Listener proxy(Counted<AMDesktopKelProxy>);
  ASSERT_NE(proxy.port(), 0u);
  KelProxyPort = proxy.port();

  Script({AnswerPasscode(0)});
  char domain[AM_NAME_BUFFER] = "CORP";
  EXPECT_EQ(AMDesktopAuthenticateUser(kUser, domain, "127.0.0.1", 0), QV_OK);
  EXPECT_TRUE(HasCachedCert());
  ASSERT_TRUE(HandlersIdle());

  Script({"dialog 101 cancel"});
  EXPECT_EQ(AMDesktopAuthenticateUser(kUser, domain, "127.0.0.1", 0), QVS_AM_ACCESS_DENIED);
  ASSERT_TRUE(HandlersIdle());

  // A desktop that refuses to prompt does not log the user on.
  setenv("TAVRIK_INPUT_DESKTOP", "Screen-saver", 1);
  EXPECT_EQ(AMDesktopAuthenticateUser(kUser, domain, "127.0.0.1", 0), QVS_AM_ACCESS_DENIED);
  EXPECT_EQ(Dialogs().size(), 2u);
}

}  // namespace
}  // namespace qv::protocol::testing
