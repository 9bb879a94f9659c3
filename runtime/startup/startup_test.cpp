#include <dlfcn.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "authcore.h"
#include "qvcert.h"
#include "runtime/auth/protocol/ui_lock.h"
#include "runtime/auth/settings.h"
#include "runtime/cache/cache_peer.h"
#include "runtime/cert/cert_fixture.h"
#include "runtime/session/session_manager.h"
#include "runtime/startup/console_control.h"
#include "runtime/startup/startup.h"

namespace qv::startup {
namespace {

using qv::protocol::AcquireUiLock;
using qv::protocol::CreateUiLock;
using qv::protocol::DeleteUiLock;
using qv::protocol::ReleaseUiLock;
using qv::protocol::UiLockExists;

using qv::cert::testing::CertTest;

std::string LibDir() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "lib").string();
}

// True while the library at `path` is mapped in this process.
bool Loaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

class StartupTest : public CertTest {
 protected:
  void SetUp() override {
    CertTest::SetUp();
    client_ = LibDir() + "/libauthclient.so";
    incomplete_ = LibDir() + "/libauthclient_incomplete.so";
    SetClientLibraryForTest(client_);
  }
  void TearDown() override {
    QVAgentRundown();
    DeleteUiLock();
    SetClientLibraryForTest("");
    CertTest::TearDown();
  }
  // An open attempt: QVS_SM_NO_CONTEXT tells that no client context exists.
  static QVSTATUS TryOpen() {
    SMPeerCert cert{0, nullptr};
    int fd = -1;
    SMSession* s = nullptr;
    QVSTATUS status = SMClientOpenSession("127.0.0.1", 1, 0, 0, &cert, &fd, &s);
    SMDeleteContext(fd, s);
    SMFreePeerCert(&cert);
    return status;
  }
  std::string client_, incomplete_;
};

TEST_F(StartupTest, OnlyCACertPathGivesDefaultPortsAndPortsAreRead) {
  MakeDomain();  // the product key holds CACertPath alone
  ASSERT_EQ(QVAgentStartup(1, 1, 0), QV_OK);
  EXPECT_EQ(KelClientPort, 2334u);
  EXPECT_EQ(KelProxyPort, 2335u);
  QVAgentRundown();
  SetDword("KelClientPort", 4334);
  SetDword("KelProxyPort", 4335);
  ASSERT_EQ(QVAgentStartup(1, 1, 0), QV_OK);
  EXPECT_EQ(KelClientPort, 4334u);
  EXPECT_EQ(KelProxyPort, 4335u);
}

TEST_F(StartupTest, NoKeyAtAllFailsOnTheTrustedRoot) {
  for (int desktop : {1, 0}) {
    EXPECT_EQ(QVAgentStartup(desktop, 1, 0), QVS_CM_REGISTRY) << desktop;
    QVAgentRundown();
  }
}

TEST_F(StartupTest, DesktopRoleNeverTouchesTheClientLibrary) {
  MakeDomain();
  ASSERT_EQ(QVAgentStartup(1, 1, 0), QV_OK);
  EXPECT_EQ(DesktopSide(), 1);
  EXPECT_TRUE(UiLockExists());
  EXPECT_TRUE(HasConsoleHandler(ConsoleCtrlHandler));
  EXPECT_EQ(ClientApi(), nullptr);
  EXPECT_TRUE(AcquireUiLock(0));
  ReleaseUiLock();
  QVAgentRundown();
  EXPECT_FALSE(UiLockExists());
  EXPECT_FALSE(Loaded(client_));
  // The cache service went with it.
  EXPECT_EQ(CMClearSessionCerts(), QVS_DM_NOT_STARTED);
}

