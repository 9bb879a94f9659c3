// Test fixture for the protocol roles: a private root holding a domain (root
// CA, DC credentials), a token store with a pinned server clock, the client
// library bound by path, the prompt library with the scripted back end, and
// the two ends of a conversation on a socket pair.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "authclient/binding.h"
#include "authclient/storefile.h"
#include "authclient/testsupport.h"
#include "platform/eventtext/eventtext.h"
#include "platform/paths/paths.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"
#include "runtime/cert/cert_fixture.h"
#include "runtime/cert/desktop.h"
#include "runtime/message/socketpair_session.h"

namespace qv::protocol::testing {

using Json = nlohmann::json;

inline constexpr char kUser[] = "alice";
inline constexpr char kPin[] = "1234";
inline constexpr char kDomain[] = "CORP";
inline constexpr char kWorkstation[] = "WKS7";

// One end of a conversation played by hand: reads the other side's messages
// and sends what the test builds.
struct HandPeer {
  QVNetSession* s;
  int fd;
  uint16_t Next(HQVEXTOBJ* keep = nullptr) {
    HQVEXTOBJ msg = nullptr;
    uint16_t type = 0;
    EXPECT_EQ(errAMReceiveProtocolMessage(s, fd, &msg, &type, 30), QV_OK);
    if (keep) {
      *keep = msg;
    } else {
      errQVNetMsgDestroy(msg);
    }
    return type;
  }
  // `built` is the builder's status; *msg is read after it ran.
  void Send(QVSTATUS built, HQVEXTOBJ* msg) {
    ASSERT_EQ(built, QV_OK);
    ASSERT_EQ(errAMSendProtocolMessage(s, fd, *msg), QV_OK);
  }
  void NoCertificate() {
    EXPECT_EQ(Next(), AM_SESSIONCERTREQ);
    HQVEXTOBJ m = nullptr;
    Send(errAMBuildSessionCert(&m, nullptr), &m);
  }
  void AskPasscode(const char* user = "alice", int32_t kelReturn = 0, int32_t kelTime = 0) {
    HQVEXTOBJ m = nullptr;
    Send(errAMBuildPasscodeReq(&m, user, "CORP", kelTime, kelReturn), &m);
  }
  void Deny() {
    HQVEXTOBJ m = nullptr;
    Send(errAMBuildAccessDenied(&m, 0), &m);
  }
};
using HandDesktop = HandPeer;
using HandAgent = HandPeer;

class RolesTest : public qv::cert::testing::CertTest {
 protected:
  void SetUp() override {
    CertTest::SetUp();
    setenv("TAVRIK_ROOT", root_.c_str(), 1);
    kel::SetStoreDirForProcess("");
    kel::test::SetTime(kel::test::kTime);
    setenv("TAVRIK_UI", "scripted", 1);
    setenv("TAVRIK_UI_SCRIPT", (root_ + "/script").c_str(), 1);
    setenv("TAVRIK_UI_RECORD", (root_ + "/record").c_str(), 1);
    setenv("TAVRIK_INPUT_DESKTOP", "Default", 1);
    setenv("TAVRIK_EVENT_SYSLOG", "0", 1);
    QVEventTextReload();

    MakeDomain();
    ProductKey();
    ASSERT_EQ(StoreDc(dc_), QV_OK);
    ASSERT_EQ(InitializeUtils(), QV_OK);
    qv::cert::DesktopCreds creds;
    ASSERT_EQ(GenerateSSDesktopCreds(&creds), QV_OK);
    desktopCert_ = creds.cert;

    ASSERT_EQ(kel::BindClient(AUTHCLIENT_PATH, &client_), QV_OK);
    api_ = client_.api;
    SetAuthClient(&api_);
    SetPromptLibraryForProcess(PROMPTUI_PATH);
    ResetServerTimeOffsetForTest();
    kel::test::PutUser(kUser, kPin);
    Script({});
  }

