#include "runtime/cert/kek.h"

#include <openssl/evp.h>

#include <cstring>

#include "platform/host/host.h"
#include "runtime/cert/cm_internal.h"
#include "runtime/cert/rc5.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMdc";

constexpr uint8_t kDigestTail[32] = {0x3c, 0x91, 0x5a, 0x0e, 0xd7, 0x42, 0xb8, 0x66, 0x1f, 0xa3, 0x70,
                                     0x2d, 0xc9, 0x84, 0x5b, 0xe1, 0x08, 0x6f, 0xb4, 0x37, 0xda, 0x12,
                                     0x95, 0x4e, 0xc0, 0x7b, 0x23, 0xe8, 0x59, 0xa6, 0x0d, 0xf2};
constexpr uint8_t kIv[rc5::kBlockSize] = {0xa5, 0x1c, 0x6e, 0x93, 0x47, 0xd2, 0x08, 0xbf};

void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Runs RC5-CBC-Pad in one direction under the KEK.
QVSTATUS Crypt(bool encrypt, const uint8_t* in, uint32_t inLength, uint8_t** out, uint32_t* outLength) {
  if (out) *out = nullptr;
  if (outLength) *outLength = 0;
  const QVSTATUS failure = QVS_CM_CRYPTO;
  const QVSTATUS event = encrypt ? QVS_CM_ENCRYPT_FAILED : QVS_CM_DECRYPT_FAILED;
  if (!out || !outLength || (inLength && !in) || inLength > (1u << 20)) return failure;
  uint8_t kek[16];
  QVSTATUS status = GetKeyEncKey(kek);
  if (status != QV_OK) return status;
  rc5::Schedule schedule;
  const size_t capacity = encrypt ? rc5::PaddedLength(inLength) : inLength;
  uint8_t* buf = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
  size_t produced = 0;
  bool ok = buf && rc5::Setup(&schedule, kek, sizeof kek);
  if (ok && encrypt) {
    rc5::CbcPadEncrypt(schedule, kIv, in, inLength, buf);
    produced = capacity;
  } else if (ok) {
    ok = rc5::CbcPadDecrypt(schedule, kIv, in, inLength, buf, &produced);
  }
  rc5::Wipe(&schedule);
  WipeStars(kek, sizeof kek);
  if (!ok) {
    QVLogEvent(kEventCategory, event, QV_SID_NONE, nullptr, 0);
    if (buf) WipeFree(buf, capacity);
    return failure;
  }
  *out = buf;
  *outLength = static_cast<uint32_t>(produced);
  if (!encrypt && produced < capacity) WipeStars(buf + produced, capacity - produced);
  return QV_OK;
}

}  // namespace
}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

QVSTATUS GetKeyEncKey(uint8_t kek[16]) {
  CM_ENTER(kModule, "GetKeyEncKey");
  qv::host::VolumeFacts facts;
  int error = 0;
  if (!qv::host::GetVolumeFacts(&facts, &error)) {
    CM_TRACE(kTraceFlow, kModule, "Error getting system info for KEK errno: %d", error);
    CM_LEAVE(kModule, "GetKeyEncKey", QVS_CM_REGISTRY);
    return QVS_CM_REGISTRY;
  }
  // Mount flags are left out: remounting must not make the key unreadable.
  uint8_t serial[8], component[4], device[8];
  Le32(serial, facts.serial);
  Le32(serial + 4, facts.serialHigh);
  Le32(component, facts.maxComponent);
  Le32(device, static_cast<uint32_t>(facts.device));
  Le32(device + 4, static_cast<uint32_t>(facts.device >> 32));
  unsigned int n = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, serial, sizeof serial) == 1 &&
            EVP_DigestUpdate(ctx, facts.fileSystem.data(), facts.fileSystem.size()) == 1 &&
            EVP_DigestUpdate(ctx, component, sizeof component) == 1 &&
            EVP_DigestUpdate(ctx, device, sizeof device) == 1 &&
            EVP_DigestUpdate(ctx, facts.machineId.data(), facts.machineId.size()) == 1 &&
            EVP_DigestUpdate(ctx, kDigestTail, sizeof kDigestTail) == 1 &&
            EVP_DigestFinal_ex(ctx, kek, &n) == 1 && n == 16;
  EVP_MD_CTX_free(ctx);
  QVSTATUS status = QV_OK;
  if (!ok) {
    QVLogEvent(kEventCategory, QVS_CM_KEK_FAILED, QV_SID_NONE, nullptr, FacilityError());
    WipeStars(kek, 16);
    status = QVS_CM_CRYPTO;
  }
  CM_LEAVE(kModule, "GetKeyEncKey", status);
  return status;
}

QVSTATUS CMEncKey(const uint8_t* plain, uint32_t plainLength, uint8_t** out, uint32_t* outLength) {
  CM_ENTER(kModule, "CMEncKey");
  QVSTATUS status = Crypt(true, plain, plainLength, out, outLength);
  CM_LEAVE(kModule, "CMEncKey", status);
  return status;
}

QVSTATUS CMDecKey(const uint8_t* enc, uint32_t encLength, uint8_t** out, uint32_t* outLength) {
  CM_ENTER(kModule, "CMDecKey");
  QVSTATUS status = Crypt(false, enc, encLength, out, outLength);
  CM_LEAVE(kModule, "CMDecKey", status);
  return status;
}

}  // extern "C"
