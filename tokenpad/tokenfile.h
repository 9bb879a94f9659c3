// The per-user software-token file and the sealing of protected seeds.
//
// Text form:
//   tavrik-tokens 1
//   default <serial>
//   token serial=<pct> name=<pct> kind=pinpad digits=6 step=30 password=none seed=<hex>
//   token serial=... password=any|numeric sealed=<sealed seed>
// A sealed seed is "aes256gcm-pbkdf2$<iterations>$<salt>$<iv>$<ciphertext>$<tag>"
// (hex fields): AES-256-GCM under a PBKDF2-HMAC-SHA256 key from the
// password, with the serial as additional data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tokenpad {

enum class PasswordMode { kNone, kAny, kNumeric };

struct SoftToken {
  std::string serial;  // also the selector
  std::string name;
  bool pinpad = true;
  unsigned digits = 6;
  unsigned step = 30;
  PasswordMode password = PasswordMode::kNone;
  std::string seed;    // raw bytes when not protected
  std::string sealed;  // when protected
};

struct TokenFile {
  std::string default_serial;
  std::vector<SoftToken> tokens;
};

inline constexpr size_t kMaxTokens = 64;
inline constexpr size_t kMaxText = 23;  // entry texts are 24-byte fields
inline constexpr int kSealIterations = 100000;

bool ParseTokenFile(std::string_view text, TokenFile* out, std::string* error);
std::string SerializeTokenFile(const TokenFile& file);

// "" on failure.
std::string SealSeed(std::string_view seed, std::string_view password, std::string_view serial,
                     int iterations = kSealIterations);
// False for a wrong password or a damaged seal.
bool UnsealSeed(std::string_view sealed, std::string_view password, std::string_view serial, std::string* seed);

// $TAVRIK_TOKENPAD_FILE, else $XDG_CONFIG_HOME/tavrik/tokens, else
// ~/.config/tavrik/tokens.
std::string DefaultTokenFilePath();

}  // namespace tokenpad
