#include "runtime/session/session_manager.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/eventtext/eventtext.h"
#include "platform/paths/paths.h"
#include "platform/paths/test_root.h"
#include "platform/registry/registry.h"
#include "platform/resolver/netsock.h"
#include "platform/ui/ui.h"
#include "qvnetmsg.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_fixture.h"
#include "runtime/session/session_internal.h"

namespace {

namespace fx = qv::session::fixture;
using namespace std::chrono_literals;

constexpr uint32_t kLoopback = 0x0100007Fu;

// One private root for the whole binary: the event file is found there.
const auto* const g_env = ::testing::AddGlobalTestEnvironment(
    new qv::paths::testing::PrivateRootEnvironment("qvsession"));

void SetDword(const char* name, uint32_t v) {
  qv::reg::Key key;
  ASSERT_EQ(key.Create(qv::reg::HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY, qv::reg::KEY_ALL_ACCESS),
            qv::reg::ERROR_SUCCESS);
  ASSERT_EQ(qv::reg::SetValue(key.get(), name, qv::reg::REG_DWORD, &v, sizeof v),
            qv::reg::ERROR_SUCCESS);
}

void ClearSettings() { qv::reg::DeleteKey(qv::reg::HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY); }

std::string EventFile() {
  std::ifstream in(qv::paths::LogDir() + "/events.jsonl");
  std::stringstream s;
  s << in.rdbuf();
  std::string text = s.str();
  std::transform(text.begin(), text.end(), text.begin(), ::toupper);
  return text;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Message boxes the session manager shows.
class BoxRecorder : public qv::ui::Backend {
 public:
  const char* Name() const override { return "recorder"; }
  int MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                 uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({caption, text, style});
    cv_.notify_all();
    return qv::ui::kIdOk;
  }
  int Dialog(qv::ui::Dialog&, qv::ui::DialogHooks*) override { return qv::ui::kIdCancel; }

  struct Box {
    std::string caption, text;
    uint32_t style;
  };
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, 20s, [&] { return boxes_.size() >= count; });
  }
  std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Box> boxes_;
};

// What the handlers saw.
struct Seen {
  std::mutex mutex;
  std::condition_variable cv;
  int handled = 0;
  std::vector<uint8_t> peerCert;
  uint32_t peerAddr = 0;
  std::string request;
  bool hold = false;  // handlers wait until released
  int running = 0;    // handlers not yet returned
};
Seen g_seen;

HQVEXTOBJ MakeMessage(const char* text) {
  HQVEXTOBJ obj = nullptr;
  EXPECT_EQ(errQVNetMsgCreate(&obj, "Test"), QV_OK);
  EXPECT_EQ(errQVNetMsgAddString(obj, "Text", text), QV_OK);
  return obj;
}

std::string TextOf(HQVEXTOBJ obj) {
  char buf[256];
  size_t size = sizeof buf;
  if (errQVNetMsgGetString(obj, "Text", buf, &size) != QV_OK) return "<none>";
  return buf;
}

// Answers one request with "echo: <text>".
void EchoHandler(SMSessionInfo* info) {
  {
    std::unique_lock<std::mutex> lock(g_seen.mutex);
    ++g_seen.running;
    g_seen.peerCert.assign(info->pbPeerCert, info->pbPeerCert + info->dwPeerCertLen);
    g_seen.peerAddr = info->dwPeerAddr;
    g_seen.cv.wait_for(lock, 20s, [] { return !g_seen.hold; });
  }
  HQVEXTOBJ req = nullptr;
  if (errQVNetMsgSSLWaitReceive(info->pSession, info->iSocket, &req, 10) == QV_OK) {
    std::string text = TextOf(req);
    errQVNetMsgDestroy(req);
    HQVEXTOBJ answer = MakeMessage(("echo: " + text).c_str());
    errQVNetMsgSSLSend(info->pSession, info->iSocket, answer);
    errQVNetMsgDestroy(answer);
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    g_seen.request = text;
  }
  SMDeleteContext(info->iSocket, info->pSession);
  SMFreeSessionInfo(info);
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  ++g_seen.handled;
  --g_seen.running;
  g_seen.cv.notify_all();
}

