#include "runtime/cert/sessioncert.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/cert_fixture.h"

namespace {

using namespace qv::cert;
using namespace qv::cert::testing;
using Bytes = std::vector<uint8_t>;

class SessionCertTest : public CertTest {
 protected:
  void SetUp() override {
    CertTest::SetUp();
    MakeDomain();
    ProductKey();
    ASSERT_EQ(StoreDc(dc_), QV_OK);
    ASSERT_EQ(InitializeUtils(), QV_OK);
    DesktopCreds creds;
    ASSERT_EQ(GenerateSSDesktopCreds(&creds), QV_OK);
    desktop_ = creds.cert;
  }
  HQVEXTOBJ Issue(const char* user = "alice", const char* domain = "CORP", const char* ws = "WKS7") {
    HQVEXTOBJ obj = nullptr;
    EXPECT_EQ(CMCreateSessionCert(user, domain, ws, desktop_.data(), static_cast<uint32_t>(desktop_.size()), &obj),
              QV_OK);
    return obj;
  }
  static Bytes Attr(HQVEXTOBJ obj, const char* name) {
    size_t size = 0;
    if (errGetAttr(obj, name, QV_ATTR_BASE64, &size, nullptr) != QV_OK) return {};
    Bytes out(size);
    EXPECT_EQ(errGetAttr(obj, name, QV_ATTR_BASE64, &size, out.data()), QV_OK);
    return out;
  }
  // An object holding the given certificates as cert1, cert2, ...
  static HQVEXTOBJ Holding(const std::vector<Bytes>& certs) {
    HQVEXTOBJ obj = nullptr;
    EXPECT_EQ(errQVExtObjCreateObj(&obj, "SessionCertificate"), QV_OK);
    for (size_t i = 0; i < certs.size(); ++i)
      EXPECT_EQ(errQVExtObjAddBinary(obj, ("cert" + std::to_string(i + 1)).c_str(), certs[i].data(), certs[i].size()),
                QV_OK);
    return obj;
  }
  QVSTATUS VerifyAt(HQVEXTOBJ obj, int64_t offset, const char* user = "alice", const char* domain = "CORP",
                    const char* ws = "WKS7") {
    SetClockOffsetForTest(offset);
    QVSTATUS s = CMVerifySessionCert(user, domain, ws, obj);
    SetClockOffsetForTest(0);
    return s;
  }
  Bytes desktop_;
};

TEST_F(SessionCertTest, IssuedCertificateCarriesTheNamesAndTheDesktopKey) {
  HQVEXTOBJ obj = Issue();
  ASSERT_NE(obj, nullptr);
  char type[QV_EXTOBJ_TYPE_BUFFER];
  ASSERT_EQ(errQVExtObjGetType(obj, type), QV_OK);
  EXPECT_STREQ(type, "SessionCertificate");
  EXPECT_EQ(Attr(obj, "cert2"), dc_.cert);
  Bytes der = Attr(obj, "cert1");
  X509* x = ParseCert(der.data(), der.size());
  X509* desk = ParseCert(desktop_.data(), desktop_.size());
  X509* dc = dc_.Parse();
  ASSERT_TRUE(x && desk && dc);
  EXPECT_EQ(X509_get_version(x), 2);
  EXPECT_EQ(X509_get_signature_nid(x), NID_sha256WithRSAEncryption);
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(x), X509_get_subject_name(dc)), 0);
  EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(x), X509_get_subject_name(desk)), 0);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(x), X509_get0_pubkey(desk)), 1);
  EXPECT_EQ(X509_verify(x, X509_get0_pubkey(dc)), 1);
  const ASN1_BIT_STRING *iuid = nullptr, *suid = nullptr;
  X509_get0_uids(x, &iuid, &suid);
  EXPECT_EQ(iuid, nullptr);
  ASSERT_NE(suid, nullptr);
  const std::string expected("alice\\WKS7\\CORP", 16);  // terminating zero included
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(suid)), ASN1_STRING_length(suid)), expected);
  EXPECT_EQ(X509_get_ext_count(x), 0);
  X509_free(x);
  X509_free(desk);
  X509_free(dc);
  EXPECT_EQ(CMVerifySessionCert("alice", "CORP", "WKS7", obj), QV_OK);
  errQVExtObjDestroyObj(obj);
}

