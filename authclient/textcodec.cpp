#include "authclient/textcodec.h"

#include <openssl/crypto.h>

namespace kel {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char kDigits[] = "0123456789abcdef";

}  // namespace

std::string HexEncode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

bool HexDecode(std::string_view hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  *bytes = std::move(out);
  return true;
}

std::string PercentEncode(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7f || c == '%' || c == '=') {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

bool PercentDecode(std::string_view text, std::string* out) {
  std::string r;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      r.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    r.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  *out = std::move(r);
  return true;
}

void Wipe(std::string& s) {
  if (!s.empty()) OPENSSL_cleanse(s.data(), s.size());
  s.clear();
}

}  // namespace kel
