// Conversation A: the domain controller's agent challenges a user at the
// workstation's desktop role.
#include <cstring>

#include "runtime/auth/protocol/roles_fixture.h"
#include "runtime/auth/settings.h"

namespace qv::protocol::testing {
namespace {

TEST_F(RolesTest, PasscodeLetsTheUserInAndACachedCertificateSkipsThePromptNextTime) {
  Script({AnswerPasscode()});
  EXPECT_EQ(Challenge(), QV_OK);
  ASSERT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(Dialogs()[0]["template"], 101);
  EXPECT_EQ(EventsWith(QVE_AM_NO_SESSION_CERT).size(), 1u);
  EXPECT_TRUE(HasCachedCert());
  EXPECT_TRUE(BoxTexts().empty());

  // Second challenge: type 7 from the cache, nobody prompted.
  Script({});
  EXPECT_EQ(Challenge(), QV_OK);
  EXPECT_EQ(Dialogs().size(), 1u);
  EXPECT_TRUE(EventsWith(QVS_AM_SESSION_CERT_REJECTED).empty());
}

TEST_F(RolesTest, ForeignOrExpiredCertificateIsRejectedAndTheUserPrompted) {
  struct Case {
    const char* name;
    const char* workstation;  // of the second challenge
    int64_t clockOffset;      // seconds added to the certificate clock
  };
  const Case cases[] = {
      {"other workstation", "WKS8", 0},
      {"expired", kWorkstation, 30LL * 86400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qv::cert::ResetDesktopForTest();
    kel::test::PutUser(kUser, kPin);
    Script({AnswerPasscode(0)});
    ASSERT_EQ(Challenge(), QV_OK);
    ASSERT_TRUE(HasCachedCert());
    const size_t before = EventsWith(QVS_AM_SESSION_CERT_REJECTED).size();
    const size_t prompts = Dialogs().size();

    qv::cert::SetClockOffsetForTest(c.clockOffset);
    Script({AnswerPasscode(1)});
    EXPECT_EQ(Challenge(kUser, kDomain, c.workstation), QV_OK);
    qv::cert::SetClockOffsetForTest(0);
    auto rejected = EventsWith(QVS_AM_SESSION_CERT_REJECTED);
    ASSERT_EQ(rejected.size(), before + 1);
    EXPECT_EQ(Inserts(rejected.back()),
              (std::vector<std::string>{kUser, kDomain, c.workstation}));
    EXPECT_EQ(Dialogs().size(), prompts + 1);
  }
}

TEST_F(RolesTest, ThreeWrongPasscodesDenyAccess) {
  Script({"dialog 101 ok 1003=0000111111", "dialog 101 ok 1003=0000222222",
          "dialog 101 ok 1003=0000333333"});
  EXPECT_EQ(Challenge(), QVS_AM_ACCESS_DENIED);
  EXPECT_EQ(Dialogs().size(), 3u);
  auto failed = EventsWith(QVE_AM_FAILED_ATTEMPT);
  ASSERT_EQ(failed.size(), 3u);
  EXPECT_EQ(failed[2]["number"], 3);
  EXPECT_EQ(Inserts(failed[2])[0], kUser);
  // Before the second and third prompts the user hears of the failure; at
  // the end the desktop got type 6.
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Access Denied.", "Access Denied.",
                                                   "Access Denied."}));
  EXPECT_FALSE(HasCachedCert());
}

TEST_F(RolesTest, UserChosenNewPinIsNotAFailedAttempt) {
  kel::PinRules rules;
  rules.mode = 2;
  kel::test::PutUser(kUser, "", true, rules);
  Script({"dialog 101 ok 1003=" + kel::test::Code(0),
          "dialog 102 ok 1011=5678 1012=5678",
          AnswerPasscode(1, "5678")});
  EXPECT_EQ(Challenge(), QV_OK);
  EXPECT_TRUE(EventsWith(QVE_AM_FAILED_ATTEMPT).empty());
  EXPECT_EQ(EventsWith(QVE_AM_NEW_PIN_ACCEPTED).size(), 1u);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"New PIN Accepted."});
  EXPECT_TRUE(HasCachedCert());
}