  void TearDown() override {
    SetAuthClient(nullptr);
    client_.api.KelCleanup();
    kel::UnbindClient(&client_);
    SetPromptLibraryForProcess(nullptr);
    for (const char* name : {"TAVRIK_UI", "TAVRIK_UI_SCRIPT", "TAVRIK_UI_RECORD",
                             "TAVRIK_INPUT_DESKTOP", "TAVRIK_FAKE_TIME", "TAVRIK_ROOT"}) {
      unsetenv(name);
    }
    CertTest::TearDown();
    QVEventTextReload();
  }

  // The scripted user's answers, one line each (see platform/ui/script.h).
  void Script(const std::vector<std::string>& lines) {
    std::filesystem::remove(root_ + "/script.pos");
    std::ofstream out(root_ + "/script", std::ios::trunc);
    for (const auto& line : lines) out << line << '\n';
  }
  static std::string Passcode(int steps = 0, const std::string& pin = kPin) {
    return pin + kel::test::Code(steps);
  }
  static std::string AnswerPasscode(int steps = 0, const std::string& pin = kPin) {
    return "dialog 101 ok 1003=" + Passcode(steps, pin);
  }

  static std::vector<Json> ReadLines(const std::string& path) {
    std::vector<Json> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) out.push_back(Json::parse(line));
    }
    return out;
  }
  // What the user saw: dialogs and message boxes in order.
  std::vector<Json> Shown() const { return ReadLines(root_ + "/record"); }
  std::vector<Json> Dialogs() const {
    std::vector<Json> out;
    for (auto& r : Shown()) if (r["kind"] == "dialog") out.push_back(r);
    return out;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> out;
    for (auto& r : Shown()) if (r["kind"] == "box") out.push_back(r["text"]);
    return out;
  }
  std::vector<Json> Events() const {
    return ReadLines(qv::paths::LogDir() + "/events.jsonl");
  }
  std::vector<Json> EventsWith(QVSTATUS code) const {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    std::vector<Json> out;
    for (auto& e : Events()) if (e["code"] == hex) out.push_back(e);
    return out;
  }
  static std::vector<std::string> Inserts(const Json& event) {
    return event["inserts"].get<std::vector<std::string>>();
  }

  // Runs `desktop` on its own thread with one end of a socket pair, and
  // `agent` on this thread with the other end.
  void Converse(const std::function<void(QVNetSession*, int)>& desktop,
                const std::function<void(QVNetSession*, int)>& agent) {
    qv::netmsg::SocketSessionPair pair;
    ASSERT_TRUE(qv::netmsg::MakeSocketSessionPair(pair));
    std::thread peer([&] {
      desktop(pair.b.get(), pair.b->Socket());
      pair.b->Close();
    });
    agent(pair.a.get(), pair.a->Socket());
    pair.a->Close();
    peer.join();
  }

  // Conversation A: the agent challenges `user` with the desktop role's
  // handler on the other end. Returns the agent's result.
  QVSTATUS Challenge(char* user, char* domain, const char* workstation = kWorkstation) {
    QVSTATUS result = QV_OK;
    Converse([](QVNetSession* s, int fd) { ServeAgentSession(s, fd); },
             [&](QVNetSession* s, int fd) {
               result = RunChallenge(s, fd, desktopCert_.data(),
                                     static_cast<uint32_t>(desktopCert_.size()), user, domain,
                                     workstation);
             });
    return result;
  }
  QVSTATUS Challenge(const char* user = kUser, const char* domain = kDomain,
                     const char* workstation = kWorkstation) {
    char u[AM_NAME_BUFFER] = {}, d[AM_NAME_BUFFER] = {};
    CopyText(u, sizeof u, user);
    CopyText(d, sizeof d, domain);
    return Challenge(u, d, workstation);
  }

  bool HasCachedCert(const char* user = kUser, const char* domain = kDomain) {
    HQVEXTOBJ obj = nullptr;
    QVSTATUS s = CMGetSessionCert(user, domain, &obj);
    errQVNetMsgDestroy(obj);
    return s == QV_OK;
  }

  std::vector<uint8_t> desktopCert_;
  kel::ClientBinding client_;
  kel::ClientApi api_;
};

}  // namespace qv::protocol::testing
