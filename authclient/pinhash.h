// PIN hashes: PBKDF2-HMAC-SHA256 with a random salt.
//
// Stored form: "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>".
#pragma once

#include <string>
#include <string_view>

namespace kel {

inline constexpr int kPinHashIterations = 10000;

// "" when the random source or the digest fails.
std::string HashPin(std::string_view pin, int iterations = kPinHashIterations);

// Constant-time comparison; false for a malformed stored form.
bool VerifyPin(std::string_view stored, std::string_view pin);

// True when the text has the stored form (used by the store parser).
bool IsPinHash(std::string_view stored);

// Cryptographically random bytes; false when the source fails.
bool RandomBytes(void* out, size_t size);

}  // namespace kel
