#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <cstring>
#include <ctime>
#include <string>

#include "qvcert.h"
#include "runtime/cert/cert_fixture.h"

namespace {

using namespace qv::cert;
using namespace qv::cert::testing;

class CertTextTest : public CertTest {};

TEST_F(CertTextTest, SubjectAndInfoTextsForCommonNameThenOrganization) {
  Pair ca = MakeCa("CN=Test Root,O=Example", SharedKey(0));
  Pair dc = MakeIssued("CN=dc1.example.com,O=Example Corp", SharedKey(1), ca, 1000000000, 1100000000);
  char* subject = nullptr;
  ASSERT_EQ(CMGetCertSubjectName(dc.cert.data(), static_cast<uint32_t>(dc.cert.size()), &subject), QV_OK);
  EXPECT_STREQ(subject, "Common Name=dc1.example.com;Organization=Example Corp");
  EXPECT_EQ(CMDestroySubjectName(subject), QV_OK);

  CMCertInfo* info = nullptr;
  ASSERT_EQ(CMGetCertInfo(dc.cert.data(), static_cast<uint32_t>(dc.cert.size()), &info), QV_OK);
  EXPECT_STREQ(info->subject, "Common Name=dc1.example.com, Organization=Example Corp");
  EXPECT_STREQ(info->issuer, "Common Name=Test Root, Organization=Example");
  time_t from = 1000000000, to = 1100000000;
  char buf[64];
  EXPECT_EQ(std::string(info->notBefore), std::string(ctime_r(&from, buf)).substr(0, 24));
  EXPECT_EQ(std::string(info->notAfter), std::string(ctime_r(&to, buf)).substr(0, 24));
  EXPECT_STREQ(info->version, "X.509 v3");
  EXPECT_EQ(info->serialLength, 16u);
  EXPECT_EQ(info->serial[16], '\0');
  EXPECT_EQ(CMDestroyCertInfo(info), QV_OK);
}

TEST_F(CertTextTest, LabelsOfEveryKnownAttribute) {
  Pair c = MakeCa("C=US,ST=Texas,L=Austin,O=Org,OU=Unit1,CN=Name,title=Boss,street=Main St,"
                  "postalCode=78701,emailAddress=a@b.c,serialNumber=42,DC=example",
                  SharedKey(0));
  char* subject = nullptr;
  ASSERT_EQ(CMGetCertSubjectName(c.cert.data(), static_cast<uint32_t>(c.cert.size()), &subject), QV_OK);
  EXPECT_STREQ(subject,
               "Country=US;State=Texas;Locality=Austin;Organization=Org;Unit=Unit1;Common Name=Name;"
               "Title=Boss;Street Address=Main St;Zip Code=78701;Email Address=a@b.c;Serial Number=42;"
               "Unknown Field=example");
  CMDestroySubjectName(subject);
}

TEST_F(CertTextTest, BadInputAndReleaseCalls) {
  const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  char* subject = reinterpret_cast<char*>(1);
  EXPECT_EQ(CMGetCertSubjectName(junk, sizeof junk, &subject), QVS_CM_BAD_CERT);
  EXPECT_EQ(subject, nullptr);
  CMCertInfo* info = reinterpret_cast<CMCertInfo*>(1);
  EXPECT_EQ(CMGetCertInfo(junk, sizeof junk, &info), QVS_CM_BAD_CERT);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(CMDestroyCertInfo(nullptr), QVS_CM_NULL_POINTER);
  EXPECT_EQ(CMDestroyCert(nullptr, 0), QVS_CM_NULL_POINTER);
  EVP_PKEY* none = nullptr;
  EXPECT_EQ(CMDestroyKey(&none), QVS_CM_NULL_POINTER);
  EXPECT_EQ(CMDestroyKey(nullptr), QVS_CM_NULL_POINTER);
}

TEST_F(CertTextTest, CertificateFileReading) {
  Pair ca = MakeCa("CN=Test Root", SharedKey(0));
  const std::string path = root_ + "/c.der";
  WriteFile(path, ca.cert);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(errQVCertReadFromFile(path.c_str(), &length, &bytes), 0u);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + length), ca.cert);
  vQVCertFreeCert(bytes);
  WriteFile(path, std::string());
  EXPECT_EQ(errQVCertReadFromFile(path.c_str(), &length, &bytes), QVCRYPTO_CERT_FIELDS);
  EXPECT_EQ(errQVCertReadFromFile((root_ + "/none").c_str(), &length, &bytes), QVCRYPTO_FILE_NOT_FOUND);
  EXPECT_EQ(bytes, nullptr);
}

TEST_F(CertTextTest, PrivateKeyCheckWantsRsa) {
  SecureBytes rsa = PrivateKeyToPkcs8(SharedKey(1));
  EXPECT_EQ(CMCheckPrivateKey(rsa.data(), static_cast<uint32_t>(rsa.size())), QV_OK);
  EVP_PKEY* ec = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  ASSERT_NE(ec, nullptr);
  SecureBytes ecBytes = PrivateKeyToPkcs8(ec);
  EVP_PKEY_free(ec);
  ASSERT_FALSE(ecBytes.empty());
  EXPECT_EQ(CMCheckPrivateKey(ecBytes.data(), static_cast<uint32_t>(ecBytes.size())), QVS_CM_CRYPTO);
  EXPECT_EQ(CMCheckPrivateKey(rsa.data(), static_cast<uint32_t>(rsa.size() - 1)), QVS_CM_CRYPTO);
}

TEST_F(CertTextTest, CheckCertWithRoot) {
  Pair ca = MakeCa("CN=Test Root,O=Example", SharedKey(0));
  Pair other = MakeCa("CN=Test Root,O=Example", SharedKey(2));  // same name, other key
  Pair dc = MakeIssued("CN=DC1", SharedKey(1), ca);
  Pair forged = MakeIssued("CN=DC1", SharedKey(1), other);
  const auto check = [](const Pair& p) { return CMCheckCertWithRoot(p.cert.data(), static_cast<uint32_t>(p.cert.size())); };
  EXPECT_EQ(check(dc), QVS_CM_NOT_TRUSTED);  // no root loaded
  InstallRoot(ca);
  ASSERT_EQ(InitializeUtils(), QV_OK);
  EXPECT_EQ(check(dc), QV_OK);
  EXPECT_EQ(check(forged), QVS_CM_NOT_TRUSTED);
  EXPECT_EQ(check(MakeIssued("CN=DC1", SharedKey(1), MakeCa("CN=Elsewhere", SharedKey(2)))), QVS_CM_NOT_TRUSTED);
  const uint8_t junk[] = {1, 2, 3};
  EXPECT_EQ(CMCheckCertWithRoot(junk, sizeof junk), QVS_CM_BAD_CERT);
  uint8_t* copy = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(CMGetRootCert(&copy, &length), QV_OK);
  EXPECT_EQ(std::vector<uint8_t>(copy, copy + length), ca.cert);
  CMDestroyCert(copy, length);
}

}  // namespace