TEST_F(RolesTest, SystemGeneratedPinIsShownThenThePasscodeAskedAgain) {
  kel::PinRules rules;
  rules.mode = 0;
  kel::test::PutUser(kUser, "", true, rules);
  Script({"dialog 101 ok 1003=" + kel::test::Code(0), "dialog 102 ok", "box * yes",
          "dialog 104 ok", "dialog 101 cancel"});
  EXPECT_EQ(Challenge(), QVS_AM_ACCESS_DENIED);
  auto dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 4u);
  EXPECT_EQ(dialogs[2]["template"], 104);
  EXPECT_EQ(dialogs[3]["template"], 101);
  EXPECT_EQ(EventsWith(QVE_AM_NEW_PIN_ACCEPTED).size(), 1u);
  EXPECT_TRUE(EventsWith(QVE_AM_FAILED_ATTEMPT).empty());
  EXPECT_FALSE(kel::test::GetUser(kUser).new_pin);
}

TEST_F(RolesTest, CancelledNewPinPromptEndsTheChallengeUncounted) {
  kel::PinRules rules;
  rules.mode = 2;
  kel::test::PutUser(kUser, "", true, rules);
  Script({"dialog 101 ok 1003=" + kel::test::Code(0), "dialog 102 cancel"});
  EXPECT_EQ(Challenge(), QVS_AM_ACCESS_DENIED);
  EXPECT_EQ(EventsWith(QVE_AM_PROMPT_CANCELLED).size(), 1u);
  EXPECT_TRUE(EventsWith(QVE_AM_FAILED_ATTEMPT).empty());
}

TEST_F(RolesTest, NextTokencodeStep) {
  // A user whose token is in next-tokencode mode.
  std::string error;
  ASSERT_EQ(kel::UpdateStore(kel::StoreDir(),
                             [](kel::Store& s) {
                               for (auto& x : s.users) x.next_code = true;
                               return true;
                             },
                             true, &error),
            kel::StoreResult::kOk)
      << error;
  Script({AnswerPasscode(0), "dialog 103 ok 1013=" + kel::test::Code(1)});
  EXPECT_EQ(Challenge(), QV_OK);
  EXPECT_EQ(EventsWith(QVE_AM_NEXT_CODE_ACCEPTED).size(), 1u);
  EXPECT_TRUE(HasCachedCert());
}

TEST_F(RolesTest, CancelDeniesWithAMessageAndTimeOutWithout) {
  struct Case {
    const char* answer;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"dialog 101 cancel", {"Access Denied."}},
      {"dialog 101 timeout", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    std::filesystem::remove(root_ + "/record");
    Script({c.answer});
    EXPECT_EQ(Challenge(), QVS_AM_ACCESS_DENIED);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(Dialogs().size(), 1u);
  }
  EXPECT_TRUE(EventsWith(QVE_AM_FAILED_ATTEMPT).empty());
}

TEST_F(RolesTest, ZeroLifetimeSendsThePlaceholderAndStillLetsIn) {
  SetDword("SessionCertLifetime", 0);
  ASSERT_EQ(StoreDc(dc_), QV_OK);  // reloads the settings
  ASSERT_EQ(CMGetSessionCertLifetime(), 0u);
  Script({AnswerPasscode()});
  EXPECT_EQ(Challenge(), QV_OK);
  EXPECT_FALSE(HasCachedCert());
}

// Records the name the server is asked about.
std::string g_checkedName;
const kel::ClientApi* g_realApi = nullptr;
int RecordingCheck(KEL_HANDLE h, const char* passcode, const char* name) {
  g_checkedName = name;
  return g_realApi->QV_Check(h, passcode, name);
}
int FailingInit(KEL_HANDLE*) { return ACM_NO_RESOURCES; }

TEST_F(RolesTest, SendDomainNameJoinsDomainAndUser) {
  g_realApi = &client_.api;
  api_.QV_Check = RecordingCheck;
  struct Case {
    bool set;
    uint32_t value;
    std::string expected;
  };
  const Case cases[] = {
      {false, 0, kUser},
      {true, 0, kUser},
      {true, 1, std::string(kDomain) + "\\" + kUser},
  };
  int step = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    if (c.set) SetDword("SendDomainName", c.value);
    qv::cert::ResetDesktopForTest();
    Script({AnswerPasscode(step++)});
    EXPECT_EQ(Challenge(), QV_OK);
    EXPECT_EQ(g_checkedName, c.expected);
  }
}

