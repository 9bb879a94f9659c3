// The token server's judgement on one user record.
//
// Pure functions over a record, the store settings and the server time; the
// caller loads the record under the store lock and writes it back after.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "authclient/record.h"

namespace kel {

// What a handle waits for after a check.
struct Pending {
  enum Kind { kNone, kNewPin, kNextCode } kind = kNone;
  int64_t counter = -1;  // counter of the tokencode accepted by the check
  std::string pin;       // PIN-pad tokens: the PIN that the check proved (wiped by the owner)
};

// QV_Check: answers an ACM_* status and sets `pending`.
int JudgePasscode(UserRecord& user, const StoreSettings& settings, std::string_view passcode, int64_t now,
                  Pending* pending);

// QV_Next on a handle waiting with `pending` (kind kNextCode): ACM_OK,
// ACM_NEXT_CODE_REJECTED, ACM_ACCESS_DENIED (disabled) or
// ACM_NEW_PIN_REQUIRED (the PIN must still be changed; `pending` becomes kNewPin).
int JudgeNext(UserRecord& user, const StoreSettings& settings, Pending* pending, std::string_view code, int64_t now);

// QV_Pin on a handle waiting with `pending` (kind kNewPin):
// ACM_NEW_PIN_ACCEPTED or ACM_NEW_PIN_REJECTED.
int JudgeNewPin(UserRecord& user, const Pending& pending, std::string_view pin, std::string_view system_pin);

// The rules a user's PIN is held to (a PIN-pad token's PIN is digits only and
// no longer than its tokencode).
PinRules EffectiveRules(const UserRecord& user);
bool PinFitsRules(const PinRules& rules, std::string_view pin);

// A random PIN that fits the rules ("" when mode 2 or the random source fails).
std::string GenerateSystemPin(const PinRules& rules);

}  // namespace kel
