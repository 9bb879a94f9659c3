// Session certificates issued and verified per second; desktop credentials
// generated (RSA 2048 key pair and self-signed certificate).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/dcstore.h"
#include "runtime/cert/desktop.h"
#include "runtime/cert/issue.h"

namespace {

using namespace qv::cert;

// Root, DC credentials under it (loaded as this process's record) and a
// desktop certificate, made once.
struct Domain {
  std::vector<uint8_t> desktop;
  bool ok = false;
  Domain() {
    EVP_PKEY* rootKey = GenerateRsaKey();
    EVP_PKEY* dcKey = GenerateRsaKey();
    X509_NAME* rootName = ParseNameText("CN=Bench Root,O=Example");
    X509_NAME* dcName = ParseNameText("CN=BENCHDC,O=Example");
    std::vector<uint8_t> root, dc;
    IssueOptions ca{Now() - 3600, Now() + 86400, true}, leaf{Now() - 3600, Now() + 86400, false};
    X509* rootCert = nullptr;
    ok = rootKey && dcKey && IssueCert(rootName, rootKey, nullptr, rootKey, ca, &root) == QV_OK &&
         (rootCert = ParseCert(root.data(), root.size())) &&
         IssueCert(dcName, dcKey, rootCert, rootKey, leaf, &dc) == QV_OK &&
         SetRootCert(root.data(), root.size()) == QV_OK;
    if (ok) {
      auto record = std::make_shared<DcRecord>();
      record->cert = dc;
      record->key = PrivateKeyToPkcs8(dcKey);
      ReplaceCreds(record);
      DesktopCreds creds;
      ok = GenerateSSDesktopCreds(&creds) == QV_OK;
      desktop = creds.cert;
    }
    X509_free(rootCert);
    X509_NAME_free(rootName);
    X509_NAME_free(dcName);
    EVP_PKEY_free(rootKey);
    EVP_PKEY_free(dcKey);
  }
};

Domain& TheDomain() {
  static Domain d;
  return d;
}

void BM_IssueAndVerifySessionCert(benchmark::State& state) {
  Domain& d = TheDomain();
  if (!d.ok) {
    state.SkipWithError("setup failed");
    return;
  }
  for (auto _ : state) {
    HQVEXTOBJ obj = nullptr;
    if (CMCreateSessionCert("alice", "CORP", "WKS7", d.desktop.data(), static_cast<uint32_t>(d.desktop.size()), &obj) !=
            QV_OK ||
        CMVerifySessionCert("alice", "CORP", "WKS7", obj) != QV_OK) {
      state.SkipWithError("issue or verify failed");
      break;
    }
    errQVExtObjDestroyObj(obj);
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IssueAndVerifySessionCert)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VerifySessionCert(benchmark::State& state) {
  Domain& d = TheDomain();
  HQVEXTOBJ obj = nullptr;
  if (!d.ok ||
      CMCreateSessionCert("alice", "CORP", "WKS7", d.desktop.data(), static_cast<uint32_t>(d.desktop.size()), &obj) != QV_OK) {
    state.SkipWithError("setup failed");
    return;
  }
  for (auto _ : state)
    if (CMVerifySessionCert("alice", "CORP", "WKS7", obj) != QV_OK) state.SkipWithError("verify failed");
  errQVExtObjDestroyObj(obj);
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VerifySessionCert)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GenerateDesktopCreds(benchmark::State& state) {
  for (auto _ : state) {
    DesktopCreds creds;
    if (GenerateSSDesktopCreds(&creds) != QV_OK) {
      state.SkipWithError("generation failed");
      break;
    }
  }
}
BENCHMARK(BM_GenerateDesktopCreds)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
