#include "authclient/pinhash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <vector>

#include "authclient/textcodec.h"

namespace kel {
namespace {

constexpr std::string_view kPrefix = "pbkdf2-sha256$";
constexpr size_t kSaltSize = 16;
constexpr size_t kHashSize = 32;
constexpr int kMaxIterations = 10000000;

struct Parsed {
  int iterations = 0;
  std::string salt, hash;
};

bool Parse(std::string_view stored, Parsed* p) {
  if (stored.substr(0, kPrefix.size()) != kPrefix) return false;
  stored.remove_prefix(kPrefix.size());
  size_t a = stored.find('$');
  if (a == std::string_view::npos || a == 0 || a > 8) return false;
  size_t b = stored.find('$', a + 1);
  if (b == std::string_view::npos) return false;
  int it = 0;
  for (char c : stored.substr(0, a)) {
    if (c < '0' || c > '9') return false;
    it = it * 10 + (c - '0');
  }
  if (it < 1 || it > kMaxIterations) return false;
  if (!HexDecode(stored.substr(a + 1, b - a - 1), &p->salt) || p->salt.empty()) return false;
  if (!HexDecode(stored.substr(b + 1), &p->hash) || p->hash.size() != kHashSize) return false;
  p->iterations = it;
  return true;
}

bool Derive(std::string_view pin, const std::string& salt, int iterations, unsigned char* out) {
  return PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), reinterpret_cast<const unsigned char*>(salt.data()),
                           static_cast<int>(salt.size()), iterations, EVP_sha256(), kHashSize, out) == 1;
}

}  // namespace

bool RandomBytes(void* out, size_t size) { return RAND_bytes(static_cast<unsigned char*>(out), static_cast<int>(size)) == 1; }

std::string HashPin(std::string_view pin, int iterations) {
  std::string salt(kSaltSize, '\0');
  if (!RandomBytes(salt.data(), salt.size())) return "";
  unsigned char hash[kHashSize];
  if (!Derive(pin, salt, iterations, hash)) return "";
  std::string out = std::string(kPrefix) + std::to_string(iterations) + "$" + HexEncode(salt) + "$" +
                    HexEncode(std::string_view(reinterpret_cast<char*>(hash), kHashSize));
  OPENSSL_cleanse(hash, sizeof hash);
  return out;
}

bool VerifyPin(std::string_view stored, std::string_view pin) {
  Parsed p;
  if (!Parse(stored, &p)) return false;
  unsigned char hash[kHashSize];
  if (!Derive(pin, p.salt, p.iterations, hash)) return false;
  bool same = CRYPTO_memcmp(hash, p.hash.data(), kHashSize) == 0;
  OPENSSL_cleanse(hash, sizeof hash);
  return same;
}

bool IsPinHash(std::string_view stored) {
  Parsed p;
  return Parse(stored, &p);
}

}  // namespace kel
