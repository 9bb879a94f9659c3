// Conversation B: the logon module's desktop role against the proxy.
#include <arpa/inet.h>

#include <cstring>

#include "platform/resolver/resolver.h"
#include "runtime/auth/protocol/roles_fixture.h"

namespace qv::protocol::testing {
namespace {

class FixedResolver : public qv::resolver::Resolver {
 public:
  std::string name;  // empty: the address has no entry
  int error = 0;
  qv::resolver::Result Forward(const char*, uint32_t*, int*) override {
    return qv::resolver::Result::kNotFound;
  }
  qv::resolver::Result Reverse(uint32_t, char* out, size_t size, int* err) override {
    *err = error;
    if (name.empty() || name.size() >= size) return qv::resolver::Result::kNotFound;
    std::strcpy(out, name.c_str());
    return qv::resolver::Result::kOk;
  }
};

class ProxyTest : public RolesTest {
 protected:
  void SetUp() override {
    RolesTest::SetUp();
    resolver_.name = "wks7.branch.example.com";
    qv::resolver::SetForProcess(&resolver_);
  }
  void TearDown() override {
    qv::resolver::SetForProcess(nullptr);
    RolesTest::TearDown();
  }

  struct Outcome {
    QVSTATUS desktop = QV_OK;
    bool granted = false;
  };
  Outcome Logon(const char* user = kUser) {
    Outcome out;
    Converse(
        [&](QVNetSession* s, int fd) {
          int32_t outcome = PROMPT_RESULT_OK;
          char domain[AM_NAME_BUFFER] = "CORP";
          out.desktop = ProcessUITransactions(s, fd, user, domain, 0, &outcome, &out.granted);
        },
        [&](QVNetSession* s, int fd) {
          ServeProxySession(s, fd, htonl(INADDR_LOOPBACK), desktopCert_.data(),
                            static_cast<uint32_t>(desktopCert_.size()));
        });
    return out;
  }

  FixedResolver resolver_;
};

const std::vector<std::string> kWrong = {"dialog 101 ok 1003=0000111111",
                                         "dialog 101 ok 1003=0000222222",
                                         "dialog 101 ok 1003=0000333333"};

TEST_F(ProxyTest, TestModesDecideTheAnswer) {
  struct Case {
    const char* name;
    uint32_t testMode;
    bool rightPasscode;
    QVSTATUS desktop;
    bool granted;
    size_t prompts;
    QVSTATUS event;
    std::vector<std::string> inserts;
  };
  const std::string ws = "wks7";
  const Case cases[] = {
      {"normal, right passcode", 0, true, QV_OK, true, 1, QVE_AM_AUTH_SUCCEEDED,
       {kUser, kDomain, ws, "Proxy Auth", "Interactive"}},
      {"normal, wrong passcodes", 0, false, QVS_AM_ACCESS_DENIED, false, 3, QVS_AM_AUTH_FAILED,
       {kUser, kDomain, ws, "Proxy Auth", "Interactive"}},
      {"silent test", 1, false, QV_OK, true, 0, QVE_AM_AUTH_SUCCEEDED,
       {"N/A (Silent Test)", "N/A (Silent Test)", ws, "Proxy Auth", "Interactive"}},
      {"interactive test, wrong passcodes", 2, false, QV_OK, true, 3, QVS_AM_AUTH_FAILED,
       {kUser, kDomain, ws, "Proxy Auth", "Interactive"}},
  };
  int step = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(root_ + "/record");
    std::filesystem::remove(qv::paths::LogDir() + "/events.jsonl");
    qv::cert::ResetDesktopForTest();
    kel::test::PutUser(kUser, kPin);
    SetDword("TestMode", c.testMode);
    Script(c.rightPasscode ? std::vector<std::string>{AnswerPasscode(step++)} : kWrong);
    Outcome out = Logon();
    EXPECT_EQ(out.desktop, c.desktop);
    EXPECT_EQ(out.granted, c.granted);
    EXPECT_EQ(Dialogs().size(), c.prompts);
    auto events = EventsWith(c.event);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Inserts(events[0]), c.inserts);
    // Only a judged success leaves a session certificate, issued to the
    // workstation by its first name label.
    EXPECT_EQ(HasCachedCert(), c.event == QVE_AM_AUTH_SUCCEEDED && c.testMode == 0);
    if (HasCachedCert()) {
      HQVEXTOBJ cert = nullptr;
      ASSERT_EQ(CMGetSessionCert(kUser, kDomain, &cert), QV_OK);
      EXPECT_EQ(CMVerifySessionCert(kUser, kDomain, ws.c_str(), cert), QV_OK);
      errQVNetMsgDestroy(cert);
    }
  }
}

TEST_F(ProxyTest, AddressWithoutHostNameIsAnsweredWithoutAPrompt) {
  resolver_.name.clear();
  resolver_.error = 1;
  struct Case {
    uint32_t testMode;
    QVSTATUS desktop;
    bool granted;
  };
  const Case cases[] = {{0, QVS_AM_ACCESS_DENIED, false}, {1, QV_OK, true}, {2, QV_OK, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.testMode);
    SetDword("TestMode", c.testMode);
    Script({AnswerPasscode()});
    Outcome out = Logon();
    EXPECT_EQ(out.desktop, c.desktop);
    EXPECT_EQ(out.granted, c.granted);
  }
  EXPECT_TRUE(Dialogs().empty());
  auto events = EventsWith(QVS_AM_NO_HOST_NAME);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(Inserts(events[0])[0], "127.0.0.1");
  EXPECT_EQ(events[0]["number"], 1);
}

TEST_F(ProxyTest, CancelledFirstPromptIsDeniedWithUnknownNames) {
  Script({"dialog 101 cancel"});
  Outcome out = Logon();
  EXPECT_EQ(out.desktop, QVS_AM_ACCESS_DENIED);
  EXPECT_FALSE(out.granted);
  auto events = EventsWith(QVS_AM_AUTH_FAILED);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(Inserts(events[0]),
            (std::vector<std::string>{"N/A", "N/A", "wks7", "Proxy Auth", "Interactive"}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Access Denied."});
}

TEST_F(ProxyTest, ScreenSaverRefusalIsNoLogon) {
  setenv("TAVRIK_INPUT_DESKTOP", "Screen-saver", 1);
  Outcome out = Logon();
  EXPECT_EQ(out.desktop, QV_OK);
  EXPECT_FALSE(out.granted);
  EXPECT_TRUE(Shown().empty());
}

}  // namespace
}  // namespace qv::protocol::testing
