// The domain controller's certificate and key, loaded from the registry.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "qvstatus.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {

// The loaded pair; wiped with '*' when the last user lets go of it.
struct DcRecord {
  std::vector<uint8_t> cert;  // DER
  SecureBytes key;            // PKCS #8 DER
  ~DcRecord() { WipeStars(cert.data(), cert.size()); }
};

// The current record, or null; the caller may use it while others replace it.
std::shared_ptr<const DcRecord> CurrentDcRecord();

// Back to the default lifetime (tests).
void ResetLifetimeForTest();

// Whether this process's watcher thread is running (tests).
bool DcWatcherRunning();

}  // namespace qv::cert

extern "C" {

QVSTATUS LoadCMRegistry(void);
// Makes `record` current; the old one is released once no reader holds it.
void ReplaceCreds(std::shared_ptr<const qv::cert::DcRecord> record);
QVSTATUS WaitforChange(void);

}  // extern "C"
