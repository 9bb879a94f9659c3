// Tokencodes (RFC 6238 TOTP, HMAC-SHA1) and the PIN-pad passcode form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// The tokencode of a time-step counter; "" when the library refuses.
std::string TokenCode(std::string_view seed, uint64_t counter, unsigned digits);

// Counter of a time: seconds / step.
inline int64_t CounterAt(int64_t seconds, unsigned step) { return step ? seconds / step : 0; }

// PIN-pad passcode: aligned at the right, each PIN digit is added to the
// tokencode digit in the same place modulo 10; leading tokencode digits are
// kept, PIN digits beyond the tokencode's length are dropped. Non-digit
// characters are treated as 0. "" for an empty tokencode.
std::string CombinePinPad(std::string_view tokencode, std::string_view pin);

// The inverse: digit-wise (passcode - tokencode) mod 10; "" unless both are
// digits of the same length.
std::string SubtractPinPad(std::string_view passcode, std::string_view tokencode);

bool AllDigits(std::string_view s);

// Base32 (RFC 4648, no padding) for authenticator apps.
std::string Base32(std::string_view bytes);

}  // namespace kel
