// Standard base64 (A-Z a-z 0-9 + /, "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::base64 {

// Characters the encoding of `length` bytes takes, padding included.
constexpr size_t EncodedLength(size_t length) { return (length + 2) / 3 * 4; }

// Writes EncodedLength(length) characters to `out`.
void Encode(const void* data, size_t length, char* out);

// The first character from `p` on that is not of the alphabet, or `end`.
const char* ScanRun(const char* p, const char* end);

// Decodes `count` alphabet characters (no padding; count % 4 != 1) appended to
// `out`.
void DecodeRun(const char* run, size_t count, std::string& out);

}  // namespace qv::base64
