// Test fixtures: a private root with a token store, and a pinned clock.
#pragma once

#include <cstdint>
#include <string>

#include "authclient/record.h"

namespace kel::test {

inline const std::string kSeed = "12345678901234567890";
inline constexpr int64_t kTime = 1111111111;

// A temporary system root for this process (TAVRIK_ROOT), removed at the end.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Pins the server clock of this process and of children started after.
void SetTime(int64_t seconds);

// Adds or replaces a user with a token on kSeed; `pin` "" leaves it unset.
void PutUser(const std::string& name, const std::string& pin, bool new_pin = false, PinRules rules = {},
             TokenKind kind = TokenKind::kStandard);
void PutSettings(const StoreSettings& settings);
UserRecord GetUser(const std::string& name);

// Tokencode of kSeed `steps` after the pinned time.
std::string Code(int steps = 0, int64_t at = kTime);

}  // namespace kel::test
