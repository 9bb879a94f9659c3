// Bounded access to the text fields of a prompt data block: a field is read
// up to its first zero or its end, and written cut to leave its terminating
// zero.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace qv::prompt {

template <std::size_t N>
std::string ReadText(const char (&field)[N]) {
  return std::string(field, ::strnlen(field, N));
}

template <std::size_t N>
void WriteText(char (&field)[N], std::string_view text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

// Overwrites a text that held a secret.
inline void WipeString(std::string& text) {
  volatile char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

}  // namespace qv::prompt
