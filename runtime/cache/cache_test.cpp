#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/rpc/cache_wire.h"
#include "platform/rpc/rpc.h"
#include "qvcert.h"
#include "runtime/cache/cache_peer.h"
#include "runtime/cache/cache_service.h"
#include "runtime/cert/cert_fixture.h"

namespace qv::cache {
namespace {

using qv::cert::testing::CertTest;

using qv::cache::testing::Peer;

class CacheTest : public CertTest {
 protected:
  void SetUp() override {
    CertTest::SetUp();
    ::chmod(root_.c_str(), 0755);  // an unprivileged peer reaches the socket
    MakeDomain();
    SetRegistrationRetryForTest(3, 10);
    SetCallTimeoutForTest(5000);
  }
  void TearDown() override {
    DMRundown();
    CMSetCacheDispatch(nullptr);
    SetRegistrationRetryForTest(29, 2000);
    CertTest::TearDown();
  }

  // A session-certificate object standing in for a real one.
  static HQVEXTOBJ Object(const char* marker) {
    HQVEXTOBJ obj = nullptr;
    EXPECT_EQ(errQVExtObjCreateObj(&obj, "SessionCertificate"), QV_OK);
    EXPECT_EQ(errQVExtObjCreateString(obj, "marker", marker), QV_OK);
    return obj;
  }
  static std::string Marker(HQVEXTOBJ obj) {
    char buf[64] = {};
    size_t size = sizeof buf;
    if (errQVExtObjGetString(obj, "marker", buf, &size) != QV_OK) return {};
    return buf;
  }
};

TEST_F(CacheTest, NotStartedAndSwitchedOff) {
  DMHANDLE h = nullptr;
  CM_CRED_BUFFER buf{0, nullptr};
  EXPECT_EQ(DMOpenCache(&h), QVS_DM_NOT_STARTED);
  EXPECT_EQ(DMCloseCache(&h), QVS_DM_NOT_STARTED);
  EXPECT_EQ(DMRundown(), QVS_DM_NOT_STARTED);
  EXPECT_EQ(DMClearSessionCerts(h), QVS_DM_NOT_STARTED);
  EXPECT_EQ(DMDesktopGetSessionCert(h, "u", "d", &buf), QVS_DM_NOT_STARTED);
  EXPECT_EQ(DMDesktopGetDesktopCreds(h, CM_ITEM_CERTIFICATE, &buf), QVS_DM_NOT_STARTED);
  // The item is judged before anything else.
  EXPECT_EQ(DMDesktopGetDesktopCreds(h, 3, &buf), QVS_DM_BAD_CRED_ITEM);

  EXPECT_EQ(DMStartup(2, 1), QVS_DM_SWITCHED_OFF);
  EXPECT_EQ(DMOpenCache(&h), QVS_DM_SWITCHED_OFF);
  EXPECT_EQ(DMClearSessionCerts(h), QVS_DM_SWITCHED_OFF);
  EXPECT_EQ(DMRundown(), QVS_DM_SWITCHED_OFF);
  EXPECT_FALSE(std::filesystem::exists(qv::rpc::EndpointPath(DM_ENDPOINT)));

  ASSERT_EQ(DMStartup(1, 2), QV_OK);
  ASSERT_EQ(DMRundown(), QV_OK);
  // Rundown leaves the store's desktop calls answering "not started".
  EXPECT_EQ(CMClearSessionCerts(), QVS_DM_NOT_STARTED);
}

TEST_F(CacheTest, HostCallsGoDirect) {
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
  ASSERT_EQ(DMStartup(1, 1), QV_OK);
  DMHANDLE h = nullptr;
  ASSERT_EQ(DMOpenCache(&h), QV_OK);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(h), DM_LOCAL_HANDLE);
  EXPECT_EQ(DMCloseCache(&h), QV_OK);
  EXPECT_EQ(h, nullptr);