// Sends one frame in two TLS records, then two frames in one record.
void SplitHandler(SMSessionInfo* info) {
  HQVEXTOBJ obj = MakeMessage("split across records");
  char frame[512];
  size_t len = sizeof frame;
  ASSERT_EQ(NetMsgWriteToBuffer(obj, frame, &len), QV_OK);
  errQVNetMsgDestroy(obj);
  size_t half = len / 2;
  info->pSession->Write(frame, half);
  std::this_thread::sleep_for(50ms);
  info->pSession->Write(frame + half, len - half);

  std::string two(frame, len);
  two += two;
  info->pSession->Write(two.data(), two.size());

  HQVEXTOBJ done = nullptr;  // wait for the client before closing
  errQVNetMsgSSLWaitReceive(info->pSession, info->iSocket, &done, 10);
  errQVNetMsgDestroy(done);
  SMDeleteContext(info->iSocket, info->pSession);
  SMFreeSessionInfo(info);
}

// Runs SMServerListen on a thread of its own.
class Listener {
  struct Bound {
    std::promise<uint16_t> port;
    std::atomic<bool> set{false};
    void Set(uint16_t p) {
      if (!set.exchange(true)) port.set_value(p);
    }
  };

 public:
  bool Start(SMHandler handler, int bNotifyUser, uint16_t port = 0) {
    auto bound = std::make_shared<Bound>();
    auto fut = bound->port.get_future();
    thread_ = std::thread([this, bound, handler, bNotifyUser, port] {
      status_ = qv::session::ServerListen(
          handler, port, bNotifyUser,
          [](uint16_t p, void* arg) { static_cast<Bound*>(arg)->Set(p); }, bound.get());
      bound->Set(0);
    });
    port_ = fut.get();
    return port_ != 0;
  }
  QVSTATUS Stop() {
    if (thread_.joinable()) {
      SMStopListening();
      thread_.join();
    }
    return status_;
  }
  ~Listener() { Stop(); }
  uint16_t port() const { return port_; }

 private:
  std::thread thread_;
  uint16_t port_ = 0;
  QVSTATUS status_ = QV_OK;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    const fx::Credentials& c = fx::Get();
    fx::Install(c.root.cert, c.dc, c.desktop);
    qv::session::SetCredentialSource(&fx::Source());
    qv::ui::SetBackendForProcess(&boxes_);
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    g_seen.handled = 0;
    g_seen.hold = false;
    g_seen.peerCert.clear();
    g_seen.request.clear();
  }
  void TearDown() override {
    {
      // Handlers of this test finish before the next one counts.
      std::unique_lock<std::mutex> lock(g_seen.mutex);
      g_seen.cv.wait_for(lock, 20s, [] { return g_seen.running == 0; });
    }
    SMRundown();
    qv::ui::SetBackendForProcess(nullptr);
    qv::session::SetCredentialSource(nullptr);
    ClearSettings();
  }

  // A workstation serving agents, and an agent's client context.
  void DesktopServerAgentClient() {
    ASSERT_EQ(SMStartup(1, 0), QV_OK);
    ASSERT_EQ(SMSetupSSLCTX(0, 1), QV_OK);
  }

  // Opens, sends a request and reads the echo.
  std::string RoundTrip(const char* host, uint16_t port, const char* text) {
    SMPeerCert cert{};
    int fd = -1;
    SMSession* s = nullptr;
    QVSTATUS st = SMClientOpenSession(host, port, 1, 2, &cert, &fd, &s);
    if (st != QV_OK) return "open failed";
    HQVEXTOBJ req = MakeMessage(text);
    std::string answer = "send failed";
    if (errQVNetMsgSSLSend(s, fd, req) == QV_OK) {
      HQVEXTOBJ reply = nullptr;
      answer = errQVNetMsgSSLWaitReceive(s, fd, &reply, 10) == QV_OK ? TextOf(reply)
                                                                      : "receive failed";
      errQVNetMsgDestroy(reply);
    }
    errQVNetMsgDestroy(req);
    SMFreePeerCert(&cert);
    SMDeleteContext(fd, s);
    return answer;
  }

  bool WaitHandled(int n) {
    std::unique_lock<std::mutex> lock(g_seen.mutex);
    return g_seen.cv.wait_for(lock, 20s, [&] { return g_seen.handled >= n; });
  }

  BoxRecorder boxes_;
};

