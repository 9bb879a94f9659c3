#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/cert_fixture.h"
#include "runtime/cert/dcstore.h"
#include "runtime/cert/kek.h"

namespace {

using namespace qv::cert;
using namespace qv::cert::testing;
using Bytes = std::vector<uint8_t>;

class DcStoreTest : public CertTest {
 protected:
  Bytes Value(const char* name) {
    auto key = ProductKey();
    uint32_t size = 0;
    if (qv::reg::QueryValue(key.get(), name, nullptr, nullptr, &size) != qv::reg::ERROR_SUCCESS) return {};
    Bytes out(size);
    EXPECT_EQ(qv::reg::QueryValue(key.get(), name, nullptr, out.data(), &size), qv::reg::ERROR_SUCCESS);
    return out;
  }
  Bytes LoadedCert() {
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (CMAgentGetDCCert(&bytes, &length) != QV_OK) return {};
    Bytes out(bytes, bytes + length);
    CMDestroyCert(bytes, length);
    return out;
  }
};

TEST_F(DcStoreTest, CommonNameMustBeginWithTheMachineName) {
  MakeDomain();
  ProductKey();
  // Capital and small letters, with a DNS suffix: accepted.
  Pair dc = MakeIssued("CN=dc1.corp.example.com,O=Example", SharedKey(1), ca_);
  ASSERT_EQ(StoreDc(dc), QV_OK);
  EXPECT_EQ(Value("DCCert"), dc.cert);
  EXPECT_EQ(LoadedCert(), dc.cert);

  // Another machine's name, or one that only shares a prefix: refused, nothing changed.
  for (const char* name : {"CN=DC2.example.com", "CN=D", "O=Example,CN=WKS9"}) {
    SCOPED_TRACE(name);
    Pair other = MakeIssued(name, SharedKey(2), ca_);
    EXPECT_EQ(StoreDc(other), QVS_CM_NAME_MISMATCH);
    EXPECT_EQ(Value("DCCert"), dc.cert);
    EXPECT_EQ(LoadedCert(), dc.cert);
  }
  // A ';' inside another item's value is not a common name of its own.
  Pair sneaky = MakeIssued("O=x;Common Name=DC1,CN=evil", SharedKey(2), ca_);
  EXPECT_EQ(StoreDc(sneaky), QVS_CM_NAME_MISMATCH);
  // A subject without a common name is accepted.
  Pair noCn = MakeIssued("O=Example", SharedKey(2), ca_);
  EXPECT_EQ(StoreDc(noCn), QV_OK);
}

TEST_F(DcStoreTest, KeyThatIsNotTheCertificatesIsRefused) {
  MakeDomain();
  ProductKey();
  SecureBytes otherKey = PrivateKeyToPkcs8(SharedKey(2));
  EXPECT_EQ(CMAgentStoreDCCert(dc_.cert.data(), static_cast<uint32_t>(dc_.cert.size()), otherKey.data(),
                               static_cast<uint32_t>(otherKey.size())),
            QVS_CM_CRYPTO);
  EXPECT_TRUE(Value("DCCert").empty());
}

TEST_F(DcStoreTest, KeyOfWholeBlocksGetsAFullPaddingBlockAndLoadsUnchanged) {
  MakeDomain();
  ProductKey();
  // Key sizes in steps of 8 bits move the PKCS #8 length through every residue.
  EVP_PKEY* key = nullptr;
  SecureBytes der;
  for (int bits = 1024; bits <= 1536 && !key; bits += 8) {
    EVP_PKEY* k = GenerateRsaKey(bits);
    SecureBytes d = PrivateKeyToPkcs8(k);
    if (d.size() % 8 == 0) {
      key = k;
      der = std::move(d);
    } else {
      EVP_PKEY_free(k);
    }
  }
  ASSERT_NE(key, nullptr);
  Pair dc = MakeIssued("CN=DC1", key, ca_);
  ASSERT_EQ(CMAgentStoreDCCert(dc.cert.data(), static_cast<uint32_t>(dc.cert.size()), der.data(),
                               static_cast<uint32_t>(der.size())),
            QV_OK);
  EXPECT_EQ(Value("DCKey").size(), der.size() + 8);
  auto record = CurrentDcRecord();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Bytes(record->key.data(), record->key.data() + record->key.size()), Bytes(der.data(), der.data() + der.size()));
  EVP_PKEY* loaded = nullptr;
  ASSERT_EQ(CMGetDCPrivateKey(&loaded), QV_OK);
  EXPECT_EQ(EVP_PKEY_eq(loaded, key), 1);
  CMDestroyKey(&loaded);
  EVP_PKEY_free(key);
}

TEST_F(DcStoreTest, KeyFromAnotherMachineDoesNotLoad) {
  MakeDomain();
  ProductKey();
  ASSERT_EQ(StoreDc(dc_), QV_OK);
  ASSERT_EQ(CMShutdownDCSide(), QV_OK);
  WriteFile(machineId_, "22222222222222222222222222222222\n");
  EXPECT_EQ(LoadCMRegistry(), QVS_CM_CRYPTO);
  EXPECT_EQ(CMInitDCSide(), QVS_CM_CRYPTO);
  EXPECT_TRUE(LoadedCert().empty());
  // Facts that cannot be read.
  setenv("QV_MACHINE_ID_FILE", (root_ + "/absent").c_str(), 1);
  uint8_t kek[16];
  EXPECT_EQ(GetKeyEncKey(kek), QVS_CM_REGISTRY);
}

