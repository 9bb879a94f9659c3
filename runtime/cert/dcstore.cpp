// Domain-controller certificate and key store with its registry watcher.
#include "runtime/cert/dcstore.h"

#include <openssl/x509.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "platform/host/host.h"
#include "platform/registry/registry.h"
#include "qvcert.h"
#include "runtime/cert/kek.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMdc";
constexpr uint32_t kDefaultLifetime = 28800;
constexpr int kWatchPollMs = 100;

std::mutex g_recordMutex;
std::shared_ptr<const DcRecord> g_record;
std::atomic<uint32_t> g_lifetime{kDefaultLifetime};

std::mutex g_watcherMutex;
std::thread g_watcher;
std::atomic<bool> g_stopWatcher{false};
std::atomic<bool> g_watcherRunning{false};
// Set by the watcher once its notification is in place (or failed to be).
std::mutex g_readyMutex;
std::condition_variable g_readyCv;
bool g_watchReady = false;

void MarkWatchReady() {
  std::lock_guard<std::mutex> lock(g_readyMutex);
  g_watchReady = true;
  g_readyCv.notify_all();
}

using namespace qv::reg;

// Reads a binary value whole; ERROR_FILE_NOT_FOUND when it is missing.
LSTATUS ReadBinary(HKEY key, const char* name, std::vector<uint8_t>* out) {
  uint32_t size = 0;
  LSTATUS rc = QueryValue(key, name, nullptr, nullptr, &size);
  for (int attempt = 0; rc == ERROR_SUCCESS && attempt < 3; ++attempt) {
    out->assign(size, 0);
    uint32_t got = size;
    rc = QueryValue(key, name, nullptr, out->data(), &got);
    if (rc == ERROR_SUCCESS) {
      out->resize(got);
      return rc;
    }
    if (rc == ERROR_MORE_DATA) {
      size = got;
      rc = ERROR_SUCCESS;
    }
  }
  WipeStars(out->data(), out->size());
  out->clear();
  return rc == ERROR_SUCCESS ? ERROR_MORE_DATA : rc;
}

void StartWatcher() {
  std::lock_guard<std::mutex> lock(g_watcherMutex);
  if (g_watcher.joinable()) return;
  g_stopWatcher = false;
  g_watcherRunning = true;
  {
    std::lock_guard<std::mutex> ready(g_readyMutex);
    g_watchReady = false;
  }
  g_watcher = std::thread([] {
    WaitforChange();
    g_watcherRunning = false;
    MarkWatchReady();
  });
  // A change made after start-up returns must not fall before the watch.
  std::unique_lock<std::mutex> ready(g_readyMutex);
  g_readyCv.wait_for(ready, std::chrono::seconds(5), [] { return g_watchReady; });
}

void StopWatcher() {
  std::lock_guard<std::mutex> lock(g_watcherMutex);
  if (!g_watcher.joinable()) return;
  g_stopWatcher = true;
  g_watcher.join();
  g_stopWatcher = false;
}

bool EqualNoCase(const std::string& a, const std::string& b, size_t n) {
  if (a.size() < n || b.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<const DcRecord> CurrentDcRecord() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  return g_record;
}

void ResetLifetimeForTest() { g_lifetime = kDefaultLifetime; }

bool DcWatcherRunning() { return g_watcherRunning.load(); }

}  // namespace qv::cert

using namespace qv::cert;
using namespace qv::reg;

extern "C" {

uint32_t CMGetSessionCertLifetime(void) { return g_lifetime.load(); }

void ReplaceCreds(std::shared_ptr<const DcRecord> record) {
  CM_ENTER(kModule, "ReplaceCreds");
  std::shared_ptr<const DcRecord> old;
  {
    std::lock_guard<std::mutex> lock(g_recordMutex);
    old = std::move(g_record);
    g_record = std::move(record);
  }
  old.reset();
  CM_LEAVE_VOID(kModule, "ReplaceCreds");
}

QVSTATUS LoadCMRegistry(void) {
  CM_ENTER(kModule, "LoadCMRegistry");
  QVSTATUS status = QV_OK;
  Key key;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    CM_LEAVE(kModule, "LoadCMRegistry", QVS_CM_REGISTRY);
    return QVS_CM_REGISTRY;
  }
  uint32_t hours = 0, size = sizeof hours;
  if (QueryValue(key.get(), "SessionCertLifetime", nullptr, &hours, &size) == ERROR_SUCCESS && size == 4) {
    // Hours beyond what 32 bits of seconds hold are cut, not wrapped.
    const uint32_t maxHours = std::numeric_limits<uint32_t>::max() / 3600;
    g_lifetime = (hours > maxHours ? maxHours : hours) * 3600;
  }
  std::vector<uint8_t> cert, enc;
  if (ReadBinary(key.get(), "DCCert", &cert) != ERROR_SUCCESS ||
      ReadBinary(key.get(), "DCKey", &enc) != ERROR_SUCCESS) {
    CM_LEAVE(kModule, "LoadCMRegistry", QVE_CM_NO_DC_CERT);
    return QVE_CM_NO_DC_CERT;
  }
  uint8_t* plain = nullptr;
  uint32_t plainLength = 0;
  status = CMDecKey(enc.data(), static_cast<uint32_t>(enc.size()), &plain, &plainLength);
  WipeStars(enc.data(), enc.size());
  if (status == QV_OK) status = CMCheckPrivateKey(plain, plainLength);
  if (status == QV_OK) {
    // A pair caught between the two writes of a store (new certificate, old
    // key) is not loaded; the second write brings another change.
    X509* x = ParseCert(cert.data(), cert.size());
    EVP_PKEY* pkey = PrivateKeyFromPkcs8(plain, plainLength);
    if (!x) {
      status = QVS_CM_BAD_CERT;
    } else if (X509_check_private_key(x, pkey) != 1) {
      CM_TRACE(kTraceFlow, kModule, "DCCert and DCKey do not belong together");
      FacilityError();
      status = QVE_CM_NO_DC_CERT;
    }
    X509_free(x);
    EVP_PKEY_free(pkey);
  }
  if (status == QV_OK) {
    auto record = std::make_shared<DcRecord>();
    record->cert = std::move(cert);
    record->key = SecureBytes(plain, plainLength);
    ReplaceCreds(std::move(record));
  }
  if (plain) WipeFree(plain, plainLength);
  CM_LEAVE(kModule, "LoadCMRegistry", status);
  return status;
}