TEST_F(SessionTest, MutualSessionExchangesFramesBothWays) {
  DesktopServerAgentClient();
  Listener l;
  ASSERT_TRUE(l.Start(EchoHandler, 1));

  SMPeerCert cert{};
  int fd = -1;
  SMSession* s = nullptr;
  ASSERT_EQ(SMClientOpenSession("127.0.0.1", l.port(), 1, 2, &cert, &fd, &s), QV_OK);
  EXPECT_EQ(SSL_version(s->ssl), TLS1_3_VERSION);
  EXPECT_EQ(std::vector<uint8_t>(cert.pbCert, cert.pbCert + cert.dwCertLen),
            fx::Der(fx::Get().desktop.cert));
  HQVEXTOBJ req = MakeMessage("hello");
  ASSERT_EQ(errQVNetMsgSSLSend(s, fd, req), QV_OK);
  errQVNetMsgDestroy(req);
  HQVEXTOBJ reply = nullptr;
  ASSERT_EQ(errQVNetMsgSSLWaitReceive(s, fd, &reply, 10), QV_OK);
  EXPECT_EQ(TextOf(reply), "echo: hello");
  errQVNetMsgDestroy(reply);
  SMFreePeerCert(&cert);
  EXPECT_EQ(SMDeleteContext(fd, s), QV_OK);

  ASSERT_TRUE(WaitHandled(1));
  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    EXPECT_EQ(g_seen.peerCert, fx::Der(fx::Get().dc.cert));
    EXPECT_EQ(g_seen.peerAddr, kLoopback);
  }
  // By name as well.
  EXPECT_EQ(RoundTrip("localhost", l.port(), "again"), "echo: again");
  EXPECT_EQ(l.Stop(), QV_OK);
  EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(SessionTest, AgentWithoutDCCertificateStartsAndEveryOpenFails) {
  const fx::Credentials& c = fx::Get();
  fx::Install(c.root.cert, fx::Credential{}, c.desktop);
  ASSERT_EQ(SMStartup(0, 1), QV_OK);
  for (int i = 0; i < 2; ++i) {
    SMPeerCert cert{7, reinterpret_cast<uint8_t*>(1)};
    int fd = 5;
    SMSession* s = reinterpret_cast<SMSession*>(1);
    EXPECT_EQ(SMClientOpenSession("127.0.0.1", 2334, 1, 2, &cert, &fd, &s), QVS_SM_NO_CONTEXT);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(cert.pbCert, nullptr);
    EXPECT_EQ(cert.dwCertLen, 0u);
  }
  EXPECT_EQ(SMServerListen(EchoHandler, 0, 1, 1), QVS_SM_NO_CONTEXT);

  // Once the certificate is installed, the next open builds the context.
  fx::Install(c.root.cert, c.dc, c.desktop);
  ASSERT_EQ(SMSetupSSLCTX(1, 0), QV_OK);
  Listener l;
  ASSERT_TRUE(l.Start(EchoHandler, 2));
  EXPECT_EQ(RoundTrip("127.0.0.1", l.port(), "late"), "echo: late");
}

TEST_F(SessionTest, StoreWithoutInstalledCredentialsLeavesNoContext) {
  // The certificate store itself, with nothing installed under this root.
  qv::session::SetCredentialSource(nullptr);
  ASSERT_EQ(SMStartup(0, 1), QV_OK);
  SMPeerCert cert{};
  int fd = -1;
  SMSession* s = nullptr;
  EXPECT_EQ(SMClientOpenSession("127.0.0.1", 2334, 1, 2, &cert, &fd, &s), QVS_SM_NO_CONTEXT);
}

TEST_F(SessionTest, ContextOfAKindIsBuiltOnce) {
  ASSERT_EQ(SMSetupSSLCTX(1, 0), QV_OK);
  EXPECT_EQ(SMSetupSSLCTX(1, 0), QVS_SM_FAILED);
  EXPECT_EQ(SMSetupSSLCTX(0, 0), QVS_SM_FAILED);
}