TEST_F(RolesTest, NamesFromTheWorkstationReplaceTheCallers) {
  char user[AM_NAME_BUFFER] = "bob";
  char domain[AM_NAME_BUFFER] = "OTHER";
  QVSTATUS result = QV_OK;
  Script({AnswerPasscode()});
  Converse(
      [](QVNetSession* s, int fd) {
        int32_t outcome = PROMPT_RESULT_OK;
        char d[AM_NAME_BUFFER] = "CORP";
        EXPECT_EQ(ProcessUITransactions(s, fd, kUser, d, 1, &outcome), QV_OK);
      },
      [&](QVNetSession* s, int fd) {
        result = RunChallenge(s, fd, desktopCert_.data(),
                              static_cast<uint32_t>(desktopCert_.size()), user, domain,
                              kWorkstation);
      });
  EXPECT_EQ(result, QV_OK);
  EXPECT_STREQ(user, kUser);
  EXPECT_STREQ(domain, kDomain);
  // The certificate is issued for the workstation's names.
  HQVEXTOBJ cert = nullptr;
  ASSERT_EQ(CMGetSessionCert(kUser, kDomain, &cert), QV_OK);
  EXPECT_EQ(CMVerifySessionCert(kUser, kDomain, kWorkstation, cert), QV_OK);
  errQVNetMsgDestroy(cert);
}

TEST_F(RolesTest, ClientLibraryThatCannotOpenAHandleDeniesWithItsStatus) {
  api_.QV_Init = FailingInit;
  QVSTATUS result = QV_OK;
  int32_t reason = 0;
  Converse(
      [&](QVNetSession* s, int fd) {
        HandDesktop d{s, fd};
        d.NoCertificate();
        HQVEXTOBJ denied = nullptr;
        EXPECT_EQ(d.Next(&denied), AM_ACCESSDENIED);
        EXPECT_EQ(errAMReadAccessDenied(denied, &reason), QV_OK);
        errQVNetMsgDestroy(denied);
      },
      [&](QVNetSession* s, int fd) {
        char u[AM_NAME_BUFFER] = "alice", dm[AM_NAME_BUFFER] = "CORP";
        result = RunChallenge(s, fd, desktopCert_.data(),
                              static_cast<uint32_t>(desktopCert_.size()), u, dm, kWorkstation);
      });
  EXPECT_EQ(result, QVS_AM_ACCESS_DENIED);
  EXPECT_EQ(static_cast<QVSTATUS>(reason), QVS_AM_AUTHCLIENT_FAILED);
  EXPECT_EQ(EventsWith(QVS_AM_AUTHCLIENT_FAILED).size(), 1u);
}

TEST_F(RolesTest, PasscodeRequestCarriesTheServerClockLessTheOffset) {
  int32_t kelTime = 0, kelReturn = -1;
  Converse(
      [&](QVNetSession* s, int fd) {
        HandDesktop d{s, fd};
        d.NoCertificate();
        HQVEXTOBJ req = nullptr;
        EXPECT_EQ(d.Next(&req), AM_PASSCODEREQ);
        AMPasscodeReq r{};
        EXPECT_EQ(errAMReadPasscodeReq(req, &r), QV_OK);
        errQVNetMsgDestroy(req);
        kelTime = r.KELTime;
        kelReturn = r.KELReturn;
        HQVEXTOBJ cancel = nullptr;
        d.Send(errAMBuildCancel(&cancel), &cancel);
        EXPECT_EQ(d.Next(), AM_ACCESSDENIED);
      },
      [&](QVNetSession* s, int fd) {
        char u[AM_NAME_BUFFER] = "alice", dm[AM_NAME_BUFFER] = "CORP";
        EXPECT_EQ(RunChallenge(s, fd, desktopCert_.data(),
                               static_cast<uint32_t>(desktopCert_.size()), u, dm, kWorkstation),
                  QVS_AM_ACCESS_DENIED);
      });
  // The clock runs between the two reads: a few seconds of slack.
  EXPECT_NEAR(static_cast<double>(kelTime) + AM_KELTIME_OFFSET,
              static_cast<double>(kel::test::kTime), 5.0);
  EXPECT_EQ(kelReturn, 0);
}