QVSTATUS WaitforChange(void) {
  CM_ENTER(kModule, "WaitforChange");
  Key key;
  KeyWatch watch;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductKey, KEY_NOTIFY | KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      watch.Open(key.get()) != ERROR_SUCCESS) {
    CM_LEAVE(kModule, "WaitforChange", QVS_CM_REGISTRY);
    return QVS_CM_REGISTRY;
  }
  MarkWatchReady();
  QVSTATUS status = QV_OK;
  while ((status == QV_OK || status == QVE_CM_NO_DC_CERT) && !g_stopWatcher) {
    KeyWatch::Result r = watch.Wait(kWatchPollMs);
    if (r == KeyWatch::Result::kTimeout) continue;
    if (r != KeyWatch::Result::kChanged) {
      status = QVS_CM_REGISTRY;
      break;
    }
    CM_TRACE(kTraceFlow, kModule, "A value in the registry has changed...");
    status = LoadCMRegistry();
    if (status == QVE_CM_NO_DC_CERT) CM_TRACE(kTraceFlow, kModule, "Waitthread: No DCCert found in registry");
  }
  CM_TRACE(kTraceFlow, kModule, "Wait thread exiting!");
  CM_LEAVE(kModule, "WaitforChange", status);
  return status;
}

QVSTATUS CMShutdownDCSide(void) {
  CM_ENTER(kModule, "CMShutdownDCSide");
  ReplaceCreds(nullptr);
  StopWatcher();
  CM_LEAVE(kModule, "CMShutdownDCSide", QV_OK);
  return QV_OK;
}

QVSTATUS CMInitDCSide(void) {
  CM_ENTER(kModule, "CMInitDCSide");
  QVSTATUS status = LoadCMRegistry();
  if (status == QVE_CM_NO_DC_CERT) {
    QVLogEvent(kEventCategory, QVE_CM_NO_DC_CERT, QV_SID_NONE, nullptr, static_cast<uint32_t>(errno));
    CM_TRACE(kTraceFlow, kModule, "CMInitDCSide: No DC Cert found in registry");
    status = QV_OK;
  }
  if (status == QV_OK) {
    StartWatcher();
    status = CMInitRand();
    if (status == QV_OK) status = InitializeUtils();
  }
  if (status != QV_OK) {
    CM_TRACE(kTraceFlow, kModule, "CM Dazar Initialization FAILED with error code: %x", status);
    CMShutdownDCSide();
  } else if (auto record = CurrentDcRecord()) {
    char* subject = nullptr;
    QVSTATUS s = CMGetCertSubjectName(record->cert.data(), static_cast<uint32_t>(record->cert.size()), &subject);
    if (s == QV_OK)
      CM_TRACE(kTraceDetail, kModule, "Loaded DCCert with DN: %s", subject);
    else
      CM_TRACE(kTraceFlow, kModule, "DCCert is not installed or is invalid test code: %x", s);
    CMDestroySubjectName(subject);
  }
  CM_LEAVE(kModule, "CMInitDCSide", status);
  return status;
}

