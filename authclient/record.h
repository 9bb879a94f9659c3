// Token store contents and their text form.
//
// The store is a text file:
//   tavrik-token-store 1
//   settings nextafter=3 disableafter=10 window=1 farwindow=10
//   user name=<pct> kind=standard seed=<hex> step=30 digits=6 pin=<hash|-> ...
// one "user" line per user, fields as written by SerializeStore. Free texts
// are percent-encoded. Unknown keys or out-of-range values make the whole
// store invalid, so nothing is dropped by a later rewrite.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

enum class TokenKind { kStandard = 0, kPinPad = 1 };

struct PinRules {
  int min_len = 4;
  int max_len = 8;
  int mode = 1;  // 0 server-generated, 1 either, 2 user-chosen
  bool alphanumeric = false;
  bool operator==(const PinRules&) const = default;
};

inline constexpr int kMaxPinLen = 15;
inline constexpr size_t kMaxSeedBytes = 64;
inline constexpr size_t kMaxNameLen = 64;
inline constexpr size_t kMaxShellLen = 64;

struct UserRecord {
  std::string name;
  TokenKind kind = TokenKind::kStandard;
  std::string seed;  // raw bytes; empty: no token assigned
  unsigned step = 30;
  unsigned digits = 6;
  std::string pin_hash;  // empty: no PIN yet
  PinRules rules;
  std::string shell;
  bool new_pin = false;    // the next log-in must set a new PIN
  bool next_code = false;  // the next log-in must give the following tokencode
  bool disabled = false;
  int fails = 0;          // consecutive failures
  int64_t last = -1;      // last counter accepted (replay guard)
  int64_t drift = 0;      // token clock offset, in steps
  int64_t grace = -1;     // counter that may be used once more after a PIN change
  bool operator==(const UserRecord&) const = default;
};

struct StoreSettings {
  int next_after = 3;      // consecutive failures before next-tokencode mode
  int disable_after = 10;  // consecutive failures before the token is disabled
  int window = 1;          // steps either side accepted directly
  int far_window = 10;     // steps either side accepted with a next tokencode
  bool operator==(const StoreSettings&) const = default;
};

struct Store {
  StoreSettings settings;
  std::vector<UserRecord> users;
};

// False with a reason on any malformed line.
bool ParseStore(std::string_view text, Store* out, std::string* error);
std::string SerializeStore(const Store& store);

// Rules valid for a token of this kind and length (PIN-pad: digits only, not
// longer than the tokencode).
bool ValidRules(const PinRules& rules, TokenKind kind, unsigned digits);
bool ValidUserName(std::string_view name);

// Looks a user up: exact name first, then without case; a "DOMAIN\user" name
// not found falls back to the part after the last backslash.
UserRecord* FindUser(Store& store, std::string_view name);

}  // namespace kel