TEST_F(SessionTest, KeyAndCertificateFaultsHaveTheirStatus) {
  const fx::Credentials& c = fx::Get();
  struct Case {
    const char* what;
    X509* root;
    fx::Credential dc;
    QVSTATUS status;
  } cases[] = {
      {"key of another certificate", c.root.cert, {c.dc.cert, c.desktop.key}, QVS_SM_KEY_MISMATCH},
      {"no root", nullptr, c.dc, QVS_SM_CERT_UNREADABLE},
      {"no key", c.root.cert, {c.dc.cert, nullptr}, QVS_SM_KEY_CONVERT},
      {"no certificate", c.root.cert, {nullptr, c.dc.key}, QVS_SM_CERT_UNREADABLE},
  };
  for (const Case& k : cases) {
    fx::Install(k.root, k.dc, c.desktop);
    EXPECT_EQ(SMSetupSSLCTX(0, 1), k.status) << k.what;
    SMRundown();
  }
}

TEST_F(SessionTest, WorkstationRefusesAgentsNotIssuedByTheRoot) {
  const fx::Credentials& c = fx::Get();
  const fx::Credential agents[] = {c.selfSignedDc, c.dcOtherRoot};
  size_t expectedBoxes = 0;
  for (const fx::Credential& agent : agents) {
    for (int notify : {1, 2}) {
      SMRundown();
      fx::Install(c.root.cert, agent, c.desktop);
      DesktopServerAgentClient();
      Listener l;
      ASSERT_TRUE(l.Start(EchoHandler, notify));
      size_t before = Count(EventFile(), "C00028AD");
      // TLS 1.3 completes the client's side before the server judges its
      // certificate: the agent learns of the refusal at its first read.
      EXPECT_NE(RoundTrip("127.0.0.1", l.port(), "x"), "echo: x");
      if (notify == 1) {
        ++expectedBoxes;
        ASSERT_TRUE(boxes_.WaitFor(expectedBoxes));
      }
      // The failure is logged once the connection thread has finished.
      for (int i = 0; i < 200 && Count(EventFile(), "C00028AD") == before; ++i) {
        std::this_thread::sleep_for(50ms);
      }
      EXPECT_EQ(Count(EventFile(), "C00028AD"), before + 1);
      EXPECT_EQ(l.Stop(), QV_OK);
    }
  }
  std::vector<BoxRecorder::Box> shown = boxes_.Boxes();
  ASSERT_EQ(shown.size(), expectedBoxes);
  for (const auto& b : shown) {
    EXPECT_EQ(b.caption, "Quillon Authentication");
    EXPECT_EQ(b.text, QVStatusText(QVS_SM_INCOMING_SESSION_FAILED));
    EXPECT_EQ(b.style, 0x040010u);
  }
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  EXPECT_EQ(g_seen.handled, 0);
}

TEST_F(SessionTest, WorkstationRefusesClientsWithoutCertificateOrModernTls) {
  DesktopServerAgentClient();
  Listener l;
  ASSERT_TRUE(l.Start(EchoHandler, 1));
  const fx::Credentials& c = fx::Get();
  struct Case {
    const char* what;
    bool withCert;
    int maxVersion;
  } cases[] = {
      {"no certificate", false, TLS1_3_VERSION},
      {"TLS 1.1", true, TLS1_1_VERSION},
  };
  size_t boxes = 0;
  for (const Case& k : cases) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_cipher_list(ctx, "ALL:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(ctx, 0);
    SSL_CTX_set_max_proto_version(ctx, k.maxVersion);
    if (k.withCert) {
      SSL_CTX_use_certificate(ctx, c.dc.cert);
      SSL_CTX_use_PrivateKey(ctx, c.dc.key);
    }
    int fd = -1;
    ASSERT_EQ(qv::net::TcpSocket(&fd), 0);
    ASSERT_EQ(qv::net::Connect(fd, kLoopback, l.port(), 2000), 0);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    char byte;
    // Either the handshake or the first read fails; nothing is ever served.
    EXPECT_FALSE(SSL_connect(ssl) == 1 && SSL_write(ssl, "5(x)", 4) == 4 &&
                 SSL_read(ssl, &byte, 1) == 1)
        << k.what;
    ASSERT_TRUE(boxes_.WaitFor(++boxes)) << k.what;
    SSL_free(ssl);
    qv::net::Close(fd);
    SSL_CTX_free(ctx);
  }
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  EXPECT_EQ(g_seen.handled, 0);
}

