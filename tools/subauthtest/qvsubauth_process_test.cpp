// qvsubauth as a program, against a workstation's desktop role listening on
// loopback in this process.
#include <stdio.h>
#include <sys/wait.h>

#include <atomic>
#include <future>
#include <string>

#include "authcore.h"
#include "runtime/auth/protocol/roles_fixture.h"
#include "runtime/session/session_manager.h"

namespace qv::protocol::testing {
namespace {

std::atomic<int> g_running{0};
void Handler(SMSessionInfo* info) {
  ++g_running;
  AMSubAuthUIProxy(info);
  --g_running;
}

class QvsubauthTest : public RolesTest {
 protected:
  void SetUp() override {
    RolesTest::SetUp();
    ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
    ASSERT_EQ(SMStartup(1, 0), QV_OK);
    std::promise<uint16_t> bound;
    auto port = bound.get_future();
    listener_ = std::thread([&bound] {
      qv::session::ServerListen(
          Handler, 0, 0,
          [](uint16_t p, void* arg) { static_cast<std::promise<uint16_t>*>(arg)->set_value(p); },
          &bound);
    });
    port_ = port.get();
  }
  void TearDown() override {
    EXPECT_TRUE(qv::cert::testing::Eventually([] { return g_running.load() == 0; }));
    SMStopListening();
    listener_.join();
    SMRundown();
    RolesTest::TearDown();
  }

  // Runs the program; returns its exit status and fills `out`.
  int Run(const std::string& args, std::string* out) {
    // The library directory is named as well: under the address sanitizer a
    // library loaded by name is not looked for in the program's run path.
    const std::string libs = std::filesystem::path(AUTHCLIENT_PATH).parent_path().string();
    std::string command = "LD_LIBRARY_PATH=" + libs + " " + QVSUBAUTH_PATH + " --port " +
                          std::to_string(port_) + " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[512];
    out->clear();
    while (fgets(buf, sizeof buf, p) != nullptr) *out += buf;
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::thread listener_;
  uint16_t port_ = 0;
};

TEST_F(QvsubauthTest, ChallengesTestsAndDenies) {
  std::string out;
  Script({AnswerPasscode()});
  EXPECT_EQ(Run("127.0.0.1 alice CORP", &out), 0) << out;
  EXPECT_NE(out.find("user: alice\n"), std::string::npos) << out;
  EXPECT_NE(out.find("result: 0x00000000"), std::string::npos) << out;
  ASSERT_TRUE(qv::cert::testing::Eventually([] { return g_running.load() == 0; }));
  EXPECT_TRUE(HasCachedCert());

  EXPECT_EQ(Run("--test 127.0.0.1", &out), 0) << out;

  qv::cert::ResetDesktopForTest();
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
  Script({"dialog 101 ok 1003=0000111111", "dialog 101 ok 1003=0000222222",
          "dialog 101 ok 1003=0000333333"});
  EXPECT_EQ(Run("127.0.0.1 alice CORP", &out), 1) << out;
  EXPECT_NE(out.find("result: 0xC0002716"), std::string::npos) << out;
}

}  // namespace
}  // namespace qv::protocol::testing
