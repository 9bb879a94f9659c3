#include "prompt/passcode_math.h"

namespace qv::prompt {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

std::string CombineTokencodeAndPin(std::string_view tokencode, std::string_view pin) {
  std::string result(tokencode);
  size_t t = tokencode.size();
  size_t p = pin.size();
  while (t > 0 && p > 0) {
    --t;
    --p;
    int sum = (HexValue(tokencode[t]) + HexValue(pin[p])) % 10;
    result[t] = static_cast<char>('0' + sum);
  }
  return result;
}

}  // namespace qv::prompt