TEST_F(SessionTest, ClientRefusesPeersItsRoleDoesNotAdmit) {
  const fx::Credentials& c = fx::Get();
  struct Case {
    const char* what;
    int desktopClient;  // 1: a logon module to a proxy; 0: an agent to a workstation
    fx::Credential dc, desktop;
  } cases[] = {
      {"self-signed proxy", 1, c.selfSignedDc, c.desktop},
      {"proxy from another root", 1, c.dcOtherRoot, c.desktop},
      {"expired workstation", 0, c.dc, c.expiredDesktop},
  };
  for (const Case& k : cases) {
    fx::Install(c.root.cert, k.dc, k.desktop);
    ASSERT_EQ(SMSetupSSLCTX(!k.desktopClient, 0), QV_OK) << k.what;
    ASSERT_EQ(SMSetupSSLCTX(k.desktopClient, 1), QV_OK) << k.what;
    Listener l;
    ASSERT_TRUE(l.Start(EchoHandler, 2));
    SMPeerCert cert{};
    int fd = -1;
    SMSession* s = nullptr;
    EXPECT_EQ(SMClientOpenSession("127.0.0.1", l.port(), 1, 1, &cert, &fd, &s),
              QVS_SM_HANDSHAKE_FAILED)
        << k.what;
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(s, nullptr);
    l.Stop();
    SMRundown();
  }
}

TEST_F(SessionTest, LogonModuleReachesProxyIssuedByTheRoot) {
  ASSERT_EQ(SMStartup(0, 0), QV_OK);    // proxy: agent role, listening
  ASSERT_EQ(SMSetupSSLCTX(1, 1), QV_OK);  // logon module: desktop role, connecting
  Listener l;
  ASSERT_TRUE(l.Start(EchoHandler, 2));
  EXPECT_EQ(RoundTrip("127.0.0.1", l.port(), "logon"), "echo: logon");
  ASSERT_TRUE(WaitHandled(1));
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  EXPECT_EQ(g_seen.peerCert, fx::Der(fx::Get().desktop.cert));
}

TEST_F(SessionTest, PortInUseEndsListenAtOnce) {
  DesktopServerAgentClient();
  int busy = -1;
  ASSERT_EQ(qv::net::TcpSocket(&busy), 0);
  ASSERT_EQ(qv::net::Bind(busy, kLoopback, 0), 0);
  ASSERT_EQ(qv::net::Listen(busy, 5), 0);
  uint16_t port = 0;
  ASSERT_EQ(qv::net::LocalPort(busy, &port), 0);
  EXPECT_EQ(SMServerListen(EchoHandler, port, 1, 1), QVS_SM_BIND_FAILED);
  qv::net::Close(busy);
}

TEST_F(SessionTest, PeersThatFailBeforeTheHandshakeLeaveTheLoopAccepting) {
  SetDword("SessionHandshakeTimeout", 1);
  DesktopServerAgentClient();
  Listener l;
  ASSERT_TRUE(l.Start(EchoHandler, 1));

  // Connects and closes at once.
  int fd = -1;
  ASSERT_EQ(qv::net::TcpSocket(&fd), 0);
  ASSERT_EQ(qv::net::Connect(fd, kLoopback, l.port(), 2000), 0);
  qv::net::Close(fd);
  ASSERT_TRUE(boxes_.WaitFor(1));

  // Connects and stays silent: the handshake bound ends it.
  int silent = -1;
  ASSERT_EQ(qv::net::TcpSocket(&silent), 0);
  ASSERT_EQ(qv::net::Connect(silent, kLoopback, l.port(), 2000), 0);
  ASSERT_TRUE(boxes_.WaitFor(2));
  ASSERT_EQ(qv::net::WaitReadable(silent, 5000), 0);  // the server hung up
  qv::net::Close(silent);

  EXPECT_EQ(RoundTrip("127.0.0.1", l.port(), "still here"), "echo: still here");
  EXPECT_EQ(l.Stop(), QV_OK);
}

