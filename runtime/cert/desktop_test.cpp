#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/cert_fixture.h"
#include "runtime/cert/desktop.h"

namespace {

using namespace qv::cert;
using namespace qv::cert::testing;
using Bytes = std::vector<uint8_t>;

class DesktopTest : public CertTest {
 protected:
  // A small session-certificate object whose text form is easy to compare.
  static HQVEXTOBJ Object(const char* marker) {
    HQVEXTOBJ obj = nullptr;
    EXPECT_EQ(errQVExtObjCreateObj(&obj, "SessionCertificate"), QV_OK);
    EXPECT_EQ(errQVExtObjAddBinary(obj, "cert1", marker, std::strlen(marker)), QV_OK);
    return obj;
  }
  static std::string Marker(HQVEXTOBJ obj) {
    char buf[64] = {};
    size_t size = sizeof buf;
    EXPECT_EQ(errQVExtObjGetBinary(obj, "cert1", buf, &size), QV_OK);
    return std::string(buf, size);
  }
  QVSTATUS Store(const char* user, const char* domain, const char* marker) {
    HQVEXTOBJ obj = Object(marker);
    QVSTATUS s = CMStoreSessionCert(user, domain, obj);
    errQVExtObjDestroyObj(obj);
    return s;
  }
  std::string Fetch(const char* user, const char* domain, QVSTATUS* status) {
    HQVEXTOBJ obj = nullptr;
    *status = CMGetSessionCert(user, domain, &obj);
    std::string m = obj ? Marker(obj) : std::string();
    if (obj) errQVExtObjDestroyObj(obj);
    return m;
  }
};

TEST_F(DesktopTest, StartFailsWithoutAUsableRoot) {
  ProductKey();
  EXPECT_EQ(CMInitDesktopSide(1), QVS_CM_REGISTRY);  // no CACertPath
  SetString("CACertPath", root_ + "/missing.der");
  EXPECT_EQ(CMInitDesktopSide(1), QVS_CM_ROOT_NOT_LOADED);
  WriteFile(root_ + "/text.der", "-----BEGIN CERTIFICATE-----\nnot DER\n");
  SetString("CACertPath", root_ + "/text.der");
  EXPECT_EQ(CMInitDesktopSide(1), QVS_CM_ROOT_NOT_CERT);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(CMGetRootCert(&cert, &length), QVS_CM_ROOT_NOT_LOADED);
}

TEST_F(DesktopTest, DesktopCredentialsOfTwoStartsDifferOnlyInKeyAndSignature) {
  DesktopCreds a, b;
  ASSERT_EQ(GenerateSSDesktopCreds(&a), QV_OK);
  ASSERT_EQ(GenerateSSDesktopCreds(&b), QV_OK);
  X509* xa = ParseCert(a.cert.data(), a.cert.size());
  X509* xb = ParseCert(b.cert.data(), b.cert.size());
  ASSERT_TRUE(xa && xb);
  for (X509* x : {xa, xb}) {
    EXPECT_EQ(X509_get_version(x), 2);
    char* subject = nullptr;
    const Bytes der = CertDer(x);
    ASSERT_EQ(CMGetCertSubjectName(der.data(), static_cast<uint32_t>(der.size()), &subject), QV_OK);
    EXPECT_STREQ(subject, "Common Name=KEL/Dazar 4.3 Desktop");
    CMDestroySubjectName(subject);
    const X509_NAME_ENTRY* cn = X509_NAME_get_entry(X509_get_subject_name(x), 0);
    EXPECT_EQ(ASN1_STRING_type(X509_NAME_ENTRY_get_data(cn)), V_ASN1_PRINTABLESTRING);
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)), 0);
    EXPECT_EQ(ASN1_TIME_cmp_time_t(X509_get0_notBefore(x), 1), 0);
    EXPECT_EQ(ASN1_TIME_cmp_time_t(X509_get0_notAfter(x), 2147483647), 0);
    EXPECT_EQ(EVP_PKEY_get_bits(X509_get0_pubkey(x)), 2048);
    EXPECT_EQ(X509_get_signature_nid(x), NID_sha256WithRSAEncryption);
    EXPECT_EQ(X509_verify(x, X509_get0_pubkey(x)), 1);
  }
  EXPECT_NE(EVP_PKEY_eq(X509_get0_pubkey(xa), X509_get0_pubkey(xb)), 1);
  EXPECT_NE(a.cert, b.cert);
  X509_free(xa);
  X509_free(xb);
}

