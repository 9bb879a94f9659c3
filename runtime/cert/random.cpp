// The process's random generator: a CTR-DRBG of the facility whose parent
// chain is seeded by the kernel.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <mutex>

#include "qvcert.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMrand";

std::mutex g_randMutex;
EVP_RAND_CTX* g_rand = nullptr;
bool g_seeded = false;

QVSTATUS InitLocked() {
  if (g_rand) return QV_OK;
  EVP_RAND* alg = EVP_RAND_fetch(nullptr, "CTR-DRBG", nullptr);
  if (!alg) return QVS_CM_RANDOM_CREATE;
  EVP_RAND_CTX* ctx = EVP_RAND_CTX_new(alg, RAND_get0_primary(nullptr));
  EVP_RAND_free(alg);
  if (!ctx) return QVS_CM_RANDOM_INIT;
  char cipher[] = "AES-256-CTR";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_DRBG_PARAM_CIPHER, cipher, 0),
                         OSSL_PARAM_construct_end()};
  if (EVP_RAND_CTX_set_params(ctx, params) != 1) {
    EVP_RAND_CTX_free(ctx);
    return QVS_CM_RANDOM_ALGORITHM;
  }
  g_rand = ctx;
  g_seeded = false;
  return QV_OK;
}

}  // namespace
}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

QVSTATUS CMInitRand(void) {
  CM_ENTER(kModule, "CMInitRand");
  std::lock_guard<std::mutex> lock(g_randMutex);
  QVSTATUS status = InitLocked();
  CM_LEAVE(kModule, "CMInitRand", status);
  return status;
}

QVSTATUS CMGenRand(uint8_t* buffer, uint32_t length) {
  CM_ENTER(kModule, "CMGenRand");
  QVSTATUS status = QV_OK;
  std::lock_guard<std::mutex> lock(g_randMutex);
  if (!buffer && length) {
    status = QVS_CM_RANDOM_FAILED;
  } else if (InitLocked() != QV_OK) {
    status = QVS_CM_RANDOM_FAILED;
  } else {
    if (!g_seeded) {
      CM_TRACE(kTraceFlow, kModule, "Seeding Random Object");
      if (EVP_RAND_instantiate(g_rand, 256, 0, nullptr, 0, nullptr) == 1) g_seeded = true;
    }
    // Requests larger than the DRBG's limit are served in pieces.
    const size_t chunk = 4096;
    for (size_t off = 0; g_seeded && status == QV_OK && off < length; off += chunk) {
      const size_t n = length - off < chunk ? length - off : chunk;
      if (EVP_RAND_generate(g_rand, buffer + off, n, 256, 0, nullptr, 0) != 1) status = QVS_CM_RANDOM_FAILED;
    }
    if (!g_seeded) status = QVS_CM_RANDOM_FAILED;
    if (status != QV_OK && buffer) OPENSSL_cleanse(buffer, length);
  }
  CM_LEAVE(kModule, "CMGenRand", status);
  return status;
}

QVSTATUS CMDestroyRand(void) {
  CM_ENTER(kModule, "CMDestroyRand");
  std::lock_guard<std::mutex> lock(g_randMutex);
  EVP_RAND_CTX_free(g_rand);
  g_rand = nullptr;
  g_seeded = false;
  CM_LEAVE(kModule, "CMDestroyRand", QV_OK);
  return QV_OK;
}

}  // extern "C"
