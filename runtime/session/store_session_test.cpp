// Sessions built from the certificate store itself: the trusted root named
// by CACertPath, the domain controller's certificate and key installed with
// CMAgentStoreDCCert, and the workstation's generated credentials.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/paths/paths.h"
#include "platform/paths/test_root.h"
#include "platform/registry/registry.h"
#include "qvcert.h"
#include "qvnetmsg.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_fixture.h"
#include "runtime/session/session_manager.h"

namespace {

namespace fx = qv::session::fixture;
using namespace qv::reg;

void SetString(const char* keyPath, const char* name, const std::string& value) {
  Key key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(SetValue(key.get(), name, REG_SZ, value.c_str(),
                     static_cast<uint32_t>(value.size() + 1)),
            ERROR_SUCCESS);
}

std::vector<uint8_t> Pkcs8(EVP_PKEY* key) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
  int n = i2d_PKCS8_PRIV_KEY_INFO(p8, nullptr);
  std::vector<uint8_t> v(static_cast<size_t>(n));
  uint8_t* p = v.data();
  i2d_PKCS8_PRIV_KEY_INFO(p8, &p);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return v;
}

void Answer(SMSessionInfo* info) {
  HQVEXTOBJ req = nullptr;
  if (errQVNetMsgSSLWaitReceive(info->pSession, info->iSocket, &req, 10) == QV_OK) {
    errQVNetMsgSSLSend(info->pSession, info->iSocket, req);
    errQVNetMsgDestroy(req);
  }
  SMDeleteContext(info->iSocket, info->pSession);
  SMFreeSessionInfo(info);
}

// A private root for this binary: the store's registry keys and files.
const auto* const g_env = ::testing::AddGlobalTestEnvironment(
    new qv::paths::testing::PrivateRootEnvironment("qvstore"));

TEST(StoreSessionTest, AgentAndWorkstationFromTheStoreExchangeFrames) {
  const fx::Credentials& c = fx::Get();
  ASSERT_TRUE(qv::paths::MakeDirs(qv::paths::EtcDir()));
  std::string rootFile = qv::paths::EtcDir() + "/root.der";
  std::vector<uint8_t> root = fx::Der(c.root.cert);
  FILE* f = fopen(rootFile.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(root.data(), 1, root.size(), f);
  fclose(f);
  SetString(QV_SETTINGS_KEY, "CACertPath", rootFile);
  // The domain controller's certificate names this machine.
  SetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName",
            "dc.example.test");

  std::vector<uint8_t> dcCert = fx::Der(c.dc.cert);
  std::vector<uint8_t> dcKey = Pkcs8(c.dc.key);
  ASSERT_EQ(CMAgentStoreDCCert(dcCert.data(), static_cast<uint32_t>(dcCert.size()), dcKey.data(),
                               static_cast<uint32_t>(dcKey.size())),
            QV_OK);
  ASSERT_EQ(CMInitDCSide(), QV_OK);
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);

  qv::session::SetCredentialSource(nullptr);
  ASSERT_EQ(SMStartup(1, 0), QV_OK);
  ASSERT_EQ(SMSetupSSLCTX(0, 1), QV_OK);

  auto bound = std::make_shared<std::promise<uint16_t>>();
  auto port = bound->get_future();
  std::thread listener([bound] {
    qv::session::ServerListen(
        Answer, 0, 2,
        [](uint16_t p, void* arg) { static_cast<std::promise<uint16_t>*>(arg)->set_value(p); },
        bound.get());
  });
  uint16_t p = port.get();

  SMPeerCert cert{};
  int fd = -1;
  SMSession* s = nullptr;
  ASSERT_EQ(SMClientOpenSession("127.0.0.1", p, 1, 2, &cert, &fd, &s), QV_OK);
  uint8_t* desktop = nullptr;
  uint32_t desktopLen = 0;
  ASSERT_EQ(CMGetSSDesktopCert(&desktop, &desktopLen), QV_OK);
  EXPECT_EQ(std::vector<uint8_t>(cert.pbCert, cert.pbCert + cert.dwCertLen),
            std::vector<uint8_t>(desktop, desktop + desktopLen));
  CMDestroyCert(desktop, desktopLen);

  HQVEXTOBJ req = nullptr;
  ASSERT_EQ(errQVNetMsgCreate(&req, "Dazar"), QV_OK);
  ASSERT_EQ(errQVNetMsgAddI32(req, "Protocol", 1), QV_OK);
  ASSERT_EQ(errQVNetMsgSSLSend(s, fd, req), QV_OK);
  errQVNetMsgDestroy(req);
  HQVEXTOBJ reply = nullptr;
  ASSERT_EQ(errQVNetMsgSSLWaitReceive(s, fd, &reply, 10), QV_OK);
  int32_t protocol = 0;
  EXPECT_EQ(errQVNetMsgGetI32(reply, "Protocol", &protocol), QV_OK);
  EXPECT_EQ(protocol, 1);
  errQVNetMsgDestroy(reply);
  SMFreePeerCert(&cert);
  SMDeleteContext(fd, s);

  SMStopListening();
  listener.join();
  SMRundown();
  CMAgentDeleteDCCert();
  CMShutdownDCSide();
}

}  // namespace