TEST_F(DcStoreTest, StartWithoutProductKeyOrCertificate) {
  MakeDomain();  // writes CACertPath, creating the key
  qv::reg::DeleteKey(qv::reg::HKEY_LOCAL_MACHINE, kProductKey);
  EXPECT_EQ(CMInitDCSide(), QVS_CM_REGISTRY);
  InstallRoot(ca_);
  EXPECT_EQ(CMInitDCSide(), QV_OK);  // no certificate: a warning only
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(CMAgentGetDCCert(&bytes, &length), QVE_CM_NO_DC_CERT);
  EVP_PKEY* key = nullptr;
  EXPECT_EQ(CMGetDCPrivateKey(&key), QVS_CM_NO_CREDENTIALS);
  EXPECT_EQ(CMGetSessionCertLifetime(), 28800u);
}

TEST_F(DcStoreTest, DeletingDcKeyByHandKeepsThePairAndTheWatcher) {
  MakeDomain();
  ProductKey();
  ASSERT_EQ(StoreDc(dc_), QV_OK);
  ASSERT_EQ(CMInitDCSide(), QV_OK);
  ASSERT_TRUE(DcWatcherRunning());
  {
    auto key = ProductKey();
    ASSERT_EQ(qv::reg::DeleteValue(key.get(), "DCKey"), qv::reg::ERROR_SUCCESS);
  }
  // The lifetime is read before the pair, so it shows that a reload ran.
  SetDword("SessionCertLifetime", 3);
  ASSERT_TRUE(Eventually([] { return CMGetSessionCertLifetime() == 3 * 3600u; }));
  EXPECT_EQ(LoadedCert(), dc_.cert);
  EVP_PKEY* key = nullptr;
  EXPECT_EQ(CMGetDCPrivateKey(&key), QV_OK);
  CMDestroyKey(&key);
  EXPECT_TRUE(DcWatcherRunning());
  SetDword("SessionCertLifetime", 5);
  EXPECT_TRUE(Eventually([] { return CMGetSessionCertLifetime() == 5 * 3600u; }));
}

TEST_F(DcStoreTest, WatcherPicksUpAPairStoredByAnotherProcess) {
  MakeDomain();
  ProductKey();
  ASSERT_EQ(CMInitDCSide(), QV_OK);
  ASSERT_TRUE(LoadedCert().empty());
  // What another process's store writes: the certificate first, then the key.
  uint8_t* enc = nullptr;
  uint32_t encLength = 0;
  SecureBytes der = dc_.Pkcs8();
  ASSERT_EQ(CMEncKey(der.data(), static_cast<uint32_t>(der.size()), &enc, &encLength), QV_OK);
  {
    auto key = ProductKey();
    ASSERT_EQ(qv::reg::SetValue(key.get(), "DCCert", qv::reg::REG_BINARY, dc_.cert.data(),
                                static_cast<uint32_t>(dc_.cert.size())),
              qv::reg::ERROR_SUCCESS);
    ASSERT_EQ(qv::reg::SetValue(key.get(), "DCKey", qv::reg::REG_BINARY, enc, encLength), qv::reg::ERROR_SUCCESS);
  }
  CMDestroyCert(enc, encLength);
  EXPECT_TRUE(Eventually([&] { return LoadedCert() == dc_.cert; }));
}

TEST_F(DcStoreTest, DeleteAndShutdown) {
  MakeDomain();
  ProductKey();
  ASSERT_EQ(StoreDc(dc_), QV_OK);
  ASSERT_EQ(CMAgentDeleteDCCert(), QV_OK);
  EXPECT_TRUE(LoadedCert().empty());
  EXPECT_TRUE(Value("DCCert").empty());
  EXPECT_TRUE(Value("DCKey").empty());
  EXPECT_EQ(LoadCMRegistry(), QVE_CM_NO_DC_CERT);
  qv::reg::DeleteKey(qv::reg::HKEY_LOCAL_MACHINE, kProductKey);
  EXPECT_EQ(CMAgentDeleteDCCert(), QVS_CM_REGISTRY);
  EXPECT_EQ(StoreDc(dc_), QVS_CM_REGISTRY);
}

TEST_F(DcStoreTest, EncryptionRoundTripAndTamperedInput) {
  const Bytes plain(37, 0x61);
  uint8_t* enc = nullptr;
  uint32_t encLength = 0;
  ASSERT_EQ(CMEncKey(plain.data(), 37, &enc, &encLength), QV_OK);
  EXPECT_EQ(encLength, 40u);
  uint8_t* dec = nullptr;
  uint32_t decLength = 0;
  ASSERT_EQ(CMDecKey(enc, encLength, &dec, &decLength), QV_OK);
  EXPECT_EQ(Bytes(dec, dec + decLength), plain);
  CMDestroyCert(dec, decLength);
  EXPECT_EQ(CMDecKey(enc, encLength - 3, &dec, &decLength), QVS_CM_CRYPTO);
  EXPECT_EQ(dec, nullptr);
  CMDestroyCert(enc, encLength);
}

}  // namespace
