#include "tools/subauthtest/subauth_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "runtime/auth/settings.h"

namespace qv::subauth {
namespace {

// A runtime that records what the command asked of it.
struct Calls {
  int starts = 0, stops = 0;
  std::string user, domain, workstation;
  bool tested = false;
  QVSTATUS startStatus = QV_OK;
  QVSTATUS result = QV_OK;
} g_calls;

Runtime Recording() {
  Runtime r;
  r.start = [] {
    ++g_calls.starts;
    return g_calls.startStatus;
  };
  r.stop = [] { ++g_calls.stops; };
  r.authenticate = [](char* user, char* domain, const char* ws) {
    g_calls.user = user;
    g_calls.domain = domain;
    g_calls.workstation = ws;
    std::strcpy(user, "ALICE");  // the workstation's answer replaces the names
    return g_calls.result;
  };
  r.test = [](const char* ws) {
    g_calls.tested = true;
    g_calls.workstation = ws;
    return g_calls.result;
  };
  return r;
}

int Invoke(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
  std::ostringstream o, e;
  int rc = RunCommand(args, Recording(), o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return rc;
}

class SubauthCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = Calls{};
    KelClientPort = QV_DEFAULT_CLIENT_PORT;
  }
};

TEST_F(SubauthCommandTest, UsageErrorsStartNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"wks7"},
      {"--test"},
      {"--test", "wks7", "alice"},
      {"wks7", "alice", "CORP", "extra"},
      {"--port", "0", "wks7", "alice"},
      {"--port", "70000", "wks7", "alice"},
      {"--port"},
      {"--bogus", "wks7", "alice"},
      {"wks7", std::string(32, 'u')},
  };
  for (const auto& args : cases) {
    std::string err;
    EXPECT_EQ(Invoke(args, nullptr, &err), 2) << testing::PrintToString(args);
    EXPECT_FALSE(err.empty());
  }
  EXPECT_EQ(g_calls.starts, 0);
}

TEST_F(SubauthCommandTest, HelpIsAManPage) {
  std::string out;
  EXPECT_EQ(Invoke({"--help"}, &out), 0);
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS"}) {
    EXPECT_NE(out.find(section), std::string::npos) << section;
  }
}

TEST_F(SubauthCommandTest, ChallengeReportsTheAnsweredNamesAndTheResult) {
  std::string out;
  EXPECT_EQ(Invoke({"--port", "4000", "wks7", "alice", "CORP"}, &out), 0);
  EXPECT_EQ(g_calls.user, "alice");
  EXPECT_EQ(g_calls.domain, "CORP");
  EXPECT_EQ(g_calls.workstation, "wks7");
  EXPECT_EQ(KelClientPort, 4000u);
  EXPECT_NE(out.find("user: ALICE\n"), std::string::npos);
  EXPECT_NE(out.find("result: 0x00000000"), std::string::npos);
  EXPECT_EQ(g_calls.stops, 1);

  g_calls.result = QVS_AM_ACCESS_DENIED;
  EXPECT_EQ(Invoke({"wks7", "alice"}, &out), 1);
  EXPECT_NE(out.find("result: 0xC0002716"), std::string::npos);
  EXPECT_EQ(g_calls.domain, "");
}

TEST_F(SubauthCommandTest, TestModeAndStartFailure) {
  EXPECT_EQ(Invoke({"--test", "wks7"}), 0);
  EXPECT_TRUE(g_calls.tested);

  g_calls = Calls{};
  g_calls.startStatus = QVS_AM_AUTHCLIENT_FAILED;
  std::string err;
  EXPECT_EQ(Invoke({"wks7", "alice"}, nullptr, &err), 1);
  EXPECT_NE(err.find("0xC0002713"), std::string::npos);
  EXPECT_EQ(g_calls.user, "");
}

}  // namespace
}  // namespace qv::subauth
