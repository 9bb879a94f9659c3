#include "runtime/cert/rc5.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

namespace qv::rc5 {
namespace {

constexpr uint32_t kP32 = 0xB7E15163u;
constexpr uint32_t kQ32 = 0x9E3779B9u;

inline uint32_t Rotl(uint32_t x, uint32_t n) {
  n &= 31;
  return n ? (x << n) | (x >> (32 - n)) : x;
}
inline uint32_t Rotr(uint32_t x, uint32_t n) {
  n &= 31;
  return n ? (x >> n) | (x << (32 - n)) : x;
}
inline uint32_t Load(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void Store(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

bool Setup(Schedule* schedule, const uint8_t* key, size_t keyLength, int rounds) {
  if (!schedule || keyLength > kMaxKeyLength || rounds < 0 || rounds > kMaxRounds ||
      (keyLength && !key))
    return false;
  uint32_t l[(kMaxKeyLength + 3) / 4] = {};
  for (size_t i = keyLength; i-- > 0;) l[i / 4] = (l[i / 4] << 8) + key[i];
  const size_t c = std::max<size_t>(1, (keyLength + 3) / 4);
  const size_t t = 2 * (size_t(rounds) + 1);
  schedule->rounds = rounds;
  schedule->s[0] = kP32;
  for (size_t i = 1; i < t; ++i) schedule->s[i] = schedule->s[i - 1] + kQ32;
  uint32_t a = 0, b = 0;
  size_t i = 0, j = 0;
  for (size_t k = 0; k < 3 * std::max(t, c); ++k) {
    a = schedule->s[i] = Rotl(schedule->s[i] + a + b, 3);
    b = l[j] = Rotl(l[j] + a + b, a + b);
    i = (i + 1) % t;
    j = (j + 1) % c;
  }
  OPENSSL_cleanse(l, sizeof l);
  return true;
}

void Wipe(Schedule* schedule) {
  if (schedule) OPENSSL_cleanse(schedule, sizeof *schedule);
}

void EncryptBlock(const Schedule& schedule, uint8_t block[kBlockSize]) {
  const uint32_t* s = schedule.s;
  uint32_t a = Load(block) + s[0];
  uint32_t b = Load(block + 4) + s[1];
  for (int i = 1; i <= schedule.rounds; ++i) {
    a = Rotl(a ^ b, b) + s[2 * i];
    b = Rotl(b ^ a, a) + s[2 * i + 1];
  }
  Store(block, a);
  Store(block + 4, b);
}

void DecryptBlock(const Schedule& schedule, uint8_t block[kBlockSize]) {
  const uint32_t* s = schedule.s;
  uint32_t a = Load(block);
  uint32_t b = Load(block + 4);
  for (int i = schedule.rounds; i >= 1; --i) {
    b = Rotr(b - s[2 * i + 1], a) ^ a;
    a = Rotr(a - s[2 * i], b) ^ b;
  }
  Store(block, a - s[0]);
  Store(block + 4, b - s[1]);
}

bool CbcEncrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                size_t length, uint8_t* out) {
  if (length % kBlockSize) return false;
  uint8_t chain[kBlockSize];
  std::memcpy(chain, iv, kBlockSize);
  for (size_t off = 0; off < length; off += kBlockSize) {
    for (int k = 0; k < kBlockSize; ++k) chain[k] ^= in[off + k];
    EncryptBlock(schedule, chain);
    std::memcpy(out + off, chain, kBlockSize);
  }
  return true;
}

bool CbcDecrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                size_t length, uint8_t* out) {
  if (length % kBlockSize) return false;
  uint8_t chain[kBlockSize], cipher[kBlockSize], block[kBlockSize];
  std::memcpy(chain, iv, kBlockSize);
  for (size_t off = 0; off < length; off += kBlockSize) {
    std::memcpy(cipher, in + off, kBlockSize);
    std::memcpy(block, cipher, kBlockSize);
    DecryptBlock(schedule, block);
    for (int k = 0; k < kBlockSize; ++k) out[off + k] = block[k] ^ chain[k];
    std::memcpy(chain, cipher, kBlockSize);
  }
  OPENSSL_cleanse(block, sizeof block);
  return true;
}

void CbcPadEncrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                   size_t length, uint8_t* out) {
  const size_t whole = length - length % kBlockSize;
  CbcEncrypt(schedule, iv, in, whole, out);
  uint8_t last[kBlockSize];
  const size_t rest = length - whole;
  std::memcpy(last, in + whole, rest);
  std::memset(last + rest, int(kBlockSize - rest), kBlockSize - rest);
  const uint8_t* chain = whole ? out + whole - kBlockSize : iv;
  CbcEncrypt(schedule, chain, last, kBlockSize, out + whole);
  OPENSSL_cleanse(last, sizeof last);
}

bool CbcPadDecrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                   size_t length, uint8_t* out, size_t* outLength) {
  *outLength = 0;
  if (length == 0 || length % kBlockSize) return false;
  CbcDecrypt(schedule, iv, in, length, out);
  const uint8_t pad = out[length - 1];
  bool ok = pad >= 1 && pad <= kBlockSize;
  for (size_t k = 1; ok && k <= pad; ++k) ok = out[length - k] == pad;
  if (!ok) {
    OPENSSL_cleanse(out, length);
    return false;
  }
  *outLength = length - pad;
  return true;
}

}  // namespace qv::rc5
