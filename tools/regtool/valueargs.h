// Typed values as written on the regtool command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::regtool {

// "dword", "sz", "expand_sz", "binary", "multi_sz" (also REG_DWORD and so on,
// any case). False for any other name.
bool ParseTypeName(std::string_view name, uint32_t* type);

// The type's name as ParseTypeName accepts it ("type 0x2a" for others).
std::string TypeName(uint32_t type);

// Builds a value's bytes from its arguments: dword takes one decimal or 0x
// hex number up to 0xffffffff; sz and expand_sz one text; binary one hex
// string ("01,02,ff", "01 02 ff" or "0102ff", possibly empty); multi_sz any
// number of texts without NUL. False with a message on bad input.
bool BuildValue(uint32_t type, const std::vector<std::string>& args, std::string* data,
                std::string* error);

// A value for printing: dword in decimal, strings as text, multi-string one
// text per line, anything else as comma-separated hex bytes.
std::string ShowValue(uint32_t type, std::string_view data);

}  // namespace qv::regtool