  // Without the socket file the host's own calls still work: they never use it.
  ASSERT_EQ(::unlink(qv::rpc::EndpointPath(DM_ENDPOINT).c_str()), 0);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(CMGetSSDesktopCert(&cert, &length), QV_OK);
  EXPECT_GT(length, 0u);
  CMDestroyCert(cert, length);
  HQVEXTOBJ obj = Object("one");
  EXPECT_EQ(CMStoreSessionCert("alice", "EXAMPLE", obj), QV_OK);
  EXPECT_EQ(CMStoreSessionCert("alice", "EXAMPLE", obj), QVE_CM_CERT_REPLACED);
  errQVExtObjDestroyObj(obj);
  HQVEXTOBJ got = nullptr;
  ASSERT_EQ(CMGetSessionCert("ALICE", "example", &got), QV_OK);
  EXPECT_EQ(Marker(got), "one");
  errQVExtObjDestroyObj(got);
  EXPECT_EQ(CMClearSessionCerts(), QV_OK);
  EXPECT_EQ(CMGetSessionCert("alice", "EXAMPLE", &got), QVE_CM_NO_SESSION_CERT);
}

TEST_F(CacheTest, ClientWorksOnceTheHostListensAndFailsWhenItStops) {
  ASSERT_EQ(DMStartup(1, 2), QV_OK);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(CMGetSSDesktopCert(&cert, &length), QVS_DM_RPC_FAILED);
  EXPECT_EQ(CMClearSessionCerts(), QVS_DM_RPC_FAILED);

  Peer host;
  ASSERT_TRUE(host.Start("host", root_));
  ASSERT_EQ(host.Line(), "ready");

  ASSERT_EQ(CMGetSSDesktopCert(&cert, &length), QV_OK);
  X509* x = qv::cert::ParseCert(cert, length);
  ASSERT_NE(x, nullptr);
  EVP_PKEY* key = nullptr;
  ASSERT_EQ(CMGetDesktopPrivateKey(&key), QV_OK);
  EXPECT_EQ(X509_check_private_key(x, key), 1);  // the pair crossed intact
  EVP_PKEY_free(key);
  X509_free(x);
  CMDestroyCert(cert, length);

  HQVEXTOBJ obj = Object("first");
  EXPECT_EQ(CMStoreSessionCert("bob", "EXAMPLE", obj), QV_OK);
  errQVExtObjDestroyObj(obj);
  obj = Object("second");
  EXPECT_EQ(CMStoreSessionCert("Bob", "Example", obj), QVE_CM_CERT_REPLACED);
  errQVExtObjDestroyObj(obj);
  HQVEXTOBJ got = nullptr;
  ASSERT_EQ(CMGetSessionCert("BOB", "example", &got), QV_OK);
  EXPECT_EQ(Marker(got), "second");
  errQVExtObjDestroyObj(got);
  EXPECT_EQ(CMGetSessionCert("carol", "EXAMPLE", &got), QVE_CM_NO_SESSION_CERT);

  DMHANDLE h = nullptr;
  ASSERT_EQ(DMOpenCache(&h), QV_OK);
  CM_CRED_BUFFER buf{0, nullptr};
  EXPECT_EQ(DMDesktopGetDesktopCreds(h, 0, &buf), QVS_DM_BAD_CRED_ITEM);
  // Null out-pointers fail on this side, before anything is sent.
  EXPECT_EQ(DMDesktopGetDesktopCreds(h, CM_ITEM_PRIVATE_KEY, nullptr), QVS_DM_RPC_FAILED);
  EXPECT_EQ(DMDesktopGetSessionCert(h, "bob", "EXAMPLE", nullptr), QVS_DM_RPC_FAILED);
  EXPECT_EQ(DMDesktopStoreSessionCert(h, "bob", "EXAMPLE", nullptr), QVS_DM_RPC_FAILED);
  // Null names travel as null and the host refuses them.
  uint8_t text[] = "(x)";
  CM_CRED_BUFFER in{3, text};
  EXPECT_EQ(DMDesktopStoreSessionCert(h, nullptr, "EXAMPLE", &in), QVS_CM_NULL_POINTER);
  EXPECT_EQ(DMClearSessionCerts(h), QV_OK);
  EXPECT_EQ(DMDesktopGetSessionCert(h, "bob", "EXAMPLE", &buf), QVE_CM_NO_SESSION_CERT);
  EXPECT_EQ(buf.bytes, nullptr);
  // A handle that is no binding is refused like a broken call.
  DMHANDLE bogus = reinterpret_cast<DMHANDLE>(DM_LOCAL_HANDLE);
  EXPECT_EQ(DMClearSessionCerts(bogus), QVS_DM_RPC_FAILED);
  EXPECT_EQ(DMCloseCache(&h), QV_OK);

  host.Stop();
  EXPECT_EQ(CMGetSSDesktopCert(&cert, &length), QVS_DM_RPC_FAILED);
  EXPECT_EQ(cert, nullptr);
}

TEST_F(CacheTest, UnprivilegedClientIsRefusedUnlessInTheGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as another user";
  constexpr int kNobody = 65534;
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
  ASSERT_EQ(DMStartup(1, 1), QV_OK);
  {
    Peer client;
    ASSERT_TRUE(client.Start("client", root_, kNobody));
    const std::string expected = [] {
      char b[64];
      snprintf(b, sizeof b, "%08X %08X %08X %08X", QVS_DM_NOT_ADMITTED, QVS_DM_NOT_ADMITTED,
               QVS_DM_NOT_ADMITTED, QVS_DM_NOT_ADMITTED);
      return std::string(b);
    }();
    EXPECT_EQ(client.Line(), expected);
  }
  // The administrator's group admits its members.
  struct group* g = getgrgid(kNobody);
  if (!g) GTEST_SKIP() << "no group " << kNobody;
  SetString(DM_CLIENT_GROUP_SETTING, g->gr_name);
  Peer client;
  ASSERT_TRUE(client.Start("client", root_, kNobody));
  EXPECT_EQ(client.Line(), "00000000 00000000 00000000 00000000");
}

TEST_F(CacheTest, OnlyLocalSocketCallersAreAdmitted) {
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  qv::rpc::CallContext* local = qv::rpc::MakeCallContext(pair[0]);
  if (geteuid() == 0) {
    EXPECT_NE(RDMVerifyCaller(local), 0);
    EXPECT_EQ(_RDMDesktopClearSessionCerts(local), QV_OK);
  } else {
    EXPECT_EQ(RDMVerifyCaller(local), 0);
  }
  qv::rpc::FreeCallContext(local);
  close(pair[0]);
  close(pair[1]);

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int accepted = accept(listener, nullptr, nullptr);
  qv::rpc::CallContext* tcp = qv::rpc::MakeCallContext(accepted);
  EXPECT_EQ(RDMVerifyCaller(tcp), 0);
  CM_CRED_BUFFER buf{0, nullptr};
  EXPECT_EQ(_RDMDesktopGetDesktopCred(tcp, CM_ITEM_CERTIFICATE, &buf), QVS_DM_NOT_ADMITTED);
  EXPECT_EQ(buf.bytes, nullptr);
  EXPECT_EQ(_RDMDesktopClearSessionCerts(tcp), QVS_DM_NOT_ADMITTED);
  qv::rpc::FreeCallContext(tcp);
  close(accepted);
  close(client);
  close(listener);
}

bool Nothing(qv::rpc::CallContext*, const std::vector<uint8_t>&, std::vector<uint8_t>*, void*) {
  return false;
}

TEST_F(CacheTest, RegistrationIsRetriedWhileTheEndpointIsHeld) {
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
  qv::rpc::Server* other = nullptr;
  ASSERT_EQ(qv::rpc::CreateServer(DM_ENDPOINT, 1, &other), qv::rpc::kRpcOk);
  ASSERT_EQ(qv::rpc::RegisterEndpoint(other), qv::rpc::kRpcOk);
  ASSERT_EQ(qv::rpc::StartListening(other, Nothing, nullptr), qv::rpc::kRpcOk);

  SetRegistrationRetryForTest(3, 10);
  EXPECT_EQ(DMStartup(1, 1), qv::rpc::kRpcDuplicateEndpoint);
  DMRundown();

  // The holder goes away while the host is still trying.
  SetRegistrationRetryForTest(200, 20);
  std::thread release([&] {
    usleep(200000);
    qv::rpc::DestroyServer(other);
  });
  EXPECT_EQ(DMStartup(1, 1), QV_OK);
  release.join();
  // A raw call reaches this host now (its answer names the caller's status).
  qv::rpc::cache::Request req;
  req.procedure = qv::rpc::cache::kClearSessionCerts;
  std::vector<uint8_t> sent, answer;
  ASSERT_TRUE(qv::rpc::cache::EncodeRequest(req, &sent));
  ASSERT_EQ(qv::rpc::Call(DM_ENDPOINT, sent, &answer, 5000), qv::rpc::kRpcOk);
  qv::rpc::cache::Reply reply;
  ASSERT_TRUE(qv::rpc::cache::DecodeReply(req.procedure, answer.data(), answer.size(), &reply));
  EXPECT_EQ(reply.status, geteuid() == 0 ? QV_OK : QVS_DM_NOT_ADMITTED);
  // A malformed request is dropped unanswered.
  EXPECT_EQ(qv::rpc::Call(DM_ENDPOINT, {9, 9}, &answer, 5000), qv::rpc::kRpcCallFailed);
}

}  // namespace
}  // namespace qv::cache