QVSTATUS CMAgentStoreDCCert(const uint8_t* cert, uint32_t certLength, const uint8_t* keyBytes,
                            uint32_t keyLength) {
  CM_ENTER(kModule, "CMAgentStoreDCCert");
  StopWatcher();
  QVSTATUS status = QV_OK;
  std::string machine;
  char* subject = nullptr;
  X509* x = nullptr;
  EVP_PKEY* pkey = nullptr;
  uint8_t* enc = nullptr;
  uint32_t encLength = 0;
  if (!qv::host::GetComputerName(&machine)) {
    CM_TRACE(kTraceFlow, kModule, "Error retrieving machine name, errno=%d", errno);
    status = QVS_CM_NO_CREDENTIALS;
  } else if ((status = CMGetCertSubjectName(cert, certLength, &subject)) != QV_OK) {
    CM_TRACE(kTraceFlow, kModule, "Error retrieving Subject name, errno=%d", static_cast<int>(status));
  } else if (!(x = ParseCert(cert, certLength))) {
    status = QVS_CM_BAD_CERT;
  } else {
    // The common name comes from the name itself: a value holding ";" must
    // not pass for an item of its own in the text.
    const X509_NAME* name = X509_get_subject_name(x);
    const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (at >= 0) {
      unsigned char* utf8 = nullptr;
      int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
      std::string cn = n > 0 ? std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(n)) : std::string();
      OPENSSL_free(utf8);
      if (!EqualNoCase(cn, machine, machine.size())) {
        CM_TRACE(kTraceFlow, kModule, "Machine name: %s, Cert CN: %s", machine.c_str(), cn.c_str());
        status = QVS_CM_NAME_MISMATCH;
      }
    }
  }
  // A key that is not the certificate's would be stored as a pair that can
  // never be used.
  if (status == QV_OK &&
      (!(pkey = PrivateKeyFromPkcs8(keyBytes, keyLength)) || X509_check_private_key(x, pkey) != 1)) {
    FacilityError();
    status = QVS_CM_CRYPTO;
  }
  Key key;
  if (status == QV_OK && key.Open(HKEY_LOCAL_MACHINE, kProductKey, KEY_SET_VALUE | KEY_QUERY_VALUE) != ERROR_SUCCESS)
    status = QVS_CM_REGISTRY;
  if (status == QV_OK && (status = CMEncKey(keyBytes, keyLength, &enc, &encLength)) != QV_OK)
    CM_TRACE(kTraceFlow, kModule, "Error encrypting DC Private Key of length %d", static_cast<int>(keyLength));
  if (status == QV_OK && (SetValue(key.get(), "DCCert", REG_BINARY, cert, certLength) != ERROR_SUCCESS ||
                          SetValue(key.get(), "DCKey", REG_BINARY, enc, encLength) != ERROR_SUCCESS))
    status = QVS_CM_REGISTRY;
  if (status == QV_OK) {
    QVSTATUS load = LoadCMRegistry();
    if (load != QV_OK) CM_TRACE(kTraceFlow, kModule, "Error loading registry settings %x", load);
  }
  if (enc) WipeFree(enc, encLength);
  EVP_PKEY_free(pkey);
  X509_free(x);
  CMDestroySubjectName(subject);
  CM_LEAVE(kModule, "CMAgentStoreDCCert", status);
  return status;
}

QVSTATUS CMAgentGetDCCert(uint8_t** cert, uint32_t* length) {
  CM_ENTER(kModule, "CMAgentGetDCCert");
  QVSTATUS status = QV_OK;
  if (cert) *cert = nullptr;
  if (length) *length = 0;
  std::shared_ptr<const DcRecord> record = CurrentDcRecord();
  if (!record) {
    status = QVE_CM_NO_DC_CERT;
  } else if (!cert || !length || !(*cert = CopyBytes(record->cert.data(), record->cert.size()))) {
    status = QVS_CM_NULL_POINTER;
  } else {
    *length = static_cast<uint32_t>(record->cert.size());
  }
  CM_LEAVE(kModule, "CMAgentGetDCCert", status);
  return status;
}

QVSTATUS CMAgentDeleteDCCert(void) {
  CM_ENTER(kModule, "CMAgentDeleteDCCert");
  StopWatcher();
  ReplaceCreds(nullptr);
  QVSTATUS status = QV_OK;
  Key key;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductKey, KEY_SET_VALUE | KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    status = QVS_CM_REGISTRY;
  } else {
    DeleteValue(key.get(), "DCCert");
    DeleteValue(key.get(), "DCKey");
  }
  CM_LEAVE(kModule, "CMAgentDeleteDCCert", status);
  return status;
}

QVSTATUS CMGetDCPrivateKey(EVP_PKEY** key) {
  CM_ENTER(kModule, "CMGetDCPrivateKey");
  QVSTATUS status = QV_OK;
  if (key) *key = nullptr;
  std::shared_ptr<const DcRecord> record = CurrentDcRecord();
  if (!record || !key) {
    QVLogEvent(kEventCategory, QVS_CM_NO_PRIVATE_KEY, QV_SID_NONE, nullptr, 0);
    status = QVS_CM_NO_CREDENTIALS;
  } else if (!(*key = PrivateKeyFromPkcs8(record->key.data(), record->key.size()))) {
    QVLogEvent(kEventCategory, QVS_CM_PRIVATE_KEY_SET, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_CRYPTO;
  }
  CM_LEAVE(kModule, "CMGetDCPrivateKey", status);
  return status;
}

}  // extern "C"