TEST_F(StartupTest, AgentRoleBindsInitialisesAndUnloadsTheClientLibrary) {
  MakeDomain();
  ASSERT_EQ(StoreDc(dc_), QV_OK);
  CreateUiLock();  // the agent role's rundown leaves it alone
  ASSERT_EQ(QVAgentStartup(0, 0, 1), QV_OK);
  EXPECT_EQ(DesktopSide(), 0);
  ASSERT_NE(ClientApi(), nullptr);
  EXPECT_NE(ClientApi()->KelGetShell, nullptr);
  EXPECT_TRUE(Loaded(client_));
  EXPECT_NE(TryOpen(), QVS_SM_NO_CONTEXT);  // the DC's client context exists
  QVAgentRundown();
  EXPECT_EQ(ClientApi(), nullptr);
  EXPECT_FALSE(Loaded(client_));
  EXPECT_TRUE(UiLockExists());
  EXPECT_EQ(TryOpen(), QVS_SM_NO_CONTEXT);
}

TEST_F(StartupTest, ClientLibraryMissingAnEntryUnwinds) {
  MakeDomain();
  ASSERT_EQ(StoreDc(dc_), QV_OK);
  for (const std::string& library : {incomplete_, std::string("/nonexistent/libauthclient.so")}) {
    SetClientLibraryForTest(library);
    EXPECT_EQ(QVAgentStartup(0, 0, 1), QVS_AM_AUTHCLIENT_FAILED) << library;
    EXPECT_FALSE(Loaded(library)) << library;
    // The session manager and the DC credentials were stopped again.
    EXPECT_EQ(TryOpen(), QVS_SM_NO_CONTEXT) << library;
    uint8_t* cert = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(CMAgentGetDCCert(&cert, &length), QVE_CM_NO_DC_CERT) << library;
    EXPECT_EQ(ClientApi(), nullptr);
    QVAgentRundown();
  }
}

TEST_F(StartupTest, DesktopClientStartsWhileTheHostIsDownAndRecovers) {
  MakeDomain();
  ::chmod(root_.c_str(), 0755);
  ASSERT_EQ(QVAgentStartup(1, 0, 1), QV_OK);
  EXPECT_EQ(TryOpen(), QVS_SM_NO_CONTEXT);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(CMGetSSDesktopCert(&cert, &length), QVS_DM_RPC_FAILED);

  // Once the host listens, the next open builds the missing context.
  qv::cache::testing::Peer host;
  ASSERT_TRUE(host.Start("host", root_));
  ASSERT_EQ(host.Line(), "ready");
  EXPECT_NE(TryOpen(), QVS_SM_NO_CONTEXT);
  ASSERT_EQ(CMGetSSDesktopCert(&cert, &length), QV_OK);
  CMDestroyCert(cert, length);
}

int g_taken = 0;
int TakeInterrupt(uint32_t event) {
  if (event != kConsoleInterrupt) return 0;
  ++g_taken;
  return 1;
}

TEST(ConsoleControl, NewestHandlerFirstAndSignalsReachThem) {
  ASSERT_TRUE(AddConsoleHandler(ConsoleCtrlHandler));
  ASSERT_TRUE(AddConsoleHandler(TakeInterrupt));
  ASSERT_TRUE(AddConsoleHandler(TakeInterrupt));  // kept once
  EXPECT_EQ(DispatchConsoleEvent(kConsoleShutdown), 0);
  g_taken = 0;
  ASSERT_EQ(raise(SIGINT), 0);  // taken, so the process goes on
  EXPECT_EQ(g_taken, 1);
  EXPECT_TRUE(RemoveConsoleHandler(TakeInterrupt));
  EXPECT_FALSE(RemoveConsoleHandler(TakeInterrupt));
  EXPECT_EQ(DispatchConsoleEvent(kConsoleInterrupt), 0);
}

TEST(UiLock, OneHolderAtATime) {
  EXPECT_FALSE(AcquireUiLock(0));  // no lock yet
  ASSERT_TRUE(CreateUiLock());
  ASSERT_TRUE(AcquireUiLock(0));
  bool second = true;
  std::thread([&] { second = AcquireUiLock(50); }).join();
  EXPECT_FALSE(second);
  ReleaseUiLock();
  std::thread([&] {
    second = AcquireUiLock(50);
    if (second) ReleaseUiLock();
  }).join();
  EXPECT_TRUE(second);
  DeleteUiLock();
}

}  // namespace
}  // namespace qv::startup
