#include "runtime/message/base64.h"

#include <array>

namespace qv::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& v : table) v = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}

constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

void Encode(const void* data, size_t length, char* out) {
  const auto* in = static_cast<const uint8_t*>(data);
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    *out++ = kAlphabet[v >> 18];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = kAlphabet[(v >> 6) & 63];
    *out++ = kAlphabet[v & 63];
  }
  size_t rest = length - i;
  if (rest == 1) {
    uint32_t v = uint32_t{in[i]} << 16;
    *out++ = kAlphabet[v >> 18];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = '=';
    *out++ = '=';
  } else if (rest == 2) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8);
    *out++ = kAlphabet[v >> 18];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = kAlphabet[(v >> 6) & 63];
    *out++ = '=';
  }
}

const char* ScanRun(const char* p, const char* end) {
  while (p < end && kDecode[static_cast<unsigned char>(*p)] != kInvalid) ++p;
  return p;
}

void DecodeRun(const char* run, size_t count, std::string& out) {
  auto at = [run](size_t i) -> uint32_t { return kDecode[static_cast<unsigned char>(run[i])]; };
  const size_t rest = count % 4;
  const size_t start = out.size();
  out.resize(start + count / 4 * 3 + (rest >= 2 ? rest - 1 : 0));
  char* p = out.data() + start;
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    uint32_t v = (at(i) << 18) | (at(i + 1) << 12) | (at(i + 2) << 6) | at(i + 3);
    p[0] = static_cast<char>(v >> 16);
    p[1] = static_cast<char>((v >> 8) & 0xFF);
    p[2] = static_cast<char>(v & 0xFF);
    p += 3;
  }
  if (rest >= 2) {
    uint32_t v = (at(i) << 18) | (at(i + 1) << 12) | (rest == 3 ? at(i + 2) << 6 : 0);
    *p++ = static_cast<char>(v >> 16);
    if (rest == 3) *p = static_cast<char>((v >> 8) & 0xFF);
  }
}

}  // namespace qv::base64
