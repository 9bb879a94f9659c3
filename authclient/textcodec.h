// Hex and percent encodings used by the token store and token files.
#pragma once

#include <string>
#include <string_view>

namespace kel {

std::string HexEncode(std::string_view bytes);
// False on odd length or a non-hex character.
bool HexDecode(std::string_view hex, std::string* bytes);

// Escapes '%', '=', controls, spaces and bytes >= 0x7f as %XX.
std::string PercentEncode(std::string_view text);
// False on a malformed escape.
bool PercentDecode(std::string_view text, std::string* out);

// Overwrites a string's bytes before it is released.
void Wipe(std::string& s);

}  // namespace kel