TEST_F(SessionTest, ConnectionsBeyondTheThreadBoundAreClosedAndLogged) {
  SetDword("MaxSessionThreads", 1);
  DesktopServerAgentClient();
  Listener l;
  ASSERT_TRUE(l.Start(EchoHandler, 2));
  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    g_seen.hold = true;
  }
  auto first = std::async(std::launch::async, [&] { return RoundTrip("127.0.0.1", l.port(), "1"); });
  // Wait until the first session is in its handler.
  for (int i = 0; i < 400; ++i) {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    if (!g_seen.peerCert.empty()) break;
    std::this_thread::sleep_for(10ms);
  }
  size_t before = Count(EventFile(), "C00028AF");
  int fd = -1;
  ASSERT_EQ(qv::net::TcpSocket(&fd), 0);
  ASSERT_EQ(qv::net::Connect(fd, kLoopback, l.port(), 2000), 0);
  ASSERT_EQ(qv::net::WaitReadable(fd, 5000), 0);  // closed by the listener
  qv::net::Close(fd);
  EXPECT_EQ(Count(EventFile(), "C00028AF"), before + 1);

  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    g_seen.hold = false;
    g_seen.cv.notify_all();
  }
  EXPECT_EQ(first.get(), "echo: 1");
  ASSERT_TRUE(WaitHandled(1));
  // The first connection's thread frees its place just after its handler
  // returns; until then a new connection is still beyond the bound.
  std::string second;
  for (int i = 0; i < 100 && second != "echo: 2"; ++i) {
    second = RoundTrip("127.0.0.1", l.port(), "2");
    if (second != "echo: 2") std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(second, "echo: 2");
}

TEST_F(SessionTest, FramesSplitOrSharingARecordAreAssembled) {
  DesktopServerAgentClient();
  Listener l;
  ASSERT_TRUE(l.Start(SplitHandler, 2));
  SMPeerCert cert{};
  int fd = -1;
  SMSession* s = nullptr;
  ASSERT_EQ(SMClientOpenSession("127.0.0.1", l.port(), 1, 2, &cert, &fd, &s), QV_OK);
  for (int i = 0; i < 3; ++i) {
    HQVEXTOBJ obj = nullptr;
    ASSERT_EQ(errQVNetMsgSSLWaitReceive(s, fd, &obj, 10), QV_OK) << i;
    EXPECT_EQ(TextOf(obj), "split across records");
    errQVNetMsgDestroy(obj);
    if (i == 1) {
      EXPECT_GT(s->Pending(), 0u);  // the third frame waits inside TLS
    }
  }
  HQVEXTOBJ done = MakeMessage("done");
  EXPECT_EQ(errQVNetMsgSSLSend(s, fd, done), QV_OK);
  errQVNetMsgDestroy(done);
  SMFreePeerCert(&cert);
  SMDeleteContext(fd, s);
}

TEST_F(SessionTest, ClientFailuresBeforeTheHandshake) {
  DesktopServerAgentClient();
  // A port nobody listens on.
  int fd = -1;
  ASSERT_EQ(qv::net::TcpSocket(&fd), 0);
  ASSERT_EQ(qv::net::Bind(fd, kLoopback, 0), 0);
  uint16_t port = 0;
  ASSERT_EQ(qv::net::LocalPort(fd, &port), 0);
  qv::net::Close(fd);

  SMPeerCert cert{};
  SMSession* s = nullptr;
  EXPECT_EQ(SMClientOpenSession("127.0.0.1", port, 1, 2, &cert, &fd, &s), QVS_SM_CONNECT_FAILED);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(SMClientOpenSession("no-such-host.invalid", port, 1, 2, &cert, &fd, &s),
            QVS_SM_HOST_NOT_RESOLVED);
  EXPECT_EQ(s, nullptr);
}

TEST_F(SessionTest, DeleteContextAcceptsAbsentParts) {
  EXPECT_EQ(SMDeleteContext(-1, nullptr), QV_OK);
  int fd = -1;
  ASSERT_EQ(qv::net::TcpSocket(&fd), 0);
  EXPECT_EQ(SMDeleteContext(fd, nullptr), QV_OK);
}

}  // namespace
