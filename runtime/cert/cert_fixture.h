// Test fixture: a private root with the product key, a trusted root CA and
// domain-controller credentials made on the fly (keys are generated once per
// test program).
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"
#include "qvcert.h"
#include "runtime/cert/cm_internal.h"
#include "runtime/cert/dcstore.h"
#include "runtime/cert/desktop.h"
#include "runtime/cert/issue.h"

namespace qv::cert::testing {

inline constexpr char kMachine[] = "DC1";

// A key and its certificate.
struct Pair {
  EVP_PKEY* key = nullptr;
  std::vector<uint8_t> cert;
  SecureBytes Pkcs8() const { return PrivateKeyToPkcs8(key); }
  X509* Parse() const { return ParseCert(cert.data(), cert.size()); }
};

inline EVP_PKEY* SharedKey(int index, int bits = kRsaBits) {
  static EVP_PKEY* keys[8] = {};
  if (!keys[index]) keys[index] = GenerateRsaKey(bits);
  return keys[index];
}

inline Pair MakeCa(const char* name, EVP_PKEY* key) {
  Pair p;
  p.key = key;
  X509_NAME* n = ParseNameText(name);
  IssueOptions o{Now() - 86400, Now() + 10 * 365 * 86400LL, true};
  EXPECT_EQ(IssueCert(n, key, nullptr, key, o, &p.cert), QV_OK);
  X509_NAME_free(n);
  return p;
}

inline Pair MakeIssued(const char* name, EVP_PKEY* key, const Pair& ca, int64_t from = 0, int64_t to = 0) {
  Pair p;
  p.key = key;
  X509_NAME* n = ParseNameText(name);
  X509* caCert = ca.Parse();
  IssueOptions o{from ? from : Now() - 86400, to ? to : Now() + 365 * 86400LL, false};
  EXPECT_EQ(IssueCert(n, key, caCert, ca.key, o, &p.cert), QV_OK);
  X509_free(caCert);
  X509_NAME_free(n);
  return p;
}

class CertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvcert-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    qv::paths::SetRootForProcess(root_);
    machineId_ = root_ + "/machine-id";
    WriteFile(machineId_, "11111111111111111111111111111111\n");
    setenv("QV_MACHINE_ID_FILE", machineId_.c_str(), 1);
    ResetRootForTest();
    ResetDesktopForTest();
    SetClockOffsetForTest(0);
    ResetLifetimeForTest();
    CMSetCacheDispatch(nullptr);
    SetComputerName(kMachine);
  }
  void TearDown() override {
    CMShutdownDCSide();
    ResetRootForTest();
    ResetDesktopForTest();
    SetClockOffsetForTest(0);
    unsetenv("QV_MACHINE_ID_FILE");
    qv::paths::SetRootForProcess("");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  }

  qv::reg::Key ProductKey() {
    qv::reg::Key key;
    EXPECT_EQ(key.Create(qv::reg::HKEY_LOCAL_MACHINE, kProductKey, qv::reg::KEY_ALL_ACCESS),
              qv::reg::ERROR_SUCCESS);
    return key;
  }
  void SetString(const char* name, const std::string& value) {
    auto key = ProductKey();
    ASSERT_EQ(qv::reg::SetValue(key.get(), name, qv::reg::REG_SZ, value.c_str(),
                                static_cast<uint32_t>(value.size() + 1)),
              qv::reg::ERROR_SUCCESS);
  }
  void SetDword(const char* name, uint32_t value) {
    auto key = ProductKey();
    ASSERT_EQ(qv::reg::SetValue(key.get(), name, qv::reg::REG_DWORD, &value, 4), qv::reg::ERROR_SUCCESS);
  }
  void SetComputerName(const std::string& name) {
    qv::reg::Key key;
    ASSERT_EQ(key.Create(qv::reg::HKEY_LOCAL_MACHINE, qv::host::kComputerNameKey, qv::reg::KEY_ALL_ACCESS),
              qv::reg::ERROR_SUCCESS);
    ASSERT_EQ(qv::reg::SetValue(key.get(), qv::host::kComputerNameValue, qv::reg::REG_SZ, name.c_str(),
                                static_cast<uint32_t>(name.size() + 1)),
              qv::reg::ERROR_SUCCESS);
  }

  // Writes the root certificate file and points CACertPath at it.
  void InstallRoot(const Pair& ca) {
    const std::string path = root_ + "/root.der";
    WriteFile(path, ca.cert);
    SetString("CACertPath", path);
  }

  // Root CA and the DC's credentials under it; the root is installed.
  void MakeDomain() {
    ca_ = MakeCa("CN=Test Root,O=Example", SharedKey(0));
    dc_ = MakeIssued("CN=DC1.example.com,O=Example", SharedKey(1), ca_);
    InstallRoot(ca_);
  }

  QVSTATUS StoreDc(const Pair& dc) {
    SecureBytes key = dc.Pkcs8();
    return CMAgentStoreDCCert(dc.cert.data(), static_cast<uint32_t>(dc.cert.size()), key.data(),
                              static_cast<uint32_t>(key.size()));
  }

  std::string root_;
  std::string machineId_;
  Pair ca_, dc_;
};

// Waits (bounded) until `done` holds.
template <typename F>
bool Eventually(F done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    ::usleep(20000);
  }
  return done();
}

}  // namespace qv::cert::testing
