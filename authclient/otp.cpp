#include "authclient/otp.h"

#include <liboath/oath.h>

#include <mutex>

namespace kel {
namespace {

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { oath_init(); });
}

int Digit(char c) { return (c >= '0' && c <= '9') ? c - '0' : 0; }

}  // namespace

std::string TokenCode(std::string_view seed, uint64_t counter, unsigned digits) {
  if (digits != 6 && digits != 7 && digits != 8) return "";
  InitOnce();
  char out[16] = {};
  int rc = oath_hotp_generate(seed.data(), seed.size(), counter, digits, false, OATH_HOTP_DYNAMIC_TRUNCATION, out);
  if (rc != OATH_OK) return "";
  return std::string(out, digits);
}

std::string CombinePinPad(std::string_view tokencode, std::string_view pin) {
  std::string out(tokencode);
  size_t n = tokencode.size(), m = pin.size();
  for (size_t k = 0; k < n && k < m; ++k) {
    size_t ti = n - 1 - k, pi = m - 1 - k;
    int sum = Digit(tokencode[ti]) + Digit(pin[pi]);
    if (sum >= 10) sum -= 10;
    out[ti] = static_cast<char>('0' + sum);
  }
  return out;
}

std::string SubtractPinPad(std::string_view passcode, std::string_view tokencode) {
  if (passcode.size() != tokencode.size() || !AllDigits(passcode) || !AllDigits(tokencode)) return "";
  std::string out(passcode.size(), '0');
  for (size_t i = 0; i < passcode.size(); ++i) out[i] = static_cast<char>('0' + (Digit(passcode[i]) - Digit(tokencode[i]) + 10) % 10);
  return out;
}

bool AllDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

std::string Base32(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 5) {
      out.push_back(kAlphabet[(buffer >> (bits - 5)) & 31]);
      bits -= 5;
    }
  }
  if (bits > 0) out.push_back(kAlphabet[(buffer << (5 - bits)) & 31]);
  return out;
}

}  // namespace kel
