// RC5-32/r/b block cipher with CBC and CBC-Pad modes (8-byte blocks,
// 32-bit words, key of 0 to 255 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::rc5 {

inline constexpr int kBlockSize = 8;
inline constexpr int kDefaultRounds = 12;
inline constexpr int kMaxRounds = 255;
inline constexpr size_t kMaxKeyLength = 255;

struct Schedule {
  int rounds = 0;
  uint32_t s[2 * (kMaxRounds + 1)] = {};
};

// Expands `key`. False for a key longer than 255 bytes or rounds out of 0..255.
bool Setup(Schedule* schedule, const uint8_t* key, size_t keyLength,
           int rounds = kDefaultRounds);
// Overwrites the expanded key.
void Wipe(Schedule* schedule);

void EncryptBlock(const Schedule& schedule, uint8_t block[kBlockSize]);
void DecryptBlock(const Schedule& schedule, uint8_t block[kBlockSize]);

// CBC without padding over whole blocks; false when `length` is not a
// multiple of 8. `in` and `out` may be the same buffer.
bool CbcEncrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                size_t length, uint8_t* out);
bool CbcDecrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                size_t length, uint8_t* out);

// CBC-Pad: 1 to 8 padding bytes, each holding the padding length.
// Encryption output is PaddedLength(length) bytes.
inline constexpr size_t PaddedLength(size_t length) { return (length / kBlockSize + 1) * kBlockSize; }
void CbcPadEncrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                   size_t length, uint8_t* out);
// `out` holds `length` bytes; *outLength is the plain length. False when
// `length` is 0 or not a multiple of 8, or the padding is malformed (then
// `out` is wiped).
bool CbcPadDecrypt(const Schedule& schedule, const uint8_t iv[kBlockSize], const uint8_t* in,
                   size_t length, uint8_t* out, size_t* outLength);

}  // namespace qv::rc5
