// The desktop role on its own, against an agent played by hand.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "runtime/auth/protocol/roles_fixture.h"
#include "runtime/auth/protocol/ui_lock.h"

namespace qv::protocol::testing {
namespace {

// Runs the desktop's loop against `agent`; returns the loop's status.
QVSTATUS AgainstHandAgent(RolesTest* t, const char* user, const std::function<void(HandAgent&)>& agent,
                          bool* granted = nullptr, char* domainOut = nullptr) {
  QVSTATUS result = QV_OK;
  (void)t;
  qv::netmsg::SocketSessionPair pair;
  EXPECT_TRUE(qv::netmsg::MakeSocketSessionPair(pair));
  std::thread desktop([&] {
    int32_t outcome = PROMPT_RESULT_OK;
    char domain[AM_NAME_BUFFER] = {};
    result = ProcessUITransactions(pair.b.get(), pair.b->Socket(), user, domain, 1, &outcome,
                                   granted);
    if (domainOut) std::strcpy(domainOut, domain);
    pair.b->Close();
  });
  HandAgent a{pair.a.get(), pair.a->Socket()};
  agent(a);
  pair.a->Close();
  desktop.join();
  return result;
}

TEST_F(RolesTest, ScreenSaverSessionIsRefusedWithoutAPrompt) {
  setenv("TAVRIK_INPUT_DESKTOP", "screen-saver", 1);
  Script({AnswerPasscode()});
  EXPECT_EQ(Challenge(), QVS_AM_ACCESS_DENIED);
  EXPECT_TRUE(Shown().empty());
  auto refused = EventsWith(QVS_AM_ACCESS_DENIED);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(Inserts(refused[0])[0], kUser);
}

TEST_F(RolesTest, MissingPromptLibraryCancelsAndTellsTheUserWhy) {
  SetPromptLibraryForProcess((root_ + "/no-such-library.so").c_str());
  QVSTATUS result = AgainstHandAgent(this, "", [](HandAgent& a) {
    a.AskPasscode();
    EXPECT_EQ(a.Next(), AM_CANCEL);
  });
  EXPECT_EQ(result, QVS_AM_PROMPT_UNAVAILABLE);
  char expected[512];
  QVFormatError(expected, sizeof expected, "Authentication Failed.\n%s", QVS_AM_PROMPT_UNAVAILABLE);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{expected});
}

TEST_F(RolesTest, PreviousStepOutcomeIsToldBeforeThePrompt) {
  struct Case {
    int32_t kelReturn;
    const char* box;  // null: none
  };
  const Case cases[] = {
      {ACM_OK, nullptr},
      {ACM_ACCESS_DENIED, "Access Denied."},
      {ACM_NEXT_CODE_REJECTED, "Access Denied."},
      {ACM_SYNTAX_ERR_3, "Access Denied."},
      {ACM_INVALID_SERVER, "Access Denied."},
      {ACM_NEW_PIN_ACCEPTED, "New PIN Accepted."},
      {ACM_NEW_PIN_REJECTED, "New PIN Rejected."},
      {ACM_NEW_PIN_REQUIRED, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kelReturn);
    std::filesystem::remove(root_ + "/record");
    Script({"dialog 101 cancel"});
    QVSTATUS result = AgainstHandAgent(this, "", [&](HandAgent& a) {
      a.AskPasscode("alice", c.kelReturn);
      EXPECT_EQ(a.Next(), AM_CANCEL);
      a.Deny();
    });
    EXPECT_EQ(result, QVS_AM_ACCESS_DENIED);
    std::vector<std::string> boxes;
    if (c.box) boxes.push_back(c.box);
    boxes.push_back("Access Denied.");  // the end of the conversation
    EXPECT_EQ(BoxTexts(), boxes);
  }
}

TEST_F(RolesTest, LongUserNameReachesThePromptCutAndAnswersCarryIt) {
  const std::string longName(40, 'u');
  struct Case {
    const char* name;
    std::string caller;   // the desktop's own user name
    std::string request;  // the agent's
  };
  const Case cases[] = {
      {"from the request", "", longName},
      {"from the caller", longName, "alice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(root_ + "/record");
    Script({"dialog 101 ok 1003=12345678"});
    char domain[AM_NAME_BUFFER] = {};
    QVSTATUS result = AgainstHandAgent(
        this, c.caller.c_str(),
        [&](HandAgent& a) {
          a.AskPasscode(c.request.c_str());
          HQVEXTOBJ reply = nullptr;
          ASSERT_EQ(a.Next(&reply), AM_PASSCODE);
          AMPasscode p{};
          EXPECT_EQ(errAMReadPasscode(reply, &p), QV_OK);
          errQVNetMsgDestroy(reply);
          EXPECT_EQ(std::string(p.Username), longName.substr(0, 31));
          EXPECT_STREQ(p.Domain, "CORP");
          EXPECT_STREQ(p.Passcode, "12345678");
          HQVEXTOBJ ok = nullptr;
          a.Send(errAMBuildAuthSuccess(&ok), &ok);
        },
        nullptr, domain);
    EXPECT_EQ(result, QV_OK);
    EXPECT_STREQ(domain, "CORP");
    auto dialogs = Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    std::string shown;
    for (auto& f : dialogs[0]["fields"]) {
      if (f["id"] == 1002) shown = f["value"];
    }
    EXPECT_EQ(shown, longName.substr(0, 31));
  }
}

TEST_F(RolesTest, AfterACancelLaterRequestsAreRefusedWithoutPrompting) {
  Script({"dialog 101 timeout", AnswerPasscode()});
  bool granted = true;
  QVSTATUS result = AgainstHandAgent(
      this, "alice",
      [](HandAgent& a) {
        a.AskPasscode();
        EXPECT_EQ(a.Next(), AM_CANCEL);
        a.AskPasscode();
        EXPECT_EQ(a.Next(), AM_CANCEL);
      },
      &granted);
  EXPECT_EQ(result, QV_OK);
  EXPECT_FALSE(granted);
  EXPECT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(EventsWith(QVS_AM_ACCESS_DENIED).size(), 1u);
}

TEST_F(RolesTest, RequestsTheDesktopCannotReadEndItWithAProtocolError) {
  struct Case {
    const char* name;
    std::function<QVSTATUS(HQVEXTOBJ*)> build;
  };
  const Case cases[] = {
      {"PIN length out of range",
       [](HQVEXTOBJ* m) {
         QVSTATUS s = CreateProtocolMessage(m, AM_SIDE_DAZAR, AM_NEWPINREQ);
         if (s == QV_OK) s = errQVNetMsgAddString(*m, "SystemPIN", "");
         for (const char* f : {"Alphanumeric", "Selectable", "MinLength"}) {
           if (s == QV_OK) s = errQVNetMsgAddI32(*m, f, 0);
         }
         if (s == QV_OK) s = errQVNetMsgAddI32(*m, "MaxLength", 200);
         return s;
       }},
      {"passcode request without KELReturn",
       [](HQVEXTOBJ* m) {
         QVSTATUS s = CreateProtocolMessage(m, AM_SIDE_DAZAR, AM_PASSCODEREQ);
         if (s == QV_OK) s = errQVNetMsgAddString(*m, "Username", "alice");
         if (s == QV_OK) s = errQVNetMsgAddString(*m, "Domain", "CORP");
         if (s == QV_OK) s = errQVNetMsgAddI32(*m, "KELTime", 0);
         return s;
       }},
      {"a desktop's message", [](HQVEXTOBJ* m) { return errAMBuildCancel(m); }},
      {"store without a certificate",
       [](HQVEXTOBJ* m) {
         QVSTATUS s = CreateProtocolMessage(m, AM_SIDE_DAZAR, AM_STORESESSIONCERT);
         if (s == QV_OK) s = errQVNetMsgAddString(*m, "Username", "alice");
         if (s == QV_OK) s = errQVNetMsgAddString(*m, "Domain", "CORP");
         return s;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QVSTATUS result = AgainstHandAgent(this, "alice", [&](HandAgent& a) {
      HQVEXTOBJ m = nullptr;
      QVSTATUS built = c.build(&m);
      a.Send(built, &m);
    });
    EXPECT_EQ(result, QVS_AM_PROTOCOL_ERROR);
  }
}

TEST_F(RolesTest, PlaceholderCertificateEndsWellAndStoresNothing) {
  bool granted = false;
  QVSTATUS result = AgainstHandAgent(
      this, "alice",
      [](HandAgent& a) {
        HQVEXTOBJ dummy = nullptr;
        ASSERT_EQ(errAMCreateDummySessionCert(&dummy), QV_OK);
        HQVEXTOBJ m = nullptr;
        a.Send(errAMBuildStoreSessionCert(&m, "alice", "CORP", dummy), &m);
        errQVNetMsgDestroy(dummy);
      },
      &granted);
  EXPECT_EQ(result, QV_OK);
  EXPECT_TRUE(granted);
  EXPECT_FALSE(HasCachedCert());
}

// Whether the scripted back end has taken `lines` answers of the script.
bool ScriptTaken(const std::string& root, int lines) {
  std::ifstream in(root + "/script.pos");
  std::string identity;
  int taken = 0;
  in >> identity >> taken;
  return taken >= lines;
}

// A conversation whose prompt stays open; `close` is then run and must end
// that prompt. Returns what the first agent received in answer.
uint16_t CloseOpenPrompt(RolesTest* t, const std::string& root, const std::function<void()>& close) {
  qv::netmsg::SocketSessionPair pair;
  EXPECT_TRUE(qv::netmsg::MakeSocketSessionPair(pair));
  std::thread desktop([&] {
    ServeAgentSession(pair.b.get(), pair.b->Socket());
    pair.b->Close();
  });
  HandAgent a{pair.a.get(), pair.a->Socket()};
  a.AskPasscode();
  EXPECT_TRUE(qv::cert::testing::Eventually([&] { return ScriptTaken(root, 1); }));
  close();
  uint16_t answer = a.Next();
  a.Deny();
  pair.a->Close();
  desktop.join();
  (void)t;
  return answer;
}

TEST_F(RolesTest, SessionFromAnotherDesktopClosesTheOpenPromptThenPrompts) {
  Script({"dialog 101 wait", "dialog 101 ok 1003=55555555"});
  std::atomic<uint16_t> second{0};
  std::thread other;
  qv::netmsg::SocketSessionPair pair2;
  ASSERT_TRUE(qv::netmsg::MakeSocketSessionPair(pair2));
  uint16_t first = CloseOpenPrompt(this, root_, [&] {
    setenv("TAVRIK_INPUT_DESKTOP", "Winlogon", 1);
    other = std::thread([&] {
      ServeAgentSession(pair2.b.get(), pair2.b->Socket());
      pair2.b->Close();
    });
  });
  EXPECT_EQ(first, AM_CANCEL);
  HandAgent a2{pair2.a.get(), pair2.a->Socket()};
  a2.AskPasscode();
  second = a2.Next();
  HQVEXTOBJ ok = nullptr;
  a2.Send(errAMBuildAuthSuccess(&ok), &ok);
  other.join();
  EXPECT_EQ(second.load(), AM_PASSCODE);
  EXPECT_EQ(Dialogs().size(), 2u);
}

TEST_F(RolesTest, LogoffClosesTheOpenPrompt) {
  Script({"dialog 101 wait"});
  EXPECT_EQ(ConsoleCtrlHandler(QV_CTRL_LOGOFF_EVENT), 0);  // nobody prompting: nothing to do
  uint16_t answer = CloseOpenPrompt(this, root_, [] {
    EXPECT_EQ(ConsoleCtrlHandler(0), 0);  // not a logoff: the prompt stays
    EXPECT_EQ(ConsoleCtrlHandler(QV_CTRL_LOGOFF_EVENT), 0);
  });
  EXPECT_EQ(answer, AM_CANCEL);
  auto dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["answer"], "close");
}

}  // namespace
}  // namespace qv::protocol::testing