TEST_F(SessionCertTest, ValidityEndsAtTheLifetimeAndToleratesFiveMinutesOfSkew) {
  HQVEXTOBJ obj = Issue();
  ASSERT_NE(obj, nullptr);
  Bytes der = Attr(obj, "cert1");
  X509* x = ParseCert(der.data(), der.size());
  ASSERT_NE(x, nullptr);
  int days = 0, secs = 0;
  ASSERT_EQ(ASN1_TIME_diff(&days, &secs, X509_get0_notBefore(x), X509_get0_notAfter(x)), 1);
  EXPECT_EQ(days * 86400 + secs, 28800);
  struct tm tm {};
  ASSERT_EQ(ASN1_TIME_to_tm(X509_get0_notBefore(x), &tm), 1);
  const int64_t issued = timegm(&tm);
  X509_free(x);
  const int64_t now = Now();
  const struct {
    int64_t at;
    QVSTATUS expected;
  } cases[] = {
      {issued + 28800, QV_OK},
      {issued + 28801, QVS_CM_CERT_EXPIRED},
      {issued - 240, QV_OK},                // verifier's clock four minutes behind
      {issued - 360, QVS_CM_CERT_EXPIRED},  // six minutes behind
  };
  for (const auto& c : cases) EXPECT_EQ(VerifyAt(obj, c.at - now), c.expected) << c.at - issued;
  errQVExtObjDestroyObj(obj);
}

TEST_F(SessionCertTest, NamesCompareWithoutCaseAndMismatchesAreNamed) {
  HQVEXTOBJ obj = Issue("ALICE", "CORP", "WKS7");
  ASSERT_NE(obj, nullptr);
  const struct {
    const char *user, *domain, *ws;
    QVSTATUS expected;
  } cases[] = {
      {"alice", "corp", "wks7", QV_OK},
      {"bob", "corp", "wks7", QVS_CM_USER_MISMATCH},
      {"alice", "corp", "wks8", QVS_CM_WORKSTATION_MISMATCH},
      {"alice", "other", "wks7", QVS_CM_DOMAIN_MISMATCH},
      {"bob", "other", "wks8", QVS_CM_DOMAIN_MISMATCH},
      {"bob", "corp", "wks8", QVS_CM_WORKSTATION_MISMATCH},
      {"alice", "cor", "wks7", QVS_CM_DOMAIN_MISMATCH},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CMVerifySessionCert(c.user, c.domain, c.ws, obj), c.expected) << c.user << " " << c.domain << " " << c.ws;
  errQVExtObjDestroyObj(obj);
}

TEST_F(SessionCertTest, ChainRules) {
  HQVEXTOBJ good = Issue();
  Bytes cert1 = Attr(good, "cert1"), cert2 = Attr(good, "cert2");

  // Another DC under the same root issued it: verifies.
  Pair dc2 = MakeIssued("CN=DC2.example.com,O=Example", SharedKey(2), ca_);
  {
    SecureBytes key = dc2.Pkcs8();
    SetComputerName("DC2");
    ASSERT_EQ(StoreDc(dc2), QV_OK);
    HQVEXTOBJ other = Issue();
    EXPECT_EQ(Attr(other, "cert2"), dc2.cert);
    EXPECT_EQ(CMVerifySessionCert("alice", "CORP", "WKS7", other), QV_OK);
    errQVExtObjDestroyObj(other);
  }
  // Tampered session certificate: the signature byte at the end flipped.
  Bytes tampered = cert1;
  tampered.back() ^= 0x01;
  // An issuer under a foreign root, and the session certificate alone.
  Pair foreignCa = MakeCa("CN=Foreign Root", SharedKey(3));
  Pair foreignDc = MakeIssued("CN=DC1.example.com,O=Example", SharedKey(1), foreignCa);
  const struct {
    const char* name;
    std::vector<Bytes> certs;
    QVSTATUS expected;
  } cases[] = {
      {"three certificates", {cert1, cert2, ca_.cert}, QVS_CM_TOO_MANY_CERTS},
      {"wrong issuer", {cert1, dc2.cert}, QVS_CM_ISSUER_MISMATCH},
      {"tampered signature", {tampered, cert2}, QVS_CM_ISSUER_MISMATCH},
      {"issuer not from the root", {cert1, foreignDc.cert}, QVS_CM_NOT_TRUSTED},
      {"session certificate alone", {cert1}, QVS_CM_NOT_TRUSTED},
      {"garbage issuer", {cert1, Bytes{0x30, 0x00}}, QVS_CM_BAD_CERT},
      {"no certificate", {}, QVS_EXTOBJ_NO_ATTRIBUTE},
  };
  for (const auto& c : cases) {
    HQVEXTOBJ obj = Holding(c.certs);
    EXPECT_EQ(CMVerifySessionCert("alice", "CORP", "WKS7", obj), c.expected) << c.name;
    errQVExtObjDestroyObj(obj);
  }
  X509* root = nullptr;
  EXPECT_EQ(GetCredsfromExtObj(good, 1000, &root, nullptr), QVS_CM_BAD_INDEX);
  errQVExtObjDestroyObj(good);
}