TEST_F(RolesTest, WrongRepliesEndTheChallenge) {
  struct Case {
    const char* name;
    std::function<void(HandDesktop&)> reply;  // after the type 1 request
    QVSTATUS expected;
  };
  const Case cases[] = {
      {"passcode instead of type 8",
       [](HandDesktop& d) {
         HQVEXTOBJ m = nullptr;
         d.Send(errAMBuildPasscode(&m, "a", "b", "c"), &m);
       },
       QVS_AM_PROTOCOL_ERROR},
      {"protocol 2",
       [](HandDesktop& d) {
         HQVEXTOBJ m = nullptr;
         ASSERT_EQ(errQVNetMsgCreate(&m, AM_SIDE_DESKTOP), QV_OK);
         ASSERT_EQ(errQVNetMsgAddI32(m, "Protocol", 2), QV_OK);
         ASSERT_EQ(errQVNetMsgAddU16(m, "Type", AM_SESSIONCERT), QV_OK);
         d.Send(QV_OK, &m);
       },
       QVS_AM_BAD_PROTOCOL},
      {"session closed", [](HandDesktop&) {}, QVS_NETMSG_RECEIVE_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QVSTATUS result = QV_OK;
    Converse(
        [&](QVNetSession* s, int fd) {
          HandDesktop d{s, fd};
          EXPECT_EQ(d.Next(), AM_SESSIONCERTREQ);
          c.reply(d);
        },
        [&](QVNetSession* s, int fd) {
          char u[AM_NAME_BUFFER] = "alice", dm[AM_NAME_BUFFER] = "CORP";
          result = RunChallenge(s, fd, desktopCert_.data(),
                                static_cast<uint32_t>(desktopCert_.size()), u, dm, kWorkstation);
        });
    EXPECT_EQ(result, c.expected);
  }
}

TEST_F(RolesTest, DesktopThatNeverAnswersEndsTheWaitAtTheBound) {
  SetDword("ResponseTimeout", 1);
  QVSTATUS result = QV_OK;
  Converse(
      [&](QVNetSession* s, int fd) {
        HandDesktop d{s, fd};
        EXPECT_EQ(d.Next(), AM_SESSIONCERTREQ);
        // Stays silent until the agent gives up and closes its end.
        char byte;
        while (s->Read(&byte, 1) > 0) {
        }
      },
      [&](QVNetSession* s, int fd) {
        char u[AM_NAME_BUFFER] = "alice", dm[AM_NAME_BUFFER] = "CORP";
        result = RunChallenge(s, fd, desktopCert_.data(),
                              static_cast<uint32_t>(desktopCert_.size()), u, dm, kWorkstation);
      });
  EXPECT_EQ(result, QVS_NETMSG_TIMEOUT);
}

TEST_F(RolesTest, SecretsReachNeitherTracesNorEvents) {
  kel::test::PutUser(kUser, kPin);
  setenv("TAVRIK_TRACE_LEVEL", "31", 1);
  setenv("TAVRIK_TRACE_DEST", "4", 1);
  QVEventTextReload();
  const std::string wrong = "9999" + kel::test::Code(5);
  Script({"dialog 101 ok 1003=" + wrong, AnswerPasscode()});
  EXPECT_EQ(Challenge(), QV_OK);
  unsetenv("TAVRIK_TRACE_LEVEL");
  unsetenv("TAVRIK_TRACE_DEST");
  QVEventTextReload();
  for (const char* file : {"/trace.log", "/events.jsonl"}) {
    std::ifstream in(qv::paths::LogDir() + file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(text.empty()) << file;
    EXPECT_EQ(text.find(wrong), std::string::npos) << file;
    EXPECT_EQ(text.find(Passcode()), std::string::npos) << file;
  }
}

}  // namespace
}  // namespace qv::protocol::testing
