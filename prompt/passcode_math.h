// The passcode of a software token from its bare tokencode and the PIN.
#pragma once

#include <string>
#include <string_view>

namespace qv::prompt {

// Aligned at their right ends, each PIN digit is added to the tokencode digit
// in the same place, modulo 10; tokencode digits left of the PIN are kept and
// PIN digits left of the tokencode are dropped. Digits are read as
// hexadecimal (a character that is not a hexadecimal digit counts as 0). The
// result has the tokencode's length; "" for an empty tokencode.
std::string CombineTokencodeAndPin(std::string_view tokencode, std::string_view pin);

}  // namespace qv::prompt