TEST_F(SessionCertTest, IssuerOutsideItsValidity) {
  Pair expired = MakeIssued("CN=DC1.example.com,O=Example", SharedKey(1), ca_, Now() - 2 * 86400, Now() - 86400);
  ASSERT_EQ(StoreDc(expired), QV_OK);
  HQVEXTOBJ obj = Issue();
  EXPECT_EQ(CMVerifySessionCert("alice", "CORP", "WKS7", obj), QVS_CM_ISSUER_EXPIRED);
  errQVExtObjDestroyObj(obj);
}

TEST_F(SessionCertTest, LifetimeFromTheRegistryAndZeroSwitchesOff) {
  ASSERT_EQ(CMInitDCSide(), QV_OK);
  SetDword("SessionCertLifetime", 24);
  ASSERT_TRUE(Eventually([] { return CMGetSessionCertLifetime() == 86400u; }));
  HQVEXTOBJ obj = Issue();
  Bytes der = Attr(obj, "cert1");
  X509* x = ParseCert(der.data(), der.size());
  ASSERT_NE(x, nullptr);
  int days = 0, secs = 0;
  ASSERT_EQ(ASN1_TIME_diff(&days, &secs, X509_get0_notBefore(x), X509_get0_notAfter(x)), 1);
  EXPECT_EQ(days * 86400 + secs, 86400);
  X509_free(x);
  errQVExtObjDestroyObj(obj);

  SetDword("SessionCertLifetime", 0);
  ASSERT_TRUE(Eventually([] { return CMGetSessionCertLifetime() == 0u; }));
  HQVEXTOBJ none = reinterpret_cast<HQVEXTOBJ>(1);
  EXPECT_EQ(CMCreateSessionCert("alice", "CORP", "WKS7", desktop_.data(), static_cast<uint32_t>(desktop_.size()), &none),
            QVS_CM_SESSION_CERTS_OFF);
  EXPECT_EQ(none, nullptr);
  SetDword("SessionCertLifetime", 8);
  ASSERT_TRUE(Eventually([] { return CMGetSessionCertLifetime() == 28800u; }));
}

TEST_F(SessionCertTest, IssueFailures) {
  HQVEXTOBJ obj = nullptr;
  const uint8_t junk[] = {0x30, 0x01, 0x00};
  EXPECT_EQ(CMCreateSessionCert("a", "b", "c", junk, sizeof junk, &obj), QVS_CM_BAD_CERT);
  ASSERT_EQ(CMAgentDeleteDCCert(), QV_OK);
  EXPECT_EQ(CMCreateSessionCert("a", "b", "c", desktop_.data(), static_cast<uint32_t>(desktop_.size()), &obj),
            QVS_CM_NO_CREDENTIALS);
  EXPECT_EQ(obj, nullptr);
}

}  // namespace