TEST_F(DesktopTest, HostHandsOutItsCertificateAndMatchingKey) {
  MakeDomain();
  ASSERT_EQ(CMInitDesktopSide(1), QV_OK);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(CMGetSSDesktopCert(&cert, &length), QV_OK);
  EVP_PKEY* key = nullptr;
  ASSERT_EQ(CMGetDesktopPrivateKey(&key), QV_OK);
  X509* x = ParseCert(cert, length);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(X509_check_private_key(x, key), 1);
  X509_free(x);
  CMDestroyKey(&key);
  CMDestroyCert(cert, length);
  CM_CRED_BUFFER buf{};
  EXPECT_EQ(LDMDesktopGetDesktopCred(3, &buf), QVS_CM_BAD_CRED_ITEM);
  EXPECT_EQ(buf.bytes, nullptr);
}

TEST_F(DesktopTest, ClientProcessHasNoCredentialsOfItsOwn) {
  MakeDomain();
  ASSERT_EQ(CMInitDesktopSide(0), QV_OK);
  uint8_t* cert = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(CMGetSSDesktopCert(&cert, &length), QVS_CM_NO_CREDENTIALS);
}

TEST_F(DesktopTest, CacheKeepsOneEntryPerUserAndDomain) {
  QVSTATUS status = 0;
  ASSERT_EQ(InitializeDesktopData(std::make_unique<DesktopCreds>().get()), QV_OK);
  EXPECT_EQ(Store("alice", "CORP", "first"), QV_OK);
  EXPECT_EQ(Store("bob", "CORP", "bob's"), QV_OK);
  EXPECT_EQ(Store("ALICE", "corp", "second"), QVE_CM_CERT_REPLACED);
  EXPECT_EQ(Fetch("Alice", "Corp", &status), "second");
  EXPECT_EQ(status, QV_OK);
  EXPECT_EQ(Fetch("bob", "CORP", &status), "bob's");
  EXPECT_EQ(Fetch("alice", "OTHER", &status), "");
  EXPECT_EQ(status, QVE_CM_NO_SESSION_CERT);
  EXPECT_EQ(CMClearSessionCerts(), QV_OK);
  for (const char* user : {"alice", "bob"}) {
    Fetch(user, "CORP", &status);
    EXPECT_EQ(status, QVE_CM_NO_SESSION_CERT) << user;
  }
}

// The desktop calls go through the dispatch table (the cache service's seam).
TEST_F(DesktopTest, DesktopCallsGoThroughTheDispatchTable) {
  static int calls = 0;
  static const CMCacheDispatch counting = {
      [](uint32_t item, CM_CRED_BUFFER* out) { ++calls; return LDMDesktopGetDesktopCred(item, out); },
      [](const char* u, const char* d, const CM_CRED_BUFFER* t) { ++calls; return LDMDesktopStoreSessionCert(u, d, t); },
      [](const char* u, const char* d, CM_CRED_BUFFER* out) { ++calls; return LDMDesktopGetSessionCert(u, d, out); },
      [] { ++calls; return LDMDesktopClearSessionCerts(); },
  };
  CMSetCacheDispatch(&counting);
  calls = 0;
  QVSTATUS status = 0;
  EXPECT_EQ(Store("u", "d", "x"), QV_OK);
  EXPECT_EQ(Fetch("u", "d", &status), "x");
  EXPECT_EQ(CMClearSessionCerts(), QV_OK);
  EXPECT_EQ(calls, 3);
  CMSetCacheDispatch(nullptr);
  EXPECT_EQ(CMGetCacheDispatch()->getDesktopCred, &LDMDesktopGetDesktopCred);
}

TEST(Random, GeneratesRequestedBytes) {
  ASSERT_EQ(CMInitRand(), QV_OK);
  std::vector<uint8_t> a(10000), b(10000);
  ASSERT_EQ(CMGenRand(a.data(), static_cast<uint32_t>(a.size())), QV_OK);
  ASSERT_EQ(CMGenRand(b.data(), static_cast<uint32_t>(b.size())), QV_OK);
  EXPECT_NE(a, b);
  EXPECT_NE(a, std::vector<uint8_t>(10000, 0));
  EXPECT_EQ(CMGenRand(nullptr, 4), QVS_CM_RANDOM_FAILED);
  EXPECT_EQ(CMDestroyRand(), QV_OK);
}

}  // namespace
