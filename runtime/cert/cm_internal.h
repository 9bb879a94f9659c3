// Helpers shared by the certificate units: tracing, wiping, buffers.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/eventtext/eventtext.h"
#include "qvstatus.h"

namespace qv::cert {

inline constexpr uint32_t kTraceEnter = 2;
inline constexpr uint32_t kTraceLeave = 4;
inline constexpr uint32_t kTraceFlow = 8;
inline constexpr uint32_t kTraceDetail = 1;
inline constexpr uint32_t kCategory = 6;
inline constexpr uint32_t kEventCategory = 9;

inline constexpr char kProductKey[] = "SOFTWARE\\Tavrik\\QVNetwork";

// Overwrites key material with '*' before it is released.
inline void WipeStars(void* p, size_t n) {
  if (p && n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) v[i] = '*';
  }
}

// Wipes and frees a malloc'd buffer.
inline void WipeFree(void* p, size_t n) {
  WipeStars(p, n);
  std::free(p);
}

// ASCII comparison without regard to case.
inline bool EqualNoCase(const char* a, const char* b) {
  if (!a || !b) return false;
  for (;; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (!x) return true;
  }
}

// A malloc'd copy of `n` bytes (at least one byte is allocated), or null.
inline uint8_t* CopyBytes(const void* src, size_t n) {
  auto* p = static_cast<uint8_t*>(std::malloc(n ? n : 1));
  if (p && n) std::memcpy(p, src, n);
  return p;
}

// A byte vector wiped with '*' when it goes away.
class SecureBytes {
 public:
  SecureBytes() = default;
  explicit SecureBytes(size_t n) : v_(n) {}
  SecureBytes(const void* p, size_t n)
      : v_(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n) {}
  SecureBytes(const SecureBytes&) = delete;
  SecureBytes& operator=(const SecureBytes&) = delete;
  SecureBytes(SecureBytes&& o) noexcept : v_(std::move(o.v_)) {}
  SecureBytes& operator=(SecureBytes&& o) noexcept {
    if (this != &o) {
      clear();
      v_ = std::move(o.v_);
    }
    return *this;
  }
  ~SecureBytes() { clear(); }
  void clear() {
    WipeStars(v_.data(), v_.size());
    v_.clear();
  }
  void resize(size_t n) {
    // Shrinking wipes the tail; growing may move the buffer, so wipe first.
    if (n < v_.size()) {
      WipeStars(v_.data() + n, v_.size() - n);
      v_.resize(n);
    } else if (n > v_.capacity()) {
      std::vector<uint8_t> grown(n);
      if (!v_.empty()) std::memcpy(grown.data(), v_.data(), v_.size());
      clear();
      v_ = std::move(grown);
    } else {
      v_.resize(n);
    }
  }
  uint8_t* data() { return v_.data(); }
  const uint8_t* data() const { return v_.data(); }
  size_t size() const { return v_.size(); }
  bool empty() const { return v_.empty(); }

 private:
  std::vector<uint8_t> v_;
};

// The facility's latest error code as a number insert.
uint32_t FacilityError();

// Parses DER certificate bytes; null when they are not exactly one certificate.
X509* ParseCert(const uint8_t* der, size_t length);
// The DER of `cert`; empty on failure.
std::vector<uint8_t> CertDer(const X509* cert);
// RSA private key from PKCS #8 DER (rsaEncryption only); null otherwise.
EVP_PKEY* PrivateKeyFromPkcs8(const uint8_t* der, size_t length);
// PKCS #8 DER of a private key; empty on failure.
SecureBytes PrivateKeyToPkcs8(EVP_PKEY* key);

// Loads the default and legacy providers once (DES for key files).
bool EnsureProviders();

// Seconds since 1970 from the system clock, plus the test offset.
int64_t Now();
void SetClockOffsetForTest(int64_t seconds);

// Trusted root for tests: clears the loaded root so InitializeUtils reloads.
void ResetRootForTest();
// Uses `der` as the trusted root directly (tests, tools).
QVSTATUS SetRootCert(const uint8_t* der, size_t length);

}  // namespace qv::cert

#define CM_ENTER(module, name) \
  QVTraceMessage(qv::cert::kTraceEnter, qv::cert::kCategory, module, __LINE__, "Entering " name)
#define CM_LEAVE(module, name, status)                                                    \
  QVTraceMessage(qv::cert::kTraceLeave, qv::cert::kCategory, module, __LINE__, "Leaving " \
                 name " %#x", static_cast<unsigned>(status))
#define CM_LEAVE_VOID(module, name) \
  QVTraceMessage(qv::cert::kTraceLeave, qv::cert::kCategory, module, __LINE__, "Leaving " name " <void>")
#define CM_TRACE(level, module, ...) \
  QVTraceMessage((level), qv::cert::kCategory, module, __LINE__, __VA_ARGS__)
